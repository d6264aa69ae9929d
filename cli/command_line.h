// The command line of ferrotick-cli: which command, on which path, and how.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/run_description.h"

namespace ferrotick::cli {

inline constexpr const char* kProgram = "ferrotick-cli";

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

enum class Command { kMeasure, kCreate, kWrite, kRead, kProfile };

// The command's name as typed.
const char* CommandName(Command command);

inline constexpr int kMaxPasses = 1000000;
inline constexpr int kMeasureFileSizeMB = 1024;
inline constexpr int kMeasureBufferKB = 1024;
inline constexpr int kMeasurePasses = 5;
inline constexpr int kProfileFileSizeMB = 1024;
inline constexpr double kProfileSeconds = 5;
inline constexpr int kProfileRuns = 3;

struct CliOptions {
  Command command = Command::kMeasure;
  std::string path;
  std::optional<int> fileSizeMB;  // write: the file's length when unset
  int bufferKB = 0;
  int passes = 1;
  bool json = false;
  bool progress = true;  // only ever shown on a terminal
  bool force = false;    // create: replace an existing PATH
  bool quiet = false;    // measure: only the table
  bool verbose = false;  // measure: every run's log lines too
  RunOptions run;        // sync, direct, dropCache and pattern
  // profile: seconds per run of a cell, runs per cell, and the seed of
  // its offsets and data (drawn when unset).
  double seconds = kProfileSeconds;
  int runs = kProfileRuns;
  std::optional<std::uint64_t> seed;
};

// What the command line asks for: a command to run, or text to print (help,
// version, or a complaint about the command line) and a status to exit with.
struct ParsedCommandLine {
  std::optional<CliOptions> options;
  int exitCode = 0;
  std::string out;  // for standard output
  std::string err;  // for standard error, one line
};

// argv without the program name.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

}  // namespace ferrotick::cli
