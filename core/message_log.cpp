#include "core/message_log.h"

#include <cstring>

namespace ferrotick {

namespace {

bool HasBreak(std::string_view line) {
  return std::memchr(line.data(), '\n', line.size()) != nullptr ||
         std::memchr(line.data(), '\r', line.size()) != nullptr;
}

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

}  // namespace

void MessageLog::Store(std::string_view line) {
  if (HasBreak(line)) {
    m_lines.Add(OneLine(line));
  } else {
    m_lines.Add(line);
  }
}

void MessageLog::Append(std::string_view line) {
  const std::size_t index = m_lines.Count();
  if (m_pObserver) m_pObserver->OnLogAppending(index, index);
  Store(line);
  if (m_pObserver) m_pObserver->OnLogAppended();
}

void MessageLog::Append(const LineBatch& lines) {
  if (lines.Size() == 0) return;
  const std::size_t first = m_lines.Count();
  if (m_pObserver) m_pObserver->OnLogAppending(first, first + lines.Size() - 1);
  for (std::size_t i = 0; i < lines.Size(); ++i) Store(lines.Line(i));
  if (m_pObserver) m_pObserver->OnLogAppended();
}

void MessageLog::Clear() {
  if (m_pObserver) m_pObserver->OnLogClearing();
  m_lines.Clear();
  if (m_pObserver) m_pObserver->OnLogCleared();
}

}  // namespace ferrotick
