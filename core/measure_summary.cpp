#include "core/measure_summary.h"

#include <algorithm>

#include "core/timing.h"

namespace ferrotick {

namespace {

std::string HowTheCacheIsTakenOut(const MeasureReport& report) {
  if (report.facts.inMemory) {
    return "the file system keeps files in memory, so every rate is the "
           "memory's";
  }
  std::string how =
      report.direct
          ? "the page cache bypassed with O_DIRECT"
          : "writes synced with fdatasync before each pass's clock stops and "
            "the file dropped from the page cache before each read pass";
  if (report.facts.cacheBeneath) {
    how += ", but a cache beneath the file system may still serve reads";
  }
  return how;
}

const MeasuredPhase* Phase(const MeasureReport& report, const char* run) {
  for (const MeasuredPhase& phase : report.phases) {
    if (phase.run == run) return &phase;
  }
  return nullptr;
}

}  // namespace

void MeasuredPhase::Add(const PassEvent& pass) {
  if (pass.Complete()) {
    rates.push_back(
        Rate(static_cast<double>(pass.bytes) / kBytesPerMB, pass.seconds));
  } else {
    ++incomplete;
  }
}

int MeasureReport::MeasuredPasses() const {
  int count = 0;
  for (const MeasuredPhase& phase : phases) {
    count += static_cast<int>(phase.rates.size());
  }
  return count;
}

std::string WhatWasMeasured(const MeasureReport& report) {
  return Format(
      "Measured %s in %s: a file of %d MiB in transfers of %d KiB, one at a "
      "time (queue depth 1), random data that neither compresses nor "
      "repeats; %s.",
      DiskInWords(report.facts).c_str(), report.folder.c_str(), report.sizeMB,
      report.bufferKB, HowTheCacheIsTakenOut(report).c_str());
}

std::vector<std::string> MeasureNotes(const MeasureReport& report) {
  std::vector<std::string> notes;
  if (report.facts.cacheBeneath && !report.facts.inMemory) {
    notes.push_back("Reads may come from a cache beneath the file system (" +
                    WhatLiesBeneath(report.facts) +
                    "): the read rates may be that cache's, not the disk's.");
  }
  const MeasuredPhase* read = Phase(report, "read");
  if (read && read->rates.size() >= 2) {
    const double first = read->rates.front();
    const RateSummary later = Summarize(
        std::vector<double>(read->rates.begin() + 1, read->rates.end()));
    if (later.median > kCachedReadFactor * first) {
      notes.push_back(Format(
          "The first read pass gave %.1f MiB/s and the later ones a median of "
          "%.1f MiB/s: the later passes were served by a cache beneath the "
          "file system; the first is nearer the disk.",
          first, later.median));
    }
  }
  for (const MeasuredPhase& phase : report.phases) {
    if (phase.incomplete > 0) {
      notes.push_back(Format("%d %s pass%s cut short %s not counted.",
                             phase.incomplete, phase.run.c_str(),
                             phase.incomplete == 1 ? "" : "es",
                             phase.incomplete == 1 ? "is" : "are"));
    }
  }
  return notes;
}

std::string SummaryTable(const std::vector<SummaryRow>& rows) {
  std::size_t nameWidth = 3;
  for (const SummaryRow& row : rows) {
    nameWidth = std::max(nameWidth, row.run.size());
  }
  const int width = static_cast<int>(nameWidth);
  std::string table =
      Format("%-*s %6s %12s %11s %10s %10s %7s\n", width, "run", "passes",
             "median MiB/s", "MB/s", "min MiB/s", "max MiB/s", "spread");
  for (const SummaryRow& row : rows) {
    const RateSummary& s = row.summary;
    if (s.passes == 0) {
      table += Format("%-*s %6d %12s %11s %10s %10s %7s\n", width,
                      row.run.c_str(), 0, "-", "-", "-", "-", "-");
      continue;
    }
    const std::string spread =
        s.spread ? Format("%.1f%%", *s.spread * 100) : std::string("-");
    // Decimal MB/s beside the median, as fio and other disk tools show it.
    table += Format("%-*s %6d %12.1f %11.1f %10.1f %10.1f %7s\n", width,
                    row.run.c_str(), s.passes, s.median,
                    s.median * kDecimalMBPerMiB, s.min, s.max, spread.c_str());
  }
  return table;
}

std::string MeasureText(const MeasureReport& report) {
  std::string text = WhatWasMeasured(report) + "\n";
  for (const std::string& note : MeasureNotes(report)) text += note + "\n";
  std::vector<SummaryRow> rows;
  for (const MeasuredPhase& phase : report.phases) {
    rows.push_back(SummaryRow{phase.run, Summarize(phase.rates)});
  }
  return text + SummaryTable(rows);
}

}  // namespace ferrotick
