// A run whose events wait for the thread that presents them to take them,
// as a disk profile's do, so that a front end drives both alike: Start
// with a wake-up, Take, RequestStop or Abandon, WaitEnded.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>

#include "core/event_handover.h"
#include "core/run.h"

namespace ferrotick {

class HandedOverRun {
 public:
  explicit HandedOverRun(Run& run) : m_run(run) {}

  // `wake` is called on the run's thread when events wait, once until the
  // next Take(); it must be quick. Progress between the 128-MB points is
  // handed over at most ten times a second: each may wake the presenting
  // thread, and a wake for every MB cost a cached pass of 128 KB
  // transfers a quarter of its rate.
  bool Start(std::function<void()> wake);
  std::deque<RunEvent> Take() { return m_handover->Take(); }
  void RequestStop() { m_run.RequestStop(); }
  void Abandon() { m_run.Abandon(); }
  // Nothing more is taken, and nobody woken, once this is called.
  bool WaitEnded(std::chrono::milliseconds limit);

 private:
  Run& m_run;
  const std::shared_ptr<EventHandover> m_handover =
      std::make_shared<EventHandover>();
};

}  // namespace ferrotick
