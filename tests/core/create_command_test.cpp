// Create and its cancel control, through the commands as the window
// presses them.
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <future>
#include <thread>
#include <utility>

#include "core/file_commands.h"
#include "core/run_commands.h"
#include "core/transfer_buffer.h"
#include "tests/support/fake_view.h"
#include "tests/support/kernel_seam.h"
#include "tests/support/test_clock.h"
#include "tests/support/thread_count.h"

namespace ferrotick {
namespace {

using testing::Bench;
using testing::Exists;
using testing::FileLength;
using testing::KernelSeam;
using testing::MakeFile;
using testing::MatchesFormat;
using testing::OpenDescriptors;
using testing::TempDir;

constexpr std::uint64_t kMB = 1048576;

TEST(Create, FileSizeOneGivesTheLinesInOrder) {
  TempDir dir;
  const auto fdsBefore = OpenDescriptors();
  const std::string path = dir.File("testdata.tmp");
  {
    Bench bench;
    bench.state.m_nFileSizeMB = 1;
    bench.view.answers.push_back(path);
    OnCreate(bench.state);
    // The command's own lines are in before any worker line.
    ASSERT_EQ(bench.Lines(), (std::vector<std::string>{
                                 path, "Initializing 1MB w/128KB bufs"}));
    EXPECT_EQ(bench.view.title, "Ferrotick: " + path);
    ASSERT_TRUE(bench.WaitForLine(path + " Closed."));
    const auto lines = bench.Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(MatchesFormat(lines[2], "Init Done: %.3fMBs")) << lines[2];
    EXPECT_TRUE(bench.view.testsEnabled);
    EXPECT_EQ(FileLength(path), kMB);
    // Create leaves the captions and the settings alone.
    EXPECT_EQ(bench.view.showSettingsCalls, 0);
    EXPECT_EQ(bench.view.writeCaption, "Write");
    const ChoosePathRequest& request = bench.view.requests.at(0);
    EXPECT_FALSE(request.openType);
    EXPECT_EQ(request.defaultExtension, "tmp");
    EXPECT_EQ(request.defaultFileName, "testdata");
    EXPECT_EQ(request.filter, "tmp files (*.tmp)|*.tmp|All Files (*.*)|*.*||");
    EXPECT_EQ(request.initialDirectory, ".");
    EXPECT_TRUE(request.promptOverwrite);
    EXPECT_FALSE(request.mustExist);
    EXPECT_TRUE(request.hideReadOnly);
    // Pressed as soon as the fill says it closed: nothing holds the file.
    OnDeleteFile(bench.state);
    EXPECT_EQ(bench.Lines().back(), path + " deleted.");
    ASSERT_TRUE(bench.WaitIdle());
    EXPECT_EQ(OpenDescriptors(), fdsBefore);
  }
  EXPECT_EQ(OpenDescriptors(), fdsBefore);
}

TEST(Create, RatesAreTheMBsOverTheFillsOwnSeconds) {
  TempDir dir;
  testing::TestClock clock;
  KernelSeam seam;
  // Buffer Size 3: an MB is 341 writes of 3 KB, 1 KB short of a MiB. Each
  // MB takes half a second.
  constexpr std::uint64_t kOneMB = 341 * 3 * 1024;
  seam.after = [](bool, std::uint64_t total) {
    if (total % kOneMB == 0) testing::TestClock::Advance(0.5);
  };
  Bench bench;
  const std::string path = dir.File("rates.tmp");
  bench.state.m_nFileSizeMB = 129;
  bench.state.m_nBufferKB = 3;
  bench.view.answers.push_back(path);
  OnCreate(bench.state);
  ASSERT_TRUE(bench.WaitForLine(path + " Closed."));
  // The progress line comes once 129 MB (64.5 s) are written, counting 128.
  EXPECT_EQ(bench.Lines(2), (std::vector<std::string>{
                                "  Init... 1.984 MBs [128/129]",
                                "Init Done: 2.000MBs", path + " Closed."}));
  EXPECT_EQ(FileLength(path), 129u * 341 * 3 * 1024);
}

TEST(Create, OneProgressLineAt128Of129) {
  TempDir dir;
  Bench bench;
  const std::string path = dir.File("big.tmp");
  bench.state.m_nFileSizeMB = 129;
  bench.view.answers.push_back(path);
  OnCreate(bench.state);
  ASSERT_TRUE(bench.WaitForLine(path + " Closed."));
  const auto lines = bench.Lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_TRUE(MatchesFormat(lines[2], "  Init... %.3f MBs [128/129]"))
      << lines[2];
  EXPECT_TRUE(MatchesFormat(lines[3], "Init Done: %.3fMBs")) << lines[3];
  EXPECT_EQ(FileLength(path), 129 * kMB);
}

TEST(Create, BufferSize1000MakesMBsOf1000KB) {
  TempDir dir;
  Bench bench;
  const std::string path = dir.File("odd.tmp");
  bench.state.m_nFileSizeMB = 3;
  bench.state.m_nBufferKB = 1000;
  bench.view.answers.push_back(path);
  OnCreate(bench.state);
  EXPECT_EQ(bench.Lines().back(), "Initializing 3MB w/1000KB bufs");
  ASSERT_TRUE(bench.WaitForLine(path + " Closed."));
  EXPECT_EQ(FileLength(path), 3u * 1000 * 1024);
}

TEST(Create, BufferSize3LeavesEachMBOneKBShort) {
  TempDir dir;
  Bench bench;
  const std::string path = dir.File("three.tmp");
  bench.state.m_nFileSizeMB = 2;
  bench.state.m_nBufferKB = 3;
  bench.view.answers.push_back(path);
  OnCreate(bench.state);
  ASSERT_TRUE(bench.WaitForLine(path + " Closed."));
  EXPECT_EQ(FileLength(path), 2u * 341 * 3 * 1024);
}

TEST(Create, FileSizeZeroWritesNothingAndSucceeds) {
  TempDir dir;
  Bench bench;
  const std::string path = dir.File("empty.tmp");
  bench.state.m_nFileSizeMB = 0;
  bench.view.answers.push_back(path);
  OnCreate(bench.state);
  ASSERT_TRUE(bench.WaitForLine(path + " Closed."));
  const auto lines = bench.Lines();
  EXPECT_EQ(lines[1], "Initializing 0MB w/128KB bufs");
  EXPECT_EQ(lines[2], "Init Done: 0.000MBs");
  EXPECT_TRUE(bench.view.testsEnabled);
  EXPECT_TRUE(Exists(path));
  EXPECT_EQ(FileLength(path), 0u);
}

// A file in memory is timed as memory: the log says so after the lines of
// Create and of Use Existing, and never of a device node.
TEST(Create, AFileInMemoryIsNamedSo) {
  struct statfs fs {};
  if (::statfs("/dev/shm", &fs) != 0 || fs.f_type != TMPFS_MAGIC) {
    GTEST_SKIP() << "no tmpfs at /dev/shm";
  }
  char folder[] = "/dev/shm/ferrotick-test-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/memory.tmp";
  const std::string warning =
      "WARNING: this file is on tmpfs, in memory: the rates are the "
      "memory's, not a disk's.";
  {
    Bench bench;
    bench.state.m_nFileSizeMB = 1;
    bench.view.answers.push_back(path);
    OnCreate(bench.state);
    EXPECT_EQ(bench.Lines(),
              (std::vector<std::string>{path, "Initializing 1MB w/128KB bufs",
                                        warning}));
    ASSERT_TRUE(bench.WaitIdle());
    bench.view.answers.push_back(path);
    OnUseExisting(bench.state);
    EXPECT_EQ(bench.Lines().back(), warning);
    bench.view.answers.push_back("/dev/null");
    OnUseExisting(bench.state);
    EXPECT_EQ(bench.Lines().back(), "WARNING: Write will destroy this file!");
  }
  ::unlink(path.c_str());
  ::rmdir(folder);
}

TEST(Create, CancelledChooserDoesNothing) {
  Bench bench;
  bench.state.m_strPath.Set("/earlier/path");
  OnCreate(bench.state);
  EXPECT_EQ(bench.log.Count(), 0u);
  EXPECT_EQ(bench.state.m_strPath.Get(), "/earlier/path");
  EXPECT_EQ(bench.view.title, "");
}

TEST(Create, OpenFailsOnAFolderOrAMissingFolder) {
  TempDir dir;
  Bench bench;
  const std::pair<std::string, std::string> cases[] = {
      {dir.path(), "  Is a directory"},
      {dir.File("no/such/dir.tmp"), "  No such file or directory"}};
  for (const auto& [path, why] : cases) {
    bench.view.answers.push_back(path);
    const std::size_t from = bench.log.Count();
    OnCreate(bench.state);
    // The failure line, then why.
    EXPECT_EQ(bench.Lines(from),
              (std::vector<std::string>{"Open Failed", why}));
    EXPECT_EQ(bench.state.m_strPath.Get(), path);  // already stored
  }
  EXPECT_EQ(bench.view.title, "");
  EXPECT_FALSE(bench.state.Busy());
}

TEST(Create, DiskFullFailsTheFill) {
  Bench bench;
  const auto fdsBefore = OpenDescriptors();
  bench.view.answers.push_back("/dev/full");
  bench.state.m_nFileSizeMB = 4;
  OnCreate(bench.state);
  ASSERT_TRUE(bench.WaitForLine("InitThread Failed or was Canceled."));
  ASSERT_TRUE(bench.WaitIdle());
  EXPECT_FALSE(bench.view.testsEnabled);
  EXPECT_FALSE(bench.Find("/dev/full Closed.").has_value());
  // The failed fill let go of its handle.
  EXPECT_EQ(OpenDescriptors(), fdsBefore);
}

TEST(Create, CancelStopsOnceTheMBUnderWayIsDone) {
  TempDir dir;
  // Pressed during MB index 2, and during MB index 128, where no progress
  // line is made for it.
  for (const std::uint64_t cancelAt : {3 * kMB, 129 * kMB}) {
    Bench bench;
    KernelSeam seam;
    std::promise<void> reached;
    std::promise<void> pressed;
    std::shared_future<void> cancelled = pressed.get_future().share();
    // The first write of the MB's second half waits for the press.
    seam.after = [&](bool, std::uint64_t total) {
      if (total == cancelAt - kMB / 2) {
        reached.set_value();
        cancelled.wait();
      }
    };
    const std::string path = dir.File("cancel.tmp");
    bench.state.m_nFileSizeMB = 8192;
    bench.state.m_nBufferKB = 512;
    bench.view.answers.push_back(path);
    OnCreate(bench.state);
    reached.get_future().wait();
    OnCancelInit(bench.state);
    pressed.set_value();
    ASSERT_TRUE(bench.WaitIdle());
    EXPECT_EQ(bench.Lines(2),
              (std::vector<std::string>{"InitThread Failed or was Canceled."}));
    EXPECT_EQ(FileLength(path), cancelAt);
    EXPECT_FALSE(bench.view.testsEnabled);
    // The cancelled fill released the file: it can be created again.
    FileHandle again;
    EXPECT_TRUE(again.Open(path, OpenMode::kCreate));
  }
}

TEST(Create, CancelDuringTheLastMBStillCancels) {
  TempDir dir;
  Bench bench;
  const std::string path = dir.File("last.tmp");
  bench.state.m_nFileSizeMB = 4096;
  bench.state.m_nBufferKB = 1;
  bench.view.answers.push_back(path);
  OnCreate(bench.state);
  ASSERT_TRUE(bench.DrainUntil([&] { return FileLength(path) > kMB; }));
  // Cancel, then lower File Size so that the MB under way is the last:
  // the cancel test comes before the loop's own test.
  OnCancelInit(bench.state);
  bench.state.m_nFileSizeMB = 1;
  ASSERT_TRUE(bench.WaitForLine("InitThread Failed or was Canceled."));
  for (const std::string& line : bench.Lines()) {
    EXPECT_NE(line.rfind("Init Done", 0), 0u) << line;
  }
  EXPECT_FALSE(bench.view.testsEnabled);
}

TEST(Create, CancelBeforeCreateIsClearedByCreate) {
  TempDir dir;
  Bench bench;
  const std::string path = dir.File("c.tmp");
  OnCancelInit(bench.state);
  bench.state.m_nFileSizeMB = 1;
  bench.view.answers.push_back(path);
  OnCreate(bench.state);
  ASSERT_TRUE(bench.WaitForLine(path + " Closed."));
}

TEST(Create, SecondCreateOnAFileBeingFilledIsRefused) {
  TempDir dir;
  Bench bench;
  const std::string path = dir.File("busy.tmp");
  bench.state.m_nFileSizeMB = 8192;
  bench.state.m_nBufferKB = 1;
  bench.view.answers.push_back(path);
  OnCreate(bench.state);
  bench.view.answers.push_back(path);
  OnCreate(bench.state);  // the running fill holds the file
  EXPECT_EQ(bench.Lines(bench.log.Count() - 2),
            (std::vector<std::string>{"Open Failed",
                                      "  in use by a run or another program"}));
  ASSERT_TRUE(bench.DrainUntil([&] { return FileLength(path) > kMB; }));
  // A fill on another file may run beside it; one cancel stops both.
  const std::string other = dir.File("other.tmp");
  bench.view.answers.push_back(other);
  OnCreate(bench.state);
  EXPECT_EQ(bench.Lines().back(), "Initializing 8192MB w/1KB bufs");
  ASSERT_TRUE(bench.DrainUntil([&] { return FileLength(other) > kMB; }));
  OnCancelInit(bench.state);
  ASSERT_TRUE(bench.WaitIdle());
  int failed = 0;
  for (const auto& line : bench.Lines()) {
    failed += line == "InitThread Failed or was Canceled.";
  }
  EXPECT_EQ(failed, 2);
}

TEST(Create, ClosedLineShowsThePathOfThatMoment) {
  TempDir dir;
  Bench bench;
  KernelSeam seam;
  const std::string path = dir.File("a.tmp");
  bench.state.m_nFileSizeMB = 2;
  bench.view.answers.push_back(path);
  seam.HoldNext();
  OnCreate(bench.state);
  seam.WaitHeld();  // the fill is under way
  bench.state.m_strPath.Set("/replaced/meanwhile");
  seam.Release();
  ASSERT_TRUE(bench.WaitIdle());
  EXPECT_EQ(bench.Lines().back(), "/replaced/meanwhile Closed.");
}

void* FailAllocation(std::size_t, std::size_t) { return nullptr; }

TEST(Create, NoBufferFailsTheRunAndReleasesTheFile) {
  TempDir dir;
  Bench bench;
  const auto fdsBefore = OpenDescriptors();
  const std::string path = dir.File("nomem.tmp");
  TransferBuffer::SetAllocatorForTest(FailAllocation);
  bench.view.answers.push_back(path);
  OnCreate(bench.state);
  const bool failed = bench.WaitForLine("InitThread Failed or was Canceled.");
  ASSERT_TRUE(bench.WaitIdle());
  TransferBuffer::SetAllocatorForTest(nullptr);
  EXPECT_TRUE(failed);
  EXPECT_FALSE(bench.view.testsEnabled);
  EXPECT_EQ(OpenDescriptors(), fdsBefore);
}

TEST(Create, ABufferSizeOutOfRangeNeverReachesATransfer) {
  TempDir dir;
  Bench bench;
  for (int bufferKB : {0, -1, 1025}) {
    const std::string path = dir.File("bad" + std::to_string(bufferKB));
    bench.state.m_nBufferKB = bufferKB;
    bench.view.answers.push_back(path);
    OnCreate(bench.state);
    ASSERT_TRUE(bench.WaitIdle());
    EXPECT_EQ(bench.Lines(bench.log.Count() - 2),
              (std::vector<std::string>{"InitThread Failed or was Canceled.",
                                        "  Invalid argument"}));
    EXPECT_EQ(FileLength(path), 0u);
  }
}

TEST(Create, EndingTheBenchAbandonsAFillSilently) {
  TempDir dir;
  const std::string path = dir.File("abandon.tmp");
  const int threadsBefore = testing::ThreadCount();
  const auto fdsBefore = OpenDescriptors();
  {
    Bench bench;
    bench.state.m_nFileSizeMB = 8192;
    bench.state.m_nBufferKB = 1;
    bench.view.answers.push_back(path);
    OnCreate(bench.state);
    ASSERT_TRUE(bench.DrainUntil([&] { return FileLength(path) > kMB; }));
    const std::size_t count = bench.log.Count();
    bench.state.Shutdown();
    bench.state.HandleEvents();
    EXPECT_EQ(bench.log.Count(), count) << "nothing is logged at the end";
  }
  EXPECT_EQ(testing::ThreadCount(), threadsBefore);
  EXPECT_EQ(OpenDescriptors(), fdsBefore);
}

}  // namespace
}  // namespace ferrotick
