// Checks the command tests share: a log's lines against a list of
// formats, and a process left with the threads and descriptors it had.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fake_view.h"

namespace ferrotick::testing {

// As many lines as formats, each matching its own (see MatchesFormat); a
// failure names the first line that does not and shows them all.
inline ::testing::AssertionResult LinesMatch(
    const std::vector<std::string>& lines,
    const std::vector<std::string>& formats) {
  std::size_t wrong = 0;
  while (wrong < lines.size() && wrong < formats.size() &&
         MatchesFormat(lines[wrong], formats[wrong])) {
    ++wrong;
  }
  if (wrong == lines.size() && wrong == formats.size()) {
    return ::testing::AssertionSuccess();
  }
  auto failure = ::testing::AssertionFailure();
  failure << "line " << wrong << " of " << lines.size() << " is not \""
          << (wrong < formats.size() ? formats[wrong] : "(none)")
          << "\"; the lines:";
  for (const auto& line : lines) failure << "\n  " << line;
  return failure;
}

// The process's threads and descriptors when made, to compare with later.
class Baseline {
 public:
  // Polls up to `wait` (an abandoned run ends in its own time) for both to
  // be back as they were.
  ::testing::AssertionResult Restored(
      std::chrono::milliseconds wait = std::chrono::milliseconds(0)) const {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while ((ThreadCount() != m_threads || OpenDescriptors() != m_fds) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const int threads = ThreadCount();
    const std::vector<std::string> fds = OpenDescriptors();
    if (threads == m_threads && fds == m_fds) {
      return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << threads << " threads for " << m_threads << " before, "
           << fds.size() << " descriptors for " << m_fds.size();
  }

 private:
  std::vector<std::string> m_fds = OpenDescriptors();
  int m_threads = ThreadCount();
};

}  // namespace ferrotick::testing
