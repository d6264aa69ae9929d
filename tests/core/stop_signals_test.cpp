// Stop signals as the front ends see them: counted, waking a waiter, and
// given back as they were on release.
#include "core/stop_signals.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>

#include <chrono>
#include <thread>

namespace ferrotick {
namespace {

// Long enough that a wait that ends early was ended by what it waits for.
constexpr int kLongMs = 20000;

TEST(StopSignals, CountsAndWakesAndGivesTheSignalsBack) {
  struct sigaction before {};
  ASSERT_EQ(::sigaction(SIGHUP, nullptr, &before), 0);
  if (before.sa_handler == SIG_IGN) GTEST_SKIP() << "SIGHUP ignored";
  {
    StopSignals signals;
    ASSERT_TRUE(signals.Catching());
    // Only one catches at a time.
    EXPECT_FALSE(StopSignals().Catching());
    EXPECT_EQ(signals.Count(), 0);

    // A wake-up from another thread ends a wait with no limit.
    std::thread waker([&signals] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      signals.Wake();
    });
    const auto start = std::chrono::steady_clock::now();
    signals.Wait(kLongMs);
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(kLongMs / 2));
    waker.join();

    ASSERT_EQ(::raise(SIGHUP), 0);
    ASSERT_EQ(::raise(SIGTERM), 0);
    EXPECT_EQ(signals.Count(), 2);
    // The signals left the descriptor readable, and the wait empties it.
    signals.Wait(0);
    pollfd entry = {signals.Fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&entry, 1, 0), 0);

    signals.Release();
    struct sigaction after {};
    ASSERT_EQ(::sigaction(SIGHUP, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
  }
  // A new one catches again, and counts from nothing.
  StopSignals again;
  EXPECT_TRUE(again.Catching());
  EXPECT_EQ(again.Count(), 0);
}

}  // namespace
}  // namespace ferrotick
