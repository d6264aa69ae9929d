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
    const std::size_t index = m_ends.size();
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
  bool first;
  {
    std::lock_guard<std::mutex> lock(m_queueMutex);
    first = m_queue.empty();
    m_queue.push_back(std::move(action));
  }
  // One wake-up per batch: the window thread takes everything queued.
  if (first && m_wakeup) m_wakeup();
}

void MessageLog::Wake() {
  if (m_wakeup) m_wakeup();
}

void MessageLog::Store(std::string_view line) {
  if (HasBreak(line)) {
    m_text += OneLine(line);
  } else {
    m_text.append(line.data(), line.size());
  }
  m_ends.push_back(m_text.size());
}

void MessageLog::StoreBatch(const std::vector<Action>& actions,
                            std::size_t begin, std::size_t end) {
  if (begin == end) return;
  const std::size_t first = m_ends.size();
  if (m_pObserver) m_pObserver->OnLogAppending(first, first + end - begin - 1);
  for (std::size_t i = begin; i < end; ++i) {
    m_text += actions[i].text;
    m_ends.push_back(m_text.size());
  }
  if (m_pObserver) m_pObserver->OnLogAppended();
}

std::size_t MessageLog::Drain(std::size_t limit) {
  if (m_drainPos == m_draining.size()) {
    m_draining.clear();
    if (m_draining.capacity() > 4096) m_draining.shrink_to_fit();
    m_drainPos = 0;
    std::lock_guard<std::mutex> lock(m_queueMutex);
    m_draining.swap(m_queue);
  }
  const std::size_t begin = m_drainPos;
  const std::size_t end = begin + std::min(limit, m_draining.size() - begin);
  std::size_t runStart = begin;
  for (std::size_t i = begin; i < end; ++i) {
    if (m_draining[i].kind == Action::Kind::kEnableTests) {
      StoreBatch(m_draining, runStart, i);
      runStart = i + 1;
      if (m_pView) m_pView->EnableTests(m_draining[i].on);
    }
  }
  StoreBatch(m_draining, runStart, end);
  m_drainPos = end;
  return end - begin;
}

bool MessageLog::HasPending() {
  if (m_drainPos < m_draining.size()) return true;
  std::lock_guard<std::mutex> lock(m_queueMutex);
  return !m_queue.empty();
}

void MessageLog::Clear() {
  if (m_pObserver) m_pObserver->OnLogClearing();
  std::string().swap(m_text);
  std::vector<std::uint64_t>().swap(m_ends);
  if (m_pObserver) m_pObserver->OnLogCleared();
}

std::size_t MessageLog::Count() const { return m_ends.size(); }

std::string_view MessageLog::Line(std::size_t index) const {
  const std::uint64_t begin = index == 0 ? 0 : m_ends[index - 1];
  return std::string_view(m_text).substr(begin, m_ends[index] - begin);
}

void MessageLog::SetWakeup(std::function<void()> wakeup) {
  m_wakeup = std::move(wakeup);
}

void MessageLog::SetView(BenchView* view) { m_pView = view; }

void MessageLog::SetObserver(LogObserver* observer) { m_pObserver = observer; }

std::size_t MessageLog::MemoryBytes() const {
  return m_text.capacity() + m_ends.capacity() * sizeof(std::uint64_t);
}

}  // namespace ferrotick
