// One run of any kind: it owns its thread, its stop request, its file and
// its buffer, and has one lifecycle: Open, Start, then RequestStop or its
// own end, or Abandon when its owner cannot wait for it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "core/file_handle.h"
#include "core/run_description.h"
#include "core/run_events.h"
#include "core/run_thread.h"

namespace ferrotick {

class RunCore;

// The mode a run of `kind` opens its file in.
OpenMode RunOpenMode(RunKind kind);

class Run {
 public:
  explicit Run(RunDescription description);
  // A thread still going when the run goes is abandoned and left to end
  // by itself (it holds what it uses), never waited for.
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  const RunDescription& Description() const;
  // Unique in the process; an end event names its run by it.
  std::uint64_t Id() const;

  // Opens the file as the run's kind needs it (create, shared write or
  // shared read mode), on the calling thread. 0, or the errno of the open.
  int Open();
  // Takes a handle the caller opened in that mode instead of Open().
  void Adopt(FileHandle file);
  // Starts the run's thread; false when it cannot be started. Events go to
  // `sink` on that thread. With `after`, the thread waits until that run
  // has ended before it touches the file, so two writers never overlap.
  bool Start(std::shared_ptr<EventSink> sink, const Run* after = nullptr);

  // Any thread; never waits. The run stops at its next stop test.
  void RequestStop();
  bool StopRequested() const;
  // Waits at most `limit` for the run to end; true when it has.
  bool WaitEnded(std::chrono::milliseconds limit);
  bool Ended() const;
  // The run ends silently at its next chance; once this returns, it
  // reports nothing more. Never waits for a transfer.
  void Abandon();

 private:
  std::shared_ptr<RunCore> m_core;
  RunThread m_thread;
};

}  // namespace ferrotick
