// Faults made for real: a mounted device, an existing file, a full disk,
// a file another process holds, output that cannot be written, a removed
// or very deep working folder. Each says why, exits 1 and touches no data.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/cli/cli_support.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_view.h"
#include "tests/support/loop_device.h"

namespace ferrotick::testing {
namespace {

std::string Err(const std::string& path, const std::string& text) {
  return "ferrotick-cli: " + path + ": " + text + "\n";
}

TEST(CliSafety, AMountedDeviceIsNeverWritten) {
  LoopDevice loop;
  if (!loop.Missing().empty()) GTEST_SKIP() << loop.Missing();
  ASSERT_TRUE(loop.Mount()) << "cannot mount ext4 on " << loop.Path();
  const std::string& device = loop.Path();
  const std::string before = ReadAll(device);

  const ChildResult write = RunCli({"write", device, "--size", "1"});
  EXPECT_EQ(write.exitCode, 1);
  EXPECT_EQ(write.err, Err(device,
                           "cannot open the file for writing: mounted or in "
                           "use by another process"));
  const ChildResult create =
      RunCli({"create", device, "--force", "--size", "1", "--json"});
  EXPECT_EQ(create.exitCode, 1);
  const auto error = ParseJson(create.err);
  ASSERT_TRUE(error) << create.err;
  EXPECT_EQ((*error)["error"].get<std::string>(), "cannot create the file");
  EXPECT_EQ((*error)["detail"].get<std::string>(),
            "mounted or in use by another process");
  EXPECT_EQ(ReadAll(device), before) << "a byte was written";

  // Reading harms nothing; a read of every pass succeeds on a device too.
  const ChildResult read = RunCli({"read", device, "--buffer", "1024"});
  EXPECT_EQ(read.exitCode, 0) << read.err;
  EXPECT_EQ(CountPrefix(SplitLines(read.out), "Read 16MB: "), 1) << read.out;

  ASSERT_TRUE(loop.Unmount());  // nothing holds it now
  const ChildResult free = RunCli({"write", device});
  EXPECT_EQ(free.exitCode, 0) << free.err;
  EXPECT_EQ(CountPrefix(SplitLines(free.out), "Wrote 16MB: "), 1) << free.out;
}

TEST(CliSafety, CreateReplacesNothingUnlessForced) {
  TempDir dir;
  const std::string file = dir.File("keep.tmp");
  const std::string link = dir.File("link.tmp");
  const std::string dangling = dir.File("dangling.tmp");
  MakeFile(file, kMiB / 2, 'k');
  ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
  ASSERT_EQ(::symlink(dir.File("nowhere.tmp").c_str(), dangling.c_str()), 0);
  const std::string refusal = ": give --force to replace it";
  for (const auto& [path, what] :
       {std::pair{file, "already exists"},
        std::pair{link, "already exists as a symbolic link"},
        std::pair{dangling, "already exists as a symbolic link"}}) {
    const ChildResult result = RunCli({"create", path, "--size", "1"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, Err(path, what + refusal));
  }
  EXPECT_EQ(ReadAll(file), std::string(kMiB / 2, 'k'));
  EXPECT_FALSE(Exists(dir.File("nowhere.tmp")));

  const ChildResult forced = RunCli({"create", link, "--size", "1", "--force"});
  EXPECT_EQ(forced.exitCode, 0) << forced.err;
  EXPECT_EQ(FileLength(file), kMiB);  // through the link
  struct stat info {};
  ASSERT_EQ(::lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
}

TEST(CliSafety, AFullDiskSaysSo) {
  // A write that fails half-way through a pass: the pass is reported cut
  // short, never as a pass, and the run as failed.
  TempDir dir;
  const std::string big = dir.File("big.tmp");
  MakeFile(big, 8 * kMiB, 'b');
  const ChildResult half =
      RunCliWith({"write", big, "--passes", "3", "--json"}, [] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4 * kMiB, 4 * kMiB};
        ::setrlimit(RLIMIT_FSIZE, &limit);
      });
  EXPECT_EQ(half.exitCode, 1);
  const std::vector<Json> passes = JsonLines(half.out);
  ASSERT_EQ(passes.size(), 1u) << half.out;
  EXPECT_FALSE(passes[0].contains("pass"));
  EXPECT_EQ(passes[0]["incomplete_pass"], 1);
  EXPECT_EQ(passes[0]["reason"], "failed");
  EXPECT_EQ(passes[0]["bytes"], 4 * kMiB);
  const auto failed = ParseJson(half.err);
  ASSERT_TRUE(failed) << half.err;
  EXPECT_EQ((*failed)["error"], "the run failed");
  EXPECT_EQ((*failed)["detail"], "File too large");

  SmallDisk disk("size=2m");
  if (!disk.mounted) {
    GTEST_SKIP() << "cannot mount a small tmpfs here: "
                 << std::strerror(disk.error);
  }
  const std::string other = disk.dir.File("other.tmp");
  MakeFile(other, 64 * 1024, 'o');
  const std::string path = disk.dir.File("t.tmp");
  const ChildResult create = RunCli({"create", path, "--size", "8"});
  EXPECT_EQ(create.exitCode, 1);
  ASSERT_FALSE(create.out.empty());
  const std::vector<std::string> lines = SplitLines(create.out);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "InitThread Failed or was Canceled.");
  EXPECT_EQ(lines.back(), "  No space left on device");
  const std::uint64_t left = FileLength(path);
  EXPECT_GT(left, 0u);
  EXPECT_LT(left, 2 * kMiB);
  EXPECT_EQ(create.err,
            Err(path,
                "the run failed: No space left on device; the partial "
                "file (" +
                    std::to_string(left) + " bytes) is left behind"));

  const ChildResult json =
      RunCli({"create", path, "--size", "8", "--force", "--json"});
  EXPECT_EQ(json.exitCode, 1);
  const auto error = ParseJson(json.err);
  ASSERT_TRUE(error) << json.err;
  EXPECT_EQ((*error)["error"].get<std::string>(), "the run failed");
  EXPECT_EQ((*error)["detail"].get<std::string>().rfind(
                "No space left on device; the partial file (", 0),
            0u);
  EXPECT_EQ(ReadAll(other), std::string(64 * 1024, 'o'));
}

TEST(CliSafety, AFileInUseOrTooSmallSaysSo) {
  TempDir dir;
  const std::string held = dir.File("held.tmp");
  MakeFile(held, 2 * kMiB, 'h');
  const int holder = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);  // as a running fill holds it
  const ChildResult write = RunCli({"write", held});
  EXPECT_EQ(write.exitCode, 1);
  EXPECT_EQ(write.err,
            Err(held, "cannot open the file: in use by another process"));
  const ChildResult create = RunCli({"create", held, "--force"});
  EXPECT_EQ(create.exitCode, 1);
  EXPECT_EQ(create.err,
            Err(held, "cannot create the file: in use by another process"));
  ::close(holder);
  EXPECT_EQ(ReadAll(held), std::string(2 * kMiB, 'h'));

  // File Size 0 would make passes that write nothing.
  const std::string small = dir.File("small.tmp");
  MakeFile(small, 1000, 's');
  const ChildResult tooSmall = RunCli({"write", small});
  EXPECT_EQ(tooSmall.exitCode, 1);
  EXPECT_EQ(tooSmall.err, Err(small,
                              "the file is 1000 bytes, under 1 MB, so a pass "
                              "writes nothing: give --size"));
  EXPECT_EQ(CountPrefix(SplitLines(tooSmall.out), "Wrote "), 0);
  EXPECT_EQ(ReadAll(small), std::string(1000, 's'));
}

// What holds no data to measure is refused before anything runs, with its
// reason: a read of /dev/zero would never end, a FIFO would never fill.
TEST(CliSafety, WhatHoldsNoDataIsRefusedWithItsReason) {
  TempDir dir;
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string loop = dir.File("loop");
  ASSERT_EQ(::symlink(loop.c_str(), loop.c_str()), 0);
  struct Case {
    std::vector<std::string> args;
    std::string path;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{"read", "/dev/zero"}, "/dev/zero", "is a character device"},
      {{"write", "/dev/full", "--size", "1"},
       "/dev/full",
       "is a character device"},
      {{"write", fifo, "--size", "1"}, fifo, "is a FIFO"},
      {{"read", fifo}, fifo, "is a FIFO"},
      {{"create", "/dev/null", "--force"},
       "/dev/null",
       "is a character device"},
      {{"read", loop}, loop, "is a symbolic link loop"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.path);
    const ChildResult result = RunCli(c.args);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(
        result.err.rfind(
            Err(c.path, c.says).substr(0, Err(c.path, c.says).size() - 1), 0),
        0u)
        << result.err;
  }
}

TEST(CliSafety, OutputThatCannotBeWrittenSaysSo) {
  TempDir dir;
  const std::string path = dir.File("t.tmp");
  MakeFile(path, 2 * kMiB, 'x');
  const ChildResult full = RunCliWith({"write", path}, [] {
    const int fd = ::open("/dev/full", O_WRONLY);
    if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0) ::_exit(99);
  });
  EXPECT_EQ(full.exitCode, 1);
  EXPECT_EQ(full.err,
            Err(path, "cannot write output: No space left on device"));

  const ChildResult closed =
      RunCliWith({"write", path}, [] { ::close(STDOUT_FILENO); });
  EXPECT_EQ(closed.exitCode, 1);
  EXPECT_EQ(closed.err, Err(path, "cannot write output: Bad file descriptor"));
  // Nothing meant for the output went into the test file.
  const std::string data = ReadAll(path);
  EXPECT_EQ(data.size(), 2 * kMiB);
  EXPECT_EQ(data.find_first_not_of("Ax"), std::string::npos);
}

// A chain of folders whose full path is longer than PATH_MAX.
class DeepFolder {
 public:
  explicit DeepFolder(const std::string& base) {
    m_levels.push_back(::open(base.c_str(), O_DIRECTORY | O_CLOEXEC));
    while (m_levels.back() >= 0 &&
           m_levels.size() * m_name.size() <= PATH_MAX + m_name.size()) {
      const int parent = m_levels.back();
      ::mkdirat(parent, m_name.c_str(), 0700);
      m_levels.push_back(
          ::openat(parent, m_name.c_str(), O_DIRECTORY | O_CLOEXEC));
    }
  }
  ~DeepFolder() {
    ::unlinkat(Fd(), "t.tmp", 0);
    for (std::size_t i = m_levels.size() - 1; i > 0; --i) {
      ::close(m_levels[i]);
      ::unlinkat(m_levels[i - 1], m_name.c_str(), AT_REMOVEDIR);
    }
    ::close(m_levels[0]);
  }
  int Fd() const { return m_levels.back(); }

 private:
  const std::string m_name = std::string(200, 'd');
  std::vector<int> m_levels;
};

TEST(CliSafety, WorkingFolderRemovedOrDeeperThanPathMax) {
  TempDir dir;
  const std::string gone = dir.File("gone");
  ASSERT_EQ(::mkdir(gone.c_str(), 0700), 0);
  const ChildResult removed =
      RunCliWith({"create", "t.tmp", "--size", "1"}, [&gone] {
        if (::chdir(gone.c_str()) != 0 || ::rmdir(gone.c_str()) != 0) {
          ::_exit(99);
        }
      });
  EXPECT_EQ(removed.signal, 0);
  EXPECT_EQ(removed.exitCode, 1);
  EXPECT_EQ(removed.err,
            Err("t.tmp", "cannot create the file: No such file or directory"));

  const DeepFolder deep(dir.path());
  ASSERT_GE(deep.Fd(), 0);
  const int fd = deep.Fd();
  auto inDeep = [fd] {
    if (::fchdir(fd) != 0) ::_exit(99);
  };
  const ChildResult create =
      RunCliWith({"create", "t.tmp", "--size", "1"}, inDeep);
  EXPECT_EQ(create.exitCode, 0) << create.err;
  ASSERT_FALSE(create.out.empty());
  EXPECT_EQ(SplitLines(create.out)[0], "t.tmp");  // no full path fits
  struct stat info {};
  ASSERT_EQ(::fstatat(fd, "t.tmp", &info, 0), 0);
  EXPECT_EQ(static_cast<std::uint64_t>(info.st_size), kMiB);
  const ChildResult read = RunCliWith({"read", "t.tmp"}, inDeep);
  EXPECT_EQ(read.exitCode, 0) << read.err;
}

}  // namespace
}  // namespace ferrotick::testing
