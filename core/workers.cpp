#include "core/workers.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <system_error>
#include <utility>

namespace ferrotick {

namespace {

// Blocks the asynchronous signals on the calling thread for its life; a
// thread started meanwhile keeps that mask.
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

std::thread StartWorkerThread(std::function<void()> body) {
  const AsyncSignalsBlocked blocked;
  return std::thread(std::move(body));
}

Workers::~Workers() { JoinAll(); }

bool Workers::Start(std::function<void()> body,
                    std::shared_ptr<SharedCopy> copy) {
  Reap();
  auto done = std::make_shared<std::atomic<bool>>(false);
  try {
    std::thread thread = StartWorkerThread(
        [body = std::move(body), done, copy, hook = m_finished] {
          const PrivateTableScope table(copy.get());
          // The window thread may close the shared table's copy now, well
          // before the run's own close, which is then the file's last.
          if (copy && copy->Detached() && hook) hook();
          body();
          if (copy) copy->Release();
          done->store(true, std::memory_order_release);
          if (hook) hook();
        });
    m_workers.push_back(Worker{std::move(thread), std::move(done)});
  } catch (const std::system_error&) {
    return false;
  }
  if (copy) m_copies.push_back(std::move(copy));
  return true;
}

void Workers::Track(std::shared_ptr<SharedCopy> copy) {
  m_copies.push_back(std::move(copy));
}

void Workers::SettleCopies() {
  std::erase_if(m_copies, [](const std::shared_ptr<SharedCopy>& copy) {
    return copy->Settle();
  });
}

void Workers::SetFinishedHook(std::function<void()> hook) {
  m_finished = std::move(hook);
}

void Workers::Reap() {
  SettleCopies();
  for (auto it = m_workers.begin(); it != m_workers.end();) {
    if (it->done->load(std::memory_order_acquire)) {
      it->thread.join();
      it = m_workers.erase(it);
    } else {
      ++it;
    }
  }
}

void Workers::JoinAll() {
  for (Worker& worker : m_workers) worker.thread.join();
  m_workers.clear();
  // Every run of these threads has ended: what is left is settled or was
  // never released by a run that is not one of them.
  SettleCopies();
  m_copies.clear();
}

std::size_t Workers::Running() const {
  std::size_t running = 0;
  for (const Worker& worker : m_workers) {
    if (!worker.done->load(std::memory_order_acquire)) ++running;
  }
  return running;
}

}  // namespace ferrotick
