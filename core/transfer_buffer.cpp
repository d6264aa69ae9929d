#include "core/transfer_buffer.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace ferrotick {

namespace {

void* AlignedAllocate(std::size_t alignment, std::size_t bytes) {
  return std::aligned_alloc(alignment, bytes);
}

std::atomic<TransferBuffer::Allocator> g_allocator{AlignedAllocate};

}  // namespace

std::size_t TransferBuffer::PageOffset(std::size_t /*bytes*/) {
  // Measured per buffer size with bench/placement (bench/notes.md): on the
  // processor we run on, page aligned is as fast as any offset from 1 KB to
  // 8 KB and fastest from 16 KB up, where 16 to 48 bytes past the boundary
  // read 7 to 13% slower. Other processors differ; measure before moving it.
  return 0;
}

TransferBuffer::TransferBuffer(std::size_t bytes, bool direct) {
  // A Buffer Size outside 1 to 1024 KB never reaches a transfer.
  if (bytes == 0 || bytes > kMaxBytes) return;
  const std::size_t offset = direct ? 0 : PageOffset(bytes);
  const std::size_t rounded =
      (offset + bytes + kAlignment - 1) / kAlignment * kAlignment;
  m_block = g_allocator.load()(kAlignment, rounded);
  if (m_block) {
    std::memset(m_block, 0, rounded);
    m_data = static_cast<char*>(m_block) + offset;
    m_size = bytes;
  }
}

TransferBuffer::~TransferBuffer() { std::free(m_block); }

void TransferBuffer::SetAllocatorForTest(Allocator allocator) {
  g_allocator.store(allocator ? allocator : AlignedAllocate);
}

}  // namespace ferrotick
