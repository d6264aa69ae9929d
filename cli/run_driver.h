// Drives a run from the command line's main thread: starts it, hands its
// events to a presenter as they come, asks it to stop at the first stop
// signal, and gives up on it at the second or when nothing can be printed.
// A single run and the disk profile are driven alike; a run's lines are
// presented alike.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "cli/output.h"
#include "core/stop_signals.h"
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

// A run's lines on standard output, and on a terminal a live line from its
// latest progress, cleared before each line.
class LinePresenter : public RunPresenter {
 public:
  LinePresenter(Output& out, bool progress)
      : m_out(out), m_progress(progress) {}

  void Line(std::string_view line) {
    m_progress.Clear();
    m_out.Line(line);
  }
  void OnEvent(const RunEvent& event) override {
    if (const auto* progress = std::get_if<ProgressEvent>(&event)) {
      m_latest = *progress;
    }
  }
  void OnIdle() override {
    m_out.Flush();
    if (!m_latest || !m_progress.Due()) return;
    if (const std::optional<std::string> text = ProgressText(*m_latest)) {
      m_progress.Show(*text);
    }
  }
  bool Broken() const override { return m_out.Broken(); }
  void ClearProgress() { m_progress.Clear(); }

 protected:
  // The live line for the latest progress, if any.
  virtual std::optional<std::string> ProgressText(
      const ProgressEvent& latest) = 0;

  Output& m_out;
  std::optional<ProgressEvent> m_latest;

 private:
  ProgressLine m_progress;
};

// Runs `run` (opened) or `profile` to its end and returns that end; an end
// it never told (abandoned, or no thread) is made up here. Its events reach
// `presenter` on this thread, the end last. A stop signal before the end
// is taken is a stop, even when the run ran its course meanwhile.
EndEvent Drive(Run& run, StopSignals& signals, RunPresenter& presenter);
ProfileEnd Drive(DiskProfile& profile, StopSignals& signals,
                 ProfilePresenter& presenter);

}  // namespace ferrotick::cli
