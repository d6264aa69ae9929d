#include "cli/json_output.h"

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

}  // namespace ferrotick::cli
