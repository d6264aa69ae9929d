#include "cli/json_output.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>

#include "core/timing.h"

namespace ferrotick::cli {

namespace {

// Fields in the order written, as a reader of the lines expects them.
using Json = nlohmann::ordered_json;

// One line, with any bytes that are not UTF-8 shown as U+FFFD.
std::string Dump(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// `value` to `decimals` places, as the log lines print it; JSON has no inf
// or nan, so those become 0.
double Rounded(double value, int decimals) {
  if (!std::isfinite(value)) return 0;
  const double scale = std::pow(10.0, decimals);
  return std::round(value * scale) / scale;
}

// A figure that may be unknown: null when it is.
Json Optional(const std::optional<double>& value, int decimals) {
  return value ? Json(Rounded(*value, decimals)) : Json(nullptr);
}

// A summary's first fields: what ran, the test file and its disk.
Json HeadJson(const char* run, const TestFileReport& report,
              bool tellInMemory) {
  Json out = {{"run", run},
              {"path", report.path},
              {"file_system", report.facts.fileSystem},
              {"device", report.facts.device},
              {"beneath", report.facts.beneath}};
  if (tellInMemory) out["in_memory"] = report.facts.inMemory;
  out["cache_beneath"] = report.facts.cacheBeneath;
  out["size_mb"] = report.sizeMB;
  return out;
}

}  // namespace

std::string JsonString(std::string_view text) {
  return Dump(Json(std::string(text)));
}

std::string PassJson(const PassEvent& pass, const RunOptions& options,
                     std::string_view path) {
  const double bytesPerSecond =
      Rate(static_cast<double>(pass.bytes), pass.seconds);
  Json out;
  out["run"] = RunName(pass.kind);
  out["pass"] = pass.pass;
  out["mb"] = pass.mb;
  out["bytes"] = pass.bytes;
  out["seconds"] = Rounded(pass.seconds, 9);
  out["mb_per_s"] = Rounded(Rate(pass.mb, pass.seconds), 3);
  // MiB from the bytes: an "MB" of a write-based run is W writes of Buffer
  // Size KB, which is not 1 MiB when the buffer does not divide 1024 KB.
  out["mib_per_s"] = Rounded(bytesPerSecond / kBytesPerMB, 3);
  out["bytes_per_s"] = static_cast<std::uint64_t>(Rounded(bytesPerSecond, 0));
  out["buffer_kb"] = pass.bufferKB;
  if (pass.kind != RunKind::kRead) {
    out["pattern"] = PatternWritten(pass.pattern, pass.kind == RunKind::kFill);
  }
  out["options"] = {{"sync", options.sync},
                    {"direct", options.direct},
                    {"drop_cache", options.dropCache}};
  out["path"] = std::string(path);
  return Dump(out);
}

std::string IncompletePassJson(const PassEvent& pass, std::string_view path) {
  Json out;
  out["run"] = RunName(pass.kind);
  out["incomplete_pass"] = pass.pass;
  out["bytes"] = pass.bytes;
  out["seconds"] = Rounded(pass.seconds, 9);
  out["reason"] = pass.end == PassEnd::kFailed ? "failed" : "stopped";
  out["path"] = std::string(path);
  return Dump(out);
}

std::string ErrorJson(std::string_view message, std::string_view run,
                      std::string_view path, std::string_view detail) {
  Json error;
  error["error"] = std::string(message);
  if (!detail.empty()) error["detail"] = std::string(detail);
  if (!run.empty()) error["run"] = std::string(run);
  if (!path.empty()) error["path"] = std::string(path);
  return Dump(error);
}

std::string MeasureJson(const MeasureReport& report) {
  Json phases = Json::array();
  for (const MeasuredPhase& phase : report.phases) {
    const RateSummary summary = Summarize(phase.rates);
    Json out = {{"run", phase.run}, {"passes", summary.passes}};
    if (summary.passes > 0) {
      out["median_mib_per_s"] = Rounded(summary.median, 3);
      out["median_mb_per_s"] = Rounded(summary.median * kDecimalMBPerMiB, 3);
      out["min_mib_per_s"] = Rounded(summary.min, 3);
      out["max_mib_per_s"] = Rounded(summary.max, 3);
    }
    out["spread"] =
        summary.spread ? Json(Rounded(*summary.spread, 4)) : Json(nullptr);
    Json rates = Json::array();
    for (double rate : phase.rates) rates.push_back(Rounded(rate, 3));
    out["mib_per_s"] = std::move(rates);
    out["incomplete_passes"] = phase.incomplete;
    phases.push_back(std::move(out));
  }
  Json out = HeadJson("measure", report, /*tellInMemory=*/true);
  out["buffer_kb"] = report.bufferKB;
  out["queue_depth"] = 1;
  out["pattern"] = "random";
  out["direct"] = report.direct;
  out["complete"] = report.complete;
  out["measured"] = WhatWasMeasured(report);
  out["runs"] = std::move(phases);
  out["notes"] = MeasureNotes(report);
  out["warnings"] = report.warnings;
  return Dump(out);
}

std::string ProfileJson(const ProfileReport& report) {
  Json cells = Json::array();
  for (std::size_t c = 0; c < report.cells.size(); ++c) {
    const ProfileCell& cell = report.cells[c];
    const std::vector<CellRun>& runs = report.MeasuredRuns(c);
    const CellSummary s = SummarizeCell(cell, runs);
    Json out = {{"cell", CellName(cell)},
                {"access", cell.random ? "random" : "sequential"},
                {"block_bytes", cell.blockBytes},
                {"queue_depth", cell.depth},
                {"direction", cell.write ? "write" : "read"},
                {"engine", s.engine.empty() ? Json(nullptr) : Json(s.engine)},
                {"runs_measured", runs.size()}};
    if (!runs.empty()) {
      out["median_mb_per_s"] = Rounded(s.mbPerSecond.median, 3);
      out["median_mib_per_s"] =
          Rounded(s.mbPerSecond.median / kDecimalMBPerMiB, 3);
      out["best_mb_per_s"] = Rounded(s.bestMBPerSecond, 3);
    }
    out["spread"] = s.mbPerSecond.spread
                        ? Json(Rounded(*s.mbPerSecond.spread, 4))
                        : Json(nullptr);
    out["median_iops"] = Optional(s.iops, 1);
    out["median_mean_latency_us"] = Optional(s.meanLatencyUs, 3);
    out["median_p99_latency_us"] = Optional(s.p99LatencyUs, 3);
    Json each = Json::array();
    for (const CellRun& run : runs) {
      each.push_back({{"run", run.run},
                      {"bytes", run.bytes},
                      {"transfers", run.transfers},
                      {"seconds", Rounded(run.seconds, 9)},
                      {"mb_per_s", Rounded(run.MBPerSecond(), 3)},
                      {"mib_per_s", Rounded(run.MiBPerSecond(), 3)},
                      {"iops", Rounded(run.TransfersPerSecond(), 1)},
                      {"max_queue_depth", run.maxDepth},
                      {"mean_latency_us", Optional(run.meanLatencyUs, 3)},
                      {"p99_latency_us", Optional(run.p99LatencyUs, 3)},
                      {"engine", EngineName(run.engine)}});
    }
    out["runs"] = std::move(each);
    cells.push_back(std::move(out));
  }
  const int refused = UringRefusal(report);
  // A profile refuses a file system in memory, so it never tells one.
  Json out = HeadJson("profile", report, /*tellInMemory=*/false);
  out["seconds"] = report.seconds;
  out["warmup_seconds"] = report.warmupSeconds;
  out["runs"] = report.runs;
  out["seed"] = report.seed;
  out["pattern"] = "random";
  out["direct"] = true;
  out["io_uring_refused"] =
      refused ? Json(std::strerror(refused)) : Json(nullptr);
  out["complete"] = report.complete;
  out["measured"] = WhatWasProfiled(report);
  out["cells"] = std::move(cells);
  out["notes"] = ProfileNotes(report);
  return Dump(out);
}

}  // namespace ferrotick::cli
