#include "cli/run_driver.h"

#include <cerrno>
#include <chrono>
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

EndEvent MadeUpEnd(const Run& run, Outcome outcome, int error) {
  EndEvent end;
  end.kind = run.Description().kind;
  end.outcome = outcome;
  end.error = error;
  end.path = run.Description().path;
  end.run = run.Id();
  return end;
}

}  // namespace

EndEvent DriveRun(Run& run, StopSignals& signals, RunPresenter& presenter) {
  auto handover =
      std::make_shared<EventHandover>([&signals] { signals.Wake(); });
  if (!run.Start(std::make_shared<ShownEvents>(handover)))
    return MadeUpEnd(run, Outcome::kFailed, EAGAIN);
  bool stopAsked = false;
  for (;;) {
    for (const RunEvent& event : handover->Take()) {
      presenter.OnEvent(event);
      if (const auto* end = std::get_if<EndEvent>(&event)) {
        // Told as the thread's last act: the join is at once.
        handover->Close();
        run.WaitEnded(kAbandonWait);
        EndEvent told = *end;
        // A stop asked for is a stop, even when the run ran its course
        // meanwhile (a stop in the last pass, in the fill's final sync).
        if (stopAsked && told.outcome == Outcome::kCompleted) {
          told.outcome = Outcome::kStopped;
        }
        return told;
      }
    }
    if (signals.Count() >= 2 || presenter.Broken()) {
      // A second Ctrl-C, or nobody left to read: end at once, silently.
      run.Abandon();
      handover->Close();
      run.WaitEnded(kAbandonWait);
      return MadeUpEnd(run, Outcome::kAbandoned, 0);
    }
    if (signals.Count() >= 1 && !stopAsked) {
      stopAsked = true;
      run.RequestStop();
      presenter.OnStop();
    }
    presenter.OnIdle();
    if (handover->Empty()) signals.Wait(kIdleMs);
  }
}

}  // namespace ferrotick::cli
