#include "core/file_handle.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "core/file_commands.h"
#include "core/run_commands.h"
#include "tests/support/fake_view.h"
#include "tests/support/kernel_seam.h"
#include "tests/support/loop_device.h"

namespace ferrotick {
namespace {

using testing::Exists;
using testing::FileLength;
using testing::MakeFile;
using testing::OpenDescriptors;
using testing::ReadAll;
using testing::TempDir;

TEST(FileHandle, OpenModesCreateTruncateOrKeep) {
  TempDir dir;
  const std::string path = dir.File("f.tmp");
  FileHandle file;
  EXPECT_FALSE(file.Open(path, OpenMode::kSharedWrite)) << "must exist";
  EXPECT_EQ(file.LastError(), ENOENT);
  EXPECT_FALSE(file.Open(path, OpenMode::kSharedRead));
  EXPECT_FALSE(Exists(path));

  ASSERT_TRUE(file.Open(path, OpenMode::kCreate));
  file.Write("hello world", 11);
  file.Close();
  EXPECT_EQ(ReadAll(path), "hello world");

  ASSERT_TRUE(file.Open(path, OpenMode::kSharedWrite));  // kept whole
  file.Write("HELLO", 5);
  EXPECT_EQ(file.Length(), 11u);
  file.Close();
  EXPECT_EQ(ReadAll(path), "HELLO world");

  ASSERT_TRUE(file.Open(path, OpenMode::kSharedRead));
  char buffer[32] = {};
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 11u);
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
  file.SeekToStart();
  EXPECT_EQ(file.Read(buffer, 5), 5u);
  EXPECT_THROW(file.Write("x", 1), FileError);  // opened for reading
  file.Close();

  ASSERT_TRUE(file.Open(path, OpenMode::kExport));  // truncated
  file.Close();
  EXPECT_EQ(FileLength(path), 0u);
}

TEST(FileHandle, CreateTruncatesOnlyAFileThatIsNotEmpty) {
  // A truncate always stamps the file, even to the length it had: the
  // stamp shows whether one happened.
  TempDir dir;
  const timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
  for (const std::uint64_t bytes : {0u, 5u}) {
    const std::string path = dir.File("t" + std::to_string(bytes));
    MakeFile(path, bytes);
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), past, 0), 0);
    FileHandle file;
    ASSERT_TRUE(file.Open(path, OpenMode::kCreate));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0);
    EXPECT_EQ(info.st_mtim.tv_sec == past[1].tv_sec, bytes == 0) << bytes;
  }
}

TEST(FileHandle, ADeviceThatRefusesPositionalTransfersIsUsedAtItsPosition) {
  // A terminal has no positions: a pseudo-terminal's two ends.
  FileHandle master;
  if (!master.Open("/dev/ptmx", OpenMode::kSharedWrite)) {
    GTEST_SKIP() << "no /dev/ptmx here";
  }
  ASSERT_EQ(::grantpt(master.Descriptor()), 0);
  ASSERT_EQ(::unlockpt(master.Descriptor()), 0);
  FileHandle terminal;
  ASSERT_TRUE(
      terminal.Open(::ptsname(master.Descriptor()), OpenMode::kSharedRead));
  master.SeekToStart();
  master.Write("hi\n", 3);  // the terminal's input
  char buffer[16] = {};
  terminal.SeekToStart();
  EXPECT_EQ(terminal.Read(buffer, sizeof buffer), 3u);
  EXPECT_STREQ(buffer, "hi\n");
}

TEST(FileHandle, ABlockDeviceMeasuresItsOwnSize) {
  TempDir dir;
  const std::string backing = dir.File("disk.img");
  MakeFile(backing, 5 * 1048576 / 2);
  testing::LoopDevice loop(backing);
  if (!loop.Missing().empty()) GTEST_SKIP() << loop.Missing();
  FileHandle file;
  ASSERT_TRUE(file.Open(loop.Path(), OpenMode::kSharedRead));
  EXPECT_EQ(file.Length(), 5u * 1048576 / 2);
  // Use Existing takes File Size from it, and a read pass reads it all.
  testing::Bench bench;
  testing::KernelSeam seam;
  bench.view.answers.push_back(loop.Path());
  OnUseExisting(bench.state);
  EXPECT_EQ(bench.state.m_nFileSizeMB.load(), 2);
  bench.state.m_options.passLimit = 1;
  OnRead(bench.state);
  ASSERT_TRUE(bench.DrainUntil([&] { return !bench.state.Busy(); }));
  EXPECT_EQ(seam.readBytes.load(), 5u * 1048576 / 2);
  OnRead(bench.state);
}

TEST(FileHandle, SharingFollowsTheLocks) {
  TempDir dir;
  const std::string path = dir.File("f.tmp");
  MakeFile(path, 100);
  FileHandle reader, writer, creator;
  ASSERT_TRUE(reader.Open(path, OpenMode::kSharedRead));
  ASSERT_TRUE(writer.Open(path, OpenMode::kSharedWrite));  // both share
  // Create wants the file to itself, and must not truncate it on failure.
  EXPECT_FALSE(creator.Open(path, OpenMode::kCreate));
  EXPECT_FALSE(creator.Open(path, OpenMode::kExport));
  EXPECT_EQ(FileLength(path), 100u);
  reader.Close();
  writer.Close();
  ASSERT_TRUE(creator.Open(path, OpenMode::kCreate));
  EXPECT_FALSE(reader.Open(path, OpenMode::kSharedRead));
  EXPECT_FALSE(writer.Open(path, OpenMode::kSharedWrite));
  creator.Close();
  EXPECT_TRUE(reader.Open(path, OpenMode::kSharedRead));
}

TEST(FileHandle, ALockHeldByAnotherProcessRefusesTheOpen) {
  TempDir dir;
  const std::string path = dir.File("f.tmp");
  MakeFile(path, 10);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    FileHandle held;
    const bool ok = held.Open(path, OpenMode::kCreate);
    char c = ok ? '1' : '0';
    (void)!::write(ready[1], &c, 1);
    ::pause();
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(c, '1');
  FileHandle file;
  EXPECT_FALSE(file.Open(path, OpenMode::kSharedRead));
  EXPECT_FALSE(RemoveUnlessInUse(path));
  EXPECT_TRUE(Exists(path));
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_TRUE(file.Open(path, OpenMode::kSharedRead));
}

TEST(FileHandle, FailedOpensReportByResult) {
  TempDir dir;
  FileHandle file;
  EXPECT_FALSE(file.Open(dir.path(), OpenMode::kCreate));
  EXPECT_FALSE(file.Open(dir.path(), OpenMode::kSharedRead));
  EXPECT_EQ(file.LastError(), EISDIR);
  EXPECT_FALSE(file.Open(dir.File("missing/f.tmp"), OpenMode::kCreate));
  EXPECT_FALSE(file.Open("", OpenMode::kSharedRead));
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // A FIFO with nobody on the other end must not hang the open.
  EXPECT_FALSE(file.Open(fifo, OpenMode::kSharedWrite));
  EXPECT_FALSE(file.Open(fifo, OpenMode::kSharedRead));
  EXPECT_FALSE(file.IsOpen());
}

TEST(FileHandle, WriteToAFullDiskThrows) {
  FileHandle other;  // a device is shared with everyone: never locked
  ASSERT_TRUE(other.Open("/dev/full", OpenMode::kCreate));
  FileHandle file;
  ASSERT_TRUE(file.Open("/dev/full", OpenMode::kCreate));
  try {
    file.Write("x", 1);
    FAIL() << "no error";
  } catch (const FileError& error) {
    EXPECT_EQ(error.Errno(), ENOSPC);
  }
}

TEST(FileHandle, HandlesCloseAndMoveWithoutLeaks) {
  TempDir dir;
  const auto before = OpenDescriptors();
  {
    FileHandle a;
    ASSERT_TRUE(a.Open(dir.File("a"), OpenMode::kCreate));
    FileHandle b = std::move(a);
    EXPECT_FALSE(a.IsOpen());
    EXPECT_TRUE(b.IsOpen());
    FileHandle c;
    ASSERT_TRUE(c.Open(dir.File("c"), OpenMode::kCreate));
    c = std::move(b);  // closes c's own file
    ASSERT_TRUE(c.Open(dir.File("d"), OpenMode::kCreate));  // closes first
    EXPECT_EQ(OpenDescriptors().size(), before.size() + 1);
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(FileHandle, RemoveRefusesFoldersAndFilesInUse) {
  TempDir dir;
  const std::string path = dir.File("f.tmp");
  MakeFile(path, 10);
  EXPECT_FALSE(RemoveUnlessInUse(""));
  EXPECT_FALSE(RemoveUnlessInUse(dir.path()));
  EXPECT_TRUE(Exists(dir.path()));
  {
    FileHandle reader;
    ASSERT_TRUE(reader.Open(path, OpenMode::kSharedRead));
    EXPECT_FALSE(RemoveUnlessInUse(path));
    EXPECT_TRUE(Exists(path));
  }
  EXPECT_TRUE(RemoveUnlessInUse(path));
  EXPECT_FALSE(Exists(path));
  EXPECT_FALSE(RemoveUnlessInUse(path));
}

}  // namespace
}  // namespace ferrotick
