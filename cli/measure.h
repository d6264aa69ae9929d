// `ferrotick-cli measure`: one command that times a fill with its data on
// the device, write passes and read passes from the device, all with data
// that neither compresses nor repeats, removes its test file whatever
// happens, and sums the rates up.
#pragma once

#include "cli/command_line.h"
#include "core/stop_signals.h"

namespace ferrotick::cli {

// Runs a parsed measure command; returns the exit status.
int RunMeasure(const CliOptions& options, StopSignals& signals);

}  // namespace ferrotick::cli
