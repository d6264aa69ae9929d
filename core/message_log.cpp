#include "core/message_log.h"

#include <algorithm>
#include <cstring>
#include <limits>
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
  if (HasBreak(line)) {
    Queue(OneLine(line), false, false);
  } else {
    Queue(line, false, false);
  }
}

void MessageLog::PostEnableTests(bool on) {
  if (OnWindowThread()) {
    if (m_pView) m_pView->EnableTests(on);
    return;
  }
  Queue({}, true, on);
}

std::string_view MessageLog::Chunk::Text(std::size_t i) const {
  const std::uint32_t begin = i == 0 ? 0 : entries[i - 1].end;
  return std::string_view(text.get() + begin, entries[i].end - begin);
}

void MessageLog::Queue(std::string_view text, bool enableTests, bool on) {
  // Offsets in a chunk are 32-bit; no log line comes near that.
  text = text.substr(0, std::numeric_limits<std::uint32_t>::max());
  // Let a drain that is waiting for the lock have it first: busy workers
  // would otherwise keep taking it back and starve the window thread.
  while (m_drainWaiting.load(std::memory_order_acquire)) {
    std::this_thread::yield();
  }
  {
    std::lock_guard<std::mutex> lock(m_queueMutex);
    if (m_queue.empty() ||
        m_queue.back().capacity - m_queue.back().used < text.size() ||
        m_queue.back().entries.size() == kChunkEntries) {
      if (!m_spare.empty() && text.size() <= kChunkBytes) {
        m_queue.push_back(std::move(m_spare.back()));
        m_spare.pop_back();
      } else {
        Chunk& chunk = m_queue.emplace_back();
        chunk.capacity = std::max(kChunkBytes, text.size());
        chunk.text = std::make_unique_for_overwrite<char[]>(chunk.capacity);
        chunk.entries.reserve(kChunkEntries);
      }
    }
    Chunk& chunk = m_queue.back();
    if (!text.empty()) {
      std::memcpy(chunk.text.get() + chunk.used, text.data(), text.size());
    }
    chunk.used += text.size();
    chunk.entries.push_back(
        Entry{static_cast<std::uint32_t>(chunk.used), enableTests, on});
    m_queued.store(true);
  }
  // Sequentially consistent with Rearm(): either it sees this action
  // queued, or this sees its wake-up gone and calls a new one.
  if (!m_wakeOutstanding.load() && !m_wakeOutstanding.exchange(true) &&
      m_wakeup) {
    m_wakeup();
  }
}

void MessageLog::Rearm() {
  m_wakeOutstanding.store(false);
  if (m_queued.load()) m_wakeOutstanding.store(true);
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

std::size_t MessageLog::Apply(std::size_t limit) {
  std::size_t applied = 0;
  while (applied < limit && !m_draining.empty()) {
    // The lines up to the next EnableTests request, or the limit, are
    // stored as one batch.
    std::size_t lines = 0;
    bool enable = false;
    for (auto chunk = m_draining.begin();
         chunk != m_draining.end() && applied + lines < limit && !enable;
         ++chunk) {
      for (std::size_t i = chunk->applied;
           i < chunk->entries.size() && applied + lines < limit; ++i) {
        if (chunk->entries[i].enableTests) {
          enable = true;
          break;
        }
        ++lines;
      }
    }
    if (lines > 0) {
      const std::size_t first = m_lines.Count();
      if (m_pObserver) m_pObserver->OnLogAppending(first, first + lines - 1);
      for (std::size_t left = lines; left > 0;) {
        Chunk& chunk = m_draining.front();
        const std::size_t end =
            std::min(chunk.entries.size(), chunk.applied + left);
        for (std::size_t i = chunk.applied; i < end; ++i) {
          m_lines.Add(chunk.Text(i));
        }
        left -= end - chunk.applied;
        chunk.applied = end;
        if (chunk.applied == chunk.entries.size()) Retire();
      }
      if (m_pObserver) m_pObserver->OnLogAppended();
      applied += lines;
    }
    if (enable && applied < limit) {
      Chunk& chunk = m_draining.front();
      const Entry entry = chunk.entries[chunk.applied++];
      if (chunk.applied == chunk.entries.size()) Retire();
      ++applied;
      if (m_pView) m_pView->EnableTests(entry.on);
    }
  }
  return applied;
}

void MessageLog::Retire() {
  Chunk& chunk = m_draining.front();
  if (chunk.capacity == kChunkBytes && m_retired.size() < kSpareChunks) {
    chunk.used = 0;
    chunk.applied = 0;
    chunk.entries.clear();
    m_retired.push_back(std::move(chunk));
  }
  m_draining.pop_front();
}

std::size_t MessageLog::Drain(std::size_t limit) {
  if (m_draining.empty() && m_queued.load()) {
    m_drainWaiting.store(true, std::memory_order_release);
    std::lock_guard<std::mutex> lock(m_queueMutex);
    m_drainWaiting.store(false, std::memory_order_release);
    m_draining.swap(m_queue);
    m_queued.store(false);
    while (!m_retired.empty() && m_spare.size() < kSpareChunks) {
      m_spare.push_back(std::move(m_retired.back()));
      m_retired.pop_back();
    }
  }
  const std::size_t applied = Apply(limit);
  if (m_draining.empty()) Rearm();
  return applied;
}

bool MessageLog::HasPending() const {
  return !m_draining.empty() || m_queued.load();
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
