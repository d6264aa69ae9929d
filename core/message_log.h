// The message log: the ordered 8-bit lines the window shows. Lines go in on
// the window thread; the runs' threads hand their events over instead
// (event_handover.h), and the bench state turns them into lines.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/line_store.h"

namespace ferrotick {

// Told on the window thread about changes to the stored lines.
class LogObserver {
 public:
  virtual ~LogObserver() = default;
  virtual void OnLogAppending(std::size_t first, std::size_t last) = 0;
  virtual void OnLogAppended() = 0;
  virtual void OnLogClearing() = 0;
  virtual void OnLogCleared() = 0;
};

// Lines gathered to go into the log in one go; reused, so a flood costs no
// allocation per line.
class LineBatch {
 public:
  void Add(std::string_view line) {
    m_text.append(line);
    m_ends.push_back(m_text.size());
  }
  std::size_t Size() const { return m_ends.size(); }
  std::string_view Line(std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : m_ends[i - 1];
    return std::string_view(m_text).substr(begin, m_ends[i] - begin);
  }
  void Clear() {
    m_text.clear();
    m_ends.clear();
  }

 private:
  std::string m_text;
  std::vector<std::size_t> m_ends;
};

class MessageLog {
 public:
  MessageLog() = default;
  MessageLog(const MessageLog&) = delete;
  MessageLog& operator=(const MessageLog&) = delete;

  // Line breaks inside the text are shown as "\n" and "\r", so that a line
  // stays one line.
  void Append(std::string_view line);
  // Several lines in one go: one notice to the observer.
  void Append(const LineBatch& lines);
  void Clear();
  std::size_t Count() const { return m_lines.Count(); }
  // The view stays valid until the next change of the stored lines.
  std::string_view Line(std::size_t index) const { return m_lines.Line(index); }

  void SetObserver(LogObserver* observer) { m_pObserver = observer; }
  // Bytes held for the stored lines, text included.
  std::size_t MemoryBytes() const { return m_lines.MemoryBytes(); }

 private:
  void Store(std::string_view line);

  LineStore m_lines;
  LogObserver* m_pObserver = nullptr;
};

}  // namespace ferrotick
