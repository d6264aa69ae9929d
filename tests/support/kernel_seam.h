// The file handle's calls on the kernel, counted and steered by a test
// while a KernelSeam lives: how many transfers, syncs and cache drops
// reached the kernel, whether the descriptor they used was opened with
// O_DIRECT (asked of the kernel itself), a hold that keeps a transfer from
// returning as a stuck one would, and a clock that moves with the data.
#pragma once

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <utility>

#include "core/file_handle.h"

namespace ferrotick::testing {

class KernelSeam : public KernelCalls {
 public:
  KernelSeam() { SetKernelCallsForTest(this); }
  // Waits for calls under way: an abandoned run may still be in one, and
  // the lock is what tells ThreadSanitizer that its thread is done with us.
  ~KernelSeam() override {
    SetKernelCallsForTest(nullptr);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_hold = false;  // a test that failed half-way never released it
    m_cv.notify_all();
    m_cv.wait(lock, [this] { return m_inside == 0; });
  }
  KernelSeam(const KernelSeam&) = delete;
  KernelSeam& operator=(const KernelSeam&) = delete;

  int Open(const char* path, int flags, mode_t mode) override {
    const Inside inside(*this);
    return KernelCalls::Open(path, flags, mode);
  }
  long Read(int fd, void* buffer, std::size_t n, std::uint64_t at,
            bool positional) override {
    const Inside inside(*this);
    Before(fd);
    const long got = KernelCalls::Read(fd, buffer, n, at, positional);
    if (got > 0) After(false, got);
    return got;
  }
  long Write(int fd, const void* buffer, std::size_t n, std::uint64_t at,
             bool positional) override {
    const Inside inside(*this);
    Before(fd);
    // As a disk that fills up: a write across the limit is cut short at
    // it, and the next fails.
    if (failWritesAfter >= 0) {
      const auto limit = static_cast<std::uint64_t>(failWritesAfter);
      const std::uint64_t done = writtenBytes.load();
      if (done >= limit) {
        errno = EIO;
        return -1;
      }
      n = std::min<std::uint64_t>(n, limit - done);
    }
    const long put = KernelCalls::Write(fd, buffer, n, at, positional);
    NoteWriter();
    if (put > 0) After(true, put);
    return put;
  }
  int DataSync(int fd) override {
    const Inside inside(*this);
    ++syncs;
    if (onSync) onSync();
    return KernelCalls::DataSync(fd);
  }
  int DropCache(int fd) override {
    const Inside inside(*this);
    ++drops;
    return KernelCalls::DropCache(fd);
  }

  // The next transfer (one only) waits before it reaches the kernel until
  // Release(); with `afterBytes`, the first once that many bytes have been
  // read and written.
  void HoldNext(std::uint64_t afterBytes = 0) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hold = true;
    m_held = false;
    m_holdAfter = afterBytes;
  }
  void WaitHeld() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait(lock, [this] { return m_held; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hold = false;
    m_cv.notify_all();
  }

  // True when two threads ever wrote in the same stretch of time, as seen
  // from the order of their writes.
  bool WritersOverlapped() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto a = m_spans.begin(); a != m_spans.end(); ++a) {
      for (auto b = std::next(a); b != m_spans.end(); ++b) {
        if (a->second.first < b->second.second &&
            b->second.first < a->second.second) {
          return true;
        }
      }
    }
    return false;
  }

  std::atomic<int> transfers{0};
  std::atomic<int> directTransfers{0};  // on a descriptor with O_DIRECT
  std::atomic<int> syncs{0};
  std::atomic<int> drops{0};
  std::atomic<std::uint64_t> writtenBytes{0};
  std::atomic<std::uint64_t> readBytes{0};
  // Writes stop at this many bytes, the one across it cut short, the rest
  // failing with EIO; negative: none fail. Set before the run starts.
  long long failWritesAfter = -1;
  // Called on the run's thread after each transfer that moved data, with
  // whether it wrote and the total of that kind so far; and at each sync.
  // Set before the run starts.
  std::function<void(bool write, std::uint64_t total)> after;
  std::function<void()> onSync;

 private:
  void Before(int fd) {
    ++transfers;
    if (::fcntl(fd, F_GETFL) & O_DIRECT) ++directTransfers;
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_hold && !m_held &&
        writtenBytes.load() + readBytes.load() >= m_holdAfter) {
      m_held = true;
      m_cv.notify_all();
      m_cv.wait(lock, [this] { return !m_hold; });
    }
  }
  void NoteWriter() {
    std::lock_guard<std::mutex> lock(m_mutex);
    const long sequence = m_sequence++;
    auto [span, added] =
        m_spans.try_emplace(ThreadNumber(), sequence, sequence);
    span->second.second = sequence;
  }
  void After(bool write, long moved) {
    const std::uint64_t total =
        (write ? writtenBytes : readBytes).fetch_add(moved) + moved;
    if (after) after(write, total);
  }

  // Counts the calls under way, for the destructor.
  class Inside {
   public:
    explicit Inside(KernelSeam& seam) : m_seam(seam) {
      std::lock_guard<std::mutex> lock(m_seam.m_mutex);
      ++m_seam.m_inside;
    }
    ~Inside() {
      std::lock_guard<std::mutex> lock(m_seam.m_mutex);
      --m_seam.m_inside;
      m_seam.m_cv.notify_all();
    }
    Inside(const Inside&) = delete;
    Inside& operator=(const Inside&) = delete;

   private:
    KernelSeam& m_seam;
  };

  std::mutex m_mutex;
  std::condition_variable m_cv;
  int m_inside = 0;  // guarded by m_mutex
  bool m_hold = false;
  bool m_held = false;
  std::uint64_t m_holdAfter = 0;
  long m_sequence = 0;
  // Each writing thread's first and last write. Keyed by a number of our
  // own: the system reuses a thread id once its thread is joined, and two
  // writers one after the other would then look like one long writer.
  static long ThreadNumber() {
    static std::atomic<long> next{0};
    thread_local const long mine = next.fetch_add(1);
    return mine;
  }
  std::map<long, std::pair<long, long>> m_spans;
};

}  // namespace ferrotick::testing
