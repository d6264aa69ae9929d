// Ctrl-C, SIGTERM and SIGHUP (a closed terminal, a logout, kill) stop a run
// the way the window's controls do; a second one abandons it. The main
// thread waits on one pipe that the handlers and the runs' events write to.
#pragma once

namespace ferrotick::cli {

class StopSignals {
 public:
  StopSignals();   // installs the handlers for this object's life
  ~StopSignals();  // restores what was there before
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Stop signals received since this object was made.
  int Count() const;
  // Any thread, and the handlers: ends the current or next Wait().
  void Wake();
  // Until a wake-up, a signal or `timeoutMs` (-1: no limit).
  void Wait(int timeoutMs);

 private:
  int m_fds[2] = {-1, -1};
};

}  // namespace ferrotick::cli
