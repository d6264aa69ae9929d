// The message log: ordered 8-bit lines, appended from any thread.
//
// The thread that builds the log is the window thread. Its appends go in at
// once. Other threads queue their lines (and their EnableTests requests)
// under a short lock and never wait for the window thread; the first queued
// action of a batch calls the wake-up, and the window thread applies the
// whole batch in order with Drain().
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/line_store.h"

namespace ferrotick {

class BenchView;

// Told on the window thread about changes to the stored lines.
class LogObserver {
 public:
  virtual ~LogObserver() = default;
  virtual void OnLogAppending(std::size_t first, std::size_t last) = 0;
  virtual void OnLogAppended() = 0;
  virtual void OnLogClearing() = 0;
  virtual void OnLogCleared() = 0;
};

class MessageLog {
 public:
  MessageLog();
  MessageLog(const MessageLog&) = delete;
  MessageLog& operator=(const MessageLog&) = delete;

  // Any thread; never waits for the window thread. Line breaks inside the
  // text are shown as "\n" and "\r" so that a line stays one line.
  void Append(std::string_view line);
  // Window thread only.
  void Clear();
  std::size_t Count() const;
  // The view stays valid until the next change of the stored lines.
  std::string_view Line(std::size_t index) const;

  // EnableTests(on) on the view, in order with this thread's lines.
  void PostEnableTests(bool on);

  // Window-thread plumbing. Set these before any worker starts.
  void SetWakeup(std::function<void()> wakeup);
  void SetView(BenchView* view);
  void SetObserver(LogObserver* observer);
  // Any thread: calls the wake-up as a batch would, with nothing queued.
  void Wake();
  // Moves queued actions into the log, at most `limit` of them, so that a
  // flood is taken in slices and the window thread stays responsive;
  // returns how many were applied. Call again while HasPending().
  std::size_t Drain(std::size_t limit = static_cast<std::size_t>(-1));
  // Window thread: actions already handed over and not yet applied.
  bool HasPending() const;
  bool OnWindowThread() const;
  // Hands the window-thread role to the calling thread.
  void AdoptWindowThread();

  // Bytes held for the stored lines, text included (for the flood bench).
  std::size_t MemoryBytes() const;

 private:
  struct Action {
    enum class Kind : std::uint8_t { kLine, kEnableTests };
    Kind kind;
    bool on;
    std::string text;
  };
  void Store(std::string_view line);
  void StoreBatch(const std::deque<Action>& actions, std::size_t begin,
                  std::size_t end);
  void Queue(Action action);

  std::thread::id m_windowThread;
  LineStore m_lines;

  std::mutex m_queueMutex;
  // Deques: growing one never moves what it holds, so a worker holds the
  // lock only briefly however far the window thread has fallen behind.
  std::deque<Action> m_queue;               // guarded by m_queueMutex
  std::atomic<bool> m_queued{false};        // m_queue is not empty
  std::atomic<bool> m_drainWaiting{false};  // the window thread wants it
  std::deque<Action> m_draining;  // taken from the queue, being applied

  std::function<void()> m_wakeup;
  BenchView* m_pView = nullptr;
  LogObserver* m_pObserver = nullptr;
};

}  // namespace ferrotick
