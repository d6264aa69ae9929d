// The message log: ordered 8-bit lines, appended from any thread.
//
// The thread that builds the log is the window thread. Its appends go in at
// once. Other threads queue their lines (and their EnableTests requests)
// under a short lock and never wait for the window thread. At most one
// wake-up is outstanding: the first action queued after the window thread
// caught up calls it, and the window thread applies what is queued, in
// order, with Drain() until it has caught up again.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
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
  // returns how many were applied. While HasPending() holds afterwards the
  // wake-up stays outstanding: no new one comes, so call again (from a
  // timer, say) until it no longer holds.
  std::size_t Drain(std::size_t limit = static_cast<std::size_t>(-1));
  // Window thread: actions handed over and not yet applied.
  bool HasPending() const;
  bool OnWindowThread() const;
  // Hands the window-thread role to the calling thread.
  void AdoptWindowThread();

  // Bytes held for the stored lines, text included (for the flood bench).
  std::size_t MemoryBytes() const;

 private:
  // Queued actions, their text packed into chunks: a flood costs a worker
  // no allocation per line and the window thread no free per line (a free
  // of another thread's allocation contends for that thread's heap).
  struct Entry {
    std::uint32_t end;  // where its text ends in the chunk
    bool enableTests;   // an EnableTests request rather than a line
    bool on;
  };
  struct Chunk {
    std::unique_ptr<char[]> text;
    std::size_t capacity = 0;
    std::size_t used = 0;
    std::vector<Entry> entries;  // never grows past its first reserve
    std::size_t applied = 0;     // entries already applied
    std::string_view Text(std::size_t i) const;
  };
  static constexpr std::size_t kChunkBytes = 64 * 1024;
  static constexpr std::size_t kChunkEntries = 2048;
  // Applied chunks kept for reuse, on each side of the lock.
  static constexpr std::size_t kSpareChunks = 8;

  void Store(std::string_view line);
  // Applies up to `limit` actions from the front of m_draining.
  std::size_t Apply(std::size_t limit);
  void Queue(std::string_view text, bool enableTests, bool on);
  // Window thread: done with the front chunk of m_draining.
  void Retire();
  // Lets the next queued action wake the window thread, unless one came in
  // while it was catching up.
  void Rearm();

  std::thread::id m_windowThread;
  LineStore m_lines;

  std::mutex m_queueMutex;
  std::deque<Chunk> m_queue;                // guarded by m_queueMutex
  std::vector<Chunk> m_spare;               // guarded by m_queueMutex
  std::atomic<bool> m_queued{false};        // m_queue is not empty
  std::atomic<bool> m_drainWaiting{false};  // the window thread wants it
  // A wake-up was called and the window thread has not yet caught up. One
  // at a time: with one per batch, a window thread that swaps the queue
  // faster than workers fill it would be handed a new wake-up per line, and
  // an event loop runs its posted calls back to back, ahead of input.
  std::atomic<bool> m_wakeOutstanding{false};
  std::deque<Chunk> m_draining;  // taken from the queue, being applied
  std::vector<Chunk> m_retired;  // applied, handed back at the next swap

  std::function<void()> m_wakeup;
  BenchView* m_pView = nullptr;
  LogObserver* m_pObserver = nullptr;
};

}  // namespace ferrotick
