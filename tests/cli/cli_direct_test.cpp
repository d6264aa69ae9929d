// --direct where the filesystem refuses O_DIRECT: a clear error, exit 1,
// and no file made or changed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli/cli_support.h"

namespace ferrotick::testing {
namespace {

// Exit status of the child when it could not make a refusing filesystem.
constexpr int kNoFilesystem = 77;

// True when a new file in `dir` cannot be opened with O_DIRECT.
bool RefusesDirect(const std::string& dir) {
  const std::string probe = dir + "/direct-probe";
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_DIRECT, 0600);
  const int error = errno;
  if (fd >= 0) ::close(fd);
  ::unlink(probe.c_str());
  return fd < 0 && error == EINVAL;
}

bool WriteText(const char* path, const char* text) {
  const int fd = ::open(path, O_WRONLY);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text, std::strlen(text)) ==
                  static_cast<ssize_t>(std::strlen(text));
  ::close(fd);
  return ok;
}

// The script runs both commands and reports what became of the files.
const char kScript[] =
    "cli=$0; dir=$1\n"
    "\"$cli\" create \"$dir/new.tmp\" --direct; echo create=$?\n"
    "test -e \"$dir/new.tmp\" && echo left-behind\n"
    "printf 0123456789 > \"$dir/old.tmp\"\n"
    "\"$cli\" write \"$dir/old.tmp\" --direct --json; echo write=$?\n"
    "test \"$(cat \"$dir/old.tmp\")\" = 0123456789 || echo changed\n";

void ExpectClearRefusal(const ChildResult& result, const std::string& dir) {
  EXPECT_EQ(SplitLines(result.out),
            (std::vector<std::string>{"create=1", "write=1"}));
  const std::vector<std::string> err = SplitLines(result.err);
  ASSERT_EQ(err.size(), 2u) << result.err;
  EXPECT_EQ(err[0], "ferrotick-cli: " + dir +
                        "/new.tmp: this filesystem refuses direct I/O "
                        "(--direct): Invalid argument");
  std::vector<Json> json = JsonLines(err[1]);
  ASSERT_EQ(json.size(), 1u);
  EXPECT_EQ(json[0]["error"], "this filesystem refuses direct I/O (--direct)");
  EXPECT_EQ(json[0]["run"], "write");
}

TEST(CliDirect, RefusedByTheFilesystem) {
  const auto& [dir, path] = Scratch();
  // tmpfs refused O_DIRECT before Linux 6.6; ramfs still does, and a
  // user and mount namespace of our own lets us mount one without root.
  if (RefusesDirect("/dev/shm")) {
    char pattern[] = "/dev/shm/ferrotick-cli-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string shm = pattern;
    Child child({"/bin/sh", "-c", kScript, CliPath(), shm});
    const ChildResult result = child.Wait();
    std::error_code ignored;
    std::filesystem::remove_all(shm, ignored);
    ExpectClearRefusal(result, shm);
    return;
  }
  const std::string uidMap = "0 " + std::to_string(::getuid()) + " 1";
  const std::string gidMap = "0 " + std::to_string(::getgid()) + " 1";
  const std::string mountPoint = dir.path();
  Child child({"/bin/sh", "-c", kScript, CliPath(), mountPoint}, [&] {
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0) {
      WriteText("/proc/self/setgroups", "deny");
      if (!WriteText("/proc/self/uid_map", uidMap.c_str()) ||
          !WriteText("/proc/self/gid_map", gidMap.c_str())) {
        ::_exit(kNoFilesystem);
      }
    } else if (::unshare(CLONE_NEWNS) != 0) {
      ::_exit(kNoFilesystem);
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("none", mountPoint.c_str(), "ramfs", 0, nullptr) != 0) {
      ::_exit(kNoFilesystem);
    }
  });
  const ChildResult result = child.Wait();
  if (result.exitCode == kNoFilesystem) {
    GTEST_SKIP() << "no filesystem here refuses O_DIRECT, and no ramfs could "
                    "be mounted in a namespace of our own";
  }
  ExpectClearRefusal(result, mountPoint);
}

TEST(CliDirect, RunsWhereTheFilesystemAllowsIt) {
  const auto& [dir, path] = Scratch();
  if (RefusesDirect(dir.path())) GTEST_SKIP() << dir.path() << " refuses it";
  const ChildResult create =
      RunCli({"create", path, "--size", "2", "--direct", "--json"});
  ASSERT_EQ(create.exitCode, 0) << create.err;
  std::vector<Json> passes = JsonLines(create.out);
  ASSERT_EQ(passes.size(), 1u);
  EXPECT_EQ(passes[0]["options"]["direct"], true);
  EXPECT_EQ(FileLength(path), 2 * kMiB);
  const ChildResult read = RunCli({"read", path, "--direct"});
  EXPECT_EQ(read.exitCode, 0) << read.err;
}

}  // namespace
}  // namespace ferrotick::testing
