#include "core/transfer_buffer.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "core/io_memory.h"

namespace ferrotick {

namespace {

std::atomic<TransferBuffer::Allocator> g_allocator{AllocateIoMemory};

}  // namespace

TransferBuffer::TransferBuffer(std::size_t bytes) {
  // A Buffer Size outside 1 to 1024 KB never reaches a transfer.
  if (bytes == 0 || bytes > kMaxBytes) return;
  const std::size_t rounded =
      (bytes + kAlignment - 1) / kAlignment * kAlignment;
  m_data = static_cast<char*>(g_allocator.load()(kAlignment, rounded));
  if (m_data) {
    std::memset(m_data, 0, rounded);
    m_size = bytes;
  }
}

TransferBuffer::~TransferBuffer() { std::free(m_data); }

void TransferBuffer::SetAllocatorForTest(Allocator allocator) {
  g_allocator.store(allocator ? allocator : AllocateIoMemory);
}

}  // namespace ferrotick
