// Memory that transfers move to and from the disk.
#pragma once

#include <cstddef>

namespace ferrotick {

// `bytes` aligned to `alignment` (a power of two), or null; free with
// std::free. A block of kHugeFrom or more is asked of the kernel in huge
// pages, so that each transfer in it is one physically contiguous span.
// In 4 KiB pages a 1 MiB direct transfer takes 256 segments, more than
// many disks accept in one request (254 on a virtio disk, 128 on a loop
// device), and the kernel splits it: the disk then sees two requests,
// and the rate depends on where the pages happen to lie.
void* AllocateIoMemory(std::size_t alignment, std::size_t bytes);

inline constexpr std::size_t kHugeFrom = 256 * 1024;
inline constexpr std::size_t kHugePage = 2 * 1024 * 1024;

}  // namespace ferrotick
