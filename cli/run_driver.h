// Drives one run from the command line's main thread: starts it, hands its
// events to a presenter as they come, asks it to stop at the first stop
// signal, and gives up on it at the second or when nothing can be printed.
#pragma once

#include "cli/stop_signals.h"
#include "core/run.h"
#include "core/run_events.h"

namespace ferrotick::cli {

class RunPresenter {
 public:
  virtual ~RunPresenter() = default;
  virtual void OnEvent(const RunEvent& event) = 0;
  // The first stop signal came and the run was asked to stop.
  virtual void OnStop() {}
  // Between events, at least every few hundred milliseconds.
  virtual void OnIdle() {}
  // True once the output cannot be written: the run is given up.
  virtual bool Broken() const { return false; }
};

// Runs the open `run` to its end and returns that end; an end the run never
// told (abandoned, or no thread) is made up here. The run's events reach
// `presenter` on this thread, the end event last.
EndEvent DriveRun(Run& run, StopSignals& signals, RunPresenter& presenter);

}  // namespace ferrotick::cli
