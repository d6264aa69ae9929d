#include "core/disk_profile.h"

#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <random>
#include <utility>

#include "core/file_handle.h"

namespace ferrotick {

namespace {

constexpr std::uint32_t kFillBlock = 1 << 20;
constexpr int kFillDepth = 8;

std::string Size(std::uint32_t bytes) {
  return bytes % (1 << 20) == 0 ? std::to_string(bytes >> 20) + "MiB"
                                : std::to_string(bytes >> 10) + "KiB";
}

}  // namespace

std::string CellName(const ProfileCell& cell) {
  return std::string(cell.random ? "RND " : "SEQ ") + Size(cell.blockBytes) +
         " Q" + std::to_string(cell.depth) + (cell.write ? " write" : " read");
}

std::vector<ProfileCell> StandardCells() {
  std::vector<ProfileCell> cells;
  const ProfileCell kinds[] = {{false, 1 << 20, 8, false},
                               {false, 1 << 20, 1, false},
                               {true, 4096, 32, false},
                               {true, 4096, 1, false}};
  for (ProfileCell kind : kinds) {
    cells.push_back(kind);
    kind.write = true;
    cells.push_back(kind);
  }
  return cells;
}

double WarmupSeconds(double seconds) {
  return seconds / 4 < 0.5 ? seconds / 4 : 0.5;
}

std::uint64_t DrawSeed() {
  std::random_device device;
  return (static_cast<std::uint64_t>(device()) << 32 ^ device()) &
         ((std::uint64_t{1} << 53) - 1);
}

std::uint64_t RunSeed(std::uint64_t seed, int cell, int run) {
  std::uint64_t state = seed ^ (static_cast<std::uint64_t>(cell + 1) << 32 |
                                static_cast<std::uint32_t>(run));
  return SplitMix64(state);
}

class ProfileCore : public RunState {
 public:
  explicit ProfileCore(ProfileDescription description)
      : m_description(std::move(description)) {}

  const ProfileDescription& Description() const { return m_description; }

  void SetWake(std::function<void()> wake) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bAbandoned) m_wake = std::move(wake);
  }
  void Emit(ProfileEvent event) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bAbandoned) return;
    m_events.push_back(std::move(event));
    if (!m_bWoken && m_wake) {
      m_bWoken = true;
      m_wake();
    }
  }
  std::vector<ProfileEvent> Take() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bWoken = false;
    return std::exchange(m_events, {});
  }
  void RequestStop() { m_stop.store(true); }
  void Abandon() override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bAbandoned = true;
    m_stop.store(true);
    m_wake = nullptr;
    m_events.clear();
  }
  bool WaitEnded(std::chrono::milliseconds limit) override {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, limit, [this] { return m_bEnded; });
  }
  bool Ended() const override {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bEnded;
  }

  void Body() {
    ProfileEnd end = Measure();
    // Closed before the end is told: the caller may remove the file.
    m_writer.Close();
    m_reader.Close();
    Emit(end);
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_wake = nullptr;
      m_bEnded = true;
    }
    m_cv.notify_all();
  }

 private:
  ProfileEnd Failed(int error, int cell) {
    return ProfileEnd{Outcome::kFailed, error, cell};
  }

  ProfileEnd Measure() {
    const ProfileDescription& d = m_description;
    if (!m_writer.Open(d.path, OpenMode::kSharedWrite, /*direct=*/true)) {
      return Failed(m_writer.LastError(), -1);
    }
    const std::optional<DirectAlignment> alignment =
        ReadDirectAlignment(m_writer.Descriptor());
    if (!alignment || d.fileBytes % kFillBlock != 0 || d.fileBytes == 0) {
      return Failed(EINVAL, -1);
    }
    // Sized first, so that no write of the fill extends the file, which
    // some file systems do one at a time.
    if (::ftruncate(m_writer.Descriptor(), static_cast<off_t>(d.fileBytes)) !=
        0) {
      return Failed(errno, -1);
    }
    Emit(ProfileStep{-1, 0});
    IoJob fill;
    fill.fd = m_writer.Descriptor();
    fill.write = true;
    fill.blockBytes = kFillBlock;
    fill.depth = kFillDepth;
    fill.fileBytes = d.fileBytes;
    fill.seed = RunSeed(d.seed, -1, 0);
    fill.alignment = alignment->memory;
    fill.transfers = d.fileBytes / kFillBlock;
    const IoResult filled = RunQueuedIo(fill, m_stop);
    if (filled.error) return Failed(filled.error, -1);
    if (filled.stopped) return ProfileEnd{Outcome::kStopped, 0, -1};
    if (::fdatasync(m_writer.Descriptor()) != 0) return Failed(errno, -1);
    if (!m_reader.Open(d.path, OpenMode::kSharedRead, /*direct=*/true)) {
      return Failed(m_reader.LastError(), -1);
    }

    for (int c = 0; c < static_cast<int>(d.cells.size()); ++c) {
      const ProfileCell& cell = d.cells[c];
      if (cell.blockBytes % alignment->offset != 0) return Failed(EINVAL, c);
      for (int run = 1; run <= d.runs; ++run) {
        if (m_stop.load()) return ProfileEnd{Outcome::kStopped, 0, c};
        Emit(ProfileStep{c, run});
        IoJob job;
        job.fd = cell.write ? m_writer.Descriptor() : m_reader.Descriptor();
        job.write = cell.write;
        job.random = cell.random;
        job.blockBytes = cell.blockBytes;
        job.depth = cell.depth;
        job.fileBytes = d.fileBytes;
        job.seed = RunSeed(d.seed, c, run);
        job.alignment = alignment->memory;
        job.warmupSeconds = d.warmupSeconds;
        job.seconds = d.seconds;
        job.latency = cell.depth == 1;
        const IoResult result = RunQueuedIo(job, m_stop);
        if (result.error) return Failed(result.error, c);
        if (result.stopped || result.counters.transfers == 0) {
          return ProfileEnd{Outcome::kStopped, 0, c};
        }
        CellRun figures;
        figures.cell = c;
        figures.run = run;
        figures.engine = result.engine;
        figures.uringRefused = result.uringRefused;
        figures.bytes = result.counters.bytes;
        figures.transfers = result.counters.transfers;
        figures.seconds = result.seconds;
        figures.maxDepth = result.counters.maxDepth;
        if (job.latency) {
          figures.meanLatencyUs = result.latency.MeanNs() / 1000;
          figures.p99LatencyUs = result.latency.PercentileNs(0.99) / 1000;
        }
        Emit(figures);
      }
    }
    // A stop that came as the last run ended is still a stop.
    if (m_stop.load()) {
      return ProfileEnd{Outcome::kStopped, 0,
                        static_cast<int>(d.cells.size()) - 1};
    }
    return ProfileEnd{};
  }

  const ProfileDescription m_description;
  std::atomic<bool> m_stop{false};
  FileHandle m_writer;  // the profile's thread only
  FileHandle m_reader;
  mutable std::mutex m_mutex;
  std::condition_variable m_cv;
  std::vector<ProfileEvent> m_events;  // guarded by m_mutex
  std::function<void()> m_wake;        // guarded by m_mutex
  bool m_bWoken = false;               // guarded by m_mutex
  bool m_bAbandoned = false;           // guarded by m_mutex
  bool m_bEnded = false;               // guarded by m_mutex
};

DiskProfile::DiskProfile(ProfileDescription description)
    : m_core(std::make_shared<ProfileCore>(std::move(description))) {}

DiskProfile::~DiskProfile() = default;

const ProfileDescription& DiskProfile::Description() const {
  return m_core->Description();
}

bool DiskProfile::Start(std::function<void()> wake) {
  m_core->SetWake(std::move(wake));
  return m_thread.Start(m_core, [core = m_core] { core->Body(); });
}

std::vector<ProfileEvent> DiskProfile::Take() { return m_core->Take(); }

void DiskProfile::RequestStop() { m_core->RequestStop(); }

void DiskProfile::Abandon() { m_core->Abandon(); }

bool DiskProfile::WaitEnded(std::chrono::milliseconds limit) {
  return m_thread.WaitEnded(limit);
}

}  // namespace ferrotick
