// The runs' clock while a TestClock lives: it stands still unless a test
// moves it (from a KernelSeam's callbacks, say, so time goes with data).
#pragma once

#include <atomic>
#include <cmath>

#include "core/timing.h"

namespace ferrotick::testing {

class TestClock {
 public:
  TestClock() {
    s_now.store(0);
    SetClockForTest(&Now);
  }
  ~TestClock() { SetClockForTest(nullptr); }
  TestClock(const TestClock&) = delete;
  TestClock& operator=(const TestClock&) = delete;
  static void Advance(double seconds) {
    s_now.fetch_add(std::llround(seconds * 1e9));
  }

 private:
  static ClockValue Now() { return s_now.load(); }
  static inline std::atomic<ClockValue> s_now{0};
};

}  // namespace ferrotick::testing
