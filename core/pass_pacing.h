// Pacing of the passes of the write and read runs. A pass over a small file
// in the page cache takes well under a millisecond; back to back, such
// passes would add thousands of log lines a second. A pass that took less
// than the run's minimum period is followed by a pause for the rest of it,
// outside the timed pass, so its rate is unchanged.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace ferrotick {

// At most about 50 pass lines a second from one run.
inline constexpr std::chrono::milliseconds kMinPassPeriod{20};

// Where the runs of one bench state pause. Whoever raises a stop flag calls
// Wake() after it, so that a stop or the program's end never waits for a
// pause to run out.
class PassPauses {
 public:
  // Waits until `until`, or until `stopped()` holds; true when stopped.
  bool WaitUntil(std::chrono::steady_clock::time_point until,
                 const std::function<bool()>& stopped);
  // Any thread.
  void Wake();

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
};

// The pacing of one run; a period of zero makes no pauses.
class PassPacing {
 public:
  PassPacing(PassPauses& pauses, std::chrono::milliseconds period);
  // After each pass: pauses for what is left of the period since the pass
  // began, unless `stopped()` holds or comes to hold. The next pass begins
  // when this returns.
  void AfterPass(const std::function<bool()>& stopped);

 private:
  PassPauses& m_pauses;
  const std::chrono::milliseconds m_period;
  std::chrono::steady_clock::time_point m_passStart;
};

}  // namespace ferrotick
