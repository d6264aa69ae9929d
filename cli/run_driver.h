// Drives a run from the command line's main thread: starts it, hands its
// events to a presenter as they come, asks it to stop at the first stop
// signal, and gives up on it at the second or when nothing can be printed.
// A single run and the disk profile are driven alike.
#pragma once

#include "cli/stop_signals.h"
#include "core/disk_profile.h"
#include "core/run.h"
#include "core/run_events.h"

namespace ferrotick::cli {

template <class Event>
class Presenter {
 public:
  virtual ~Presenter() = default;
  virtual void OnEvent(const Event& event) = 0;
  // The first stop signal came and the run was asked to stop.
  virtual void OnStop() {}
  // Between events, at least every few hundred milliseconds.
  virtual void OnIdle() {}
  // True once the output cannot be written: the run is given up.
  virtual bool Broken() const { return false; }
};

using RunPresenter = Presenter<RunEvent>;
using ProfilePresenter = Presenter<ProfileEvent>;

// Runs `run` (opened) or `profile` to its end and returns that end; an end
// it never told (abandoned, or no thread) is made up here. Its events reach
// `presenter` on this thread, the end last. A stop asked for is a stop,
// even when the run ran its course meanwhile.
EndEvent Drive(Run& run, StopSignals& signals, RunPresenter& presenter);
ProfileEnd Drive(DiskProfile& profile, StopSignals& signals,
                 ProfilePresenter& presenter);

}  // namespace ferrotick::cli
