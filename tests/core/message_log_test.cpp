#include "core/message_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/line_store.h"
#include "core/workers.h"
#include "tests/core/fake_view.h"

namespace ferrotick {
namespace {

using testing::FakeView;

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

std::vector<std::string> AllLines(const MessageLog& log) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < log.Count(); ++i) lines.emplace_back(log.Line(i));
  return lines;
}

TEST(MessageLog, WindowThreadLinesGoInAtOnceAndEmptyLinesCount) {
  MessageLog log;
  log.Append("first");
  log.Append("");
  log.Append("third");
  EXPECT_EQ(AllLines(log), (std::vector<std::string>{"first", "", "third"}));
  log.Clear();
  EXPECT_EQ(log.Count(), 0u);
  log.Append("after clear");
  EXPECT_EQ(AllLines(log), (std::vector<std::string>{"after clear"}));
}

TEST(MessageLog, WorkerLinesWaitForTheDrainAndFollowTheCommand) {
  MessageLog log;
  const std::string longLine(200000, 'L');  // longer than a queue chunk
  std::thread([&] {
    log.Append("worker 1");
    log.Append(longLine);
    log.Append("worker 2");
  }).join();
  EXPECT_EQ(log.Count(), 0u);
  log.Append("command line");  // the command running now comes first
  EXPECT_EQ(log.Drain(), 3u);
  EXPECT_EQ(AllLines(log), (std::vector<std::string>{"command line", "worker 1",
                                                     longLine, "worker 2"}));
}

TEST(MessageLog, EnableTestsTakesEffectInOrderWithTheLines) {
  MessageLog log;
  FakeView view;
  log.SetView(&view);
  std::vector<std::size_t> countAtEnable;
  RecordingObserver observer;
  log.SetObserver(&observer);
  std::thread([&] {
    // Enough lines to fill more than one chunk of the queue.
    for (int i = 0; i < 5000; ++i) log.Append("before");
    log.PostEnableTests(true);
    log.Append("after");
  }).join();
  EXPECT_FALSE(view.testsEnabled);
  log.Drain();
  EXPECT_TRUE(view.testsEnabled);
  // The observer saw the lines before the request stored as one batch,
  // then "after".
  EXPECT_EQ(observer.events,
            (std::vector<std::string>{"appending 0-4999", "appended",
                                      "appending 5000-5000", "appended"}));
  // On the window thread the request takes effect at once.
  log.PostEnableTests(false);
  EXPECT_FALSE(view.testsEnabled);
}

TEST(MessageLog, OneWakeUpIsOutstandingUntilTheWindowThreadCatchesUp) {
  MessageLog log;
  std::atomic<int> wakeups{0};
  log.SetWakeup([&] { ++wakeups; });
  auto fromWorker = [&](int lines) {
    std::thread([&] {
      for (int i = 0; i < lines; ++i) log.Append("x");
    }).join();
  };
  fromWorker(100);
  EXPECT_EQ(wakeups.load(), 1);
  // Behind: lines that come meanwhile call no new wake-up.
  EXPECT_EQ(log.Drain(10), 10u);
  EXPECT_TRUE(log.HasPending());
  fromWorker(100);
  EXPECT_EQ(wakeups.load(), 1);
  EXPECT_EQ(log.Drain(), 90u);  // what it had taken from the queue
  EXPECT_TRUE(log.HasPending());
  EXPECT_EQ(log.Drain(), 100u);
  EXPECT_FALSE(log.HasPending());
  EXPECT_EQ(wakeups.load(), 1);
  // Caught up: the next line wakes it again.
  fromWorker(1);
  EXPECT_EQ(wakeups.load(), 2);
  log.Append("window lines never wake");
  EXPECT_EQ(wakeups.load(), 2);
  EXPECT_EQ(log.Drain(), 1u);
}

TEST(MessageLog, NoWakeUpIsLostWhileWorkersAppendAsItCatchesUp) {
  // The window thread sleeps until woken, and drains in small slices while
  // behind; a lost wake-up leaves it asleep with lines queued.
  MessageLog log;
  std::mutex mutex;
  std::condition_variable cv;
  bool woken = false;
  log.SetWakeup([&] {
    std::lock_guard<std::mutex> lock(mutex);
    woken = true;
    cv.notify_one();
  });
  constexpr int kThreads = 3;
  constexpr int kLines = 20000;
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&log, t] {
      for (int i = 0; i < kLines; ++i) {
        log.Append("line");
        if (i % (100 + t) == 0) std::this_thread::yield();
      }
    });
  }
  int lost = 0;
  while (log.Count() < static_cast<std::size_t>(kThreads * kLines)) {
    if (!log.HasPending()) {
      std::unique_lock<std::mutex> lock(mutex);
      if (!cv.wait_for(lock, std::chrono::seconds(10), [&] { return woken; })) {
        ++lost;
        break;
      }
      woken = false;
    }
    log.Drain(7);
  }
  for (auto& w : workers) w.join();
  EXPECT_EQ(lost, 0);
  EXPECT_EQ(log.Count(), static_cast<std::size_t>(kThreads * kLines));
}

TEST(MessageLog, LinesFromSeveralThreadsAreWholeAndInTheirThreadsOrder) {
  MessageLog log;
  constexpr int kThreads = 4;
  constexpr int kLines = 5000;
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&log, t] {
      for (int i = 0; i < kLines; ++i) {
        log.Append("thread " + std::to_string(t) + " line " +
                   std::to_string(i) + " " + std::string(t * 10, 'a' + t));
      }
    });
  }
  // This thread plays the window thread and drains while they append.
  while (log.Count() < static_cast<std::size_t>(kThreads * kLines)) {
    log.Drain();
  }
  for (auto& w : workers) w.join();
  EXPECT_EQ(log.Drain(), 0u);
  ASSERT_EQ(log.Count(), static_cast<std::size_t>(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  for (std::size_t i = 0; i < log.Count(); ++i) {
    const std::string line(log.Line(i));
    int t = -1, n = -1;
    char tail[64] = {};
    ASSERT_GE(std::sscanf(line.c_str(), "thread %d line %d %63s", &t, &n, tail),
              2)
        << line;
    ASSERT_GE(t, 0);
    ASSERT_LT(t, kThreads);
    EXPECT_EQ(n, next[t]++) << line;
    EXPECT_EQ(line, "thread " + std::to_string(t) + " line " +
                        std::to_string(n) + " " + std::string(t * 10, 'a' + t));
  }
}

TEST(MessageLog, ALineNeverHoldsALineBreak) {
  MessageLog log;
  log.Append("a\nb\r\nc");
  std::thread([&] { log.Append("Opened /tmp/x\ny"); }).join();
  log.Drain();
  ASSERT_EQ(log.Count(), 2u);
  EXPECT_EQ(log.Line(0), "a\\nb\\r\\nc");
  EXPECT_EQ(log.Line(1), "Opened /tmp/x\\ny");
}

TEST(MessageLog, StoresEightBitBytesUnchanged) {
  MessageLog log;
  const std::string bytes = "caf\xc3\xa9 \xff\x01";
  log.Append(bytes);
  EXPECT_EQ(log.Line(0), bytes);
}

TEST(MessageLog, ObserverHearsOfClearsAndWindowAppends) {
  MessageLog log;
  RecordingObserver observer;
  log.SetObserver(&observer);
  log.Append("a");
  log.Clear();
  EXPECT_EQ(observer.events,
            (std::vector<std::string>{"appending 0-0", "appended", "clearing",
                                      "cleared"}));
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

}  // namespace
}  // namespace ferrotick

namespace ferrotick {
namespace {

TEST(Workers, AFinishedWorkerWakesTheWindowThreadToReapIt) {
  Workers workers;
  std::atomic<int> wakes{0};
  workers.SetFinishedHook([&] { ++wakes; });
  std::atomic<bool> go{false};
  ASSERT_TRUE(workers.Start([&] {
    while (!go) std::this_thread::yield();
  }));
  EXPECT_EQ(workers.Running(), 1u);
  workers.Reap();  // still running: nothing to join
  EXPECT_EQ(wakes.load(), 0);
  go = true;
  while (wakes.load() == 0) std::this_thread::yield();
  workers.Reap();
  EXPECT_EQ(workers.Running(), 0u);
}

}  // namespace
}  // namespace ferrotick

namespace ferrotick {
namespace {

TEST(MessageLog, AFloodIsDrainedInSlicesInOrder) {
  MessageLog log;
  FakeView view;
  log.SetView(&view);
  std::thread([&] {
    for (int i = 0; i < 10; ++i) log.Append(std::to_string(i));
    log.PostEnableTests(true);
    log.Append("10");
  }).join();
  EXPECT_EQ(log.Drain(4), 4u);
  EXPECT_TRUE(log.HasPending());
  log.Append("window");  // a command between slices goes in at once
  EXPECT_EQ(log.Drain(4), 4u);
  EXPECT_FALSE(view.testsEnabled);
  EXPECT_EQ(log.Drain(4), 4u);  // 8, 9, the enable request, 10
  EXPECT_TRUE(view.testsEnabled);
  EXPECT_FALSE(log.HasPending());
  EXPECT_EQ(log.Drain(4), 0u);
  EXPECT_EQ(AllLines(log),
            (std::vector<std::string>{"0", "1", "2", "3", "window", "4", "5",
                                      "6", "7", "8", "9", "10"}));
}

}  // namespace
}  // namespace ferrotick

namespace ferrotick {
namespace {

TEST(LineStore, LinesAcrossBlocksLongLinesAndEmptyLines) {
  LineStore store;
  // A short log, as the command line keeps between prints, stays small.
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
