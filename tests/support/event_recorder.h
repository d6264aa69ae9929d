// A run's events as a test sees them: kept in order, with waits for them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <variant>
#include <vector>

#include "core/run_events.h"

namespace ferrotick::testing {

class EventRecorder : public EventSink {
 public:
  void OnEvent(const RunEvent& event) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back(event);
    m_cv.notify_all();
  }
  std::vector<RunEvent> Events() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
  }
  template <class T>
  std::vector<T> All() const {
    std::vector<T> found;
    for (const RunEvent& event : Events()) {
      if (const T* one = std::get_if<T>(&event)) found.push_back(*one);
    }
    return found;
  }
  // Waits until `done(events)` holds, for up to a generous deadline.
  bool WaitFor(const std::function<bool(const std::vector<RunEvent>&)>& done,
               std::chrono::seconds limit = std::chrono::seconds(60)) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, limit, [&] { return done(m_events); });
  }
  bool WaitForEnd() const {
    return WaitFor([](const std::vector<RunEvent>& events) {
      return !events.empty() && std::holds_alternative<EndEvent>(events.back());
    });
  }
  EndEvent End() const { return All<EndEvent>().at(0); }

 private:
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_cv;
  std::vector<RunEvent> m_events;
};

}  // namespace ferrotick::testing
