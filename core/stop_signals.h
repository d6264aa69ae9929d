// SIGINT, SIGTERM and SIGHUP (Ctrl-C, a closed terminal or a logout, kill)
// as requests to stop. The handler only counts them and makes a descriptor
// readable, so a front end learns of them on its own thread, in its own
// loop, never at an arbitrary moment.
#pragma once

namespace ferrotick {

class StopSignals {
 public:
  // Catches the signals for its life; one object at a time. Started under
  // nohup, or in the background by a shell, a signal ignored from the
  // start stays ignored.
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // False when the signals could not be caught; they then act as before.
  bool Catching() const { return m_bCatching; }
  // Signals caught since this object was made, and before Release().
  int Count() const;
  // Readable after a signal or a Wake(), until Wait() empties it.
  int Fd() const { return m_fds[0]; }
  // Any thread: ends the current or next Wait().
  void Wake();
  // Until the descriptor is readable, or `timeoutMs` (-1: no limit);
  // then empties it.
  void Wait(int timeoutMs);
  // The signals act as they did before again, so a second one can cut
  // short a stop that hangs.
  void Release();

 private:
  int m_fds[2] = {-1, -1};
  bool m_bCatching = false;
  bool m_bReleased = false;
};

}  // namespace ferrotick
