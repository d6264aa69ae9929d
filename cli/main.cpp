#include <signal.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/measure.h"
#include "cli/output.h"
#include "cli/profile.h"
#include "cli/single_run.h"
#include "core/standard_descriptors.h"
#include "core/stop_signals.h"

int main(int argc, char** argv) {
  using namespace ferrotick::cli;
  ferrotick::ReserveStandardDescriptors();
  // From the start: a stop that comes while the command line is read
  // still stops the run before it begins.
  ferrotick::StopSignals signals;
  const ParsedCommandLine parsed =
      ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.options) {
    std::fputs(parsed.out.c_str(), stdout);
    if (!parsed.err.empty()) ErrorLine(parsed.err);
    return std::fflush(stdout) == 0 ? parsed.exitCode : kExitFailed;
  }
  // A closed standard output shows up as a failed write, not a signal.
  ::signal(SIGPIPE, SIG_IGN);
  if (parsed.options->command == Command::kProfile) {
    return RunProfile(*parsed.options, signals);
  }
  return parsed.options->command == Command::kMeasure
             ? RunMeasure(*parsed.options, signals)
             : RunSingle(*parsed.options, signals);
}
