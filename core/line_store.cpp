#include "core/line_store.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace ferrotick {

void LineStore::Add(std::string_view text) {
  // A block's offsets are 32-bit; no log line comes near that.
  text = text.substr(0, std::numeric_limits<std::uint32_t>::max());
  if (m_blocks.empty() ||
      m_blocks.back().capacity - m_blocks.back().used < text.size()) {
    const std::size_t next =
        m_blocks.empty() ? kFirstBlockBytes
                         : std::min(kBlockBytes, 2 * m_blocks.back().capacity);
    const std::size_t capacity = std::max(next, text.size());
    m_blocks.push_back(
        Block{std::make_unique_for_overwrite<char[]>(capacity), capacity, 0});
  }
  Block& block = m_blocks.back();
  if (!text.empty()) {
    std::memcpy(block.data.get() + block.used, text.data(), text.size());
  }
  block.used += text.size();
  m_index.push_back(End{static_cast<std::uint32_t>(m_blocks.size() - 1),
                        static_cast<std::uint32_t>(block.used)});
}

std::string_view LineStore::Line(std::size_t index) const {
  const End end = m_index[index];
  std::uint32_t begin = 0;
  if (index > 0 && m_index[index - 1].block == end.block) {
    begin = m_index[index - 1].offset;
  }
  return std::string_view(m_blocks[end.block].data.get() + begin,
                          end.offset - begin);
}

void LineStore::Clear() {
  std::vector<Block>().swap(m_blocks);
  std::deque<End>().swap(m_index);
}

std::size_t LineStore::MemoryBytes() const {
  std::size_t bytes = m_blocks.capacity() * sizeof(Block);
  for (const Block& block : m_blocks) bytes += block.capacity;
  return bytes + m_index.size() * sizeof(End);
}

}  // namespace ferrotick
