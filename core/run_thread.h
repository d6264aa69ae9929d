// The lifecycle every run shares, whatever it measures: a thread started
// with the asynchronous signals blocked, an end its owner waits for only
// as long as it chooses, and a thread left to end by itself when its owner
// gives up on it.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace ferrotick {

// What the thread and its owner share; it outlives an abandoned thread's
// owner, since the thread holds it too.
class RunState {
 public:
  virtual ~RunState() = default;
  virtual bool Ended() const = 0;
  // Waits at most `limit` for the thread's body to end; true when it has.
  virtual bool WaitEnded(std::chrono::milliseconds limit) = 0;
  // The body ends silently at its next chance; never waits.
  virtual void Abandon() = 0;
};

class RunThread {
 public:
  RunThread() = default;
  // Joins a thread that has ended; one still going is abandoned and
  // detached, never waited for.
  ~RunThread();
  RunThread(const RunThread&) = delete;
  RunThread& operator=(const RunThread&) = delete;

  // Runs `body` on a new thread that keeps `state` alive; false when no
  // thread can be started.
  bool Start(std::shared_ptr<RunState> state, std::function<void()> body);
  // Waits at most `limit`; joins the thread once it has ended.
  bool WaitEnded(std::chrono::milliseconds limit);

 private:
  std::shared_ptr<RunState> m_state;
  std::thread m_thread;
};

}  // namespace ferrotick
