#include "core/io_memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>

namespace ferrotick {

void* AllocateIoMemory(std::size_t alignment, std::size_t bytes) {
  if (bytes < kHugeFrom) return std::aligned_alloc(alignment, bytes);
  // Whole huge pages, so that the advice covers all of the block and no
  // other allocation shares them.
  const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* block = std::aligned_alloc(std::max(alignment, kHugePage), rounded);
  // Advice only: where the kernel has no huge pages to give, the block is
  // made of small pages and works as before.
  if (block) ::madvise(block, rounded, MADV_HUGEPAGE);
  return block;
}

}  // namespace ferrotick
