#include "cli/run_driver.h"

#include <cerrno>
#include <chrono>
#include <variant>

#include "core/handed_over_run.h"

namespace ferrotick::cli {

namespace {

constexpr int kIdleMs = 100;
// After giving up on a run: how long its file may take to be let go.
constexpr std::chrono::milliseconds kAbandonWait{1000};

template <class End, class Driven, class Event>
End DriveToEnd(Driven& driven, StopSignals& signals,
               Presenter<Event>& presenter) {
  const auto madeUp = [](Outcome outcome, int error) {
    End end;
    end.outcome = outcome;
    end.error = error;
    return end;
  };
  if (!driven.Start([&signals] { signals.Wake(); })) {
    return madeUp(Outcome::kFailed, EAGAIN);
  }
  bool stopAsked = false;
  for (;;) {
    for (const Event& event : driven.Take()) {
      presenter.OnEvent(event);
      if (const auto* told = std::get_if<End>(&event)) {
        // Told as the thread's last act: the join is at once.
        driven.WaitEnded(kAbandonWait);
        End end = *told;
        // A stop in the last pass, in the fill's final sync, or one that
        // came as the run ended whole.
        if ((stopAsked || signals.Count() > 0) &&
            end.outcome == Outcome::kCompleted) {
          end.outcome = Outcome::kStopped;
        }
        return end;
      }
    }
    if (signals.Count() >= 2 || presenter.Broken()) {
      // A second Ctrl-C, or nobody left to read: end at once, silently.
      driven.Abandon();
      driven.WaitEnded(kAbandonWait);
      return madeUp(Outcome::kAbandoned, 0);
    }
    if (signals.Count() >= 1 && !stopAsked) {
      stopAsked = true;
      driven.RequestStop();
      presenter.OnStop();
    }
    presenter.OnIdle();
    signals.Wait(kIdleMs);
  }
}

}  // namespace

EndEvent Drive(Run& run, StopSignals& signals, RunPresenter& presenter) {
  HandedOverRun handedOver(run);
  return DriveToEnd<EndEvent>(handedOver, signals, presenter);
}

ProfileEnd Drive(DiskProfile& profile, StopSignals& signals,
                 ProfilePresenter& presenter) {
  return DriveToEnd<ProfileEnd>(profile, signals, presenter);
}

}  // namespace ferrotick::cli
