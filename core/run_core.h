// What a run's pass loop works with: the description, the open file, the
// buffer, the stop and abandon requests, the pauses between passes and the
// events. Shared by the Run that owns it and the run's thread, so that a
// thread its owner gave up on still finds it whole.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "core/file_handle.h"
#include "core/run_description.h"
#include "core/run_events.h"
#include "core/run_thread.h"
#include "core/timing.h"
#include "core/transfer_buffer.h"

namespace ferrotick {

// Thrown inside a run's thread once it is abandoned; ends it silently.
struct RunAbandoned {};

class RunCore : public RunState {
 public:
  explicit RunCore(RunDescription description);

  const RunDescription& Description() const { return m_description; }
  std::uint64_t Id() const { return m_id; }
  const RunOptions& Options() const { return m_description.options; }
  FileHandle& File() { return m_file; }

  // File Size as the run sees it now.
  int FileSizeMB() const;
  bool StopRequested() const { return m_stop.load(std::memory_order_acquire); }
  void CheckAbandon() const {
    if (m_abandon.load(std::memory_order_relaxed)) throw RunAbandoned{};
  }
  // Hands `event` to the sink, unless the run has been abandoned.
  void Emit(const RunEvent& event);
  // Waits until `until`, or until a stop or abandon comes.
  void PauseUntil(std::chrono::steady_clock::time_point until);

  // The owner's side.
  void RequestStop();
  void Abandon() override;
  bool WaitEnded(std::chrono::milliseconds limit) override;
  bool Ended() const override;
  // The thread's whole life.
  void Body(std::shared_ptr<EventSink> sink, std::shared_ptr<RunCore> after);

  int completePasses = 0;  // the run's thread only

 private:
  void WaitForEnd(RunCore& other);

  const RunDescription m_description;
  const std::uint64_t m_id;
  FileHandle m_file;
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_abandon{false};
  mutable std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_bEnded = false;               // guarded by m_mutex
  std::shared_ptr<EventSink> m_pSink;  // guarded by m_mutex
};

// The pass loops, each on the run's thread with its buffer allocated. Each
// returns true when a stop ended it, false when it ran its course; they
// throw FileError on a failed transfer or sync, and RunAbandoned.
bool FillPasses(RunCore& run, TransferBuffer& buffer);
bool WritePasses(RunCore& run, TransferBuffer& buffer);
bool ReadPasses(RunCore& run, TransferBuffer& buffer);

}  // namespace ferrotick
