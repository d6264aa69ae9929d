// The text `measure` ends with: one line on what was measured and how,
// notes on what the figures may mean, and a table of the rates.
#pragma once

#include <string>
#include <vector>

#include "core/rate_summary.h"
#include "core/run_events.h"
#include "core/test_file_report.h"

namespace ferrotick {

// One phase of a measurement: its name and the rates (MiB/s) of the passes
// that ran to their end, in order; passes cut short are only counted.
struct MeasuredPhase {
  std::string run;  // "fill", "write" or "read"
  std::vector<double> rates;
  int incomplete = 0;

  // A pass's rate when it ran to its end; else one more cut short.
  void Add(const PassEvent& pass);
};

struct MeasureReport : TestFileReport {
  int bufferKB = 0;
  bool direct = false;
  bool complete = false;  // every phase made every pass, nothing stopped it
  std::vector<MeasuredPhase> phases;
  std::vector<std::string> warnings;

  // Passes that ran to their end, in every phase.
  int MeasuredPasses() const;
};

// "Measured ext4 on /dev/vda1 (...) in /srv: a file of 1024 MiB, ...".
std::string WhatWasMeasured(const MeasureReport& report);
// Plain sentences on what the rates may mean: a cache beneath the file
// system, a first read pass much slower than the rest.
std::vector<std::string> MeasureNotes(const MeasureReport& report);
// One row of the summary table for each named run, columns aligned.
struct SummaryRow {
  std::string run;
  RateSummary summary;
};
std::string SummaryTable(const std::vector<SummaryRow>& rows);
// The text summary: the line on what was measured, the notes, the table.
std::string MeasureText(const MeasureReport& report);

// Later read passes this much faster than the first were served by a cache
// below the file system, not by the disk.
inline constexpr double kCachedReadFactor = 2.0;

}  // namespace ferrotick
