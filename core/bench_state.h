// The state the window's commands share: the settings, the path, the runs
// going, and the hand-over that brings their events to the window thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/bench_view.h"
#include "core/event_handover.h"
#include "core/message_log.h"
#include "core/pass_pacing.h"
#include "core/run.h"

namespace ferrotick {

class CReader;

// Text that the window thread rewrites while runs read it.
class SharedText {
 public:
  std::string Get() const;
  void Set(std::string text);

 private:
  mutable std::mutex m_mutex;
  std::string m_text;
};

// What the runs' threads may still read after the window has gone.
struct BenchShared {
  SharedText path;
  std::atomic<int> fileSizeMB{0};
  EventHandover events;
  // Told every event on its run's thread before the hand-over; set before
  // any run starts (a test's independent record of the runs).
  std::shared_ptr<EventSink> tap;
};

struct BenchState {
  BenchState(BenchView& view, MessageLog& log);
  ~BenchState();  // Shutdown()
  BenchState(const BenchState&) = delete;
  BenchState& operator=(const BenchState&) = delete;

 private:
  std::shared_ptr<BenchShared> m_pShared;

 public:
  SharedText& m_strPath;
  // The Write toggle's state: a writer was started and not stopped since.
  std::atomic<bool> m_bWriting{false};
  std::unique_ptr<CReader> m_pReader;
  std::atomic<int>& m_nFileSizeMB;  // read afresh by the running runs
  std::atomic<int> m_nBufferKB{0};  // taken by each run as it starts

  BenchView& m_view;
  MessageLog& m_log;
  RunOptions m_options;  // the window's: paced passes, nothing else

  // Fills and writers, from their start until their end is handled.
  std::vector<std::unique_ptr<Run>> m_runs;
  Run* m_pWriter = nullptr;  // the latest writer, while in m_runs

  // Called on a run's thread when events wait for HandleEvents(); set
  // before any run starts. A window posts a call of HandleEvents().
  void SetWakeup(std::function<void()> wakeup);
  // Window thread: the runs' events into the log (and EnableTests after a
  // good fill), in order; ended runs are joined. Works for at most
  // `budget`, so that a flood never holds the window; true when events are
  // left, for a later call (no wake-up comes for them meanwhile).
  bool HandleEvents(std::chrono::microseconds budget = std::chrono::hours(1));
  // A run of `kind` on the current path and settings.
  RunDescription Describe(RunKind kind) const;
  // Where the runs of this state send their events.
  std::shared_ptr<EventSink> Sink();
  // Before any run starts: every event is told to `tap` as well.
  void SetTap(std::shared_ptr<EventSink> tap) {
    m_pShared->tap = std::move(tap);
  }
  // True while a run of this state is going.
  bool Busy() const;
  // True while events wait for HandleEvents().
  bool EventsWaiting() const {
    return !m_taken.empty() || !m_pShared->events.Empty();
  }

  // Ends every run: they are told to end silently, waited for at most
  // kEndWaitMs together, and what is still in the kernel by then is left
  // behind, never to tell anything. Returns how many were left. Nothing is
  // logged.
  std::size_t Shutdown();
  static constexpr int kEndWaitMs = 1000;

 private:
  class WindowSink;
  void Apply(const RunEvent& event);

  std::shared_ptr<WindowSink> m_pSink;
  // Taken from the hand-over, not yet applied; let go of as they are.
  std::deque<RunEvent> m_taken;
  LineBatch m_batch;
};

}  // namespace ferrotick
