// The message log the window shows, and the one hand-over that brings the
// runs' events to the window thread.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "core/bench_state.h"
#include "core/event_handover.h"
#include "core/line_store.h"
#include "core/message_log.h"
#include "tests/support/fake_view.h"

namespace ferrotick {
namespace {

class RecordingObserver : public LogObserver {
 public:
  void OnLogAppending(std::size_t first, std::size_t last) override {
    events.push_back("appending " + std::to_string(first) + "-" +
                     std::to_string(last));
  }
  void OnLogAppended() override { events.push_back("appended"); }
  void OnLogClearing() override { events.push_back("clearing"); }
  void OnLogCleared() override { events.push_back("cleared"); }
  std::vector<std::string> events;
};

PassEvent ReadPass(int pass) {
  PassEvent event;
  event.kind = RunKind::kRead;
  event.pass = pass;
  event.mb = pass;
  event.seconds = 1;
  return event;
}

TEST(MessageLog, LinesAreWholeEightBitLinesAndTheObserverHearsOfEach) {
  MessageLog log;
  RecordingObserver observer;
  log.SetObserver(&observer);
  const std::string bytes = "caf\xc3\xa9 \xff\x01";
  log.Append("a\nb\r\nc");
  log.Append("");
  LineBatch batch;
  log.Append(batch);  // nothing, and no notice
  batch.Add(bytes);
  batch.Add("x");
  log.Append(batch);
  ASSERT_EQ(log.Count(), 4u);
  EXPECT_EQ(log.Line(0), "a\\nb\\r\\nc");  // never a line break in a line
  EXPECT_EQ(log.Line(1), "");
  EXPECT_EQ(log.Line(2), bytes);
  log.Clear();
  EXPECT_EQ(log.Count(), 0u);
  EXPECT_EQ(observer.events,
            (std::vector<std::string>{
                "appending 0-0", "appended", "appending 1-1", "appended",
                "appending 2-3", "appended", "clearing", "cleared"}));
}

TEST(MessageLog, MemoryPerLineStaysSmall) {
  MessageLog log;
  constexpr int kLines = 100000;
  const std::string line = "Read 32MB: 12345.678 MBs";
  for (int i = 0; i < kLines; ++i) log.Append(line);
  const double beyondText =
      static_cast<double>(log.MemoryBytes() - kLines * line.size()) / kLines;
  EXPECT_LE(beyondText, 48.0);
}

TEST(EventHandover, OneWakeUpIsOutstandingUntilTheEventsAreTaken) {
  std::atomic<int> wakes{0};
  EventHandover handover([&] { ++wakes; });
  handover.OnEvent(ReadPass(1));
  handover.OnEvent(ReadPass(2));
  EXPECT_EQ(wakes.load(), 1);
  EXPECT_EQ(handover.Take().size(), 2u);
  EXPECT_TRUE(handover.Take().empty());
  handover.OnEvent(ReadPass(3));
  EXPECT_EQ(wakes.load(), 2);
  // Once closed, nothing is kept and nobody is woken.
  handover.Close();
  handover.OnEvent(ReadPass(4));
  EXPECT_EQ(wakes.load(), 2);
  EXPECT_TRUE(handover.Take().empty());
}

TEST(EventHandover, EventsOfSeveralThreadsAreWholeAndInTheirThreadsOrder) {
  std::atomic<int> wakes{0};
  EventHandover handover([&] { ++wakes; });
  constexpr int kThreads = 4;
  constexpr int kEach = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        PassEvent event = ReadPass(i);
        event.bufferKB = t;
        handover.OnEvent(event);
      }
    });
  }
  // Taken while they hand over, as a window thread does.
  std::vector<int> next(kThreads, 0);
  int taken = 0;
  while (taken < kThreads * kEach) {
    for (const RunEvent& event : handover.Take()) {
      const auto& pass = std::get<PassEvent>(event);
      EXPECT_EQ(pass.pass, next[pass.bufferKB]++);
      ++taken;
    }
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_GE(wakes.load(), 1);
}

// A good fill enables the tests after its rate and before its closing line.
TEST(BenchState, EventsBecomeLinesAndEnableTestsInOrder) {
  struct OrderView : testing::FakeView {
    explicit OrderView(const MessageLog& log) : log(log) {}
    void EnableTests(bool on) override {
      FakeView::EnableTests(on);
      linesBefore = log.Count();
    }
    const MessageLog& log;
    std::size_t linesBefore = 0;
  };
  MessageLog log;
  OrderView view(log);
  BenchState state(view, log);
  std::atomic<int> wakes{0};
  state.SetWakeup([&] { ++wakes; });
  state.m_strPath.Set("/now");
  PassEvent done;
  done.kind = RunKind::kFill;
  done.pass = 1;
  done.mb = 4;
  done.seconds = 2;
  EndEvent end;
  end.kind = RunKind::kFill;
  end.path = "/then";
  std::thread([&] {
    state.Sink()->OnEvent(done);
    state.Sink()->OnEvent(end);
  }).join();
  EXPECT_EQ(wakes.load(), 1);
  EXPECT_EQ(log.Count(), 0u);  // only on the window thread's turn
  state.HandleEvents();
  ASSERT_EQ(log.Count(), 2u);
  EXPECT_EQ(log.Line(0), "Init Done: 2.000MBs");
  // The path of the moment the run ended, not the run's own.
  EXPECT_EQ(log.Line(1), "/now Closed.");
  EXPECT_TRUE(view.testsEnabled);
  EXPECT_EQ(view.linesBefore, 1u);
}

TEST(LineStore, LinesAcrossBlocksLongLinesAndEmptyLines) {
  LineStore store;
  for (int i = 0; i < 10; ++i) store.Add("Wrote 1MB: 1234.567MBs");
  EXPECT_LE(store.MemoryBytes(), 2 * LineStore::kFirstBlockBytes);
  store.Clear();
  std::vector<std::string> expected;
  const std::string huge(LineStore::kBlockBytes + 3, 'h');
  for (int i = 0; i < 200000; ++i) {
    std::string line =
        i % 1000 == 0 ? std::string() : "line " + std::to_string(i);
    if (i == 77777) line = huge;
    store.Add(line);
    expected.push_back(line);
  }
  ASSERT_EQ(store.Count(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(store.Line(i), expected[i]) << i;
  }
  // Text that filled several blocks, stored without growing by copies.
  EXPECT_GE(store.MemoryBytes(), 2 * LineStore::kBlockBytes);
  store.Clear();
  EXPECT_EQ(store.Count(), 0u);
  store.Add("");
  EXPECT_EQ(store.Line(0), "");
}

}  // namespace
}  // namespace ferrotick
