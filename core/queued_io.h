// Direct transfers kept in flight at a queue depth, through io_uring, or
// libaio where io_uring is refused (some containers and kernels switch it
// off), or one at a time through pread/pwrite. The loop that keeps the
// queue full does nothing else: it counts, and reports when it is done.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "core/latency_histogram.h"

namespace ferrotick {

enum class IoEngine { kIoUring, kLibaio, kPositional };

// "io_uring", "libaio" or "pread/pwrite".
const char* EngineName(IoEngine engine);

// One step of splitmix64: fast, and noise to anything that looks for
// patterns; no cipher, and none is needed.
inline std::uint64_t SplitMix64(std::uint64_t& state) {
  std::uint64_t x = (state += 0x9e3779b97f4a7c15ULL);
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

// Where a run's transfers go: one block after the other from the start of
// the file, wrapping at its end, or blocks drawn uniformly over the file
// from a seeded generator (splitmix64, mapped to the range by a multiply).
// Every offset is a multiple of the block size, and the block ends inside
// the file.
class OffsetSequence {
 public:
  OffsetSequence(bool random, std::uint64_t blockBytes, std::uint64_t fileBytes,
                 std::uint64_t seed);
  std::uint64_t Next() {
    std::uint64_t block;
    if (m_bRandom) {
      // The high half of a 64 x 64 bit product: uniform over the blocks
      // but for a bias below blocks / 2^64.
      block = static_cast<std::uint64_t>(
          (Wide{SplitMix64(m_state)} * m_blocks) >> 64);
    } else {
      block = m_next;
      if (++m_next == m_blocks) m_next = 0;
    }
    return block * m_blockBytes;
  }
  std::uint64_t Blocks() const { return m_blocks; }

 private:
  __extension__ typedef unsigned __int128 Wide;
  const bool m_bRandom;
  const std::uint64_t m_blockBytes;
  const std::uint64_t m_blocks;
  std::uint64_t m_state;
  std::uint64_t m_next = 0;
};

// What one run of transfers does, on a descriptor opened with O_DIRECT.
struct IoJob {
  int fd = -1;
  bool write = false;
  bool random = false;
  std::uint32_t blockBytes = 4096;
  int depth = 1;  // 1: pread/pwrite; more: io_uring, else libaio
  std::uint64_t fileBytes = 0;
  std::uint64_t seed = 0;  // offsets, and the bytes written
  // Buffers are aligned to this (a power of two, at least 4096), as the
  // device's direct I/O asks.
  std::uint32_t alignment = 4096;
  // Exactly this many transfers, timed from the first; 0: time-based.
  std::uint64_t transfers = 0;
  // Time-based: transfers go on for warmupSeconds untimed, then for
  // seconds timed, without a pause between the two.
  double warmupSeconds = 0;
  double seconds = 0;
  bool latency = false;  // time each transfer (meant for depth 1)
};

// What the loop counted, over the timed span only.
struct IoCounters {
  std::uint64_t bytes = 0;
  std::uint64_t transfers = 0;
  int maxDepth = 0;  // the most transfers in flight at once
  std::uint64_t lowestOffset = UINT64_MAX;
  std::uint64_t highestEnd = 0;  // the end of the block that ends last
  std::uint64_t misaligned = 0;  // offsets not a multiple of the block
};

struct IoResult {
  IoEngine engine = IoEngine::kPositional;
  // Why io_uring was not used where it would have been (an errno), or 0.
  int uringRefused = 0;
  int error = 0;         // errno of a failed setup or transfer; 0: none
  bool stopped = false;  // a stop request ended it before its end
  double seconds = 0;    // the timed span, to the last completion in it
  IoCounters counters;
  LatencyHistogram latency;  // with IoJob::latency
};

// Runs `job` until its end, a failure or `stop`; every transfer in flight
// has completed when it returns. A stop is seen within one completion.
IoResult RunQueuedIo(const IoJob& job, const std::atomic<bool>& stop);

// What direct I/O on `fd` needs, from statx(STATX_DIOALIGN): the buffer
// alignment and the offset and size granularity, both at least 4096 here.
// Nothing when the kernel says direct I/O is not supported for the file;
// 4096 for both when it cannot tell.
struct DirectAlignment {
  std::uint32_t memory = 4096;
  std::uint32_t offset = 4096;
};
std::optional<DirectAlignment> ReadDirectAlignment(int fd);

// Makes the next io_uring setups fail with `error` (EPERM, ENOSYS,
// EINVAL, as a kernel or a container that refuses io_uring does); 0
// restores them.
void SetIoUringRefusalForTest(int error);

}  // namespace ferrotick
