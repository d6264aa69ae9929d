// `create`, `write` and `read`: one run, printed as the window's log shows
// it, or as JSON.
#pragma once

#include "cli/command_line.h"
#include "core/stop_signals.h"

namespace ferrotick::cli {

// Runs a parsed create, write or read; returns the exit status.
int RunSingle(const CliOptions& options, StopSignals& signals);

}  // namespace ferrotick::cli
