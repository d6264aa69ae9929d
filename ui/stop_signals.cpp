#include "ui/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <iterator>

namespace ferrotick::ui {
namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGHUP, SIGINT};
constexpr std::size_t kCount = std::size(kStopSignals);

// The handler may only touch what is safe in a signal handler: a
// lock-free atomic and write(2).
std::atomic<int> g_writeFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);
struct sigaction g_previous[kCount];
bool g_installed[kCount] = {};

extern "C" void OnStopSignal(int signal) {
  const int saved = errno;
  const int fd = g_writeFd.load();
  if (fd >= 0) {
    const auto byte = static_cast<unsigned char>(signal);
    // A full pipe already holds a byte, which is all the window needs.
    [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
  }
  errno = saved;
}

}  // namespace

CStopSignals::CStopSignals(QObject* parent) : QObject(parent) {
  if (g_writeFd.load() >= 0) return;
  if (::pipe2(m_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    m_fds[0] = m_fds[1] = -1;
    return;
  }
  // Any thread may take the signal; Qt's own threads do not block it. The
  // window thread learns of it from the pipe, in its own event loop.
  m_pNotifier =
      std::make_unique<QSocketNotifier>(m_fds[0], QSocketNotifier::Read);
  connect(m_pNotifier.get(), &QSocketNotifier::activated, this,
          &CStopSignals::OnReadable);
  g_writeFd.store(m_fds[1]);

  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  ::sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kCount; ++i) {
    struct sigaction previous {};
    ::sigaction(kStopSignals[i], nullptr, &previous);
    // Started under nohup, or in the background by a shell: a signal
    // ignored from the start stays ignored.
    if (previous.sa_handler == SIG_IGN) continue;
    g_installed[i] = ::sigaction(kStopSignals[i], &action, &g_previous[i]) == 0;
  }
  m_bCatching = true;
}

CStopSignals::~CStopSignals() {
  Restore();
  m_pNotifier.reset();
  for (int& fd : m_fds) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

void CStopSignals::Restore() {
  if (!m_bCatching) return;
  m_bCatching = false;
  for (std::size_t i = 0; i < kCount; ++i) {
    if (g_installed[i]) ::sigaction(kStopSignals[i], &g_previous[i], nullptr);
    g_installed[i] = false;
  }
  g_writeFd.store(-1);
}

void CStopSignals::OnReadable() {
  unsigned char bytes[64];
  ssize_t n = 0;
  int first = 0;
  while ((n = ::read(m_fds[0], bytes, sizeof(bytes))) > 0) {
    if (first == 0) first = bytes[0];
  }
  if (first == 0 || !m_bCatching) return;
  Restore();
  m_pNotifier->setEnabled(false);
  emit StopRequested(first);
}

}  // namespace ferrotick::ui
