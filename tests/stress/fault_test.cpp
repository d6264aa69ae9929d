// Faults made real: a full disk under a fill, a rewrite and an export;
// another process removing, truncating or replacing the file during a
// pass; a read-only place; paths that are no test file; awkward names.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/file_commands.h"
#include "core/log_commands.h"
#include "core/run_commands.h"
#include "tests/stress/stress_support.h"
#include "tests/support/fake_view.h"
#include "tests/support/kernel_seam.h"

namespace ferrotick {
namespace {

using stress::InChild;
using stress::LineMatches;
using stress::TmpfsMount;
using testing::Bench;
using testing::Exists;
using testing::FileLength;
using testing::KernelSeam;
using testing::MakeFile;
using testing::OpenDescriptors;
using testing::TempDir;
using Lines = std::vector<std::string>;

constexpr std::uint64_t kMB = 1048576;

// Runs one command as the window does; returns the lines it logged.
template <typename Command>
Lines Press(Bench& bench, Command command) {
  const std::size_t before = bench.log.Count();
  command();
  return stress::WithoutReasons(bench.Lines(before));
}

// The lines the workers log from `from` on, once all of them have ended.
Lines WorkerLines(Bench& bench, std::size_t from) {
  EXPECT_TRUE(bench.WaitIdle());
  return stress::WithoutReasons(bench.Lines(from));
}

// The lines a fill logs once it ends well: its rate, then `shown` closed.
::testing::AssertionResult FilledAndClosed(Bench& bench,
                                           const std::string& shown) {
  const Lines filled = WorkerLines(bench, bench.log.Count());
  if (filled.size() == 2 && LineMatches(filled[0], "Init Done: %.3fMBs") &&
      filled[1] == shown + " Closed.") {
    return ::testing::AssertionSuccess();
  }
  auto failure = ::testing::AssertionFailure() << "the fill logged:";
  for (const std::string& line : filled) failure << "\n  " << line;
  return failure;
}

int Count(const Lines& lines, const char* format) {
  int n = 0;
  for (const std::string& line : lines) n += LineMatches(line, format);
  return n;
}

// A path as a log line shows it: line breaks escaped.
std::string Shown(const std::string& path) {
  std::string text;
  for (char c : path) {
    if (c == '\n') {
      text += "\\n";
    } else if (c == '\r') {
      text += "\\r";
    } else {
      text += c;
    }
  }
  return text;
}

// True when `bytes` is one capital letter throughout, as a writer's last
// full pass leaves a file.
bool OneLetter(const std::string& bytes) {
  return !bytes.empty() && bytes[0] >= 'A' && bytes[0] <= 'Z' &&
         bytes.find_first_not_of(bytes[0]) == std::string::npos;
}

// What an export of the log as it stands must hold.
std::string ExpectedExport(const Bench& bench) {
  std::string text;
  for (std::size_t i = 1; i < bench.log.Count(); ++i) {
    text += bench.log.Line(i);
    text += "\r\n";
  }
  return text;
}

// Checks on the way out of a test that nothing was left running or open.
class LeakCheck {
 public:
  ~LeakCheck() {
    EXPECT_EQ(stress::ThreadsSettled(m_threads), m_threads);
    EXPECT_EQ(OpenDescriptors(), m_fds);
  }

 private:
  const int m_threads = stress::ThreadBaseline();
  const std::vector<std::string> m_fds = OpenDescriptors();
};

TEST(DiskFull, FillRewriteAndExportOnADeviceThatIsAlwaysFull) {
  TempDir dir;
  const std::string full = stress::FullDevice(dir.path());
  LeakCheck leaks;
  Bench bench;
  bench.state.m_nFileSizeMB = 2;

  bench.view.answers.push_back(full);
  EXPECT_EQ(Press(bench, [&] { OnCreate(bench.state); }),
            (Lines{full, "Initializing 2MB w/128KB bufs"}));
  EXPECT_EQ(WorkerLines(bench, bench.log.Count()),
            (Lines{"InitThread Failed or was Canceled."}));
  EXPECT_FALSE(bench.view.testsEnabled);

  // The writer stops at its first write; the caption and flag stay set.
  EXPECT_EQ(Press(bench, [&] { OnWrite(bench.state); }),
            (Lines{"Opened " + full, "", "WriteThread Started."}));
  EXPECT_EQ(WorkerLines(bench, bench.log.Count()),
            (Lines{"WriteThread Failed.", full + " Closed."}));
  EXPECT_EQ(bench.view.writeCaption, "StopWrite");
  EXPECT_TRUE(bench.state.m_bWriting.load());
  EXPECT_EQ(Press(bench, [&] { OnWrite(bench.state); }),
            (Lines{"Stopping WriteThread."}));
  EXPECT_EQ(bench.view.writeCaption, "Write");

  // The export reports the file and the error and appends nothing.
  bench.view.answers.push_back(full);
  const std::size_t before = bench.log.Count();
  const std::optional<std::string> failure = OnSaveLog(bench.state);
  ASSERT_TRUE(failure.has_value());
  EXPECT_NE(failure->find(full), std::string::npos) << *failure;
  EXPECT_NE(failure->find(std::strerror(ENOSPC)), std::string::npos)
      << *failure;
  EXPECT_EQ(bench.log.Count(), before);
}

TEST(DiskFull, ASmallFilesystemRunningOutUnderEachRun) {
  TempDir dir;
  const std::string disk = dir.File("small");
  ASSERT_EQ(::mkdir(disk.c_str(), 0755), 0);
  TmpfsMount mount(disk, "size=2m,mode=0755");
  if (!mount.ok()) {
    GTEST_SKIP() << "no 2 MB filesystem to fill here: " << mount.error()
                 << " (mounting needs root)";
  }
  const std::string path = disk + "/fill.tmp";
  LeakCheck leaks;
  Bench bench;

  // A 4 MB fill of a 2 MB disk fails and lets go of the file.
  bench.state.m_nFileSizeMB = 4;
  bench.view.answers.push_back(path);
  Press(bench, [&] { OnCreate(bench.state); });
  EXPECT_EQ(WorkerLines(bench, bench.log.Count()),
            (Lines{"InitThread Failed or was Canceled."}));
  EXPECT_GT(FileLength(path), 0u);
  EXPECT_LE(FileLength(path), 2 * kMB);
  EXPECT_EQ(Press(bench, [&] { OnDeleteFile(bench.state); }),
            (Lines{path + " deleted."}));

  // Space given back, a 1 MB fill on the same disk succeeds.
  bench.state.m_nFileSizeMB = 1;
  bench.view.answers.push_back(path);
  Press(bench, [&] { OnCreate(bench.state); });
  EXPECT_TRUE(FilledAndClosed(bench, path));
  EXPECT_EQ(FileLength(path), kMB);

  // A rewrite that grows the file past the space fails at once, with no
  // pass line, and what it wrote is whole: its first letter throughout.
  bench.state.m_nFileSizeMB = 4;
  Press(bench, [&] { OnWrite(bench.state); });
  EXPECT_EQ(WorkerLines(bench, bench.log.Count()),
            (Lines{"WriteThread Failed.", path + " Closed."}));
  EXPECT_EQ(bench.view.writeCaption, "StopWrite");
  Press(bench, [&] { OnWrite(bench.state); });
  const std::string bytes = stress::ReadFile(path);
  EXPECT_GT(bytes.size(), kMB);
  EXPECT_LE(bytes.size(), 2 * kMB);
  EXPECT_EQ(bytes.find_first_not_of('A'), std::string::npos);

  // An export larger than the disk: an error naming the file, nothing
  // appended, and the file holds the start of the log as far as it went.
  EXPECT_EQ(Press(bench, [&] { OnDeleteFile(bench.state); }),
            (Lines{path + " deleted."}));
  const std::string line(100, 'L');
  for (int i = 0; i < 30000; ++i) bench.log.Append(line);
  const std::string expected = ExpectedExport(bench);
  const std::string exported = disk + "/log.txt";
  bench.view.answers.push_back(exported);
  const std::size_t before = bench.log.Count();
  const std::optional<std::string> failure = OnSaveLog(bench.state);
  ASSERT_TRUE(failure.has_value());
  EXPECT_NE(failure->find(exported), std::string::npos) << *failure;
  EXPECT_NE(failure->find(std::strerror(ENOSPC)), std::string::npos)
      << *failure;
  EXPECT_EQ(bench.log.Count(), before);
  const std::string kept = stress::ReadFile(exported);
  EXPECT_GT(kept.size(), 0u);
  EXPECT_LT(kept.size(), expected.size());
  EXPECT_EQ(expected.compare(0, kept.size(), kept), 0);
}

// What another process does to the test file in the middle of a pass.
enum class Change { kRemove, kTruncate, kReplace };

const char* Name(Change change) {
  switch (change) {
    case Change::kRemove:
      return "removed";
    case Change::kTruncate:
      return "truncated";
    case Change::kReplace:
      return "replaced";
  }
  return "?";
}

// Makes `change` to `path` from a child process; `replacement` is renamed
// over it for kReplace.
void ChangeFromAnotherProcess(Change change, const std::string& path,
                              const std::string& replacement) {
  const char* target = path.c_str();
  const char* source = replacement.c_str();
  const int status = InChild([&] {
    switch (change) {
      case Change::kRemove:
        return ::unlink(target) == 0 ? 0 : 1;
      case Change::kTruncate:
        return ::truncate(target, 0) == 0 ? 0 : 1;
      case Change::kReplace:
        return ::rename(source, target) == 0 ? 0 : 1;
    }
    return 1;
  });
  ASSERT_EQ(status, 0) << Name(change);
}

// A run on a 4 MB file, held once 1 MB has moved while another process
// makes a change to the file.
struct ChangedRun {
  explicit ChangedRun(const char* name) : path(dir.File(name)) {
    MakeFile(path, 4 * kMB, 'x');
    MakeFile(replacement, 1000, 'r');
    bench.state.m_strPath.Set(path);
  }
  // Starts the run with `command`; returns what the press logged.
  template <typename Command>
  Lines StartAndChange(Change change, Command command) {
    seam.HoldNext(kMB);
    const Lines pressed = Press(bench, command);
    seam.WaitHeld();
    ChangeFromAnotherProcess(change, path, replacement);
    seam.Release();
    return pressed;
  }

  TempDir dir;
  const std::string path;
  const std::string replacement = dir.File("replacement.tmp");
  LeakCheck leaks;
  Bench bench;
  KernelSeam seam;
};

TEST(ChangedUnderneath, AWriterCarriesOnAndNeverTouchesANewFile) {
  for (Change change : {Change::kRemove, Change::kTruncate, Change::kReplace}) {
    SCOPED_TRACE(Name(change));
    ChangedRun run("written.tmp");
    Bench& bench = run.bench;
    bench.state.m_nFileSizeMB = 4;
    bench.state.m_nBufferKB = 1024;
    run.StartAndChange(change, [&] { OnWrite(bench.state); });
    const std::size_t from = bench.log.Count();
    ASSERT_TRUE(bench.DrainUntil(
        [&] { return Count(bench.Lines(from), "Wrote 4MB: %.3fMBs") >= 2; }));
    Press(bench, [&] { OnWrite(bench.state); });
    Lines lines = WorkerLines(bench, from);
    ASSERT_EQ(std::erase(lines, "Stopping WriteThread."), 1u);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[lines.size() - 2], "WriteThread Done.");
    EXPECT_EQ(lines.back(), run.path + " Closed.");
    for (std::size_t i = 0; i + 2 < lines.size(); ++i) {
      EXPECT_TRUE(LineMatches(lines[i], "Wrote 4MB: %.3fMBs")) << lines[i];
    }
    switch (change) {
      case Change::kRemove:
        EXPECT_FALSE(Exists(run.path));  // not brought back
        break;
      case Change::kTruncate:
        // Whole again after a full pass: one letter throughout.
        EXPECT_EQ(FileLength(run.path), 4 * kMB);
        EXPECT_TRUE(OneLetter(stress::ReadFile(run.path)));
        break;
      case Change::kReplace:
        EXPECT_EQ(stress::ReadFile(run.path), std::string(1000, 'r'));
        break;
    }
  }
}

TEST(ChangedUnderneath, AReaderCarriesOnOrReadsTheShortenedFile) {
  for (Change change : {Change::kRemove, Change::kTruncate, Change::kReplace}) {
    SCOPED_TRACE(Name(change));
    ChangedRun run("read.tmp");
    Bench& bench = run.bench;
    EXPECT_EQ(run.StartAndChange(change, [&] { OnRead(bench.state); }),
              (Lines{"Reader Opened File", "Reader Thread Started",
                     "Starting Reader"}));
    const std::size_t from = bench.log.Count();
    const char* later = change == Change::kTruncate ? "Read 0MB: 0.000 MBs"
                                                    : "Read 4MB: %.3f MBs";
    ASSERT_TRUE(
        bench.DrainUntil([&] { return Count(bench.Lines(from), later) >= 2; }));
    EXPECT_EQ(Press(bench, [&] { OnRead(bench.state); }),
              (Lines{"ReadThread Stopping"}));
    bench.state.HandleEvents();
    const std::size_t stopped = bench.log.Count();
    Lines lines = bench.Lines(from);
    ASSERT_EQ(std::erase(lines, "ReadThread Stopping"), 1u);
    ASSERT_GE(lines.size(), 2u);
    // The pass under way ends where the file now ends; no read fails.
    if (change == Change::kTruncate) {
      EXPECT_TRUE(LineMatches(lines[0], "Read 1MB: %.3f MBs")) << lines[0];
      lines.erase(lines.begin());
    }
    for (const std::string& line : lines) {
      EXPECT_TRUE(LineMatches(line, later)) << line;
    }
    EXPECT_TRUE(bench.WaitIdle());
    EXPECT_EQ(bench.log.Count(), stopped);  // nothing after the stop
  }
}

TEST(ReadOnlyPlace, OnlyReadingWorks) {
  TempDir dir;
  const std::string place = dir.File("ro");
  ASSERT_EQ(::mkdir(place.c_str(), 0755), 0);
  const std::string existing = place + "/existing.tmp";
  std::optional<TmpfsMount> mount;
  if (::geteuid() == 0) {
    // Root writes through permissions: only a read-only mount stops it.
    mount.emplace(place, "size=4m,mode=0755");
    if (!mount->ok()) GTEST_SKIP() << "no read-only place: " << mount->error();
    MakeFile(existing, kMB);
    if (!mount->RemountReadOnly()) {
      GTEST_SKIP() << "no read-only place: " << mount->error();
    }
  } else {
    MakeFile(existing, kMB);
    ::chmod(existing.c_str(), 0444);
    ::chmod(place.c_str(), 0555);
  }
  const std::string probe = place + "/probe";
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT, 0644);
  if (fd >= 0) {
    ::close(fd);
    GTEST_SKIP() << "this process can write into a 0555 folder";
  }
  {
    LeakCheck leaks;
    Bench bench;
    const std::string created = place + "/new.tmp";
    bench.view.answers.push_back(created);
    EXPECT_EQ(Press(bench, [&] { OnCreate(bench.state); }),
              (Lines{"Open Failed"}));
    EXPECT_FALSE(Exists(created));
    bench.view.answers.push_back(existing);
    EXPECT_EQ(Press(bench, [&] { OnCreate(bench.state); }),
              (Lines{"Open Failed"}));
    EXPECT_EQ(FileLength(existing), kMB);  // not truncated

    bench.view.answers.push_back(existing);
    // The read-only place is a tmpfs: the window says the file is memory.
    EXPECT_EQ(
        Press(bench, [&] { OnUseExisting(bench.state); }),
        (Lines{"Using " + existing, "WARNING: Write will destroy this file!",
               "WARNING: this file is on tmpfs, in memory: the rates "
               "are the memory's, not a disk's."}));
    EXPECT_EQ(bench.state.m_nFileSizeMB.load(), 1);
    EXPECT_EQ(Press(bench, [&] { OnWrite(bench.state); }),
              (Lines{"Open Failed or Canceled"}));
    EXPECT_EQ(bench.view.writeCaption, "Write");

    Press(bench, [&] { OnRead(bench.state); });
    const std::size_t from = bench.log.Count();
    ASSERT_TRUE(bench.DrainUntil(
        [&] { return Count(bench.Lines(from), "Read 1MB: %.3f MBs") >= 1; }));
    Press(bench, [&] { OnRead(bench.state); });

    EXPECT_EQ(Press(bench, [&] { OnDeleteFile(bench.state); }),
              (Lines{"Couldn't delete " + existing,
                     "Make sure nothing is using it."}));
    EXPECT_TRUE(Exists(existing));
    bench.view.answers.push_back(place + "/log.txt");
    std::optional<std::string> failure;
    EXPECT_EQ(Press(bench, [&] { failure = OnSaveLog(bench.state); }),
              (Lines{"Open Failed"}));
    EXPECT_FALSE(failure.has_value());
  }
  ::chmod(place.c_str(), 0755);
}

// Makes root meet file permissions on the calling thread for the life of
// the object (capabilities are per thread); nothing to do for others.
class NoPermissionBypass {
 public:
  NoPermissionBypass() {
    if (::geteuid() != 0) return;
    m_header.version = _LINUX_CAPABILITY_VERSION_3;
    m_header.pid = 0;
    if (::syscall(SYS_capget, &m_header, m_saved) != 0) return;
    __user_cap_data_struct lowered[2] = {m_saved[0], m_saved[1]};
    lowered[0].effective &=
        ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    m_lowered = ::syscall(SYS_capset, &m_header, lowered) == 0;
  }
  ~NoPermissionBypass() {
    if (m_lowered) ::syscall(SYS_capset, &m_header, m_saved);
  }
  NoPermissionBypass(const NoPermissionBypass&) = delete;
  NoPermissionBypass& operator=(const NoPermissionBypass&) = delete;

 private:
  __user_cap_header_struct m_header{};
  __user_cap_data_struct m_saved[2]{};
  bool m_lowered = false;
};

// Delete File pressed by `press` while a 2 MB fill holds `path`, 1 MB in:
// refused, the file still there, and the fill ends well.
template <typename PressDelete>
void DeleteDuringAFill(const std::string& path, PressDelete press) {
  LeakCheck leaks;
  Bench bench;
  KernelSeam seam;
  bench.state.m_nFileSizeMB = 2;
  bench.state.m_nBufferKB = 1024;
  seam.HoldNext(kMB);
  bench.view.answers.push_back(path);
  EXPECT_EQ(Press(bench, [&] { OnCreate(bench.state); }),
            (Lines{path, "Initializing 2MB w/1024KB bufs"}));
  seam.WaitHeld();
  const Lines lines = press(bench);
  const bool there = Exists(path);
  seam.Release();
  EXPECT_EQ(lines, (Lines{"Couldn't delete " + path,
                          "Make sure nothing is using it."}));
  EXPECT_TRUE(there);
  EXPECT_TRUE(FilledAndClosed(bench, path));
  EXPECT_EQ(Press(bench, [&] { OnDeleteFile(bench.state); }),
            (Lines{path + " deleted."}));
}

TEST(DeleteInUse, AFileOnlyWritableIsStillSeenInUse) {
  TempDir dir;
  const std::string path = dir.File("write-only.tmp");
  MakeFile(path, 0);
  ASSERT_EQ(::chmod(path.c_str(), 0200), 0);
  {
    NoPermissionBypass meetPermissions;
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd >= 0) {
      ::close(fd);
      GTEST_SKIP() << "this process reads a 0200 file regardless";
    }
  }
  DeleteDuringAFill(path, [](Bench& bench) {
    NoPermissionBypass meetPermissions;
    return Press(bench, [&] { OnDeleteFile(bench.state); });
  });
}

TEST(DeleteInUse, NoDescriptorLeftToCheckWithRefusesTheRemoval) {
  TempDir dir;
  DeleteDuringAFill(dir.File("held.tmp"), [](Bench& bench) {
    // Lower the descriptor limit to the lowest free number: every open
    // now fails with EMFILE.
    rlimit saved{};
    EXPECT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowest = ::dup(0);
    EXPECT_GE(lowest, 0);
    ::close(lowest);
    rlimit lowered = saved;
    lowered.rlim_cur = static_cast<rlim_t>(lowest);
    EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    const Lines lines = Press(bench, [&] { OnDeleteFile(bench.state); });
    ::setrlimit(RLIMIT_NOFILE, &saved);
    return lines;
  });
}

std::string Repeat(const std::string& text, int times) {
  std::string repeated;
  for (int i = 0; i < times; ++i) repeated += text;
  return repeated;
}

// One path that cannot be a test file, and whether Delete File removes
// what is there (a link or a pipe, as remove() would) or refuses.
struct BadPath {
  const char* what;
  std::string path;
  bool deletes;
};

TEST(AwkwardPaths, PathsThatCannotBeATestFileFailEveryCommandCleanly) {
  TempDir dir;
  const std::string folder = dir.File("folder");
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  const std::string loop = dir.File("loop-a");
  ASSERT_EQ(::symlink(dir.File("loop-b").c_str(), loop.c_str()), 0);
  ASSERT_EQ(::symlink(loop.c_str(), dir.File("loop-b").c_str()), 0);
  const std::string fifo = dir.File("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const std::string plain = dir.File("plain");
  MakeFile(plain, 10);
  const std::vector<BadPath> paths = {
      {"a folder", folder, false},
      {"a symlink loop", loop, true},
      {"a named pipe", fifo, true},
      {"a name of 256 bytes", dir.File(std::string(252, 'n') + ".tmp"), false},
      {"a name under a plain file", plain + "/child.tmp", false},
      {"a missing folder", dir.File("missing/child.tmp"), false},
      {"a path of over 5000 bytes", dir.File(Repeat("d/", 2500) + "x.tmp"),
       false},
  };
  LeakCheck leaks;
  for (const BadPath& bad : paths) {
    SCOPED_TRACE(bad.what);
    const std::string& path = bad.path;
    Bench bench;
    bench.view.answers.push_back(path);
    EXPECT_EQ(Press(bench, [&] { OnCreate(bench.state); }),
              (Lines{"Open Failed"}));
    bench.view.answers.push_back(path);
    EXPECT_EQ(Press(bench, [&] { OnUseExisting(bench.state); }),
              (Lines{"Couldn't open " + path}));
    EXPECT_EQ(bench.state.m_strPath.Get(), path);
    EXPECT_EQ(Press(bench, [&] { OnWrite(bench.state); }),
              (Lines{"Open Failed or Canceled"}));
    EXPECT_EQ(Press(bench, [&] { OnRead(bench.state); }),
              (Lines{"Reader Open Failed", "Starting Reader"}));
    EXPECT_EQ(Press(bench, [&] { OnRead(bench.state); }),
              (Lines{"ReadThread Stopping"}));
    bench.view.answers.push_back(path);
    std::optional<std::string> failure;
    EXPECT_EQ(Press(bench, [&] { failure = OnSaveLog(bench.state); }),
              (Lines{"Open Failed"}));
    EXPECT_FALSE(failure.has_value());
    EXPECT_FALSE(bench.view.testsEnabled);
    EXPECT_FALSE(bench.state.Busy());
    const Lines deleted = {path + " deleted."};
    const Lines refused = {"Couldn't delete " + path,
                           "Make sure nothing is using it."};
    EXPECT_EQ(Press(bench, [&] { OnDeleteFile(bench.state); }),
              bad.deletes ? deleted : refused);
  }
  EXPECT_TRUE(Exists(folder));
  EXPECT_TRUE(Exists(dir.File("loop-b")));  // only the named link went
  EXPECT_EQ(FileLength(plain), 10u);
}

// Every command on `path`: fill, adopt, write, read, export, delete.
void EveryCommandOn(const std::string& path, const std::string& exported) {
  const std::string shown = Shown(path);
  Bench bench;
  bench.state.m_nFileSizeMB = 1;
  bench.state.m_nBufferKB = 256;

  bench.view.answers.push_back(path);
  EXPECT_EQ(Press(bench, [&] { OnCreate(bench.state); }),
            (Lines{shown, "Initializing 1MB w/256KB bufs"}));
  EXPECT_EQ(bench.view.title, "Ferrotick: " + path);
  EXPECT_TRUE(FilledAndClosed(bench, shown));
  EXPECT_EQ(FileLength(path), kMB);

  bench.view.answers.push_back(path);
  EXPECT_EQ(
      Press(bench, [&] { OnUseExisting(bench.state); }),
      (Lines{"Using " + shown, "WARNING: Write will destroy this file!"}));

  EXPECT_EQ(Press(bench, [&] { OnWrite(bench.state); }),
            (Lines{"Opened " + shown, "", "WriteThread Started."}));
  std::size_t from = bench.log.Count();
  ASSERT_TRUE(bench.DrainUntil(
      [&] { return Count(bench.Lines(from), "Wrote 1MB: %.3fMBs") >= 1; }));
  Press(bench, [&] { OnWrite(bench.state); });
  const Lines wrote = WorkerLines(bench, from);
  ASSERT_GE(wrote.size(), 2u);
  EXPECT_EQ(wrote.back(), shown + " Closed.");
  EXPECT_TRUE(OneLetter(stress::ReadFile(path)));

  EXPECT_EQ(Press(bench, [&] { OnRead(bench.state); }),
            (Lines{"Reader Opened File", "Reader Thread Started",
                   "Starting Reader"}));
  from = bench.log.Count();
  ASSERT_TRUE(bench.DrainUntil(
      [&] { return Count(bench.Lines(from), "Read 1MB: %.3f MBs") >= 1; }));
  Press(bench, [&] { OnRead(bench.state); });
  bench.state.HandleEvents();

  // One exported line per log line: every CR LF ends a line, no other
  // line break anywhere.
  const std::string expected = ExpectedExport(bench);
  bench.view.answers.push_back(exported);
  EXPECT_EQ(Press(bench, [&] { OnSaveLog(bench.state); }),
            (Lines{Shown(exported) + " written."}));
  const std::string text = stress::ReadFile(exported);
  EXPECT_EQ(text, expected);
  std::size_t breaks = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++breaks;
      ++i;
    } else {
      EXPECT_TRUE(text[i] != '\r' && text[i] != '\n') << "at byte " << i;
    }
  }
  EXPECT_EQ(breaks, bench.log.Count() - 2);  // less the first and "written"
  for (std::size_t i = 0; i < bench.log.Count(); ++i) {
    EXPECT_EQ(bench.log.Line(i).find_first_of("\r\n"), std::string::npos);
  }

  EXPECT_EQ(Press(bench, [&] { OnDeleteFile(bench.state); }),
            (Lines{shown + " deleted."}));
  EXPECT_FALSE(Exists(path));
}

TEST(AwkwardPaths, NamesThatAreHardToPrintWorkThroughEveryCommand) {
  TempDir dir;
  const std::vector<std::pair<const char*, std::string>> names = {
      {"255 bytes", std::string(251, 'n') + ".tmp"},
      {"spaces", "  test data file .tmp"},
      {"UTF-8",
       "donn\xC3\xA9"
       "es \xE6\xB5\x8B\xE8\xAF\x95 \xE2\x9C\x93.tmp"},
      {"printf conversions", "100% %s %d %n.tmp"},
      {"a line feed", "line\nfeed.tmp"},
      {"a carriage return", "carriage\rreturn.tmp"},
  };
  LeakCheck leaks;
  for (const auto& [what, name] : names) {
    SCOPED_TRACE(what);
    EveryCommandOn(dir.File(name), dir.File(name.substr(0, 240) + ".txt"));
  }
}

}  // namespace
}  // namespace ferrotick
