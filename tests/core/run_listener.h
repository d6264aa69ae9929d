// A run listener for tests: records passes, and can hold a run at its
// first progress report until the test lets it go. A clock the tests drive.
#pragma once

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "core/bench_state.h"
#include "core/timing.h"

namespace ferrotick::testing {

// The runs' clock while it lives: it stands still unless a test moves it.
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

class TestListener : public RunListener {
 public:
  void OnPass(const PassRecord& record) override {
    if (onPass) onPass(record);
    std::lock_guard<std::mutex> lock(m_mutex);
    passes.push_back(record);
  }
  void OnProgress(const char* run, std::uint64_t bytes, double) override {
    // Once per MB of a run, on its thread: where a test moves the clock.
    if (onProgress) onProgress(run, bytes);
    Note();
    std::unique_lock<std::mutex> lock(m_mutex);
    ++progressCalls;
    if (m_hold && !m_held) {
      m_held = true;
      m_cv.notify_all();
      m_cv.wait(lock, [this] { return !m_hold; });
    }
  }
  // The next progress report waits until Release().
  void Hold() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hold = true;
    m_held = false;
  }
  void WaitHeld() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait(lock, [this] { return m_held; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hold = false;
    m_cv.notify_all();
  }
  std::vector<PassRecord> Passes() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return passes;
  }
  // True when two threads ever reported progress at the same time, as
  // seen from the order of their reports.
  bool Overlapped() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (std::size_t a = 0; a < m_spans.size(); ++a) {
      for (std::size_t b = a + 1; b < m_spans.size(); ++b) {
        if (m_spans[a].first < m_spans[b].second &&
            m_spans[b].first < m_spans[a].second) {
          return true;
        }
      }
    }
    return false;
  }

  std::atomic<int> progressCalls{0};
  std::vector<PassRecord> passes;
  // Set before the run starts; called on the run's thread.
  std::function<void(const char* run, std::uint64_t bytes)> onProgress;
  std::function<void(const PassRecord&)> onPass;

 private:
  // Each thread's first and last report, by a global sequence number.
  void Note() {
    thread_local int run = -1;
    std::lock_guard<std::mutex> lock(m_mutex);
    const long sequence = m_sequence++;
    if (run < 0) {
      run = static_cast<int>(m_spans.size());
      m_spans.push_back({sequence, sequence});
    }
    m_spans[run].second = sequence;
  }

  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_hold = false;
  bool m_held = false;
  long m_sequence = 0;
  std::vector<std::pair<long, long>> m_spans;
};

}  // namespace ferrotick::testing
