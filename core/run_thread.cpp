#include "core/run_thread.h"

#include <pthread.h>
#include <signal.h>

#include <system_error>
#include <utility>

namespace ferrotick {

namespace {

// Blocks the asynchronous signals on the calling thread for its life; a
// thread started meanwhile keeps that mask, so Ctrl-C, SIGTERM and SIGHUP
// reach the thread that waits for them, not a run deep in its transfers.
class AsyncSignalsBlocked {
 public:
  AsyncSignalsBlocked() {
    sigset_t blocked;
    ::sigfillset(&blocked);
    // Faults are raised on the thread that causes them and stay deliverable.
    for (int fault :
         {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT}) {
      ::sigdelset(&blocked, fault);
    }
    ::pthread_sigmask(SIG_BLOCK, &blocked, &m_previous);
  }
  ~AsyncSignalsBlocked() {
    ::pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
  }
  AsyncSignalsBlocked(const AsyncSignalsBlocked&) = delete;
  AsyncSignalsBlocked& operator=(const AsyncSignalsBlocked&) = delete;

 private:
  sigset_t m_previous;
};

}  // namespace

RunThread::~RunThread() {
  if (!m_thread.joinable()) return;
  if (m_state->Ended()) {
    m_thread.join();
  } else {
    m_state->Abandon();
    m_thread.detach();
  }
}

bool RunThread::Start(std::shared_ptr<RunState> state,
                      std::function<void()> body) {
  m_state = std::move(state);
  try {
    const AsyncSignalsBlocked blocked;
    m_thread =
        std::thread([keep = m_state, body = std::move(body)] { body(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

bool RunThread::WaitEnded(std::chrono::milliseconds limit) {
  if (!m_state) return false;
  const bool ended = m_state->WaitEnded(limit);
  if (ended && m_thread.joinable()) m_thread.join();
  return ended;
}

}  // namespace ferrotick
