// `ferrotick-cli measure`: one command that times a fill with its data on
// the device, write passes and read passes from the device, removes its
// test file whatever happens, and sums the rates up in a table.
#pragma once

#include "cli/cli_options.h"

namespace ferrotick::cli {

// Runs a parsed measure command; returns the exit status.
int RunMeasure(const CliOptions& options);

}  // namespace ferrotick::cli
