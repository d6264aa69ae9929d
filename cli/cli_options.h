// The command line of ferrotick-cli: what to run, on which file, and how.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/bench_state.h"

namespace ferrotick::cli {

enum class Command { kCreate, kWrite, kRead, kMeasure, kHelp, kVersion };

// The command's name as typed: "create", "write", "read" or "measure".
const char* CommandName(Command command);

inline constexpr int kMinPasses = 1;
inline constexpr int kMaxPasses = 1000000;
inline constexpr int kMeasureFileSizeMB = 1024;
inline constexpr int kMeasureBufferKB = 1024;
inline constexpr int kMeasurePasses = 5;

struct CliOptions {
  Command command = Command::kHelp;
  std::string path;
  std::optional<int> fileSizeMB;  // write: the file's length when unset
  int bufferKB = 0;               // set to the default by the parser
  int passes = 1;
  bool json = false;
  bool progress = true;  // only ever shown on a terminal
  bool force = false;    // create: replace an existing PATH
  bool quiet = false;    // measure: print only warnings and the summary
  RunOptions run;        // sync, direct, dropCache; passLimit left 0
};

// A bad command line: one line for standard error, exit status 2.
struct UsageError {
  std::string message;
  bool json = false;  // --json was given, so report it as JSON
};

struct ParseOutcome {
  std::optional<CliOptions> options;
  std::optional<UsageError> error;
};

// argv without the program name.
ParseOutcome ParseCommandLine(const std::vector<std::string>& args);

std::string HelpText();
std::string VersionText();

}  // namespace ferrotick::cli
