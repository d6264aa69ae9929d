// The standard disk profile: sequential 1 MiB transfers at queue depth 8
// and 1, random 4 KiB transfers at depth 32 and 1, each read and written,
// each cell timed for some seconds after an untimed warm-up and repeated,
// with direct I/O on a test file it first writes with random data. It runs
// on a thread of its own, tells what it does as values, honours a stop
// within one transfer, and closes what it opened before it ends.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/queued_io.h"
#include "core/run_events.h"
#include "core/run_thread.h"

namespace ferrotick {

struct ProfileCell {
  bool random = false;
  std::uint32_t blockBytes = 0;
  int depth = 1;
  bool write = false;
};

// "SEQ 1MiB Q8 read", "RND 4KiB Q32 write", ...
std::string CellName(const ProfileCell& cell);
// The eight, in the order they run: each kind read, then written.
std::vector<ProfileCell> StandardCells();

// The untimed warm-up before a timed span of `seconds`.
double WarmupSeconds(double seconds);

struct ProfileDescription {
  // An existing empty file, which the profile sizes and writes whole
  // before the cells; the caller removes it.
  std::string path;
  std::uint64_t fileBytes = 0;  // a multiple of 1 MiB
  double seconds = 5;           // timed, per run of a cell
  double warmupSeconds = 0.5;   // untimed, before each run
  int runs = 3;
  // Each run's offsets and data come from this and the run's place, so a
  // profile with the same seed repeats every transfer.
  std::uint64_t seed = 0;
  std::vector<ProfileCell> cells = StandardCells();
};

// A seed drawn from the system, small enough to type back in, as JSON
// numbers go.
std::uint64_t DrawSeed();
// The seed of run `run` (from 1) of cell `cell` (from 0; -1 the fill).
std::uint64_t RunSeed(std::uint64_t seed, int cell, int run);

// Something begins: the fill (cell -1) or a run of a cell.
struct ProfileStep {
  int cell = -1;
  int run = 0;  // from 1; 0 for the fill
};

// A run of a cell that ran its whole span; a run cut short by a stop or a
// failure is never told as one.
struct CellRun {
  int cell = 0;
  int run = 0;  // from 1
  IoEngine engine = IoEngine::kPositional;
  int uringRefused = 0;  // errno of io_uring's refusal, when libaio ran
  std::uint64_t bytes = 0;
  std::uint64_t transfers = 0;
  double seconds = 0;
  int maxDepth = 0;
  // Depth 1 only: each transfer timed, in microseconds.
  std::optional<double> meanLatencyUs;
  std::optional<double> p99LatencyUs;

  double MBPerSecond() const { return bytes / seconds / 1e6; }
  double MiBPerSecond() const { return bytes / seconds / 1048576.0; }
  double TransfersPerSecond() const { return transfers / seconds; }
};

struct ProfileEnd {
  Outcome outcome = Outcome::kCompleted;
  int error = 0;  // errno when failed
  int cell = -1;  // the cell that failed or was stopped; -1 the fill
};

using ProfileEvent = std::variant<ProfileStep, CellRun, ProfileEnd>;

class ProfileCore;

class DiskProfile {
 public:
  explicit DiskProfile(ProfileDescription description);
  // A thread still going is abandoned and left to end by itself, never
  // waited for.
  ~DiskProfile();
  DiskProfile(const DiskProfile&) = delete;
  DiskProfile& operator=(const DiskProfile&) = delete;

  const ProfileDescription& Description() const;
  // Starts the thread; false when it cannot be started. `wake` is called
  // on that thread when events wait to be taken, once until the next
  // Take(); it must be quick.
  bool Start(std::function<void()> wake);
  // Every event since the last Take(), in order; the end comes last.
  std::vector<ProfileEvent> Take();
  // Any thread; never waits. The transfer under way is the last.
  void RequestStop();
  // Nothing more is told; never waits.
  void Abandon();
  bool WaitEnded(std::chrono::milliseconds limit);

 private:
  std::shared_ptr<ProfileCore> m_core;
  RunThread m_thread;
};

}  // namespace ferrotick
