// The one hand-over of run events from the runs' threads to the thread that
// presents them (the window thread, or the command line's main thread).
// Events queue under a short lock; a run never waits for the presenting
// thread. At most one wake-up is outstanding: the first event after a
// Take() calls it, and the presenting thread takes everything queued.
#pragma once

#include <deque>
#include <functional>
#include <mutex>

#include "core/run_events.h"

namespace ferrotick {

class EventHandover : public EventSink {
 public:
  // `wake` is called on a run's thread, so it must be quick and must not
  // call back into the hand-over (posting to an event loop, or a write
  // to a pipe).
  explicit EventHandover(std::function<void()> wake = {});

  // Before any run hands events over, or to change who is woken.
  void SetWake(std::function<void()> wake);
  void OnEvent(const RunEvent& event) override;
  // The presenting thread: every event handed over so far, in order. A
  // deque: a flood never makes a run copy what it queued, under the lock,
  // to grow the queue.
  std::deque<RunEvent> Take();
  bool Empty() const;
  // Any thread: from now on events are dropped and nobody is woken.
  void Close();

 private:
  mutable std::mutex m_mutex;
  std::deque<RunEvent> m_events;  // guarded by m_mutex
  std::function<void()> m_wake;   // guarded by m_mutex
  bool m_bWoken = false;          // guarded by m_mutex
  bool m_bClosed = false;         // guarded by m_mutex
};

}  // namespace ferrotick
