#include "core/test_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "tests/core/fake_view.h"

namespace ferrotick {
namespace {

using testing::Exists;
using testing::FileLength;
using testing::MakeFile;
using testing::OpenDescriptors;
using testing::ReadAll;
using testing::TempDir;

TEST(TestFile, OpenModesCreateTruncateOrKeep) {
  TempDir dir;
  const std::string path = dir.File("f.tmp");
  TestFile file;
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

TEST(TestFile, SharingFollowsTheLocks) {
  TempDir dir;
  const std::string path = dir.File("f.tmp");
  MakeFile(path, 100);
  TestFile reader, writer, creator;
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

TEST(TestFile, ALockHeldByAnotherProcessRefusesTheOpen) {
  TempDir dir;
  const std::string path = dir.File("f.tmp");
  MakeFile(path, 10);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TestFile held;
    const bool ok = held.Open(path, OpenMode::kCreate);
    char c = ok ? '1' : '0';
    (void)!::write(ready[1], &c, 1);
    ::pause();
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(c, '1');
  TestFile file;
  EXPECT_FALSE(file.Open(path, OpenMode::kSharedRead));
  EXPECT_FALSE(RemoveUnlessInUse(path));
  EXPECT_TRUE(Exists(path));
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_TRUE(file.Open(path, OpenMode::kSharedRead));
}

TEST(TestFile, FailedOpensReportByResult) {
  TempDir dir;
  TestFile file;
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

TEST(TestFile, WriteToAFullDiskThrows) {
  TestFile other;  // a device is shared with everyone: never locked
  ASSERT_TRUE(other.Open("/dev/full", OpenMode::kCreate));
  TestFile file;
  ASSERT_TRUE(file.Open("/dev/full", OpenMode::kCreate));
  try {
    file.Write("x", 1);
    FAIL() << "no error";
  } catch (const FileError& error) {
    EXPECT_EQ(error.Errno(), ENOSPC);
  }
}

TEST(TestFile, HandlesCloseAndMoveWithoutLeaks) {
  TempDir dir;
  const auto before = OpenDescriptors();
  {
    TestFile a;
    ASSERT_TRUE(a.Open(dir.File("a"), OpenMode::kCreate));
    TestFile b = std::move(a);
    EXPECT_FALSE(a.IsOpen());
    EXPECT_TRUE(b.IsOpen());
    TestFile c;
    ASSERT_TRUE(c.Open(dir.File("c"), OpenMode::kCreate));
    c = std::move(b);  // closes c's own file
    ASSERT_TRUE(c.Open(dir.File("d"), OpenMode::kCreate));  // closes first
    EXPECT_EQ(OpenDescriptors().size(), before.size() + 1);
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(TestFile, RemoveRefusesFoldersAndFilesInUse) {
  TempDir dir;
  const std::string path = dir.File("f.tmp");
  MakeFile(path, 10);
  EXPECT_FALSE(RemoveUnlessInUse(""));
  EXPECT_FALSE(RemoveUnlessInUse(dir.path()));
  EXPECT_TRUE(Exists(dir.path()));
  {
    TestFile reader;
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
