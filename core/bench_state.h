// The state that the commands and the worker threads share.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "core/bench_view.h"
#include "core/message_log.h"
#include "core/pass_pacing.h"
#include "core/test_file.h"
#include "core/timing.h"
#include "core/workers.h"

namespace ferrotick {

class CReader;

// Text that the window thread rewrites while workers read it.
class SharedText {
 public:
  std::string Get() const;
  void Set(std::string text);

 private:
  mutable std::mutex m_mutex;
  std::string m_text;
};

// How the runs move data. The dialog keeps the defaults.
struct RunOptions {
  bool sync = false;       // write runs: fdatasync before a pass's clock
  bool direct = false;     // O_DIRECT with an aligned buffer
  bool dropCache = false;  // read run: drop the file's cache before a pass
  int passLimit = 0;       // write and read runs stop after this many; 0: never
  // Write and read passes quicker than this are followed by a pause for the
  // rest of it (outside the timed pass); zero: passes back to back.
  std::chrono::milliseconds minPassPeriod = kMinPassPeriod;
};

// One finished timed pass, for front ends that report more than the log.
struct PassRecord {
  const char* run;  // "create", "write" or "read"
  int pass;         // from 1
  int mb;           // the MB count of the pass line
  std::uint64_t bytes;
  double seconds;
  double rate;
  int bufferKB;
};

// Told on the worker's thread; must not block for long.
class RunListener {
 public:
  virtual ~RunListener() = default;
  virtual void OnPass(const PassRecord& record) = 0;
  virtual void OnProgress(const char* run, std::uint64_t bytes,
                          double seconds) = 0;
  // A transfer failed with `error` (an errno); the run's failure line
  // follows. The log keeps the dialog's lines, which name no reason.
  virtual void OnFailure(const char* /*run*/, int /*error*/) {}
};

// Ends a run at once and silently when the program goes away.
class Abandoned {};

// What a running writer shares with the writer that follows it.
struct WriterTicket {
  std::atomic<bool> stopRequested{false};
  std::mutex mutex;
  std::condition_variable finishedCv;
  bool finished = false;  // guarded by mutex
  void MarkFinished();
  void WaitFinished();
};

struct BenchState {
  BenchState(BenchView& view, MessageLog& log);
  ~BenchState();  // abandons every run and joins its thread
  BenchState(const BenchState&) = delete;
  BenchState& operator=(const BenchState&) = delete;

  TestFile m_file;  // idle handle; a run takes it over when it starts
  SharedText m_strPath;
  std::atomic<ClockValue> m_clockStart{0};
  std::atomic<double> m_dSeconds{0};
  std::atomic<bool> m_bCancelInit{false};
  std::atomic<bool> m_bWriting{false};
  std::unique_ptr<CReader> m_pReader;
  std::atomic<int> m_nFileSizeMB{0};
  std::atomic<int> m_nBufferKB{0};

  BenchView& m_view;
  MessageLog& m_log;
  RunOptions m_options;
  RunListener* m_pListener = nullptr;
  std::atomic<bool> m_bAbandon{false};
  // Paced runs pause here; raising a stop flag wakes them.
  PassPauses m_pauses;
  std::shared_ptr<WriterTicket> m_pLastWriter;
  Workers m_workers;

  // Window thread: joins the workers that have finished.
  void ReapFinished();
  // Tells every run to end silently and joins every worker thread.
  void Shutdown();
  // Throws Abandoned once Shutdown has begun.
  void CheckAbandon() const {
    if (m_bAbandon.load(std::memory_order_relaxed)) throw Abandoned{};
  }
};

}  // namespace ferrotick
