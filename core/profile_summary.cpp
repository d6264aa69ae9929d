#include "core/profile_summary.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/command_failures.h"
#include "core/progress_lines.h"
#include "core/timing.h"

namespace ferrotick {

namespace {

double Median(std::vector<double> values) {
  return Summarize(std::move(values)).median;
}

std::string Seconds(double seconds) { return Format("%g s", seconds); }

// The engines the cells ran on, as a part of a sentence.
std::string Engines(const ProfileReport& report) {
  std::string queued;
  for (const std::vector<CellRun>& runs : report.measured) {
    if (!runs.empty() && runs.front().engine != IoEngine::kPositional) {
      queued = EngineName(runs.front().engine);
    }
  }
  return (queued.empty() ? std::string() : queued + " at queue depth, ") +
         "pread/pwrite at depth 1";
}

}  // namespace

void ProfileReport::Expect(const ProfileDescription& description) {
  seconds = description.seconds;
  warmupSeconds = description.warmupSeconds;
  runs = description.runs;
  seed = description.seed;
  cells = description.cells;
  measured.assign(cells.size(), {});
}

int ProfileReport::MeasuredCount() const {
  int count = 0;
  for (const std::vector<CellRun>& each : measured) {
    count += static_cast<int>(each.size());
  }
  return count;
}

std::string ProfileProgressLine(const ProfileReport& report,
                                const ProfileStep& step, double into) {
  if (step.cell < 0) return ProfileFillProgressLine(report.sizeMB);
  const double span = report.warmupSeconds + report.seconds;
  const int before = step.cell * report.runs + step.run - 1;
  return ProfileCellProgressLine(
      CellName(report.cells[step.cell]), step.run, report.runs,
      before * span + std::min(into, span), report.AskedCount() * span);
}

const std::vector<CellRun>& ProfileReport::MeasuredRuns(
    std::size_t cell) const {
  static const std::vector<CellRun> kNone;
  return cell < measured.size() ? measured[cell] : kNone;
}

CellSummary SummarizeCell(const ProfileCell& cell,
                          const std::vector<CellRun>& runs) {
  CellSummary summary;
  std::vector<double> rates, iops, means, p99s;
  for (const CellRun& run : runs) {
    rates.push_back(run.MBPerSecond());
    iops.push_back(run.TransfersPerSecond());
    if (run.meanLatencyUs) means.push_back(*run.meanLatencyUs);
    if (run.p99LatencyUs) p99s.push_back(*run.p99LatencyUs);
    summary.engine = EngineName(run.engine);
  }
  summary.mbPerSecond = Summarize(rates);
  summary.bestMBPerSecond = summary.mbPerSecond.max;
  if (!runs.empty() && cell.blockBytes == 4096) summary.iops = Median(iops);
  if (!means.empty()) summary.meanLatencyUs = Median(means);
  if (!p99s.empty()) summary.p99LatencyUs = Median(p99s);
  return summary;
}

std::string WhatWasProfiled(const ProfileReport& report) {
  const std::string times =
      report.runs == 1 ? "once" : Format("%d times", report.runs);
  return Format(
      "Profiled %s in %s: a file of %d MiB written whole with random data "
      "that neither compresses nor repeats, then each cell %s for %s after "
      "%s of warm-up, with direct I/O (O_DIRECT) through %s; random offsets "
      "from seed %llu.",
      DiskInWords(report.facts).c_str(), report.folder.c_str(), report.sizeMB,
      times.c_str(), Seconds(report.seconds).c_str(),
      Seconds(report.warmupSeconds).c_str(), Engines(report).c_str(),
      static_cast<unsigned long long>(report.seed));
}

std::vector<std::string> ProfileNotes(const ProfileReport& report) {
  std::vector<std::string> notes;
  if (report.facts.cacheBeneath) {
    notes.push_back("Reads may come from a cache beneath the file system (" +
                    WhatLiesBeneath(report.facts) +
                    "): the read figures may be that cache's, not the disk's.");
  }
  if (const int refused = UringRefusal(report)) {
    notes.push_back(std::string("io_uring was refused here (") +
                    std::strerror(refused) +
                    "): libaio kept the queue instead.");
  }
  for (std::size_t c = 0; c < report.cells.size(); ++c) {
    const std::size_t done = report.MeasuredRuns(c).size();
    if (done > 0 && static_cast<int>(done) < report.runs) {
      notes.push_back(Format("%s: %zu of %d runs measured.",
                             CellName(report.cells[c]).c_str(), done,
                             report.runs));
    }
  }
  return notes;
}

int UringRefusal(const ProfileReport& report) {
  for (const std::vector<CellRun>& runs : report.measured) {
    for (const CellRun& run : runs) {
      if (run.uringRefused) return run.uringRefused;
    }
  }
  return 0;
}

std::string ProfileText(const ProfileReport& report) {
  std::string text = WhatWasProfiled(report) + "\n";
  for (const std::string& note : ProfileNotes(report)) text += note + "\n";
  const char* const kRow = "%-18s %4s %9s %9s %8s %8s %8s %7s %9s  %s\n";
  text += Format(kRow, "cell", "runs", "MB/s", "MiB/s", "IOPS", "mean us",
                 "p99 us", "spread", "best MB/s", "engine");
  for (std::size_t c = 0; c < report.cells.size(); ++c) {
    const std::vector<CellRun>& runs = report.MeasuredRuns(c);
    const CellSummary s = SummarizeCell(report.cells[c], runs);
    const auto cell = [](const std::optional<double>& value, const char* form) {
      return value ? Format(form, *value) : std::string("-");
    };
    const bool any = !runs.empty();
    const RateSummary& rate = s.mbPerSecond;
    text += Format(
        kRow, CellName(report.cells[c]).c_str(),
        std::to_string(runs.size()).c_str(),
        any ? Format("%.1f", rate.median).c_str() : "-",
        any ? Format("%.1f", rate.median / kDecimalMBPerMiB).c_str() : "-",
        cell(s.iops, "%.0f").c_str(), cell(s.meanLatencyUs, "%.1f").c_str(),
        cell(s.p99LatencyUs, "%.1f").c_str(),
        rate.spread ? Format("%.1f%%", *rate.spread * 100).c_str() : "-",
        any ? Format("%.1f", s.bestMBPerSecond).c_str() : "-",
        any ? s.engine.c_str() : "-");
  }
  return text +
         "Medians over the runs; MB/s is 1,000,000 bytes a second, MiB/s "
         "1,048,576; spread: the runs' sample coefficient of variation; best: "
         "the fastest run.\n";
}

std::string WhyTheProfileEnded(const ProfileEnd& end,
                               const ProfileReport& report) {
  const std::string where =
      end.cell < 0 ? "the test file"
                   : "the " + CellName(report.cells[end.cell]) + " cell";
  switch (end.outcome) {
    case Outcome::kCompleted:
      return "";
    case Outcome::kStopped:
      return "stopped";
    case Outcome::kAbandoned:
      return "abandoned";
    case Outcome::kFailed:
      break;
  }
  if (end.error == EINVAL) {
    return "cannot write or read " + where +
           " with direct I/O (O_DIRECT): the file system does not support "
           "it, or not with transfers of this size";
  }
  return (end.cell < 0 ? "cannot write " : "") + where +
         (end.cell < 0 ? ": " : " failed: ") + CommandReason(end.error);
}

}  // namespace ferrotick
