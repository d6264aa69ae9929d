// Queued direct transfers: every engine moves exactly what it is asked, at
// aligned offsets inside the file, at the depth asked, as its own counters
// and the file's bytes show; libaio takes over where io_uring is refused.
#include "core/queued_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <future>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/timing.h"
#include "tests/support/fake_view.h"

namespace ferrotick {
namespace {

using testing::MakeFile;
using testing::TempDir;

constexpr std::uint64_t kMiB = 1048576;

struct DirectFile {
  DirectFile(const std::string& path, int flags)
      : fd(::open(path.c_str(), flags | O_DIRECT | O_CLOEXEC)), error(errno) {}
  ~DirectFile() {
    if (fd >= 0) ::close(fd);
  }
  int fd;
  int error;
};

#define SKIP_WITHOUT_DIRECT_IO(file)                                     \
  if ((file).fd < 0 && (file).error == EINVAL) {                         \
    GTEST_SKIP() << "the test folder refuses O_DIRECT; set TMPDIR to a " \
                    "folder on a disk";                                  \
  }                                                                      \
  ASSERT_GE((file).fd, 0) << std::strerror((file).error)

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Makes io_uring's setup fail as a kernel or container that refuses it.
struct UringRefused {
  explicit UringRefused(int error) { SetIoUringRefusalForTest(error); }
  ~UringRefused() { SetIoUringRefusalForTest(0); }
};

struct Engine {
  const char* name;
  int depth;
  int uringRefusal;
  IoEngine expected;
};
const Engine kEngines[] = {
    {"io_uring", 32, 0, IoEngine::kIoUring},
    {"io_uring refused with EPERM", 32, EPERM, IoEngine::kLibaio},
    {"io_uring refused with ENOSYS", 8, ENOSYS, IoEngine::kLibaio},
    {"io_uring refused with EINVAL", 8, EINVAL, IoEngine::kLibaio},
    {"depth 1", 1, 0, IoEngine::kPositional},
};

// A fresh file of `bytes` opened with O_DIRECT and `flags`, and a job on
// it in blocks of 4 KiB at the engine's depth, io_uring refused as it says.
struct DirectJob {
  DirectJob(const Engine& engine, int flags, std::uint64_t bytes,
            char fill = 'x')
      : refusal(engine.uringRefusal) {
    MakeFile(path, bytes, fill);
    file.emplace(path, flags);
    job.fd = file->fd;
    job.blockBytes = 4096;
    job.depth = engine.depth;
    job.fileBytes = bytes;
  }
  IoResult Run() {
    const std::atomic<bool> stop{false};
    return RunQueuedIo(job, stop);
  }

  TempDir dir;
  const std::string path = dir.File("q.tmp");
  std::optional<DirectFile> file;
  UringRefused refusal;
  IoJob job;
};

// A run that moved `transfers` blocks of 4 KiB with the engine expected,
// at its depth, aligned, between the file's start and `highestEnd`.
void ExpectMoved(const IoResult& result, const Engine& engine,
                 std::uint64_t transfers, std::uint64_t highestEnd) {
  EXPECT_EQ(result.error, 0) << std::strerror(result.error);
  EXPECT_FALSE(result.stopped);
  EXPECT_EQ(result.engine, engine.expected);
  EXPECT_EQ(result.uringRefused, engine.uringRefusal);
  EXPECT_EQ(result.counters.transfers, transfers);
  EXPECT_EQ(result.counters.bytes, transfers * 4096);
  EXPECT_EQ(result.counters.maxDepth, engine.depth);
  EXPECT_EQ(result.counters.lowestOffset, 0u);
  EXPECT_EQ(result.counters.highestEnd, highestEnd);
  EXPECT_EQ(result.counters.misaligned, 0u);
  EXPECT_GT(result.seconds, 0);
}

TEST(QueuedIo, EachEngineWritesExactlyTheBlocksAskedEachUnlikeTheOthers) {
  for (const Engine& engine : kEngines) {
    SCOPED_TRACE(engine.name);
    DirectJob run(engine, O_WRONLY, 4 * kMiB, '\0');
    SKIP_WITHOUT_DIRECT_IO(*run.file);
    run.job.write = true;
    run.job.seed = 7;
    run.job.transfers = 1000;  // of the file's 1024 blocks
    ExpectMoved(run.Run(), engine, 1000, 1000u * 4096);

    const std::string bytes = Contents(run.path);
    ASSERT_EQ(bytes.size(), 4 * kMiB);
    const std::string zeros(4096, '\0');
    std::set<std::string> written;
    for (std::size_t b = 0; b < 1024; ++b) {
      const std::string block = bytes.substr(b * 4096, 4096);
      if (b < 1000) {
        EXPECT_NE(block, zeros) << "block " << b;
        written.insert(block);
      } else {
        EXPECT_EQ(block, zeros) << "block " << b;
      }
    }
    EXPECT_EQ(written.size(), 1000u);
  }
}

TEST(QueuedIo, RandomReadsCoverTheFileWithoutLeavingIt) {
  for (const Engine& engine : {kEngines[0], kEngines[1], kEngines[4]}) {
    SCOPED_TRACE(engine.name);
    DirectJob run(engine, O_RDONLY, kMiB);
    SKIP_WITHOUT_DIRECT_IO(*run.file);
    run.job.random = true;
    run.job.seed = 11;
    // 256 blocks: each one is missed by 6000 draws with a chance of e^-23.
    run.job.transfers = 6000;
    ExpectMoved(run.Run(), engine, 6000, kMiB);
  }
}

TEST(QueuedIo, AFileShorterThanTheJobFailsWithEveryEngineAndNothingHangs) {
  for (const Engine& engine : kEngines) {
    SCOPED_TRACE(engine.name);
    DirectJob run(engine, O_RDONLY, kMiB);
    SKIP_WITHOUT_DIRECT_IO(*run.file);
    run.job.fileBytes = 2 * kMiB;  // the second half is not there
    run.job.transfers = 512;
    const IoResult result = run.Run();
    EXPECT_EQ(result.error, EIO);
    EXPECT_LE(result.counters.highestEnd, kMiB);
    EXPECT_LE(result.counters.transfers, 256u);
  }
}

TEST(QueuedIo, ATimedRunTimesEachTransferAndAStopEndsItAtOnce) {
  DirectJob run(kEngines[4], O_RDONLY, kMiB);  // depth 1
  SKIP_WITHOUT_DIRECT_IO(*run.file);
  IoJob& job = run.job;
  job.random = true;
  job.warmupSeconds = 0.05;
  job.seconds = 0.3;
  job.latency = true;
  std::atomic<bool> stop{false};
  const IoResult timed = RunQueuedIo(job, stop);
  EXPECT_EQ(timed.error, 0);
  EXPECT_FALSE(timed.stopped);
  // The span ends with the first completion past its end.
  EXPECT_GE(timed.seconds, 0.25);
  ASSERT_GT(timed.counters.transfers, 0u);
  EXPECT_EQ(timed.counters.bytes, timed.counters.transfers * 4096);
  EXPECT_EQ(timed.latency.Count(), timed.counters.transfers);
  EXPECT_GT(timed.latency.PercentileNs(0.5), 0);
  EXPECT_LE(timed.latency.PercentileNs(0.5), timed.latency.PercentileNs(0.99));

  // Ten minutes asked, at depth 32: the stop ends it within a transfer.
  job.seconds = 600;
  job.depth = 32;
  auto running = std::async(std::launch::async,
                            [&job, &stop] { return RunQueuedIo(job, stop); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  stop.store(true);
  ASSERT_EQ(running.wait_for(std::chrono::seconds(30)),
            std::future_status::ready);
  const IoResult stopped = running.get();
  EXPECT_TRUE(stopped.stopped);
  EXPECT_EQ(stopped.error, 0);
}

// A clock that moves 30 ms at each reading, as if each transfer took that
// long: a warm-up of 50 ms ends 10 ms late, with a transfer that finished
// before the timed span began.
std::atomic<int> g_readings{0};
constexpr ClockValue kStepNs = 30'000'000;
ClockValue Ticking() { return g_readings.fetch_add(1) * kStepNs; }

TEST(QueuedIo, ALateWarmUpNeitherShortensTheSpanNorLendsItsTransfers) {
  DirectJob run(kEngines[4], O_RDONLY, kMiB);  // depth 1
  SKIP_WITHOUT_DIRECT_IO(*run.file);
  run.job.warmupSeconds = 0.05;
  run.job.seconds = 0.1;
  run.job.latency = true;
  g_readings.store(0);
  SetClockForTest(&Ticking);
  const IoResult timed = run.Run();
  SetClockForTest(nullptr);
  EXPECT_EQ(timed.error, 0);
  EXPECT_GE(timed.seconds, run.job.seconds);
  ASSERT_GT(timed.counters.transfers, 0u);
  // One transfer per step, as the clock says, and no more.
  EXPECT_NEAR(timed.seconds,
              static_cast<double>(timed.counters.transfers) * kStepNs / 1e9,
              1e-9);
  EXPECT_EQ(timed.latency.Count(), timed.counters.transfers);
}

TEST(OffsetSequence, DrawsAlignedBlocksUniformlyAndRepeatsFromItsSeed) {
  // A tail shorter than a block is never touched.
  OffsetSequence random(true, 4096, 256 * 4096 + 100, 42);
  std::vector<int> hits(256);
  for (int i = 0; i < 256 * 64; ++i) {
    const std::uint64_t offset = random.Next();
    ASSERT_EQ(offset % 4096, 0u);
    ASSERT_LT(offset / 4096, 256u);
    ++hits[offset / 4096];
  }
  // 64 expected in each; 20 and 120 are more than five deviations away.
  for (int count : hits) {
    EXPECT_GE(count, 20);
    EXPECT_LE(count, 120);
  }

  OffsetSequence a(true, 4096, kMiB, 5), again(true, 4096, kMiB, 5),
      other(true, 4096, kMiB, 6);
  int same = 0, differ = 0;
  for (int i = 0; i < 100; ++i) {
    const std::uint64_t first = a.Next();
    same += first == again.Next();
    differ += first != other.Next();
  }
  EXPECT_EQ(same, 100);
  EXPECT_GT(differ, 90);

  OffsetSequence sequential(false, kMiB, 3 * kMiB + kMiB / 2, 0);
  for (std::uint64_t expected : {0u, 1u, 2u, 0u, 1u}) {
    EXPECT_EQ(sequential.Next(), expected * kMiB);
  }
}

TEST(LatencyHistogram, PercentilesFallWithinABucketOfTheExactOnes) {
  LatencyHistogram empty;
  EXPECT_EQ(empty.PercentileNs(0.99), 0);
  EXPECT_EQ(empty.MeanNs(), 0);

  // 10 ns to 1 ms in steps of 10 ns: the exact p50 is 500,000 ns and the
  // p99 990,000 ns.
  LatencyHistogram spread;
  for (std::uint64_t i = 1; i <= 100000; ++i) spread.Add(i * 10);
  EXPECT_DOUBLE_EQ(spread.MeanNs(), 500005);
  EXPECT_NEAR(spread.PercentileNs(0.5), 500000, 500000 / 64.0);
  EXPECT_NEAR(spread.PercentileNs(0.99), 990000, 990000 / 64.0);

  // Below 64 ns every nanosecond is a bucket of its own.
  LatencyHistogram small;
  for (int i = 0; i < 99; ++i) small.Add(5);
  small.Add(40);
  EXPECT_EQ(small.PercentileNs(0.99), 5);
  EXPECT_EQ(small.PercentileNs(1), 40);

  // Every bucket holds exactly the latencies from its start to its end.
  for (int b = 0; b < LatencyHistogram::kBuckets; ++b) {
    const std::uint64_t start = LatencyHistogram::BucketStart(b);
    const std::uint64_t last = start + LatencyHistogram::BucketWidth(b) - 1;
    ASSERT_EQ(LatencyHistogram::Bucket(start), b);
    ASSERT_EQ(LatencyHistogram::Bucket(last), b);
    if (b > 0) {
      ASSERT_EQ(LatencyHistogram::Bucket(start - 1), b - 1);
    }
  }
}

}  // namespace
}  // namespace ferrotick
