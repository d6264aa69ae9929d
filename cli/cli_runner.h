// Runs one create, write or read on the core, as the dialog would, and
// prints what the dialog's log shows.
#pragma once

#include <string>
#include <vector>

#include "cli/cli_options.h"

namespace ferrotick::cli {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Runs a parsed create, write or read; returns the exit status.
int RunCommand(const CliOptions& options);

// The whole program: parses `args` (without the program name), prints help,
// version or usage errors, or runs the command.
int CliMain(const std::vector<std::string>& args);

}  // namespace ferrotick::cli
