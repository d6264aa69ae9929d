// The text `profile` ends with: one line on what was measured and how,
// notes, and a table of the cells.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/disk_profile.h"
#include "core/rate_summary.h"
#include "core/test_file_report.h"

namespace ferrotick {

struct ProfileReport : TestFileReport {
  double seconds = 0;
  double warmupSeconds = 0;
  int runs = 0;  // asked for each cell
  std::uint64_t seed = 0;
  bool complete = false;  // every run of every cell, nothing stopped it
  std::vector<ProfileCell> cells;
  // For each cell, the runs that ran their whole span, in order.
  std::vector<std::vector<CellRun>> measured;

  // Takes the figures and cells `description` asks for; nothing measured.
  void Expect(const ProfileDescription& description);
  // Cell `cell`'s measured runs; none for a cell past `measured`.
  const std::vector<CellRun>& MeasuredRuns(std::size_t cell) const;
  int MeasuredCount() const;
  int AskedCount() const { return static_cast<int>(cells.size()) * runs; }
};

// Where the profile is, for a live line: `step` under way for `into`
// seconds; from the clock alone, so the transfers are never asked.
std::string ProfileProgressLine(const ProfileReport& report,
                                const ProfileStep& step, double into);

// A cell's runs summed up; figures of runs that had none are left out.
struct CellSummary {
  RateSummary mbPerSecond;  // decimal MB/s
  double bestMBPerSecond = 0;
  std::optional<double> iops;           // 4 KiB cells: the median
  std::optional<double> meanLatencyUs;  // depth 1: medians of the runs'
  std::optional<double> p99LatencyUs;
  std::string engine;  // empty before any run
};
CellSummary SummarizeCell(const ProfileCell& cell,
                          const std::vector<CellRun>& runs);

// "Profiled ext4 on /dev/vda1 (...) in /srv: ...".
std::string WhatWasProfiled(const ProfileReport& report);
std::vector<std::string> ProfileNotes(const ProfileReport& report);
// The errno io_uring was refused with, when a run fell back to libaio; 0
// when none did.
int UringRefusal(const ProfileReport& report);
// The line above, the notes, the table and the line that explains it.
std::string ProfileText(const ProfileReport& report);
// Why the profile ended early, for people; empty when it did not.
std::string WhyTheProfileEnded(const ProfileEnd& end,
                               const ProfileReport& report);

}  // namespace ferrotick
