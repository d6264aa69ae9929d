// Create and its cancel control, through the commands as the window
// presses them; and the bench's end under each kind of run.
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <future>
#include <optional>
#include <thread>
#include <utility>

#include "core/file_commands.h"
#include "core/run_commands.h"
#include "core/transfer_buffer.h"
#include "tests/support/fake_view.h"
#include "tests/support/kernel_seam.h"
#include "tests/support/run_checks.h"
#include "tests/support/test_clock.h"

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

// Fills of each shape, each to its Closed line. An MB is W writes of
// Buffer Size (1 KB short of a MiB at 3 KB); a clocked fill takes half a
// second an MB, so its rates are exact.
TEST(Create, FillsLogTheirMBsAndWriteWholeMBsOfTheirWrites) {
  struct Case {
    const char* name;
    int sizeMB;
    int bufferKB;
    std::uint64_t length;
    bool clocked;
    bool cancelFirst;      // a cancel pressed before Create is cleared by it
    const char* progress;  // the line at 128 MB, if any
    const char* done;
  };
  const Case cases[] = {
      {"rates over the fill's own seconds", 129, 3, 129u * 341 * 3 * 1024, true,
       false, "  Init... 1.984 MBs [128/129]", "Init Done: 2.000MBs"},
      {"one progress line at 128 of 129", 129, 128, 129 * kMB, false, false,
       "  Init... %.3f MBs [128/129]", "Init Done: %.3fMBs"},
      {"MBs of 1000 KB", 3, 1000, 3u * 1000 * 1024, false, false, nullptr,
       "Init Done: %.3fMBs"},
      {"MBs of 3 KB, one KB short", 2, 3, 2u * 341 * 3 * 1024, false, false,
       nullptr, "Init Done: %.3fMBs"},
      {"zero MB writes nothing and succeeds", 0, 128, 0, false, false, nullptr,
       "Init Done: 0.000MBs"},
      {"a cancel before Create", 1, 128, kMB, false, true, nullptr,
       "Init Done: %.3fMBs"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<testing::TestClock> clock;
    KernelSeam seam;
    if (c.clocked) {
      clock.emplace();
      const std::uint64_t mb = c.length / c.sizeMB;
      seam.after = [mb](bool, std::uint64_t total) {
        if (total % mb == 0) testing::TestClock::Advance(0.5);
      };
    }
    Bench bench;
    const std::string path = dir.File(std::to_string(&c - cases) + ".tmp");
    if (c.cancelFirst) OnCancelInit(bench.state);
    bench.state.m_nFileSizeMB = c.sizeMB;
    bench.state.m_nBufferKB = c.bufferKB;
    bench.view.answers.push_back(path);
    OnCreate(bench.state);
    ASSERT_TRUE(bench.WaitForLine(path + " Closed."));
    std::vector<std::string> expected = {
        path, "Initializing " + std::to_string(c.sizeMB) + "MB w/" +
                  std::to_string(c.bufferKB) + "KB bufs"};
    if (c.progress) expected.push_back(c.progress);
    expected.insert(expected.end(), {c.done, path + " Closed."});
    EXPECT_TRUE(testing::LinesMatch(bench.Lines(), expected));
    EXPECT_TRUE(bench.view.testsEnabled);
    EXPECT_TRUE(Exists(path));
    EXPECT_EQ(FileLength(path), c.length);
  }
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

void* FailAllocation(std::size_t, std::size_t) { return nullptr; }

// A disk that is always full, and no memory for the buffer: the fill
// fails, the tests stay off and its handle is let go.
TEST(Create, AFailedFillReleasesTheFile) {
  TempDir dir;
  for (const bool noBuffer : {false, true}) {
    SCOPED_TRACE(noBuffer ? "no buffer" : "disk full");
    Bench bench;
    const auto fdsBefore = OpenDescriptors();
    const std::string path = noBuffer ? dir.File("nomem.tmp") : "/dev/full";
    if (noBuffer) TransferBuffer::SetAllocatorForTest(FailAllocation);
    if (!noBuffer) bench.state.m_nFileSizeMB = 4;
    bench.view.answers.push_back(path);
    OnCreate(bench.state);
    const bool failed = bench.WaitForLine("InitThread Failed or was Canceled.");
    const bool idle = bench.WaitIdle();
    TransferBuffer::SetAllocatorForTest(nullptr);
    ASSERT_TRUE(failed);
    ASSERT_TRUE(idle);
    EXPECT_FALSE(bench.view.testsEnabled);
    EXPECT_FALSE(bench.Find(path + " Closed.").has_value());
    EXPECT_EQ(OpenDescriptors(), fdsBefore);
  }
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

// A fill, a writer under way and a reader just started, each left behind
// by the bench's end: nothing more is logged, and once it is gone no
// thread or descriptor of the run is left.
TEST(Commands, EndingTheBenchAbandonsEachRunSilently) {
  struct Case {
    const char* name;
    std::uint64_t fileBytes;  // made beforehand, for a writer or a reader
    int sizeMB;               // 0: as the bench has it
    void (*press)(BenchState&);
    long long waitForBytes;  // written past this before the end; -1: none
    const char* lastLine;    // the last line logged, when it is known
  };
  const Case cases[] = {
      {"fill", 0, 8192, OnCreate, kMB, nullptr},
      {"writer", 64 * kMB, 64, OnWrite, 0, "WriteThread Started."},
      {"reader", 4 * kMB, 0, OnRead, -1, "Starting Reader"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(std::string(c.name) + ".tmp");
    if (c.fileBytes > 0) MakeFile(path, c.fileBytes);
    const testing::Baseline before;
    {
      Bench bench;
      KernelSeam seam;
      bench.state.m_strPath.Set(path);
      bench.view.answers.push_back(path);
      if (c.sizeMB > 0) bench.state.m_nFileSizeMB = c.sizeMB;
      bench.state.m_nBufferKB = 1;
      c.press(bench.state);
      if (c.waitForBytes >= 0) {
        ASSERT_TRUE(bench.DrainUntil([&] {
          return seam.writtenBytes.load() >
                 static_cast<std::uint64_t>(c.waitForBytes);
        }));
      }
      const std::size_t count = bench.log.Count();
      bench.state.Shutdown();
      bench.state.HandleEvents();
      EXPECT_EQ(bench.log.Count(), count) << "nothing is logged at the end";
      if (c.lastLine) {
        EXPECT_EQ(bench.Lines().back(), c.lastLine);
      }
    }
    EXPECT_TRUE(before.Restored());
  }
}

}  // namespace
}  // namespace ferrotick
