#include "core/message_log.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "core/bench_view.h"

namespace ferrotick {

namespace {

// A line never holds a line break: show it escaped instead.
std::string OneLine(std::string_view line) {
  std::string text;
  text.reserve(line.size() + 8);
  for (char c : line) {
    if (c == '\n') {
      text += "\\n";
    } else if (c == '\r') {
      text += "\\r";
    } else {
      text += c;
    }
  }
  return text;
}

bool HasBreak(std::string_view line) {
  return std::memchr(line.data(), '\n', line.size()) != nullptr ||
         std::memchr(line.data(), '\r', line.size()) != nullptr;
}

}  // namespace

MessageLog::MessageLog() : m_windowThread(std::this_thread::get_id()) {}

bool MessageLog::OnWindowThread() const {
  return std::this_thread::get_id() == m_windowThread;
}

void MessageLog::AdoptWindowThread() {
  m_windowThread = std::this_thread::get_id();
}

void MessageLog::Append(std::string_view line) {
  if (OnWindowThread()) {
    const std::size_t index = m_lines.Count();
    if (m_pObserver) m_pObserver->OnLogAppending(index, index);
    Store(line);
    if (m_pObserver) m_pObserver->OnLogAppended();
    return;
  }
  Queue(Action{Action::Kind::kLine, false,
               HasBreak(line) ? OneLine(line) : std::string(line)});
}

void MessageLog::PostEnableTests(bool on) {
  if (OnWindowThread()) {
    if (m_pView) m_pView->EnableTests(on);
    return;
  }
  Queue(Action{Action::Kind::kEnableTests, on, {}});
}

void MessageLog::Queue(Action action) {
  // Let a drain that is waiting for the lock have it first: busy workers
  // would otherwise keep taking it back and starve the window thread.
  while (m_drainWaiting.load(std::memory_order_acquire)) {
    std::this_thread::yield();
  }
  bool first;
  {
    std::lock_guard<std::mutex> lock(m_queueMutex);
    first = m_queue.empty();
    m_queue.push_back(std::move(action));
    m_queued.store(true, std::memory_order_release);
  }
  // One wake-up per batch: the window thread takes everything queued.
  if (first && m_wakeup) m_wakeup();
}

void MessageLog::Wake() {
  if (m_wakeup) m_wakeup();
}

void MessageLog::Store(std::string_view line) {
  if (HasBreak(line)) {
    m_lines.Add(OneLine(line));
  } else {
    m_lines.Add(line);
  }
}

void MessageLog::StoreBatch(const std::deque<Action>& actions,
                            std::size_t begin, std::size_t end) {
  if (begin == end) return;
  const std::size_t first = m_lines.Count();
  if (m_pObserver) m_pObserver->OnLogAppending(first, first + end - begin - 1);
  for (std::size_t i = begin; i < end; ++i) {
    m_lines.Add(actions[i].text);
  }
  if (m_pObserver) m_pObserver->OnLogAppended();
}

std::size_t MessageLog::Drain(std::size_t limit) {
  if (m_draining.empty() && m_queued.load(std::memory_order_acquire)) {
    m_drainWaiting.store(true, std::memory_order_release);
    std::lock_guard<std::mutex> lock(m_queueMutex);
    m_drainWaiting.store(false, std::memory_order_release);
    m_draining.swap(m_queue);
    m_queued.store(false, std::memory_order_release);
  }
  const std::size_t count = std::min(limit, m_draining.size());
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (m_draining[i].kind == Action::Kind::kEnableTests) {
      StoreBatch(m_draining, runStart, i);
      runStart = i + 1;
      if (m_pView) m_pView->EnableTests(m_draining[i].on);
    }
  }
  StoreBatch(m_draining, runStart, count);
  // Freed as they are applied, so no one drain pays for a whole flood.
  m_draining.erase(m_draining.begin(),
                   m_draining.begin() + static_cast<std::ptrdiff_t>(count));
  return count;
}

bool MessageLog::HasPending() const {
  return !m_draining.empty() || m_queued.load(std::memory_order_acquire);
}

void MessageLog::Clear() {
  if (m_pObserver) m_pObserver->OnLogClearing();
  m_lines.Clear();
  if (m_pObserver) m_pObserver->OnLogCleared();
}

std::size_t MessageLog::Count() const { return m_lines.Count(); }

std::string_view MessageLog::Line(std::size_t index) const {
  return m_lines.Line(index);
}

void MessageLog::SetWakeup(std::function<void()> wakeup) {
  m_wakeup = std::move(wakeup);
}

void MessageLog::SetView(BenchView* view) { m_pView = view; }

void MessageLog::SetObserver(LogObserver* observer) { m_pObserver = observer; }

std::size_t MessageLog::MemoryBytes() const { return m_lines.MemoryBytes(); }

}  // namespace ferrotick
