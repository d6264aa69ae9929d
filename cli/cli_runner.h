// Runs one create, write or read on the core, as the dialog would, and
// prints what the dialog's log shows.
#pragma once

#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "core/bench_state.h"

namespace ferrotick::cli {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Runs a parsed create, write or read; returns the exit status.
int RunCommand(const CliOptions& options);

// Catches Ctrl-C, SIGTERM and SIGHUP for its life, so that they stop a run
// the way the dialog's controls do. Scopes nest: a stop signal that comes
// between the runs of an outer scope is kept, not fatal.
class StopSignalScope {
 public:
  explicit StopSignalScope(int wakeFd = -1);
  ~StopSignalScope();
  StopSignalScope(const StopSignalScope&) = delete;
  StopSignalScope& operator=(const StopSignalScope&) = delete;

  // Stop signals received since the outermost scope began.
  static int Count();

 private:
  static int s_depth;
  int m_previousWakeFd;
};

// One run of a measurement: its log lines printed unless --json or
// --quiet, its passes handed back rather than printed.
struct PhaseResult {
  int status = kExitFailed;
  std::vector<PassRecord> passes;
};
PhaseResult RunPhase(const CliOptions& options);

// The whole program: parses `args` (without the program name), prints help,
// version or usage errors, or runs the command.
int CliMain(const std::vector<std::string>& args);

}  // namespace ferrotick::cli
