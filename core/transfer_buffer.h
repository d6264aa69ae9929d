// The transfer buffer a run owns for its length.
#pragma once

#include <cstddef>

namespace ferrotick {

class TransferBuffer {
 public:
  // Zero-filled so that no stale process memory reaches the disk, and page
  // aligned, as direct I/O needs and as the kernel copies fastest on the
  // processors measured (bench/notes.md). Empty (false) when the memory
  // cannot be had or the size is not 1 byte to 1 MB.
  explicit TransferBuffer(std::size_t bytes);
  ~TransferBuffer();
  TransferBuffer(const TransferBuffer&) = delete;
  TransferBuffer& operator=(const TransferBuffer&) = delete;

  explicit operator bool() const { return m_data != nullptr; }
  char* Data() { return m_data; }
  std::size_t Size() const { return m_size; }

  // Lets a test make the next allocations fail.
  using Allocator = void* (*)(std::size_t alignment, std::size_t bytes);
  static void SetAllocatorForTest(Allocator allocator);

  static constexpr std::size_t kAlignment = 4096;
  static constexpr std::size_t kMaxBytes = 1024 * 1024;

 private:
  char* m_data = nullptr;
  std::size_t m_size = 0;
};

}  // namespace ferrotick
