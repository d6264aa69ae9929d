#include "cli/stop_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstddef>
#include <initializer_list>

namespace ferrotick::cli {

namespace {

// Started under nohup, or in the background by a shell: a signal ignored
// from the start stays ignored.
sigset_t StopSet() {
  sigset_t set;
  ::sigemptyset(&set);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) == 0 &&
        current.sa_handler == SIG_IGN) {
      continue;
    }
    ::sigaddset(&set, signal);
  }
  return set;
}

}  // namespace

StopSignals::StopSignals() {
  // Blocked before any thread starts, so every thread keeps them blocked
  // and they wait in the signalfd until the main thread reads them.
  const sigset_t set = StopSet();
  ::pthread_sigmask(SIG_BLOCK, &set, &m_previousMask);
  m_signalFd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  if (::pipe2(m_wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    m_wakeFds[0] = m_wakeFds[1] = -1;
  }
}

StopSignals::~StopSignals() {
  // A signal that came after the last look is dropped here, not delivered
  // with its default action once unblocked: the run has already ended.
  TakeSignals();
  ::pthread_sigmask(SIG_SETMASK, &m_previousMask, nullptr);
  for (int fd : {m_signalFd, m_wakeFds[0], m_wakeFds[1]}) {
    if (fd >= 0) ::close(fd);
  }
}

void StopSignals::TakeSignals() {
  if (m_signalFd < 0) return;
  signalfd_siginfo info[4];
  ssize_t n;
  while ((n = ::read(m_signalFd, info, sizeof info)) > 0) {
    m_count += static_cast<int>(static_cast<std::size_t>(n) / sizeof info[0]);
  }
}

int StopSignals::Count() {
  TakeSignals();
  return m_count;
}

void StopSignals::Wake() {
  // A full pipe already holds a wake-up, so a failed write loses nothing.
  const char byte = 'w';
  [[maybe_unused]] const ssize_t ignored = ::write(m_wakeFds[1], &byte, 1);
}

void StopSignals::Wait(int timeoutMs) {
  pollfd entries[2] = {{m_signalFd, POLLIN, 0}, {m_wakeFds[0], POLLIN, 0}};
  if (::poll(entries, 2, timeoutMs) > 0 && entries[1].revents != 0) {
    char bytes[256];
    while (::read(m_wakeFds[0], bytes, sizeof bytes) > 0) {
    }
  }
}

}  // namespace ferrotick::cli
