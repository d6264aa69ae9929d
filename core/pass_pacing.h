// Pacing of the write and read passes. A pass over a small file in the page
// cache takes well under a millisecond; back to back, such passes would add
// thousands of log lines a second. A pass quicker than the run's minimum
// period is followed by a pause for the rest of it, outside the timed pass,
// so its rate is unchanged.
#pragma once

#include <chrono>

namespace ferrotick {

// The window's runs: at most about 50 pass lines a second from one run.
inline constexpr std::chrono::milliseconds kMinPassPeriod{20};

class PassPacing {
 public:
  using Clock = std::chrono::steady_clock;

  // A period of zero makes no pauses. The first pass begins now.
  explicit PassPacing(std::chrono::milliseconds period)
      : m_period(period), m_passStart(Clock::now()) {}

  bool Pauses() const { return m_period.count() > 0; }
  // After a pass: when the next one may begin.
  Clock::time_point NextPassAt() const { return m_passStart + m_period; }
  // As the next pass begins.
  void PassBegins() { m_passStart = Clock::now(); }

 private:
  const std::chrono::milliseconds m_period;
  Clock::time_point m_passStart;
};

}  // namespace ferrotick
