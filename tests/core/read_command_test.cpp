// The Read toggle and its reader, through the commands as the window
// presses them.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "core/reader.h"
#include "core/run_commands.h"
#include "tests/support/fake_view.h"
#include "tests/support/kernel_seam.h"
#include "tests/support/run_checks.h"
#include "tests/support/test_clock.h"

namespace ferrotick {
namespace {

using testing::Bench;
using testing::KernelSeam;
using testing::MakeFile;
using testing::MatchesFormat;
using testing::OpenDescriptors;
using testing::TempDir;

constexpr std::uint64_t kMB = 1048576;

std::vector<std::string> PassLines(const std::vector<std::string>& lines) {
  std::vector<std::string> passes;
  for (const auto& line : lines) {
    if (line.rfind("Read ", 0) == 0) passes.push_back(line);
  }
  return passes;
}

// Handles the reader's events until the log holds `count` pass lines.
bool WaitForPasses(Bench& bench, std::size_t count) {
  return bench.DrainUntil(
      [&] { return PassLines(bench.Lines()).size() >= count; });
}

TEST(Read, GoodStartThenStopLinesInOrder) {
  TempDir dir;
  const std::string path = dir.File("r.tmp");
  MakeFile(path, 2 * kMB);
  const auto fdsBefore = OpenDescriptors();
  {
    Bench bench;
    bench.state.m_strPath.Set(path);
    OnRead(bench.state);
    EXPECT_EQ(bench.Lines(), (std::vector<std::string>{"Reader Opened File",
                                                       "Reader Thread Started",
                                                       "Starting Reader"}));
    EXPECT_EQ(bench.view.readCaption, "StopRead");
    ASSERT_TRUE(WaitForPasses(bench, 2));
    OnRead(bench.state);
    EXPECT_EQ(bench.view.readCaption, "Read");
    EXPECT_EQ(bench.state.m_pReader, nullptr);
    // Stop waited for the thread: everything it said is handed over by now.
    bench.state.HandleEvents();
    const auto lines = bench.Lines(*bench.Find("ReadThread Stopping") + 1);
    // Only pass lines follow: those queued before the stop, and the pass
    // under way; the reader has no closing line.
    for (const auto& line : lines) {
      EXPECT_TRUE(MatchesFormat(line, "Read 2MB: %.3f MBs")) << line;
    }
    for (const auto& line : PassLines(bench.Lines())) {
      EXPECT_TRUE(MatchesFormat(line, "Read 2MB: %.3f MBs")) << line;
    }
  }
  EXPECT_EQ(OpenDescriptors(), fdsBefore);
}

TEST(Read, ARemainderCarriesOverSoPassesAlternate2And3) {
  TempDir dir;
  const std::string path = dir.File("half.tmp");
  MakeFile(path, 5 * kMB / 2);
  testing::TestClock clock;
  Bench bench;
  KernelSeam seam;
  seam.after = [](bool, std::uint64_t total) {
    if (total % kMB == 0) testing::TestClock::Advance(0.4);  // per MB read
  };
  bench.state.m_strPath.Set(path);
  bench.state.m_options.passLimit = 4;
  OnRead(bench.state);
  ASSERT_TRUE(WaitForPasses(bench, 4));
  // The rate is the counted MBs over the pass's seconds, not its bytes.
  EXPECT_EQ(
      PassLines(bench.Lines()),
      (std::vector<std::string>{"Read 2MB: 2.500 MBs", "Read 3MB: 2.500 MBs",
                                "Read 2MB: 2.500 MBs", "Read 3MB: 2.500 MBs"}));
  OnRead(bench.state);
}

TEST(Read, AProgressLineAt128MB) {
  TempDir dir;
  const std::string path = dir.File("r128.tmp");
  MakeFile(path, 0);
  ASSERT_EQ(::truncate(path.c_str(), 128 * kMB), 0);
  Bench bench;
  bench.state.m_strPath.Set(path);
  bench.state.m_nBufferKB = 1024;
  bench.state.m_options.passLimit = 1;
  OnRead(bench.state);
  ASSERT_TRUE(WaitForPasses(bench, 1));
  const auto lines = bench.Lines(3);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(MatchesFormat(lines[0], "  Reading: %.3f MBs")) << lines[0];
  EXPECT_TRUE(MatchesFormat(lines[1], "Read 128MB: %.3f MBs")) << lines[1];
  OnRead(bench.state);
}

TEST(Read, EmptyPathFailsToOpenButKeepsTheReader) {
  Bench bench;
  OnRead(bench.state);
  EXPECT_EQ(bench.Lines(),
            (std::vector<std::string>{"Reader Open Failed",
                                      "  No such file or directory",
                                      "Starting Reader"}));
  EXPECT_EQ(bench.view.readCaption, "StopRead");
  ASSERT_NE(bench.state.m_pReader, nullptr);
  OnRead(bench.state);
  EXPECT_EQ(bench.Lines().back(), "ReadThread Stopping");
  EXPECT_EQ(bench.view.readCaption, "Read");
  EXPECT_EQ(bench.state.m_pReader, nullptr);
}

TEST(Read, EmptyFileGivesPacedZeroPasses) {
  TempDir dir;
  const std::string path = dir.File("empty.tmp");
  MakeFile(path, 0);
  Bench bench;
  bench.state.m_strPath.Set(path);
  OnRead(bench.state);
  ASSERT_TRUE(WaitForPasses(bench, 3));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  bench.state.HandleEvents();
  EXPECT_LT(bench.log.Count(), 100u);
  for (const auto& line : PassLines(bench.Lines())) {
    EXPECT_EQ(line, "Read 0MB: 0.000 MBs");
  }
  OnRead(bench.state);
}

TEST(Read, AQuickStopIsNeverLost) {
  TempDir dir;
  const std::string path = dir.File("quick.tmp");
  MakeFile(path, kMB);
  Bench bench;
  bench.state.m_strPath.Set(path);
  for (int i = 0; i < 10; ++i) {
    CReader reader(bench.state.Describe(RunKind::kRead), bench.log,
                   bench.state.Sink());
    reader.Start();
    reader.Stop();  // before the thread may even have begun
    // The run saw the stop at its own test, so the wait never ran out.
    EXPECT_FALSE(reader.Abandoned()) << i;
    EXPECT_FALSE(reader.Running());
  }
  for (int i = 0; i < 10; ++i) {
    OnRead(bench.state);
    OnRead(bench.state);
  }
  EXPECT_EQ(bench.view.readCaption, "Read");
  EXPECT_EQ(bench.state.m_pReader, nullptr);
}

// A read stuck in the kernel (a hung network mount, a failing disk) must
// never hold the window: past the wait the reader is left behind, and the
// window's end does not wait for it either.
TEST(Read, AReadStuckInTheKernelIsAbandonedAndNeverWaitedFor) {
  TempDir dir;
  const std::string path = dir.File("slow.tmp");
  MakeFile(path, 4 * kMB);
  const testing::Baseline before;
  KernelSeam seam;
  {
    Bench bench;
    bench.state.m_strPath.Set(path);
    seam.HoldNext();
    OnRead(bench.state);
    seam.WaitHeld();
    const auto pressed = std::chrono::steady_clock::now();
    OnRead(bench.state);  // waits 1000 ms, then abandons
    EXPECT_LT(std::chrono::steady_clock::now() - pressed,
              std::chrono::seconds(10));
    EXPECT_EQ(bench.view.readCaption, "Read");
    bench.state.HandleEvents();
    EXPECT_EQ(bench.Lines().back(), "ReadThread Stopping");
    // Another reader works beside the stuck one.
    OnRead(bench.state);
    ASSERT_TRUE(WaitForPasses(bench, 1));
    // The end leaves both behind within its bound.
    const auto ending = std::chrono::steady_clock::now();
    EXPECT_EQ(bench.state.Shutdown(), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - ending,
              std::chrono::seconds(10));
  }
  seam.Release();
  // Once the kernel answers, the abandoned run ends by itself and says
  // nothing.
  EXPECT_TRUE(before.Restored(std::chrono::seconds(30)));
}

TEST(Read, AFileTruncatedByAnotherProcessGivesShortPasses) {
  TempDir dir;
  const std::string path = dir.File("trunc.tmp");
  MakeFile(path, 8 * kMB);
  Bench bench;
  KernelSeam seam;
  bench.state.m_strPath.Set(path);
  seam.HoldNext();
  OnRead(bench.state);
  seam.WaitHeld();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(::truncate(path.c_str(), kMB) == 0 ? 0 : 1);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_EQ(WEXITSTATUS(status), 0);
  seam.Release();
  ASSERT_TRUE(WaitForPasses(bench, 3));
  OnRead(bench.state);
  bench.state.HandleEvents();
  const auto passes = PassLines(bench.Lines());
  // The first pass read what was there when it began, at most 1 MB.
  EXPECT_TRUE(MatchesFormat(passes[0], "Read 1MB: %.3f MBs") ||
              MatchesFormat(passes[0], "Read 0MB: %.3f MBs"))
      << passes[0];
  for (std::size_t i = 1; i < passes.size(); ++i) {
    EXPECT_TRUE(MatchesFormat(passes[i], "Read 1MB: %.3f MBs")) << passes[i];
  }
}

TEST(Read, AFileRemovedWhileReadIsStillReadThroughItsHandle) {
  TempDir dir;
  const std::string path = dir.File("gone.tmp");
  MakeFile(path, 2 * kMB);
  Bench bench;
  bench.state.m_strPath.Set(path);
  OnRead(bench.state);
  ASSERT_TRUE(WaitForPasses(bench, 1));
  ASSERT_EQ(::unlink(path.c_str()), 0);
  const std::size_t seen = PassLines(bench.Lines()).size();
  ASSERT_TRUE(WaitForPasses(bench, seen + 2));
  OnRead(bench.state);
  bench.state.HandleEvents();
  for (const auto& pass : PassLines(bench.Lines())) {
    EXPECT_TRUE(MatchesFormat(pass, "Read 2MB: %.3f MBs")) << pass;
  }
}

TEST(Read, AFailedReadEndsTheRunCleanly) {
  // Reading unmapped memory through /proc fails with EIO, as a failing
  // device would.
  Bench bench;
  const auto fdsBefore = OpenDescriptors();
  bench.state.m_strPath.Set("/proc/self/mem");
  OnRead(bench.state);
  if (bench.Lines().front() == "Reader Open Failed") {
    GTEST_SKIP() << "no file here fails its reads";
  }
  ASSERT_TRUE(bench.DrainUntil(
      [&] { return bench.Find("Reader Thread Failed").has_value(); },
      std::chrono::seconds(5)));
  const auto lines = bench.Lines();
  EXPECT_EQ(lines[lines.size() - 3], "Read 0MB: 0.000 MBs");
  EXPECT_EQ(lines[lines.size() - 2], "Reader Thread Failed");
  EXPECT_EQ(lines.back(), "  Input/output error");
  OnRead(bench.state);
  EXPECT_EQ(bench.Lines().back(), "ReadThread Stopping");
  EXPECT_EQ(OpenDescriptors(), fdsBefore);
}

// Ctrl-C or SIGTERM to the program must reach the thread that waits for
// it: a run deep in its transfers may not get to a handler for seconds.
std::atomic<pid_t> g_handledOn{0};
void RecordHandlingThread(int) { g_handledOn.store(::gettid()); }

TEST(Read, SignalsToTheProgramReachTheWaitingThreadNotARun) {
  TempDir dir;
  const std::string path = dir.File("signals.tmp");
  MakeFile(path, 2 * kMB);
  const std::string other = dir.File("other.tmp");
  MakeFile(other, 2 * kMB);
  Bench bench;
  // A writer of another file, held in its first transfer, beside a reader.
  KernelSeam seam;
  bench.state.m_nFileSizeMB = 2;
  bench.state.m_strPath.Set(other);
  seam.HoldNext();
  OnWrite(bench.state);
  seam.WaitHeld();
  bench.state.m_strPath.Set(path);
  OnRead(bench.state);
  ASSERT_TRUE(WaitForPasses(bench, 2));

  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = RecordHandlingThread;
  ::sigaction(SIGUSR1, &action, &previous);
  sigset_t usr1;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  // While this thread holds it off, a run that took the signal would have
  // handled it at once; none may, so it waits for this thread.
  g_handledOn.store(0);
  ::pthread_sigmask(SIG_BLOCK, &usr1, nullptr);
  ::kill(::getpid(), SIGUSR1);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(g_handledOn.load(), 0);
  ::pthread_sigmask(SIG_UNBLOCK, &usr1, nullptr);
  EXPECT_EQ(g_handledOn.load(), ::gettid());
  ::sigaction(SIGUSR1, &previous, nullptr);

  seam.Release();
  OnRead(bench.state);
  OnWrite(bench.state);
  EXPECT_TRUE(bench.WaitIdle());
}

}  // namespace
}  // namespace ferrotick
