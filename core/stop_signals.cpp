#include "core/stop_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <iterator>

namespace ferrotick {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kCount = std::size(kStopSignals);

// The handler may only touch what is safe in a signal handler: lock-free
// atomics and write(2).
std::atomic<int> g_writeFd{-1};
std::atomic<int> g_caught{0};
static_assert(std::atomic<int>::is_always_lock_free);
struct sigaction g_previous[kCount];
bool g_installed[kCount] = {};

extern "C" void OnStopSignal(int) {
  const int saved = errno;
  g_caught.fetch_add(1);
  const int fd = g_writeFd.load();
  if (fd >= 0) {
    // A full pipe already holds a byte, which is all a waiter needs.
    const char byte = 's';
    [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
  }
  errno = saved;
}

}  // namespace

StopSignals::StopSignals() {
  if (g_writeFd.load() >= 0) return;
  if (::pipe2(m_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    m_fds[0] = m_fds[1] = -1;
    return;
  }
  g_caught.store(0);
  g_writeFd.store(m_fds[1]);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  ::sigemptyset(&action.sa_mask);
  // Any thread may take the signal; its reads and writes go on.
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kCount; ++i) {
    struct sigaction previous {};
    ::sigaction(kStopSignals[i], nullptr, &previous);
    if (previous.sa_handler == SIG_IGN) continue;
    g_installed[i] = ::sigaction(kStopSignals[i], &action, &g_previous[i]) == 0;
  }
  m_bCatching = true;
}

StopSignals::~StopSignals() {
  Release();
  for (int& fd : m_fds) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

int StopSignals::Count() const { return m_bCatching ? g_caught.load() : 0; }

void StopSignals::Wake() {
  // A full pipe already holds a wake-up, so a failed write loses nothing.
  const char byte = 'w';
  [[maybe_unused]] const ssize_t written = ::write(m_fds[1], &byte, 1);
}

void StopSignals::Wait(int timeoutMs) {
  pollfd entry = {m_fds[0], POLLIN, 0};
  if (::poll(&entry, 1, timeoutMs) > 0) {
    char bytes[256];
    while (::read(m_fds[0], bytes, sizeof bytes) > 0) {
    }
  }
}

void StopSignals::Release() {
  if (!m_bCatching || m_bReleased) return;
  m_bReleased = true;
  for (std::size_t i = 0; i < kCount; ++i) {
    if (g_installed[i]) ::sigaction(kStopSignals[i], &g_previous[i], nullptr);
    g_installed[i] = false;
  }
  g_writeFd.store(-1);
}

}  // namespace ferrotick
