// What a run tells while it goes, as values: progress, each pass, and its
// end. Runs know nothing of how these are shown; the log lines and the JSON
// are formatters over them.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "core/run_description.h"

namespace ferrotick {

// After every MB of a pass. At the 128-MB points (`point`) the log shows a
// progress line; the other events feed live displays only.
struct ProgressEvent {
  RunKind kind = RunKind::kFill;
  int pass = 0;             // from 1
  int mb = 0;               // the MB counter a progress line shows
  int fileSizeMB = 0;       // File Size at this moment (write-based runs)
  std::uint64_t bytes = 0;  // moved in this pass so far
  double seconds = 0;       // since the pass's clock started
  bool point = false;
};

enum class PassEnd {
  kComplete,  // the pass ran to its own end
  kStopped,   // cut short by a stop (its line may still show)
  kFailed,    // cut short by a failed transfer
};

struct PassEvent {
  RunKind kind = RunKind::kFill;
  int pass = 0;  // from 1
  // The MB count of the pass line: the MBs moved, but for a fill File Size
  // as read at its end.
  int mb = 0;
  std::uint64_t bytes = 0;  // moved in this pass
  double seconds = 0;
  PassEnd end = PassEnd::kComplete;
  int bufferKB = 0;
  DataPattern pattern = DataPattern::kLetters;

  bool Complete() const { return end == PassEnd::kComplete; }
};

enum class Outcome {
  kCompleted,  // ran its course: the fill, or every asked pass
  kStopped,    // a stop ended it
  kFailed,     // a transfer, sync or the buffer failed: see `error`
  kAbandoned,  // the owner went away; nothing more is reported
};

// The run's last word; its file is closed by then.
struct EndEvent {
  RunKind kind = RunKind::kFill;
  Outcome outcome = Outcome::kCompleted;
  int error = 0;           // errno when failed
  int completePasses = 0;  // passes that ran to their own end
  std::string path;        // the file the run used
  std::uint64_t run = 0;   // which run ended: its Run::Id()
};

using RunEvent = std::variant<ProgressEvent, PassEvent, EndEvent>;

// Told every event on the run's thread, in order; must not block for long.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void OnEvent(const RunEvent& event) = 0;
};

}  // namespace ferrotick
