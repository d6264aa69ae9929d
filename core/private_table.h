// A run's thread may leave the process's shared descriptor table for a
// private copy. The kernel then takes no file reference on each transfer,
// which at small buffers is a few percent of the rate being measured.
//
// The copy holds every descriptor the process had at that moment. The run
// keeps only 0-2, its own file, and what it may need to wake the window
// thread (eventfds, and pipes whose two ends the process holds); it closes
// the rest, which it would otherwise hold open: another file's lock, the
// write end of a pipe whose reader waits for its end.
//
// The run's descriptor is still in the shared table too. Only a thread of
// that table can close it, and only once the run has its private copy:
// the run marks its SharedCopy detached, and the window thread closes it
// when it next reaps, without ever waiting for the run.
#pragma once

#include <atomic>

namespace ferrotick {

class SharedCopy {
 public:
  explicit SharedCopy(int fd) : m_fd(fd) {}
  SharedCopy(const SharedCopy&) = delete;
  SharedCopy& operator=(const SharedCopy&) = delete;

  int Descriptor() const { return m_fd; }
  // The run's thread, once it has its private copy: the shared copy is no
  // longer its to use or close.
  void Detach();
  // The run's thread at its end: the run closed the descriptor itself
  // unless it had detached.
  void Release();
  // Window thread: closes the shared copy of a detached run. True once
  // nothing is left to do.
  bool Settle();
  bool Detached() const;

 private:
  enum State { kAttached, kDetached, kReleased, kClosed };
  const int m_fd;
  std::atomic<int> m_state{kAttached};
};

// The run's thread, before it transfers anything: moves the thread to a
// private descriptor table as above, keeping `fd`. False, with nothing
// changed, when that cannot be done (no /proc, or unshare refused).
bool TakePrivateTable(int fd);

// The whole life of a run's thread, from its first act to its last: takes
// a private table keeping copy's descriptor and detaches the copy; at the
// end closes what is left in the table. A thread's join returns before the
// kernel has dropped the thread's table, so without that the table's
// descriptors, and the thread itself, would outlive the join.
class PrivateTableScope {
 public:
  explicit PrivateTableScope(SharedCopy* copy);
  ~PrivateTableScope();
  PrivateTableScope(const PrivateTableScope&) = delete;
  PrivateTableScope& operator=(const PrivateTableScope&) = delete;

 private:
  bool m_bTaken = false;
};

// Lets a test run with the shared table only.
void SetPrivateTablesForTest(bool enabled);

}  // namespace ferrotick
