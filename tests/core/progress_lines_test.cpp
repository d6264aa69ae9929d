// The live progress lines from known figures: how far along, and the time
// left, which only whole passes may give.
#include "core/progress_lines.h"

#include <gtest/gtest.h>

#include <string>

#include "core/profile_summary.h"
#include "core/timing.h"

namespace ferrotick {
namespace {

TEST(ProgressLines, ARunShowsItsPassAndTheRateSoFar) {
  ProgressEvent latest;
  latest.kind = RunKind::kWrite;
  latest.pass = 2;
  latest.bytes = 512 * kBytesPerMB;
  latest.seconds = 2;
  EXPECT_EQ(RunProgressLine(latest),
            "  write pass 2: 512 MB in 2.0 s, 256.000 MBs so far");
}

TEST(ProgressLines, AMeasurePhaseCountsEveryPassAndOnlyWholeOnesGiveARate) {
  MeasuredPhase phase{"read", {}, 0};
  ProgressEvent latest;
  latest.kind = RunKind::kRead;
  latest.pass = 3;
  latest.bytes = 60 * kBytesPerMB;
  // Two passes of 100 MB done and 60 MB of the third: 260 of 400 MB.
  EXPECT_EQ(MeasureProgressLine(phase, latest, 4, 100),
            "  read pass 3 of 4: 65%");
  // At the last whole pass's 70 MiB/s, 140 MB take 2 s more.
  phase.rates = {35, 70};
  EXPECT_EQ(MeasureProgressLine(phase, latest, 4, 100),
            "  read pass 3 of 4: 65%, last pass 70.0 MiB/s, 2 s left");
}

TEST(ProgressLines, AProfileShowsItsStepAndTheTimeLeftInMinutes) {
  EXPECT_EQ(ProfileFillProgressLine(1024),
            "  writing the test file of 1024 MiB");
  EXPECT_EQ(ProfileCellProgressLine("RND 4KiB Q1 read", 2, 3, 30, 150),
            "  RND 4KiB Q1 read, run 2 of 3: 20%, 2 min 00 s left");
  // Rounded to whole seconds before the minutes are taken.
  EXPECT_EQ(ProfileCellProgressLine("SEQ 1MiB Q8 read", 1, 3, 0.4, 60),
            "  SEQ 1MiB Q8 read, run 1 of 3: 1%, 1 min 00 s left");
  EXPECT_EQ(ProfileCellProgressLine("SEQ 1MiB Q8 read", 1, 3, 0.6, 60),
            "  SEQ 1MiB Q8 read, run 1 of 3: 1%, 59 s left");
}

// Where a whole profile is from the step under way: the steps before it
// whole, this one no further than its span, however long it overruns.
TEST(ProgressLines, AProfilesStepsAddUpToTheWholeProfile) {
  ProfileDescription description;
  description.seconds = 4;
  description.warmupSeconds = 1;
  description.runs = 3;
  ProfileReport report;
  report.sizeMB = 256;
  report.Expect(description);
  ASSERT_EQ(report.AskedCount(), 24);
  EXPECT_EQ(report.MeasuredCount(), 0);
  EXPECT_EQ(ProfileProgressLine(report, ProfileStep{-1, 0}, 3),
            "  writing the test file of 256 MiB");
  // Cell 2's second run: 7 steps of 5 s before it, of 24.
  EXPECT_EQ(ProfileProgressLine(report, ProfileStep{2, 2}, 2),
            "  SEQ 1MiB Q1 read, run 2 of 3: 31%, 1 min 23 s left");
  EXPECT_EQ(ProfileProgressLine(report, ProfileStep{2, 2}, 60),
            "  SEQ 1MiB Q1 read, run 2 of 3: 33%, 1 min 20 s left");
  EXPECT_EQ(ProfileProgressLine(report, ProfileStep{7, 3}, 5),
            "  RND 4KiB Q1 write, run 3 of 3: 100%, 0 s left");
  report.measured[7].push_back(CellRun{});
  report.measured[0].resize(2);
  EXPECT_EQ(report.MeasuredCount(), 3);
}

}  // namespace
}  // namespace ferrotick
