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
      record.bytes == 0 ? 0.0
                        : static_cast<double>(record.bytes) /
                              (seconds >= kMinSeconds ? seconds : kMinSeconds);
  Json pass;
  pass["run"] = record.run;
  pass["pass"] = record.pass;
  pass["mb"] = record.mb;
  pass["bytes"] = record.bytes;
  pass["seconds"] = Rounded(seconds, 9);
  pass["mb_per_s"] = Rounded(record.rate, 3);
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

}  // namespace ferrotick::cli
