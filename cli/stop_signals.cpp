#include "cli/stop_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <iterator>

namespace ferrotick::cli {

namespace {

std::atomic<int> g_count{0};
std::atomic<int> g_wakeFd{-1};
static_assert(std::atomic<int>::is_always_lock_free,
              "the signal handler needs lock-free atomics");

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[std::size(kSignals)];

void OnStopSignal(int) {
  const int saved = errno;
  g_count.fetch_add(1);
  const int fd = g_wakeFd.load();
  if (fd >= 0) {
    const char byte = 's';
    [[maybe_unused]] const ssize_t ignored = ::write(fd, &byte, 1);
  }
  errno = saved;
}

}  // namespace

StopSignals::StopSignals() {
  if (::pipe2(m_fds, O_CLOEXEC | O_NONBLOCK) != 0) m_fds[0] = m_fds[1] = -1;
  g_count.store(0);
  g_wakeFd.store(m_fds[1]);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  // A write to a stalled output goes on after the handler; the wait
  // returns early all the same.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    ::sigaction(kSignals[i], &action, &g_previous[i]);
  }
}

StopSignals::~StopSignals() {
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    ::sigaction(kSignals[i], &g_previous[i], nullptr);
  }
  g_wakeFd.store(-1);
  for (int fd : m_fds) {
    if (fd >= 0) ::close(fd);
  }
}

int StopSignals::Count() const { return g_count.load(); }

void StopSignals::Wake() {
  // A full pipe already holds a wake-up, so a failed write loses nothing.
  const char byte = 'w';
  [[maybe_unused]] const ssize_t ignored = ::write(m_fds[1], &byte, 1);
}

void StopSignals::Wait(int timeoutMs) {
  pollfd entry{m_fds[0], POLLIN, 0};
  if (::poll(&entry, 1, timeoutMs) > 0) {
    char bytes[256];
    while (::read(m_fds[0], bytes, sizeof bytes) > 0) {
    }
  }
}

}  // namespace ferrotick::cli
