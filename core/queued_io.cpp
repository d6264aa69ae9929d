#include "core/queued_io.h"

#include <libaio.h>
#include <liburing.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "core/data_pattern.h"
#include "core/io_memory.h"
#include "core/timing.h"

namespace ferrotick {

namespace {

std::atomic<int> g_uringRefusal{0};

struct Transfer {
  char* buffer;
  std::uint64_t offset;
  std::uint32_t slot;
};

struct Completion {
  std::uint32_t slot;
  long result;  // bytes moved, or -errno
};

// One way of keeping transfers in flight. The loop hands each one the
// transfers to queue and takes back those that completed.
class Queue {
 public:
  virtual ~Queue() = default;
  // Queues `n` transfers, then waits until at least one of those in
  // flight completes and writes what completed to `out` (room for the
  // depth). Returns how many, or -errno when the queue broke.
  virtual int Exchange(const Transfer* queued, int n, Completion* out) = 0;
};

class UringQueue : public Queue {
 public:
  UringQueue(int fd, bool write, std::uint32_t blockBytes, int depth)
      : m_fd(fd), m_bWrite(write), m_block(blockBytes), m_cqes(depth) {}
  ~UringQueue() override {
    if (m_bReady) io_uring_queue_exit(&m_ring);
  }
  // 0, or the -errno of io_uring_queue_init.
  int Setup() {
    if (const int refused = g_uringRefusal.load()) return -refused;
    // Completions need not interrupt the thread: it asks for them. Older
    // kernels know fewer flags and say EINVAL.
    const unsigned tries[] = {
        IORING_SETUP_SINGLE_ISSUER | IORING_SETUP_DEFER_TASKRUN,
        IORING_SETUP_COOP_TASKRUN, 0};
    int result = -EINVAL;
    for (const unsigned flags : tries) {
      io_uring_params params{};
      params.flags = flags;
      result = io_uring_queue_init_params(static_cast<unsigned>(m_cqes.size()),
                                          &m_ring, &params);
      if (result != -EINVAL) break;
    }
    m_bReady = result == 0;
    return result;
  }

  int Exchange(const Transfer* queued, int n, Completion* out) override {
    for (int i = 0; i < n; ++i) {
      io_uring_sqe* sqe = io_uring_get_sqe(&m_ring);
      // Never more in flight than the ring holds; kept from a null all
      // the same.
      if (!sqe) return -EBUSY;
      if (m_bWrite) {
        io_uring_prep_write(sqe, m_fd, queued[i].buffer, m_block,
                            queued[i].offset);
      } else {
        io_uring_prep_read(sqe, m_fd, queued[i].buffer, m_block,
                           queued[i].offset);
      }
      io_uring_sqe_set_data64(sqe, queued[i].slot);
    }
    int result;
    do {
      result = io_uring_submit_and_wait(&m_ring, 1);
    } while (result == -EINTR);
    if (result < 0) return result;
    const unsigned got = io_uring_peek_batch_cqe(
        &m_ring, m_cqes.data(), static_cast<unsigned>(m_cqes.size()));
    for (unsigned i = 0; i < got; ++i) {
      out[i] = {static_cast<std::uint32_t>(io_uring_cqe_get_data64(m_cqes[i])),
                m_cqes[i]->res};
    }
    io_uring_cq_advance(&m_ring, got);
    return static_cast<int>(got);
  }

 private:
  const int m_fd;
  const bool m_bWrite;
  const std::uint32_t m_block;
  std::vector<io_uring_cqe*> m_cqes;
  io_uring m_ring{};
  bool m_bReady = false;
};

class AioQueue : public Queue {
 public:
  AioQueue(int fd, bool write, std::uint32_t blockBytes, int depth)
      : m_fd(fd),
        m_bWrite(write),
        m_block(blockBytes),
        m_iocbs(depth),
        m_submit(depth),
        m_events(depth) {}
  ~AioQueue() override {
    if (m_bReady) io_destroy(m_context);
  }
  int Setup() {
    const int result = io_setup(static_cast<int>(m_iocbs.size()), &m_context);
    m_bReady = result == 0;
    return result;
  }

  int Exchange(const Transfer* queued, int n, Completion* out) override {
    for (int i = 0; i < n; ++i) {
      iocb* cb = &m_iocbs[queued[i].slot];
      if (m_bWrite) {
        io_prep_pwrite(cb, m_fd, queued[i].buffer, m_block,
                       static_cast<long long>(queued[i].offset));
      } else {
        io_prep_pread(cb, m_fd, queued[i].buffer, m_block,
                      static_cast<long long>(queued[i].offset));
      }
      m_submit[i] = cb;
    }
    for (int done = 0; done < n;) {
      const int result = io_submit(m_context, n - done, m_submit.data() + done);
      if (result < 0 && result != -EINTR) return result;
      if (result > 0) done += result;
    }
    int got;
    do {
      got = io_getevents(m_context, 1, static_cast<long>(m_events.size()),
                         m_events.data(), nullptr);
    } while (got == -EINTR);
    if (got < 0) return got;
    for (int i = 0; i < got; ++i) {
      out[i] = {static_cast<std::uint32_t>(m_events[i].obj - m_iocbs.data()),
                static_cast<long>(m_events[i].res)};
    }
    return got;
  }

 private:
  const int m_fd;
  const bool m_bWrite;
  const std::uint32_t m_block;
  std::vector<iocb> m_iocbs;  // one for each slot
  std::vector<iocb*> m_submit;
  std::vector<io_event> m_events;
  io_context_t m_context{};
  bool m_bReady = false;
};

// Depth 1: each transfer is made as it is queued.
class PositionalQueue : public Queue {
 public:
  PositionalQueue(int fd, bool write, std::uint32_t blockBytes)
      : m_fd(fd), m_bWrite(write), m_block(blockBytes) {}

  int Exchange(const Transfer* queued, int n, Completion* out) override {
    for (int i = 0; i < n; ++i) {
      const off_t at = static_cast<off_t>(queued[i].offset);
      long result;
      do {
        result = m_bWrite ? ::pwrite(m_fd, queued[i].buffer, m_block, at)
                          : ::pread(m_fd, queued[i].buffer, m_block, at);
      } while (result < 0 && errno == EINTR);
      out[i] = {queued[i].slot, result < 0 ? -errno : result};
    }
    return n;
  }

 private:
  const int m_fd;
  const bool m_bWrite;
  const std::uint32_t m_block;
};

std::unique_ptr<Queue> OpenQueue(const IoJob& job, IoResult& result) {
  const int fd = job.fd;
  if (job.depth == 1) {
    result.engine = IoEngine::kPositional;
    return std::make_unique<PositionalQueue>(fd, job.write, job.blockBytes);
  }
  auto uring =
      std::make_unique<UringQueue>(fd, job.write, job.blockBytes, job.depth);
  const int refused = uring->Setup();
  if (refused == 0) {
    result.engine = IoEngine::kIoUring;
    return uring;
  }
  result.uringRefused = -refused;
  result.engine = IoEngine::kLibaio;
  auto aio =
      std::make_unique<AioQueue>(fd, job.write, job.blockBytes, job.depth);
  if (const int error = aio->Setup()) {
    result.error = -error;
    return nullptr;
  }
  return aio;
}

std::uint64_t Nanoseconds(double seconds) {
  return seconds > 0 ? static_cast<std::uint64_t>(seconds * 1e9) : 0;
}

struct FreeDeleter {
  void operator()(char* memory) const { std::free(memory); }
};

}  // namespace

const char* EngineName(IoEngine engine) {
  switch (engine) {
    case IoEngine::kIoUring:
      return "io_uring";
    case IoEngine::kLibaio:
      return "libaio";
    case IoEngine::kPositional:
      return "pread/pwrite";
  }
  return "";
}

OffsetSequence::OffsetSequence(bool random, std::uint64_t blockBytes,
                               std::uint64_t fileBytes, std::uint64_t seed)
    : m_bRandom(random),
      m_blockBytes(blockBytes),
      m_blocks(blockBytes ? fileBytes / blockBytes : 0),
      m_state(seed) {}

IoResult RunQueuedIo(const IoJob& job, const std::atomic<bool>& stop) {
  IoResult result;
  const std::uint32_t block = job.blockBytes;
  const std::size_t align = std::max<std::size_t>(job.alignment, 4096);
  if (job.fd < 0 || job.depth < 1 || block == 0 || block % 512 != 0 ||
      job.fileBytes < block || (align & (align - 1)) != 0 ||
      (job.transfers == 0 && job.seconds <= 0)) {
    result.error = EINVAL;
    return result;
  }
  const int depth = job.depth;
  std::unique_ptr<Queue> queue = OpenQueue(job, result);
  if (!queue) return result;

  // Reads land in a buffer of their slot's own; writes come from a pool of
  // random data at least twice the depth, each slot back in the pool's
  // queue once its write completed, so none is stamped while in flight.
  const std::size_t stride = (block + align - 1) / align * align;
  std::unique_ptr<char, FreeDeleter> reads;
  std::unique_ptr<RandomData> data;
  std::vector<std::uint32_t> freePool;
  std::size_t freeHead = 0;
  std::size_t freeTail = 0;
  if (job.write) {
    data = std::make_unique<RandomData>(block, job.seed ^ 0xda7ada7ada7ada7aULL,
                                        2 * static_cast<std::size_t>(depth),
                                        align);
    if (!*data) {
      result.error = ENOMEM;
      return result;
    }
    data->Refill();
    freePool.resize(data->Slots());
    for (std::size_t i = 0; i < freePool.size(); ++i) {
      freePool[i] = static_cast<std::uint32_t>(i);
    }
  } else {
    reads.reset(static_cast<char*>(AllocateIoMemory(align, depth * stride)));
    if (!reads) {
      result.error = ENOMEM;
      return result;
    }
    std::memset(reads.get(), 0, depth * stride);
  }

  OffsetSequence offsets(job.random, block, job.fileBytes, job.seed);
  std::vector<Transfer> queued(depth);
  std::vector<Completion> done(depth);
  std::vector<std::uint64_t> offsetOf(depth);
  std::vector<std::uint32_t> poolOf(depth);
  std::vector<ClockValue> queuedAt(job.latency ? depth : 0);

  const bool timed = job.transfers == 0;
  std::uint64_t issued = 0;
  const auto prepare = [&](std::uint32_t slot) -> Transfer {
    const std::uint64_t offset = offsets.Next();
    offsetOf[slot] = offset;
    ++issued;
    if (!job.write) return {reads.get() + slot * stride, offset, slot};
    const std::uint32_t pool = freePool[freeHead++ % freePool.size()];
    poolOf[slot] = pool;
    return {const_cast<char*>(data->Mark(pool)), offset, slot};
  };

  IoCounters& counters = result.counters;
  const ClockValue start = ReadClock();
  const ClockValue countFrom =
      start +
      static_cast<ClockValue>(timed ? Nanoseconds(job.warmupSeconds) : 0);
  const auto timedSpan = static_cast<ClockValue>(Nanoseconds(job.seconds));
  ClockValue endAt = countFrom + timedSpan;
  bool counting = countFrom <= start;
  ClockValue windowStart = start;
  ClockValue lastCompletion = start;
  ClockValue now = start;
  bool issuing = true;
  int inFlight = 0;
  int n = 0;
  while (n < depth && (timed || issued < job.transfers)) {
    queued[n] = prepare(static_cast<std::uint32_t>(n));
    ++n;
  }

  // The loop: queue, wait, count, queue again. Nothing else happens here.
  while (n > 0 || inFlight > 0) {
    if (job.latency) {
      for (int i = 0; i < n; ++i) queuedAt[queued[i].slot] = now;
    }
    inFlight += n;
    counters.maxDepth = std::max(counters.maxDepth, inFlight);
    const int got = queue->Exchange(queued.data(), n, done.data());
    n = 0;
    if (got < 0) {
      result.error = -got;
      // The kernel may still use the buffers: they are kept, never freed.
      if (inFlight > 0) {
        static_cast<void>(queue.release());
        static_cast<void>(reads.release());
        static_cast<void>(data.release());
      }
      break;
    }
    now = ReadClock();
    inFlight -= got;
    // What ends the warm-up is the warm-up's: those transfers finished
    // before the timed span begins. The span is as long as asked however
    // late the warm-up ended.
    const bool countThese = counting;
    if (!counting && now >= countFrom) {
      counting = true;
      counters = IoCounters{};
      counters.maxDepth = inFlight + got;
      result.latency.Clear();
      windowStart = now;
      endAt = now + timedSpan;
    }
    if (issuing && stop.load(std::memory_order_relaxed)) {
      result.stopped = true;
      issuing = false;
    }
    if (timed && now >= endAt) issuing = false;
    for (int i = 0; i < got; ++i) {
      const std::uint32_t slot = done[i].slot;
      if (job.write) freePool[freeTail++ % freePool.size()] = poolOf[slot];
      if (done[i].result != static_cast<long>(block)) {
        // A short transfer at an offset inside the file: the file changed
        // under the run.
        if (result.error == 0) {
          result.error =
              done[i].result < 0 ? static_cast<int>(-done[i].result) : EIO;
        }
        issuing = false;
        continue;
      }
      if (countThese) {
        const std::uint64_t offset = offsetOf[slot];
        counters.bytes += block;
        ++counters.transfers;
        counters.lowestOffset = std::min(counters.lowestOffset, offset);
        counters.highestEnd = std::max(counters.highestEnd, offset + block);
        counters.misaligned += offset % block != 0;
        if (job.latency) {
          result.latency.Add(static_cast<std::uint64_t>(now - queuedAt[slot]));
        }
        lastCompletion = now;
      }
      if (issuing && (timed || issued < job.transfers)) {
        queued[n++] = prepare(slot);
      }
    }
  }
  if (counters.transfers > 0) {
    result.seconds =
        std::max(SecondsBetween(windowStart, lastCompletion), kMinSeconds);
  }
  return result;
}

std::optional<DirectAlignment> ReadDirectAlignment(int fd) {
  DirectAlignment alignment;
#ifdef STATX_DIOALIGN
  struct statx info {};
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &info) == 0 &&
      (info.stx_mask & STATX_DIOALIGN)) {
    if (info.stx_dio_offset_align == 0) return std::nullopt;
    alignment.memory = std::max<std::uint32_t>(4096, info.stx_dio_mem_align);
    alignment.offset = std::max<std::uint32_t>(4096, info.stx_dio_offset_align);
  }
#else
  (void)fd;
#endif
  return alignment;
}

void SetIoUringRefusalForTest(int error) { g_uringRefusal.store(error); }

}  // namespace ferrotick
