#include "core/event_handover.h"

#include <utility>

namespace ferrotick {

EventHandover::EventHandover(std::function<void()> wake)
    : m_wake(std::move(wake)) {}

void EventHandover::SetWake(std::function<void()> wake) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_bClosed) m_wake = std::move(wake);
}

void EventHandover::OnEvent(const RunEvent& event) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_bClosed) return;
  m_events.push_back(event);
  // Called under the lock, so Close() never returns while a wake-up is
  // under way; a wake-up only posts, so this is short.
  if (!m_bWoken && m_wake) {
    m_bWoken = true;
    m_wake();
  }
}

std::deque<RunEvent> EventHandover::Take() {
  std::deque<RunEvent> events;
  std::lock_guard<std::mutex> lock(m_mutex);
  events.swap(m_events);
  m_bWoken = false;
  return events;
}

bool EventHandover::Empty() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_events.empty();
}

void EventHandover::Close() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bClosed = true;
  m_events.clear();
  m_wake = nullptr;
}

}  // namespace ferrotick
