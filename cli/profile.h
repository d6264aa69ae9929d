// `ferrotick-cli profile`: the standard disk profile of the disk that
// holds a folder, with the test file removed however it ends.
#pragma once

#include "cli/command_line.h"
#include "core/stop_signals.h"

namespace ferrotick::cli {

// Runs a parsed profile command; returns the exit status.
int RunProfile(const CliOptions& options, StopSignals& signals);

}  // namespace ferrotick::cli
