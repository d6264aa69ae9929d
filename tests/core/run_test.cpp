// The three runs through the run API: their figures and stop points at
// every kind of buffer size, their outcomes, the options that keep the
// numbers honest reaching the kernel, and one lifecycle that never leaves a
// thread, a descriptor or a wait behind.
#include "core/run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "core/handed_over_run.h"
#include "tests/support/event_recorder.h"
#include "tests/support/fake_view.h"
#include "tests/support/kernel_seam.h"
#include "tests/support/run_checks.h"
#include "tests/support/test_clock.h"

namespace ferrotick {
namespace {

using testing::EventRecorder;
using testing::FileLength;
using testing::KernelSeam;
using testing::MakeFile;
using testing::TempDir;
using testing::TestClock;

constexpr std::uint64_t kMiB = 1048576;
constexpr int kBuffers[] = {1, 3, 128, 1000, 1024};

RunDescription Describe(RunKind kind, const std::string& path, int sizeMB,
                        int bufferKB, RunOptions options = {}) {
  RunDescription description;
  description.kind = kind;
  description.path = path;
  description.fileSizeMB = sizeMB;
  description.bufferKB = bufferKB;
  description.options = options;
  return description;
}

struct Started {
  std::unique_ptr<Run> run;
  std::shared_ptr<EventRecorder> events = std::make_shared<EventRecorder>();
};

// Opens and starts a run made beforehand, so that a seam can name it.
void Launch(Started& started, const Run* after = nullptr) {
  EXPECT_EQ(started.run->Open(), 0) << started.run->Description().path;
  EXPECT_TRUE(started.run->Start(started.events, after));
}

Started Start(const RunDescription& description, const Run* after = nullptr) {
  Started started{std::make_unique<ferrotick::Run>(description)};
  Launch(started, after);
  return started;
}

// Runs to the end and returns the events.
std::shared_ptr<EventRecorder> RunToEnd(const RunDescription& description) {
  Started started = Start(description);
  EXPECT_TRUE(started.events->WaitForEnd());
  EXPECT_TRUE(started.run->WaitEnded(std::chrono::seconds(60)));
  return started.events;
}

// Bytes in one MB of a write-based run of `bufferKB`: W writes of it.
std::uint64_t WriteMB(int bufferKB) {
  return static_cast<std::uint64_t>(WritesPerMB(bufferKB)) * bufferKB * 1024;
}

TEST(RunFigures, FillAndWritePassesCountWholeMBsOfTheirWrites) {
  TempDir dir;
  for (int kb : kBuffers) {
    SCOPED_TRACE(kb);
    TestClock clock;
    KernelSeam seam;
    // Half a second per MB of the run, moved as its last write lands.
    seam.after = [kb](bool write, std::uint64_t total) {
      if (write && total % WriteMB(kb) == 0) TestClock::Advance(0.5);
    };
    const std::string path = dir.File("f" + std::to_string(kb));
    auto fill = RunToEnd(Describe(RunKind::kFill, path, 3, kb));
    const auto passes = fill->All<PassEvent>();
    ASSERT_EQ(passes.size(), 1u);
    EXPECT_EQ(passes[0].mb, 3);
    EXPECT_EQ(passes[0].bytes, 3 * WriteMB(kb));
    EXPECT_DOUBLE_EQ(passes[0].seconds, 1.5);
    EXPECT_TRUE(passes[0].Complete());
    EXPECT_EQ(fill->All<ProgressEvent>().size(), 3u);
    EXPECT_EQ(fill->End().outcome, Outcome::kCompleted);
    EXPECT_EQ(fill->End().completePasses, 1);
    EXPECT_EQ(FileLength(path), 3 * WriteMB(kb));

    RunOptions two;
    two.passLimit = 2;
    auto write = RunToEnd(Describe(RunKind::kWrite, path, 2, kb, two));
    const auto rewrites = write->All<PassEvent>();
    ASSERT_EQ(rewrites.size(), 2u);
    for (const PassEvent& pass : rewrites) {
      EXPECT_EQ(pass.mb, 2);
      EXPECT_EQ(pass.bytes, 2 * WriteMB(kb));
      EXPECT_DOUBLE_EQ(pass.seconds, 1.0);
      EXPECT_TRUE(pass.Complete());
    }
    EXPECT_EQ(write->End().outcome, Outcome::kCompleted);
    EXPECT_EQ(write->End().completePasses, 2);
    EXPECT_EQ(FileLength(path), 3 * WriteMB(kb));  // never truncated
  }
}

TEST(RunFigures, ReadPassesCountMiBsFromTheBytesAndCarryTheRest) {
  TempDir dir;
  const std::string path = dir.File("half.tmp");
  MakeFile(path, 5 * kMiB / 2);
  for (int kb : kBuffers) {
    SCOPED_TRACE(kb);
    TestClock clock;
    KernelSeam seam;
    seam.after = [](bool write, std::uint64_t) {
      if (!write) TestClock::Advance(0.001);
    };
    RunOptions four;
    four.passLimit = 4;
    auto read = RunToEnd(Describe(RunKind::kRead, path, 0, kb, four));
    const auto passes = read->All<PassEvent>();
    ASSERT_EQ(passes.size(), 4u);
    const int expected[] = {2, 3, 2, 3};
    const std::uint64_t reads = (5 * kMiB / 2 + kb * 1024 - 1) / (kb * 1024);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(passes[i].mb, expected[i]);
      EXPECT_EQ(passes[i].bytes, 5 * kMiB / 2);
      EXPECT_NEAR(passes[i].seconds, reads * 0.001, 1e-9);
      EXPECT_TRUE(passes[i].Complete());
    }
    // One progress event per counted MB, none a 128-MB point.
    EXPECT_EQ(read->All<ProgressEvent>().size(), 10u);
    EXPECT_EQ(read->End().completePasses, 4);
  }
}

TEST(RunStops, AFillStopsOnceTheMBUnderWayIsWritten) {
  TempDir dir;
  for (int kb : {3, 1024}) {
    SCOPED_TRACE(kb);
    KernelSeam seam;
    const std::string path = dir.File("stop" + std::to_string(kb));
    Started fill{std::make_unique<ferrotick::Run>(
        Describe(RunKind::kFill, path, 8192, kb))};
    // Stopped after the first write of MB index 2.
    seam.after = [&](bool, std::uint64_t total) {
      if (total == 2 * WriteMB(kb) + kb * 1024) fill.run->RequestStop();
    };
    Launch(fill);
    ASSERT_TRUE(fill.events->WaitForEnd());
    const auto passes = fill.events->All<PassEvent>();
    ASSERT_EQ(passes.size(), 1u);
    EXPECT_EQ(passes[0].end, PassEnd::kStopped);
    EXPECT_EQ(passes[0].bytes, 3 * WriteMB(kb));
    EXPECT_EQ(fill.events->All<ProgressEvent>().size(), 2u);
    EXPECT_EQ(fill.events->End().outcome, Outcome::kStopped);
    EXPECT_EQ(fill.events->End().completePasses, 0);
    EXPECT_EQ(FileLength(path), 3 * WriteMB(kb));
  }
}

TEST(RunStops, AStopDuringTheFillsSyncIsAStop) {
  TempDir dir;
  KernelSeam seam;
  RunOptions synced;
  synced.sync = true;
  Started fill{std::make_unique<ferrotick::Run>(
      Describe(RunKind::kFill, dir.File("s.tmp"), 2, 1024, synced))};
  seam.onSync = [&] { fill.run->RequestStop(); };
  Launch(fill);
  ASSERT_TRUE(fill.events->WaitForEnd());
  EXPECT_EQ(seam.syncs.load(), 1);
  EXPECT_EQ(fill.events->All<PassEvent>().at(0).end, PassEnd::kStopped);
  EXPECT_EQ(fill.events->End().outcome, Outcome::kStopped);
}

TEST(RunStops, WriteAndReadPassesEndWholeOrAtA128MBPoint) {
  TempDir dir;
  const std::string path = dir.File("big.tmp");
  MakeFile(path, 0);
  ASSERT_EQ(::truncate(path.c_str(), 300 * kMiB), 0);
  for (RunKind kind : {RunKind::kWrite, RunKind::kRead}) {
    for (int sizeMB : {32, 300}) {
      SCOPED_TRACE(std::string(RunName(kind)) + " " + std::to_string(sizeMB));
      if (kind == RunKind::kRead && sizeMB == 32) {
        ASSERT_EQ(::truncate(path.c_str(), 32 * kMiB), 0);
      } else if (kind == RunKind::kRead) {
        ASSERT_EQ(::truncate(path.c_str(), 300 * kMiB), 0);
      }
      KernelSeam seam;
      Started run{
          std::make_unique<ferrotick::Run>(Describe(kind, path, sizeMB, 1024))};
      // Stopped a few MB into the first pass.
      seam.after = [&](bool, std::uint64_t total) {
        if (total == 5 * kMiB) run.run->RequestStop();
      };
      Launch(run);
      ASSERT_TRUE(run.events->WaitForEnd());
      const auto passes = run.events->All<PassEvent>();
      ASSERT_EQ(passes.size(), 1u);
      if (sizeMB == 32) {
        // No stop test before the pass's end: it ends whole.
        EXPECT_EQ(passes[0].end, PassEnd::kComplete);
        EXPECT_EQ(passes[0].mb, 32);
        EXPECT_EQ(run.events->End().completePasses, 1);
      } else {
        // At the first point, counting 128 MB, after 129 were written, or
        // when the 128th MB was read.
        EXPECT_EQ(passes[0].end, PassEnd::kStopped);
        EXPECT_EQ(passes[0].mb, 128);
        EXPECT_EQ(passes[0].bytes,
                  (kind == RunKind::kWrite ? 129 : 128) * kMiB);
        EXPECT_EQ(run.events->End().completePasses, 0);
      }
      EXPECT_EQ(run.events->End().outcome, Outcome::kStopped);
    }
  }
}

TEST(RunFailures, AFailedTransferEndsTheRunWithItsErrnoAndACutPass) {
  TempDir dir;
  // A device that is always full, for real.
  auto full = RunToEnd(Describe(RunKind::kFill, "/dev/full", 4, 128));
  EXPECT_EQ(full->All<PassEvent>().at(0).end, PassEnd::kFailed);
  EXPECT_EQ(full->End().outcome, Outcome::kFailed);
  EXPECT_EQ(full->End().error, ENOSPC);

  // A disk that fails half-way through a pass.
  const std::string path = dir.File("eio.tmp");
  MakeFile(path, 4 * kMiB);
  KernelSeam seam;
  seam.failWritesAfter = 6 * kMiB;
  RunOptions many;
  many.passLimit = 5;
  auto write = RunToEnd(Describe(RunKind::kWrite, path, 4, 1024, many));
  const auto passes = write->All<PassEvent>();
  ASSERT_EQ(passes.size(), 2u);
  EXPECT_TRUE(passes[0].Complete());
  EXPECT_EQ(passes[1].end, PassEnd::kFailed);
  EXPECT_EQ(passes[1].bytes, 2 * kMiB);
  EXPECT_EQ(write->End().outcome, Outcome::kFailed);
  EXPECT_EQ(write->End().error, EIO);
  EXPECT_EQ(write->End().completePasses, 1);
}

// Each option that keeps a rate honest is seen by the kernel: a test here
// fails when the call that carries it is taken out.
TEST(RunHonesty, SyncDropCacheAndDirectReachTheKernel) {
  TempDir dir;
  const std::string path = dir.File("honest.tmp");
  for (bool asked : {false, true}) {
    SCOPED_TRACE(asked);
    KernelSeam seam;
    RunOptions options;
    options.sync = asked;
    options.passLimit = 3;
    RunToEnd(Describe(RunKind::kFill, path, 2, 128, options));
    EXPECT_EQ(seam.syncs.load(), asked ? 1 : 0);
    RunToEnd(Describe(RunKind::kWrite, path, 2, 128, options));
    EXPECT_EQ(seam.syncs.load(), asked ? 4 : 0);  // one per pass

    RunOptions drop;
    drop.dropCache = asked;
    drop.passLimit = 3;
    RunToEnd(Describe(RunKind::kRead, path, 0, 128, drop));
    EXPECT_EQ(seam.drops.load(), asked ? 3 : 0);
  }
  // O_DIRECT, as the kernel reports the descriptor's flags.
  for (bool asked : {false, true}) {
    SCOPED_TRACE(asked);
    KernelSeam seam;
    RunOptions options;
    options.direct = asked;
    options.passLimit = 1;
    if (asked && ferrotick::Run(Describe(RunKind::kFill, dir.File("direct.tmp"),
                                         1, 64, options))
                         .Open() == EINVAL) {
      GTEST_SKIP() << dir.path() << " refuses O_DIRECT";
    }
    for (RunKind kind : {RunKind::kFill, RunKind::kWrite, RunKind::kRead}) {
      RunToEnd(Describe(kind, dir.File("direct.tmp"), 1, 64, options));
    }
    EXPECT_GT(seam.transfers.load(), 0);
    EXPECT_EQ(seam.directTransfers.load(), asked ? seam.transfers.load() : 0);
  }
}

TEST(RunLifecycle, AStuckTransferIsAbandonedWithoutWaitingAndLeavesNothing) {
  TempDir dir;
  const std::string path = dir.File("stuck.tmp");
  MakeFile(path, 4 * kMiB);
  const testing::Baseline before;
  KernelSeam seam;
  std::shared_ptr<EventRecorder> events;
  {
    seam.HoldNext();  // as a read on a hung disk
    Started read = Start(Describe(RunKind::kRead, path, 0, 128));
    events = read.events;
    seam.WaitHeld();
    read.run->RequestStop();
    EXPECT_FALSE(read.run->WaitEnded(std::chrono::milliseconds(50)));
    const auto start = std::chrono::steady_clock::now();
    read.run->Abandon();
    read.run.reset();  // never waits for the transfer
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::seconds(5));
  }
  seam.Release();
  // The thread ends by itself after its transfer, telling nothing.
  EXPECT_TRUE(before.Restored(std::chrono::seconds(30)));
  EXPECT_TRUE(events->Events().empty());
}

TEST(RunLifecycle, AWriterStartedAfterAnotherWaitsForItsEnd) {
  TempDir dir;
  const std::string path = dir.File("two.tmp");
  MakeFile(path, kMiB);
  KernelSeam seam;
  seam.HoldNext();
  Started first = Start(Describe(RunKind::kWrite, path, 1, 1024));
  seam.WaitHeld();
  first.run->RequestStop();
  RunOptions once;
  once.passLimit = 1;
  Started second =
      Start(Describe(RunKind::kWrite, path, 1, 1024, once), first.run.get());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(second.events->Events().empty()) << "wrote beside the first";
  seam.Release();
  ASSERT_TRUE(first.events->WaitForEnd());
  ASSERT_TRUE(second.events->WaitForEnd());
  EXPECT_EQ(first.events->End().outcome, Outcome::kStopped);
  EXPECT_EQ(second.events->End().outcome, Outcome::kCompleted);
}

TEST(RunLifecycle, PacedPassesPauseOutsideTheirTimeAndAStopCutsThePause) {
  TempDir dir;
  const std::string path = dir.File("paced.tmp");
  MakeFile(path, 64 * 1024);
  RunOptions paced;
  paced.minPassPeriod = std::chrono::milliseconds(100);
  paced.passLimit = 4;
  const auto start = std::chrono::steady_clock::now();
  auto read = RunToEnd(Describe(RunKind::kRead, path, 0, 64, paced));
  EXPECT_GE(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(300));
  for (const PassEvent& pass : read->All<PassEvent>()) {
    EXPECT_LT(pass.seconds, 0.1) << "the pause was timed";
  }
  // A pause of an hour ends with the stop.
  paced.minPassPeriod = std::chrono::hours(1);
  paced.passLimit = 0;
  Started write = Start(Describe(RunKind::kWrite, path, 0, 64, paced));
  ASSERT_TRUE(write.events->WaitFor(
      [](const auto& events) { return !events.empty(); }));
  write.run->RequestStop();
  EXPECT_TRUE(write.run->WaitEnded(std::chrono::seconds(30)));
}

// A front end that takes a run's events gets every pass, point and end,
// and between the points progress no more often than a live line shows it.
TEST(HandedOverRun, KeepsPassesPointsAndEndAndThinsTheProgressBetween) {
  TempDir dir;
  TestClock clock;
  KernelSeam seam;
  seam.after = [](bool write, std::uint64_t total) {
    if (write && total % kMiB == 0) TestClock::Advance(0.03);
  };
  ferrotick::Run run(Describe(RunKind::kFill, dir.File("f"), 140, 1024));
  ASSERT_EQ(run.Open(), 0);
  HandedOverRun handedOver(run);
  std::atomic<int> wakes{0};
  ASSERT_TRUE(handedOver.Start([&wakes] { ++wakes; }));
  std::vector<RunEvent> events;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while ((events.empty() || !std::holds_alternative<EndEvent>(events.back())) &&
         std::chrono::steady_clock::now() < deadline) {
    for (RunEvent& event : handedOver.Take())
      events.push_back(std::move(event));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(handedOver.WaitEnded(std::chrono::seconds(10)));
  ASSERT_FALSE(events.empty());
  ASSERT_TRUE(std::holds_alternative<EndEvent>(events.back()));
  EXPECT_EQ(std::get<EndEvent>(events.back()).outcome, Outcome::kCompleted);
  EXPECT_GT(wakes.load(), 0);
  int passes = 0;
  int points = 0;
  int between = 0;
  double last = -1;
  for (const RunEvent& event : events) {
    passes += std::holds_alternative<PassEvent>(event);
    const auto* progress = std::get_if<ProgressEvent>(&event);
    if (!progress) continue;
    if (progress->point) {
      ++points;
      EXPECT_EQ(progress->mb, 128);
      continue;
    }
    ++between;
    if (last >= 0) {
      EXPECT_GE(progress->seconds - last, 0.1 - 1e-9);
    }
    last = progress->seconds;
  }
  EXPECT_EQ(passes, 1);
  EXPECT_EQ(points, 1);
  // 139 MBs between, 0.03 s apart: one in four at most goes over.
  EXPECT_GT(between, 10);
  EXPECT_LE(between, 36);
}

}  // namespace
}  // namespace ferrotick
