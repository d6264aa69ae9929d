// A run's private descriptor table: what the run keeps of the process's
// descriptors, and what the window thread closes for it.
#include "core/private_table.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "core/file_commands.h"
#include "core/init_run.h"
#include "core/reader.h"
#include "tests/core/fake_view.h"
#include "tests/core/run_listener.h"

namespace ferrotick {
namespace {

using testing::Bench;
using testing::MakeFile;
using testing::OpenDescriptors;
using testing::TempDir;
using testing::TestListener;

constexpr std::uint64_t kMB = 1048576;

bool Readable(int fd, int timeoutMs) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, timeoutMs) == 1;
}

bool ShowsFile(const std::vector<std::string>& fds, const std::string& path) {
  for (const std::string& fd : fds) {
    if (fd.size() >= path.size() &&
        fd.compare(fd.size() - path.size(), path.size(), path) == 0) {
      return true;
    }
  }
  return false;
}

bool ThreadsMayUnshare() {
  bool ok = false;
  std::thread([&ok] { ok = ::unshare(CLONE_FILES) == 0; }).join();
  return ok;
}

TEST(PrivateTable, ARunHoldsNoOtherFileOrPipeOfTheProgram) {
  if (!ThreadsMayUnshare()) {
    GTEST_SKIP() << "threads may not have descriptor tables of their own here";
  }
  TempDir dir;
  const std::string path = dir.File("run.tmp");
  MakeFile(path, 8 * kMB);
  // Another file the program holds locked, and a pipe whose reader is
  // another process waiting for its end.
  const std::string other = dir.File("other.tmp");
  MakeFile(other, 1);
  const int locked = ::open(other.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(locked, LOCK_EX), 0);
  int pipe[2];
  ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(locked);
    ::close(pipe[1]);
    char c;
    while (::read(pipe[0], &c, 1) > 0) {
    }
    ::_exit(0);
  }
  ::close(pipe[0]);

  // A fill and a reader, both held in their first MB.
  Bench bench;
  TestListener fill, read;
  bench.state.m_pListener = &fill;
  bench.state.m_nFileSizeMB = 4;
  bench.view.answers.push_back(dir.File("fill.tmp"));
  fill.Hold();
  OnCreate(bench.state);
  fill.WaitHeld();
  bench.state.m_pListener = &read;
  bench.state.m_strPath.Set(path);
  read.Hold();
  OnRead(bench.state);
  read.WaitHeld();

  ::close(locked);
  ::close(pipe[1]);
  const int again = ::open(other.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_EQ(::flock(again, LOCK_EX | LOCK_NB), 0) << "a run holds the lock";
  ::close(again);
  // The reader of the pipe sees its end while the runs go on.
  int status = -1;
  bool ended = false;
  for (int i = 0; i < 3000 && !ended; ++i) {
    ended = ::waitpid(child, &status, WNOHANG) == child;
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!ended) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  EXPECT_TRUE(ended) << "a run holds the pipe's write end";
  fill.Release();
  read.Release();
  OnRead(bench.state);
  ASSERT_TRUE(bench.WaitIdle());
}

TEST(PrivateTable, TheWindowThreadClosesTheSharedCopyOfARunningRun) {
  if (!ThreadsMayUnshare()) {
    GTEST_SKIP() << "threads may not have descriptor tables of their own here";
  }
  TempDir dir;
  const auto fdsBefore = OpenDescriptors();
  const std::string path = dir.File("fill.tmp");
  {
    Bench bench;
    TestListener listener;
    bench.state.m_pListener = &listener;
    bench.state.m_nFileSizeMB = 4;
    bench.view.answers.push_back(path);
    listener.Hold();
    OnCreate(bench.state);
    listener.WaitHeld();
    EXPECT_TRUE(ShowsFile(OpenDescriptors(), path));
    bench.state.ReapFinished();
    EXPECT_FALSE(ShowsFile(OpenDescriptors(), path));
    listener.Release();
    ASSERT_TRUE(bench.WaitForLine(path + " Closed."));
    // Not reaped yet; Delete File reaps first and finds the file free.
    OnDeleteFile(bench.state);
    EXPECT_EQ(bench.Lines().back(), path + " deleted.");

    // A fill never reaped while it ran: the copy is still there once it has
    // closed the file, and the file is free for a handle that wants it alone.
    bench.view.answers.push_back(path);
    const std::size_t from = bench.log.Count();
    OnCreate(bench.state);
    ASSERT_TRUE(bench.WaitForLine(path + " Closed.", from));
    EXPECT_TRUE(ShowsFile(OpenDescriptors(), path));
    TestFile alone;
    EXPECT_TRUE(alone.Open(path, OpenMode::kExport));
    alone.Close();
    bench.state.ReapFinished();
    EXPECT_FALSE(ShowsFile(OpenDescriptors(), path));

    // A reader ended by its toggle leaves nothing behind at once.
    MakeFile(path, 2 * kMB);
    bench.state.m_strPath.Set(path);
    OnRead(bench.state);
    ASSERT_TRUE(bench.DrainUntil([&] { return !listener.Passes().empty(); }));
    OnRead(bench.state);
    EXPECT_EQ(OpenDescriptors(), fdsBefore);
  }
  EXPECT_EQ(OpenDescriptors(), fdsBefore);
}

TEST(PrivateTable, ARunStillWakesTheWindowThread) {
  // The window's wake-ups: an eventfd (as Qt's) and a pipe whose two ends
  // the program holds (as the command line's).
  const int event = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  int pipe[2];
  ASSERT_GE(event, 0);
  ASSERT_EQ(::pipe2(pipe, O_CLOEXEC | O_NONBLOCK), 0);
  TempDir dir;
  {
    Bench bench;
    bench.log.SetWakeup([&] {
      const std::uint64_t one = 1;
      EXPECT_EQ(::write(event, &one, sizeof one), 8);
      EXPECT_EQ(::write(pipe[1], "w", 1), 1);
    });
    bench.state.m_nFileSizeMB = 1;
    bench.view.answers.push_back(dir.File("fill.tmp"));
    OnCreate(bench.state);
    EXPECT_TRUE(Readable(event, 30000));
    EXPECT_TRUE(Readable(pipe[0], 30000));
    ASSERT_TRUE(bench.WaitIdle());
  }
  for (int fd : {event, pipe[0], pipe[1]}) ::close(fd);
}

TEST(PrivateTable, RunsWorkInTheSharedTableWhereThereIsNoOther) {
  TempDir dir;
  const auto fdsBefore = OpenDescriptors();
  SetPrivateTablesForTest(false);
  {
    Bench bench;
    TestListener listener;
    bench.state.m_pListener = &listener;
    const std::string path = dir.File("shared.tmp");
    bench.state.m_nFileSizeMB = 2;
    bench.view.answers.push_back(path);
    listener.Hold();
    OnCreate(bench.state);
    listener.WaitHeld();
    bench.state.ReapFinished();
    EXPECT_TRUE(ShowsFile(OpenDescriptors(), path)) << "closed under the run";
    listener.Release();
    ASSERT_TRUE(bench.WaitForLine(path + " Closed."));
    bench.state.m_strPath.Set(path);
    bench.state.m_options.passLimit = 1;
    OnRead(bench.state);
    ASSERT_TRUE(
        bench.DrainUntil([&] { return listener.Passes().size() >= 2; }));
    EXPECT_EQ(listener.Passes()[1].bytes, 2 * kMB);
    OnRead(bench.state);
    ASSERT_TRUE(bench.WaitIdle());
  }
  SetPrivateTablesForTest(true);
  EXPECT_EQ(OpenDescriptors(), fdsBefore);
}

}  // namespace
}  // namespace ferrotick
