// The stored text of the log: lines packed into blocks that never move, so
// a log of millions of lines grows without copying what it already holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string_view>
#include <vector>

namespace ferrotick {

class LineStore {
 public:
  void Add(std::string_view text);
  std::size_t Count() const { return m_index.size(); }
  // Valid until Clear().
  std::string_view Line(std::size_t index) const;
  void Clear();
  std::size_t MemoryBytes() const;

  // Blocks grow from the first size to the largest by doubling, so a short
  // log stays small.
  static constexpr std::size_t kFirstBlockBytes = 4096;
  static constexpr std::size_t kBlockBytes = 1 << 20;

 private:
  struct Block {
    std::unique_ptr<char[]> data;
    std::size_t capacity;
    std::size_t used;
  };
  // Where a line ends; it begins where the line before it ended in the
  // same block, or at the block's start.
  struct End {
    std::uint32_t block;
    std::uint32_t offset;
  };

  std::vector<Block> m_blocks;
  std::deque<End> m_index;
};

}  // namespace ferrotick
