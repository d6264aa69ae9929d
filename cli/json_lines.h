// The --json output: one object per line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/rate_summary.h"
#include "core/bench_state.h"

namespace ferrotick::cli {

// A JSON string literal, quotes included. Bytes that are not valid UTF-8
// become U+FFFD, so any path gives valid JSON.
std::string JsonString(std::string_view text);

// One finished pass, without a line end.
std::string PassJson(const PassRecord& record, const RunOptions& options,
                     std::string_view path);

// What `measure` found, for its one summary object.
struct MeasuredRun {
  std::string run;            // "fill", "write" or "read"
  std::vector<double> rates;  // MB/s of each pass, in order
};
struct MeasureReport {
  std::string path;  // the test file
  std::string fileSystem;
  std::string device;
  int sizeMB = 0;
  int bufferKB = 0;
  bool direct = false;
  bool complete = false;  // every run made every pass
  std::string measured;   // the line that says what was measured
  std::vector<MeasuredRun> runs;
  std::vector<std::string> warnings;
};

// The summary object, without a line end.
std::string MeasureJson(const MeasureReport& report);

// An error for standard error: {"error": message, ...}. The other fields
// are left out when empty.
std::string ErrorJson(std::string_view message, std::string_view run = {},
                      std::string_view path = {}, std::string_view detail = {});

}  // namespace ferrotick::cli
