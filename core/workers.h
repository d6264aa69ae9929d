// The worker threads of one bench state: started by commands on the window
// thread, joined there once they have finished, and all joined when the
// state goes away. A worker given a run's descriptor moves to a private
// descriptor table first; the copy left in the shared table is closed here,
// on the window thread (see private_table.h).
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <thread>
#include <vector>

#include "core/private_table.h"

namespace ferrotick {

// A thread for a run, started with the asynchronous signals (Ctrl-C,
// SIGTERM, SIGHUP...) blocked, so that they reach the thread that waits
// for them rather than a run deep in its transfers. Throws
// std::system_error as std::thread does.
std::thread StartWorkerThread(std::function<void()> body);

class Workers {
 public:
  Workers() = default;
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;
  ~Workers();

  // Called on each worker's thread as its last act, and once it has left
  // the shared table, so that the window thread hears it may reap. Set
  // before any worker starts.
  void SetFinishedHook(std::function<void()> hook);
  // False when the thread could not be started. With `copy`, the thread
  // takes a private table keeping copy's descriptor before `body` runs.
  bool Start(std::function<void()> body,
             std::shared_ptr<SharedCopy> copy = nullptr);
  // Closes the shared copy of `copy` once detached; for a run whose thread
  // is not one of these workers.
  void Track(std::shared_ptr<SharedCopy> copy);
  // Closes the shared copies of detached runs and joins the workers that
  // have finished.
  void Reap();
  void JoinAll();
  std::size_t Running() const;

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  void SettleCopies();

  std::list<Worker> m_workers;
  std::vector<std::shared_ptr<SharedCopy>> m_copies;
  std::function<void()> m_finished;
};

}  // namespace ferrotick
