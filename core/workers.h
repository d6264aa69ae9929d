// The worker threads of one bench state: started by commands on the window
// thread, joined there once they have finished, and all joined when the
// state goes away.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <thread>

namespace ferrotick {

class Workers {
 public:
  Workers() = default;
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;
  ~Workers();

  // Called on each worker's thread as its last act, so that the window
  // thread hears it may reap. Set before any worker starts.
  void SetFinishedHook(std::function<void()> hook);
  // False when the thread could not be started.
  bool Start(std::function<void()> body);
  // Joins the workers that have finished.
  void Reap();
  void JoinAll();
  std::size_t Running() const;

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::list<Worker> m_workers;
  std::function<void()> m_finished;
};

}  // namespace ferrotick
