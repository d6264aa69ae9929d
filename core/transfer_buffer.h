// The transfer buffer a run owns for its length.
#pragma once

#include <cstddef>

namespace ferrotick {

class TransferBuffer {
 public:
  // Zero-filled so that no stale process memory reaches the disk. For
  // direct I/O page aligned; otherwise placed where the kernel copies to
  // and from it fastest (PageOffset). Empty (false) when the memory cannot
  // be had or the size is not 1 byte to 1 MB.
  explicit TransferBuffer(std::size_t bytes, bool direct = false);
  ~TransferBuffer();
  TransferBuffer(const TransferBuffer&) = delete;
  TransferBuffer& operator=(const TransferBuffer&) = delete;

  explicit operator bool() const { return m_data != nullptr; }
  char* Data() { return m_data; }
  std::size_t Size() const { return m_size; }

  // Where a buffered run's buffer of `bytes` starts past a page boundary.
  static std::size_t PageOffset(std::size_t bytes);

  // Lets a test make the next allocations fail.
  using Allocator = void* (*)(std::size_t alignment, std::size_t bytes);
  static void SetAllocatorForTest(Allocator allocator);

  static constexpr std::size_t kAlignment = 4096;
  static constexpr std::size_t kMaxBytes = 1024 * 1024;

 private:
  void* m_block = nullptr;  // what was allocated
  char* m_data = nullptr;
  std::size_t m_size = 0;
};

}  // namespace ferrotick
