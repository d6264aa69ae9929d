// Ctrl-C, SIGTERM and SIGHUP (a closed terminal, a logout, kill) stop a run
// the way the window's controls do; a second one abandons it. They are
// blocked and read from a signalfd, so no handler runs at an arbitrary
// moment; the main thread waits on it and on one pipe the runs' events
// write to.
#pragma once

#include <signal.h>

namespace ferrotick::cli {

class StopSignals {
 public:
  StopSignals();   // blocks the signals on the calling thread for its life
  ~StopSignals();  // restores the mask, dropping what is still pending
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Stop signals received since this object was made.
  int Count();
  // Any thread: ends the current or next Wait().
  void Wake();
  // Until a wake-up, a signal or `timeoutMs` (-1: no limit).
  void Wait(int timeoutMs);

 private:
  void TakeSignals();

  int m_signalFd = -1;
  int m_wakeFds[2] = {-1, -1};
  int m_count = 0;
  sigset_t m_previousMask{};
};

}  // namespace ferrotick::cli
