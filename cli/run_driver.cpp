#include "cli/run_driver.h"

#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <utility>
#include <variant>

#include "core/event_handover.h"

namespace ferrotick::cli {

namespace {

constexpr int kIdleMs = 100;
// After giving up on a run: how long its file may take to be let go.
constexpr std::chrono::milliseconds kAbandonWait{1000};

// Between the 128-MB points, progress is for a live line: ten a second are
// plenty. Each event handed over may wake the presenting thread, and a wake
// for every MB cost a cached pass of 128 KB transfers a quarter of its rate.
constexpr double kProgressSpacingSeconds = 0.1;

// On the run's thread: hands over every event but the progress a live line
// cannot show.
class ShownEvents : public EventSink {
 public:
  explicit ShownEvents(std::shared_ptr<EventHandover> handover)
      : m_handover(std::move(handover)) {}

  void OnEvent(const RunEvent& event) override {
    if (const auto* progress = std::get_if<ProgressEvent>(&event);
        progress && !progress->point) {
      if (progress->pass == m_pass &&
          progress->seconds - m_shownAt < kProgressSpacingSeconds) {
        return;
      }
      m_pass = progress->pass;
      m_shownAt = progress->seconds;
    }
    m_handover->OnEvent(event);
  }

 private:
  const std::shared_ptr<EventHandover> m_handover;
  int m_pass = 0;
  double m_shownAt = 0;
};

// A run with its events taken from a hand-over, as a profile's are taken
// from the profile.
class HandedOverRun {
 public:
  explicit HandedOverRun(Run& run) : m_run(run) {}

  bool Start(std::function<void()> wake) {
    m_handover->SetWake(std::move(wake));
    return m_run.Start(std::make_shared<ShownEvents>(m_handover));
  }
  std::deque<RunEvent> Take() { return m_handover->Take(); }
  void RequestStop() { m_run.RequestStop(); }
  void Abandon() { m_run.Abandon(); }
  bool WaitEnded(std::chrono::milliseconds limit) {
    // Nothing more is taken, and nobody woken once this returns.
    m_handover->Close();
    return m_run.WaitEnded(limit);
  }

 private:
  Run& m_run;
  const std::shared_ptr<EventHandover> m_handover =
      std::make_shared<EventHandover>();
};

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
