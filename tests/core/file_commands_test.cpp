#include "core/file_commands.h"

#include <gtest/gtest.h>

#include <utility>

#include "core/run_commands.h"
#include "core/timing.h"
#include "tests/support/fake_view.h"

namespace ferrotick {
namespace {

using testing::Bench;
using testing::Exists;
using testing::MakeFile;
using testing::OpenDescriptors;
using testing::TempDir;

constexpr std::uint64_t kMB = 1048576;

TEST(UseExisting, AdoptsTheFileAndSetsFileSizeFromItsLength) {
  TempDir dir;
  const std::string path = dir.File("existing.tmp");
  MakeFile(path, 2 * kMB + 900 * 1024);  // 2.9 MB gives 2
  const auto fdsBefore = OpenDescriptors();
  Bench bench;
  bench.view.answers.push_back(path);
  OnUseExisting(bench.state);
  EXPECT_EQ(bench.Lines(),
            (std::vector<std::string>{
                "Using " + path, "WARNING: Write will destroy this file!"}));
  EXPECT_EQ(bench.view.title, "Ferrotick: " + path);
  EXPECT_EQ(bench.state.m_nFileSizeMB.load(), 2);
  EXPECT_EQ(bench.view.calls, (std::vector<std::string>{
                                  "ChoosePath", "SetTitle:Ferrotick: " + path,
                                  "ShowSettings", "EnableTests:1"}));
  EXPECT_EQ(bench.state.m_strPath.Get(), path);
  EXPECT_EQ(OpenDescriptors(), fdsBefore);  // closed again
  const ChoosePathRequest& request = bench.view.requests.at(0);
  EXPECT_TRUE(request.openType);
  EXPECT_TRUE(request.mustExist);
  EXPECT_FALSE(request.promptOverwrite);
  EXPECT_FALSE(request.hideReadOnly);
  EXPECT_EQ(request.defaultExtension, "tmp");
  EXPECT_EQ(request.defaultFileName, "testdata");
}

TEST(UseExisting, AFileUnderOneMBGivesFileSizeZero) {
  TempDir dir;
  const std::string path = dir.File("small.tmp");
  MakeFile(path, kMB - 1);
  Bench bench;
  bench.view.answers.push_back(path);
  OnUseExisting(bench.state);
  EXPECT_EQ(bench.state.m_nFileSizeMB.load(), 0);
  EXPECT_TRUE(bench.view.testsEnabled);
}

TEST(UseExisting, ASparse5GiBFileGives5120) {
  TempDir dir;
  const std::string path = dir.File("sparse.tmp");
  MakeFile(path, 0);
  if (::truncate(path.c_str(), 5ull << 30) != 0) {
    GTEST_SKIP() << "no sparse files here";
  }
  Bench bench;
  bench.view.answers.push_back(path);
  OnUseExisting(bench.state);
  EXPECT_EQ(bench.state.m_nFileSizeMB.load(), 5120);
  EXPECT_EQ(LengthInMB(5ull << 30), 5120);
  EXPECT_EQ(LengthInMB(~0ull), 2147483647);
}

TEST(UseExisting, FilesThatCannotBeOpened) {
  TempDir dir;
  Bench bench;
  bench.state.m_nFileSizeMB = 32;
  const std::pair<std::string, std::string> cases[] = {
      {dir.path(), "  Is a directory"},
      {dir.File("missing.tmp"), "  No such file or directory"}};
  for (const auto& [path, why] : cases) {
    bench.view.answers.push_back(path);
    const std::size_t from = bench.log.Count();
    OnUseExisting(bench.state);
    EXPECT_EQ(bench.Lines(from),
              (std::vector<std::string>{"Couldn't open " + path, why}));
    EXPECT_EQ(bench.state.m_strPath.Get(), path);
  }
  EXPECT_FALSE(bench.view.testsEnabled);
  EXPECT_EQ(bench.state.m_nFileSizeMB.load(), 32);
  EXPECT_EQ(bench.view.title, "");
}

TEST(UseExisting, CancelledChooserDoesNothing) {
  Bench bench;
  OnUseExisting(bench.state);
  EXPECT_EQ(bench.log.Count(), 0u);
  EXPECT_EQ(bench.view.calls, (std::vector<std::string>{"ChoosePath"}));
}

TEST(DeleteFile, BeforeAnyFileAndTwiceInARow) {
  TempDir dir;
  Bench bench;
  OnDeleteFile(bench.state);
  EXPECT_EQ(bench.Lines(),
            (std::vector<std::string>{"Couldn't delete ",
                                      "Make sure nothing is using it.",
                                      "  No such file or directory"}));
  const std::string path = dir.File("d.tmp");
  MakeFile(path, 10);
  bench.state.m_strPath.Set(path);
  bench.view.title = "Ferrotick: " + path;
  OnDeleteFile(bench.state);
  EXPECT_EQ(bench.Lines().back(), path + " deleted.");
  EXPECT_FALSE(Exists(path));
  EXPECT_EQ(bench.state.m_strPath.Get(), "");
  EXPECT_EQ(bench.view.title, "Ferrotick: " + path);  // title unchanged
  OnDeleteFile(bench.state);
  EXPECT_EQ(bench.Lines(bench.log.Count() - 3),
            (std::vector<std::string>{"Couldn't delete ",
                                      "Make sure nothing is using it.",
                                      "  No such file or directory"}));
}

TEST(DeleteFile, RefusedWhileARunHoldsTheFile) {
  TempDir dir;
  const std::string path = dir.File("busy.tmp");
  MakeFile(path, 4 * kMB);
  Bench bench;
  bench.state.m_strPath.Set(path);
  OnRead(bench.state);
  OnDeleteFile(bench.state);
  EXPECT_EQ(bench.Lines(bench.log.Count() - 2),
            (std::vector<std::string>{
                "Make sure nothing is using it.",
                "  mounted, or in use by a run or another program"}));
  EXPECT_TRUE(Exists(path));
  EXPECT_EQ(bench.state.m_strPath.Get(), path);
  OnRead(bench.state);

  OnWrite(bench.state);
  OnDeleteFile(bench.state);
  EXPECT_EQ(bench.Lines()[bench.log.Count() - 2],
            "Make sure nothing is using it.");
  EXPECT_TRUE(Exists(path));
  OnWrite(bench.state);
  ASSERT_TRUE(bench.WaitIdle());

  bench.state.m_nFileSizeMB = 8192;
  bench.state.m_nBufferKB = 1;
  bench.view.answers.push_back(path);
  OnCreate(bench.state);
  OnDeleteFile(bench.state);
  EXPECT_EQ(bench.Lines()[bench.log.Count() - 2],
            "Make sure nothing is using it.");
  EXPECT_TRUE(Exists(path));
  OnCancelInit(bench.state);
  ASSERT_TRUE(bench.WaitIdle());
  // Once every run has let go, the file can go.
  OnDeleteFile(bench.state);
  EXPECT_EQ(bench.Lines().back(), path + " deleted.");
  EXPECT_FALSE(Exists(path));
}

TEST(DeleteFile, NeverRemovesAFolder) {
  TempDir dir;
  Bench bench;
  const std::string folder = dir.File("empty-folder");
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  bench.state.m_strPath.Set(folder);
  OnDeleteFile(bench.state);
  EXPECT_EQ(bench.Lines(),
            (std::vector<std::string>{"Couldn't delete " + folder,
                                      "Make sure nothing is using it.",
                                      "  Is a directory"}));
  EXPECT_TRUE(Exists(folder));
}

TEST(DeleteFile, ThenWriteAndReadFailToOpen) {
  TempDir dir;
  const std::string path = dir.File("gone.tmp");
  MakeFile(path, kMB);
  Bench bench;
  bench.state.m_strPath.Set(path);
  OnDeleteFile(bench.state);
  OnWrite(bench.state);
  EXPECT_EQ(bench.Lines()[bench.log.Count() - 2], "Open Failed or Canceled");
  OnRead(bench.state);
  EXPECT_EQ(bench.Lines(bench.log.Count() - 3),
            (std::vector<std::string>{"Reader Open Failed",
                                      "  No such file or directory",
                                      "Starting Reader"}));
  OnRead(bench.state);
}

}  // namespace
}  // namespace ferrotick
