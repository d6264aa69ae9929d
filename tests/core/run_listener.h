// A run listener for tests: records passes, and can hold a run at its
// first progress report until the test lets it go.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "core/bench_state.h"

namespace ferrotick::testing {

class TestListener : public RunListener {
 public:
  void OnPass(const PassRecord& record) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    passes.push_back(record);
  }
  void OnProgress(const char*, std::uint64_t, double) override {
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
