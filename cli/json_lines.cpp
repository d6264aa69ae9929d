#include "cli/json_lines.h"

#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>

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

}  // namespace

std::string JsonString(std::string_view text) {
  return Dump(Json(std::string(text)));
}

std::string PassJson(const PassRecord& record, const RunOptions& options,
                     std::string_view path) {
  const double seconds = record.seconds;
  const double bytesPerSecond =
      Rate(static_cast<double>(record.bytes), seconds);
  Json pass;
  pass["run"] = record.run;
  pass["pass"] = record.pass;
  pass["mb"] = record.mb;
  pass["bytes"] = record.bytes;
  pass["seconds"] = Rounded(seconds, 9);
  pass["mb_per_s"] = Rounded(record.rate, 3);
  // MiB from the bytes: an "MB" of a write-based run is W writes of Buffer
  // Size KB, which is not 1 MiB when the buffer does not divide 1024 KB.
  pass["mib_per_s"] = Rounded(bytesPerSecond / kBytesPerMB, 3);
  pass["bytes_per_s"] = static_cast<std::uint64_t>(Rounded(bytesPerSecond, 0));
  pass["buffer_kb"] = record.bufferKB;
  pass["options"] = {{"sync", options.sync},
                     {"direct", options.direct},
                     {"drop_cache", options.dropCache}};
  pass["path"] = std::string(path);
  return Dump(pass);
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
  Json runs = Json::array();
  for (const MeasuredRun& measured : report.runs) {
    const RateSummary summary = Summarize(measured.rates);
    Json run = {{"run", measured.run}, {"passes", summary.passes}};
    if (summary.passes > 0) {
      // From bytes and seconds, as the pass lines' mib_per_s.
      run["median_mib_per_s"] = Rounded(summary.median, 3);
      run["min_mib_per_s"] = Rounded(summary.min, 3);
      run["max_mib_per_s"] = Rounded(summary.max, 3);
    }
    run["spread"] =
        summary.spread ? Json(Rounded(*summary.spread, 4)) : Json(nullptr);
    Json rates = Json::array();
    for (double rate : measured.rates) rates.push_back(Rounded(rate, 3));
    run["mib_per_s"] = std::move(rates);
    runs.push_back(std::move(run));
  }
  Json out = {{"run", "measure"},
              {"path", report.path},
              {"file_system", report.fileSystem},
              {"device", report.device},
              {"size_mb", report.sizeMB},
              {"buffer_kb", report.bufferKB},
              {"direct", report.direct},
              {"complete", report.complete},
              {"measured", report.measured},
              {"runs", std::move(runs)},
              {"warnings", report.warnings}};
  return Dump(out);
}

}  // namespace ferrotick::cli
