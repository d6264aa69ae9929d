// The --json output: one object per line.
#pragma once

#include <string>
#include <string_view>

#include "core/measure_summary.h"
#include "core/profile_summary.h"
#include "core/run_events.h"

namespace ferrotick::cli {

// A JSON string literal, quotes included. Bytes that are not valid UTF-8
// become U+FFFD, so any path gives valid JSON.
std::string JsonString(std::string_view text);

// One pass that ran to its end, without a line end.
std::string PassJson(const PassEvent& pass, const RunOptions& options,
                     std::string_view path);
// A pass cut short (by a stop or a failure): never a measured pass.
std::string IncompletePassJson(const PassEvent& pass, std::string_view path);

// `measure`'s summary, and `profile`'s with every run, as one object.
std::string MeasureJson(const MeasureReport& report);
std::string ProfileJson(const ProfileReport& report);

// An error for standard error: {"error": message, ...}. The other fields
// are left out when empty.
std::string ErrorJson(std::string_view message, std::string_view run = {},
                      std::string_view path = {}, std::string_view detail = {});

}  // namespace ferrotick::cli
