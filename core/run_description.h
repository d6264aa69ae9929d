// A run as plain values: which of the three it is, on which file, and how
// it moves data.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "core/data_pattern.h"

namespace ferrotick {

enum class RunKind {
  kFill,   // one timed sequential fill of a new file
  kWrite,  // passes that rewrite the file from its start
  kRead,   // passes that read the file from start to end
};

// "create", "write" or "read".
const char* RunName(RunKind kind);

// How a run moves data; the window keeps the defaults.
struct RunOptions {
  bool sync = false;       // write-based: fdatasync before a pass's clock
  bool direct = false;     // O_DIRECT, with an aligned buffer
  bool dropCache = false;  // read: drop the file's cached pages before a pass
  int passLimit = 0;       // write and read: stop after this many; 0: never
  DataPattern pattern = DataPattern::kLetters;
  // A pass quicker than this is followed by a pause for the rest of it,
  // outside the timed pass; zero: passes back to back.
  std::chrono::milliseconds minPassPeriod{0};
};

struct RunDescription {
  RunKind kind = RunKind::kFill;
  std::string path;
  int fileSizeMB = 0;  // write-based: MBs per pass
  // When set, read afresh at every test instead of fileSizeMB, as the
  // window's File Size is; shared, so a run that outlives its owner still
  // reads valid memory.
  std::shared_ptr<const std::atomic<int>> liveFileSizeMB;
  int bufferKB = 0;  // KB per transfer, 1 to 1024
  RunOptions options;
};

}  // namespace ferrotick
