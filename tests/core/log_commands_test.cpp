#include "core/log_commands.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "core/version.h"
#include "tests/support/fake_view.h"
#include "tests/support/kernel_seam.h"

namespace ferrotick {
namespace {

using testing::Bench;
using testing::Exists;
using testing::ReadAll;
using testing::TempDir;

TEST(SaveLog, ExportsFromTheSecondLineWithCrLf) {
  TempDir dir;
  Bench bench;
  const std::string path = dir.File("log.txt");
  bench.log.Append("first is skipped");
  bench.log.Append("second");
  bench.log.Append("");
  bench.log.Append("caf\xc3\xa9 \xff");
  bench.view.answers.push_back(path);
  EXPECT_FALSE(OnSaveLog(bench.state).has_value());
  EXPECT_EQ(ReadAll(path), "second\r\n\r\ncaf\xc3\xa9 \xff\r\n");
  EXPECT_EQ(bench.Lines().back(), path + " written.");
  const ChoosePathRequest& request = bench.view.requests.at(0);
  EXPECT_FALSE(request.openType);
  EXPECT_EQ(request.defaultExtension, "txt");
  EXPECT_EQ(request.defaultFileName, "Ferrotick");
  EXPECT_EQ(request.filter, "txt files (*.txt)|*.txt|All Files (*.*)|*.*||");
  EXPECT_EQ(request.initialDirectory, ".");
  EXPECT_TRUE(request.promptOverwrite);
  // Saving again exports the "written." line too, and truncates first.
  bench.view.answers.push_back(path);
  OnSaveLog(bench.state);
  EXPECT_EQ(ReadAll(path),
            "second\r\n\r\ncaf\xc3\xa9 \xff\r\n" + path + " written.\r\n");
}

TEST(SaveLog, EmptyAndOneLineLogsGiveEmptyFiles) {
  TempDir dir;
  Bench bench;
  const std::string empty = dir.File("empty.txt");
  bench.view.answers.push_back(empty);
  OnSaveLog(bench.state);  // right after start-up
  EXPECT_TRUE(Exists(empty));
  EXPECT_EQ(ReadAll(empty), "");
  EXPECT_EQ(bench.Lines(), (std::vector<std::string>{empty + " written."}));
  const std::string one = dir.File("one.txt");
  bench.view.answers.push_back(one);
  OnSaveLog(bench.state);  // the log has one line now
  EXPECT_EQ(ReadAll(one), "");
  OnClear(bench.state);
  EXPECT_EQ(bench.log.Count(), 0u);
  bench.view.answers.push_back(one);
  OnSaveLog(bench.state);
  EXPECT_EQ(ReadAll(one), "");
}

TEST(SaveLog, AfterClearAndAboutTheTitleLineComesFirst) {
  TempDir dir;
  Bench bench;
  bench.log.Append("old");
  OnClear(bench.state);
  OnAbout(bench.state);
  const std::string path = dir.File("about.txt");
  bench.view.answers.push_back(path);
  OnSaveLog(bench.state);
  const std::string text = ReadAll(path);
  EXPECT_EQ(text.rfind("Vexa - Ferrotick", 0), 0u) << text.substr(0, 40);
  // 42 exported lines, each ended by CR LF and holding no other break.
  std::size_t crlf = 0;
  for (std::size_t at = text.find("\r\n"); at != std::string::npos;
       at = text.find("\r\n", at + 2)) {
    ++crlf;
  }
  EXPECT_EQ(crlf, 42u);
  EXPECT_EQ(text.size() >= 2 ? text.substr(text.size() - 2) : "", "\r\n");
}

TEST(SaveLog, OpenFailureAndCancel) {
  TempDir dir;
  Bench bench;
  OnSaveLog(bench.state);  // cancelled: nothing
  EXPECT_EQ(bench.log.Count(), 0u);
  bench.view.answers.push_back(dir.path());
  EXPECT_FALSE(OnSaveLog(bench.state).has_value());
  EXPECT_EQ(bench.Lines(),
            (std::vector<std::string>{"Open Failed", "  Is a directory"}));
}

TEST(SaveLog, AFailedWriteReportsTheFileAndAppendsNothing) {
  Bench bench;
  for (int i = 0; i < 5; ++i) bench.log.Append("line");
  bench.view.answers.push_back("/dev/full");
  const std::optional<std::string> error = OnSaveLog(bench.state);
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->find("/dev/full"), std::string::npos) << *error;
  EXPECT_NE(error->find("No space left on device"), std::string::npos)
      << *error;
  EXPECT_EQ(bench.log.Count(), 5u);
}

// A disk that fills up half-way through the export: what is left is whole
// lines, each with its CR LF, never a line cut short.
TEST(SaveLog, AWriteThatFailsHalfWayLeavesWholeLines) {
  TempDir dir;
  MessageLog log;
  for (int i = 0; i < 50000; ++i) log.Append("line " + std::to_string(i));
  const std::string path = dir.File("cut.txt");
  testing::KernelSeam seam;
  seam.failWritesAfter = 100 * 1024;
  const ExportResult result = ExportLog(log, path);
  EXPECT_TRUE(result.opened);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, EIO);
  const std::string left = ReadAll(path);
  ASSERT_FALSE(left.empty());
  EXPECT_LE(left.size(), 100u * 1024);
  EXPECT_EQ(left.substr(left.size() - 2), "\r\n");
  EXPECT_EQ(left.rfind("line 1\r\n", 0), 0u);
}

TEST(SaveLog, ALargeLogIsWrittenWhole) {
  TempDir dir;
  MessageLog log;
  std::string expected;
  for (int i = 0; i < 50000; ++i) {
    const std::string line = "line " + std::to_string(i);
    log.Append(line);
    if (i > 0) expected += line + "\r\n";
  }
  const std::string path = dir.File("big.txt");
  const ExportResult result = ExportLog(log, path);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(ReadAll(path), expected);
}

TEST(About, FortyThreeLinesWithTheFixedTexts) {
  Bench bench;
  bench.log.Append("before");
  OnAbout(bench.state);
  const auto lines = bench.Lines(1);
  ASSERT_EQ(lines.size(), 43u);
  const std::vector<int> empty = {1,  3,  6,  9,  13, 17, 22, 25,
                                  27, 30, 32, 34, 38, 40, 43};
  for (int n : empty) EXPECT_EQ(lines[n - 1], "") << "line " << n;
  EXPECT_EQ(lines[1], std::string("Vexa - Ferrotick ") + kVersion);
  const std::vector<std::pair<int, std::string>> fixed = {
      {4, "Ferrotick tests the speed of your hard drive by simply"},
      {5,
       "writing to file of your choice (you select the size) and timing "
       "it."},
      {26, "Program notes:"},
      {28,
       "Read times are kind of wonky unless you have a HUGE file, since "
       "the"},
      {29, "OS will cache stuff and then the read times look fantastic."},
      {31, "Write times experience this, to a lesser extent."},
      {33, "Read/Write both loop over the file, until you stop them."},
      {35,
       "I usually just Create a big file and look at the time. This is "
       "probably"},
      {36,
       "the most accurate indication of what you will really get, in "
       "terms of"},
      {37, "performance on your system."},
      {41, "Enjoy!"},
  };
  for (const auto& [n, text] : fixed) {
    EXPECT_EQ(lines[n - 1], text) << "line " << n;
  }
  const std::vector<int> ours = {2,  7,  8,  10, 11, 12, 14, 15, 16,
                                 18, 19, 20, 21, 23, 24, 39, 42};
  for (int n : ours) EXPECT_FALSE(lines[n - 1].empty()) << "line " << n;
  for (const auto& line : lines) EXPECT_EQ(line.find('@'), std::string::npos);
  // The terms name the licence in LICENSE.
  EXPECT_NE((lines[6] + " " + lines[7]).find("MIT License"), std::string::npos);
}

}  // namespace
}  // namespace ferrotick
