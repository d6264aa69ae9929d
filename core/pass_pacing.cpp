#include "core/pass_pacing.h"

namespace ferrotick {

bool PassPauses::WaitUntil(std::chrono::steady_clock::time_point until,
                           const std::function<bool()>& stopped) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_cv.wait_until(lock, until, stopped);
}

void PassPauses::Wake() {
  // Taking the lock orders the caller's stop flag before any waiter's next
  // test of it: a waiter either sees the flag or is waiting and is woken.
  { std::lock_guard<std::mutex> lock(m_mutex); }
  m_cv.notify_all();
}

PassPacing::PassPacing(PassPauses& pauses, std::chrono::milliseconds period)
    : m_pauses(pauses),
      m_period(period),
      m_passStart(std::chrono::steady_clock::now()) {}

void PassPacing::AfterPass(const std::function<bool()>& stopped) {
  if (m_period.count() > 0) {
    const auto until = m_passStart + m_period;
    if (std::chrono::steady_clock::now() < until) {
      m_pauses.WaitUntil(until, stopped);
    }
  }
  m_passStart = std::chrono::steady_clock::now();
}

}  // namespace ferrotick
