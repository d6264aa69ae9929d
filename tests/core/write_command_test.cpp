// The Write toggle and its writer, through the commands as the window
// presses them.
#include <gtest/gtest.h>

#include <thread>
#include <utility>

#include "core/run_commands.h"
#include "tests/support/fake_view.h"
#include "tests/support/kernel_seam.h"
#include "tests/support/run_checks.h"
#include "tests/support/test_clock.h"

namespace ferrotick {
namespace {

using testing::Bench;
using testing::FileLength;
using testing::KernelSeam;
using testing::MakeFile;
using testing::MatchesFormat;
using testing::OpenDescriptors;
using testing::ReadAll;
using testing::TempDir;

constexpr std::uint64_t kMB = 1048576;

int CountMatching(const std::vector<std::string>& lines, const char* format) {
  int n = 0;
  for (const auto& line : lines) n += MatchesFormat(line, format);
  return n;
}

TEST(Write, StartPassStopAndCloseLinesInOrder) {
  TempDir dir;
  const auto fdsBefore = OpenDescriptors();
  const std::string path = dir.File("w.tmp");
  MakeFile(path, kMB);
  {
    Bench bench;
    bench.state.m_strPath.Set(path);
    bench.state.m_nFileSizeMB = 1;
    OnWrite(bench.state);
    EXPECT_EQ(bench.Lines(),
              (std::vector<std::string>{"Opened " + path, "",
                                        "WriteThread Started."}));
    EXPECT_EQ(bench.view.writeCaption, "StopWrite");
    ASSERT_TRUE(bench.DrainUntil([&] {
      return CountMatching(bench.Lines(), "Wrote 1MB: %.3fMBs") >= 2;
    }));
    OnWrite(bench.state);
    EXPECT_EQ(bench.view.writeCaption, "Write");
    const std::size_t stop = *bench.Find("Stopping WriteThread.");
    ASSERT_TRUE(bench.WaitIdle());
    const auto tail = bench.Lines(stop + 1);
    ASSERT_GE(tail.size(), 2u);
    EXPECT_EQ(tail[tail.size() - 2], "WriteThread Done.");
    EXPECT_EQ(tail.back(), path + " Closed.");
    for (std::size_t i = 0; i + 2 < tail.size(); ++i) {
      EXPECT_TRUE(MatchesFormat(tail[i], "Wrote 1MB: %.3fMBs")) << tail[i];
    }
    EXPECT_EQ(FileLength(path), kMB);  // rewritten, never truncated
  }
  EXPECT_EQ(OpenDescriptors(), fdsBefore);
}

TEST(Write, LettersGoRoundAndThe27thPassWritesAAgain) {
  TempDir dir;
  const std::string path = dir.File("letters.tmp");
  MakeFile(path, 2 * kMB, 'x');
  for (int passes : {1, 2, 26, 27}) {
    Bench bench;
    bench.state.m_strPath.Set(path);
    bench.state.m_nFileSizeMB = 1;
    bench.state.m_nBufferKB = 1024;
    bench.state.m_options.passLimit = passes;
    OnWrite(bench.state);
    ASSERT_TRUE(bench.WaitForLine("WriteThread Done."));
    ASSERT_TRUE(bench.WaitIdle());
    const std::string bytes = ReadAll(path);
    const char expected = static_cast<char>('A' + (passes - 1) % 26);
    EXPECT_EQ(bytes.find_first_not_of(expected), kMB) << "passes " << passes;
    // Beyond File Size the file keeps what it held.
    EXPECT_EQ(bytes.substr(kMB).find_first_not_of('x'), std::string::npos);
  }
}

// A stop while the first write is held: a 32 MB pass has no stop point and
// ends whole; a 300 MB one stops at its first, 128 MB counted once 129 are
// written. A quarter second an MB makes the rates exact.
TEST(Write, AStopEndsThePassWholeOrAtItsFirst128MBPoint) {
  struct Case {
    int sizeMB;
    int bufferKB;
    std::vector<std::string> lines;  // after the stop, before Closed
    std::uint64_t rewritten;
  };
  const Case cases[] = {
      {32, 128, {"Wrote 32MB: 4.000MBs", "WriteThread Done."}, 32 * kMB},
      {300,
       1024,
       {"  Write... 3.969 MBs [128/300]", "Wrote 128MB: 3.969MBs",
        "WriteThread Done."},
       129 * kMB},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.sizeMB) + " MB pass");
    const std::string path = dir.File("w" + std::to_string(c.sizeMB));
    MakeFile(path, 0);
    ASSERT_EQ(::truncate(path.c_str(), c.sizeMB * kMB), 0);
    testing::TestClock clock;
    Bench bench;
    KernelSeam seam;
    seam.after = [](bool, std::uint64_t total) {
      if (total % kMB == 0) testing::TestClock::Advance(0.25);
    };
    bench.state.m_strPath.Set(path);
    bench.state.m_nFileSizeMB = c.sizeMB;
    bench.state.m_nBufferKB = c.bufferKB;
    seam.HoldNext();
    OnWrite(bench.state);
    seam.WaitHeld();  // the first write of the first pass
    OnWrite(bench.state);
    seam.Release();
    ASSERT_TRUE(bench.WaitIdle());
    std::vector<std::string> expected = c.lines;
    expected.push_back(path + " Closed.");
    EXPECT_TRUE(testing::LinesMatch(
        bench.Lines(*bench.Find("Stopping WriteThread.") + 1), expected));
    // Only what the pass rewrote; the rest is still a hole.
    EXPECT_EQ(testing::ByteAt(path, 0), 'A');
    EXPECT_EQ(testing::ByteAt(path, c.rewritten - 1), 'A');
    if (c.rewritten < c.sizeMB * kMB) {
      EXPECT_EQ(testing::ByteAt(path, c.rewritten), '\0');
    }
    EXPECT_EQ(FileLength(path), c.sizeMB * kMB);
  }
}

TEST(Write, RatesAreThePassMBsOverThePassSeconds) {
  TempDir dir;
  const std::string path = dir.File("rates.tmp");
  MakeFile(path, 0);
  testing::TestClock clock;
  Bench bench;
  KernelSeam seam;
  seam.after = [](bool, std::uint64_t) { testing::TestClock::Advance(0.25); };
  bench.state.m_strPath.Set(path);
  // Buffer Size 1000: an MB is one write of 1000 KB.
  bench.state.m_nFileSizeMB = 2;
  bench.state.m_nBufferKB = 1000;
  bench.state.m_options.passLimit = 2;
  OnWrite(bench.state);
  ASSERT_TRUE(bench.WaitIdle());
  EXPECT_EQ(bench.Lines(3), (std::vector<std::string>{
                                "Wrote 2MB: 4.000MBs", "Wrote 2MB: 4.000MBs",
                                "WriteThread Done.", path + " Closed."}));
  EXPECT_EQ(FileLength(path), 2u * 1000 * 1024);
}

TEST(Write, DiskFullFailsAndLeavesTheStopCaption) {
  Bench bench;
  const auto fdsBefore = OpenDescriptors();
  bench.state.m_strPath.Set("/dev/full");
  OnWrite(bench.state);
  ASSERT_TRUE(bench.WaitIdle());
  EXPECT_EQ(
      bench.Lines(),
      (std::vector<std::string>{
          "Opened /dev/full", "", "WriteThread Started.", "WriteThread Failed.",
          "  No space left on device", "/dev/full Closed."}));
  EXPECT_EQ(bench.view.writeCaption, "StopWrite");
  EXPECT_TRUE(bench.state.m_bWriting.load());
  EXPECT_EQ(OpenDescriptors(), fdsBefore);
  // The next press stops a writer that is no longer there.
  OnWrite(bench.state);
  EXPECT_EQ(bench.view.writeCaption, "Write");
  EXPECT_EQ(bench.Lines().back(), "Stopping WriteThread.");
  EXPECT_FALSE(bench.state.m_bWriting.load());
}

TEST(Write, OpenFailures) {
  TempDir dir;
  Bench bench;
  // The reason is named with each path: a test folder's random name may
  // end in any letter.
  const std::pair<std::string, const char*> cases[] = {
      {std::string(), "  No such file or directory"},
      {dir.File("missing.tmp"), "  No such file or directory"},
      {dir.path(), "  Is a directory"}};
  for (const auto& [path, why] : cases) {
    SCOPED_TRACE("path \"" + path + "\"");
    bench.state.m_strPath.Set(path);
    OnWrite(bench.state);
    EXPECT_EQ(bench.Lines(bench.log.Count() - 2),
              (std::vector<std::string>{"Open Failed or Canceled", why}));
    EXPECT_EQ(bench.view.writeCaption, "Write");
  }
  EXPECT_EQ(bench.log.Count(), 6u);
}

TEST(Write, RefusedWhileAFillHoldsTheFile) {
  TempDir dir;
  Bench bench;
  const std::string path = dir.File("fill.tmp");
  bench.state.m_nFileSizeMB = 8192;
  bench.state.m_nBufferKB = 1;
  bench.view.answers.push_back(path);
  OnCreate(bench.state);
  OnWrite(bench.state);
  EXPECT_EQ(bench.Lines(bench.log.Count() - 2),
            (std::vector<std::string>{"Open Failed or Canceled",
                                      "  in use by a run or another program"}));
  OnCancelInit(bench.state);
  ASSERT_TRUE(bench.WaitIdle());
}

TEST(Write, QuickPressesNeverRunTwoWritersOnTheFile) {
  TempDir dir;
  const std::string path = dir.File("quick.tmp");
  MakeFile(path, 4 * kMB);
  Bench bench;
  KernelSeam seam;
  bench.state.m_strPath.Set(path);
  bench.state.m_nFileSizeMB = 4;
  bench.state.m_nBufferKB = 4;
  for (int i = 0; i < 40; ++i) {
    OnWrite(bench.state);  // start, stop, start, ... with no pause at all
    if (i % 7 == 0) bench.state.HandleEvents();
  }
  // An even number of presses: the last one stopped the last writer.
  EXPECT_EQ(bench.view.writeCaption, "Write");
  ASSERT_TRUE(bench.WaitIdle());
  EXPECT_FALSE(seam.WritersOverlapped());
  const auto lines = bench.Lines();
  EXPECT_EQ(CountMatching(lines, "WriteThread Started."), 20);
  EXPECT_EQ(CountMatching(lines, "WriteThread Done."), 20);
  EXPECT_EQ(CountMatching(lines, "%s Closed."), 20);
  // Each writer that ran wrote whole passes.
  for (const auto& line : lines) {
    if (line.rfind("Wrote", 0) == 0) {
      EXPECT_TRUE(MatchesFormat(line, "Wrote 4MB: %.3fMBs")) << line;
    }
  }
}

TEST(Write, ANewWriterWaitsForTheStoppedOneToClose) {
  TempDir dir;
  const std::string path = dir.File("wait.tmp");
  MakeFile(path, 8 * kMB);
  Bench bench;
  KernelSeam seam;
  bench.state.m_strPath.Set(path);
  bench.state.m_nFileSizeMB = 8;
  seam.HoldNext();
  OnWrite(bench.state);
  seam.WaitHeld();       // the first writer is in its pass
  OnWrite(bench.state);  // stop: caption back to Write at once
  OnWrite(bench.state);  // start another while the first runs on
  EXPECT_EQ(bench.view.writeCaption, "StopWrite");
  seam.Release();
  ASSERT_TRUE(bench.WaitForLine(path + " Closed."));
  ASSERT_TRUE(bench.DrainUntil(
      [&] { return CountMatching(bench.Lines(), "Wrote 8MB: %.3fMBs") >= 3; }));
  OnWrite(bench.state);
  ASSERT_TRUE(bench.WaitIdle());
  EXPECT_FALSE(seam.WritersOverlapped());
  // The first writer's closing lines come before the second's passes.
  const auto lines = bench.Lines();
  const std::size_t firstClosed = *bench.Find(path + " Closed.");
  EXPECT_EQ(lines[firstClosed - 1], "WriteThread Done.");
  int passesAfter = 0;
  for (std::size_t i = firstClosed; i < lines.size(); ++i) {
    passesAfter += MatchesFormat(lines[i], "Wrote 8MB: %.3fMBs");
  }
  EXPECT_GE(passesAfter, 1);
}

TEST(Write, EmptyPassesArePaced) {
  TempDir dir;
  const std::string path = dir.File("zero.tmp");
  MakeFile(path, 100);
  Bench bench;
  bench.state.m_strPath.Set(path);
  bench.state.m_nFileSizeMB = 0;
  OnWrite(bench.state);
  ASSERT_TRUE(bench.DrainUntil([&] {
    return CountMatching(bench.Lines(), "Wrote 0MB: 0.000MBs") >= 3;
  }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  bench.state.HandleEvents();
  // Unpaced, this would be hundreds of thousands of lines.
  EXPECT_LT(bench.log.Count(), 100u);
  OnWrite(bench.state);
  ASSERT_TRUE(bench.WaitIdle());
  EXPECT_EQ(bench.Lines().back(), path + " Closed.");
}

TEST(Write, ALoweredFileSizeEndsThePassEarly) {
  TempDir dir;
  const std::string path = dir.File("lower.tmp");
  MakeFile(path, 16 * kMB);
  Bench bench;
  KernelSeam seam;
  bench.state.m_strPath.Set(path);
  bench.state.m_nFileSizeMB = 16;
  bench.state.m_options.passLimit = 1;
  seam.HoldNext();
  OnWrite(bench.state);
  seam.WaitHeld();  // in MB 0
  bench.state.m_nFileSizeMB = 1;
  seam.Release();
  ASSERT_TRUE(bench.WaitIdle());
  EXPECT_EQ(CountMatching(bench.Lines(), "Wrote 1MB: %.3fMBs"), 1);
  EXPECT_EQ(CountMatching(bench.Lines(), "Wrote %dMB: %.3fMBs"), 1);
}

}  // namespace
}  // namespace ferrotick
