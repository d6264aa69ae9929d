// The reader: its own handle on the test file and its own thread, reading
// the file from start to end in timed passes until stopped.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "core/bench_state.h"
#include "core/private_table.h"

namespace ferrotick {

class CReader {
 public:
  CReader(std::string path, BenchState* state);
  ~CReader();  // closes the handle; a thread still running is abandoned
  CReader(const CReader&) = delete;
  CReader& operator=(const CReader&) = delete;

  void Start();
  // Asks ReadThread to stop and waits at most kStopWaitMs for it; past
  // that the thread is abandoned and ends within one more read.
  void Stop();
  // True once ReadThread has been started and has not yet been joined.
  bool HasThread() const { return m_hReadThread.joinable(); }
  // True when a Stop had to give up waiting and abandon the thread.
  bool Abandoned() const { return m_bAbandon.load(); }

  static constexpr int kStopWaitMs = 1000;

 private:
  friend int ReadThread(CReader* reader);

  TestFile m_file;
  std::string m_strPath;
  BenchState* m_pState;
  std::atomic<bool> m_bRunning{false};
  std::atomic<bool> m_bAbandon{false};
  std::mutex m_doneMutex;
  std::condition_variable m_doneCv;
  bool m_bThreadDone = false;  // guarded by m_doneMutex
  // The shared table's copy of m_file's descriptor once ReadThread has a
  // table of its own; closed on the window thread.
  std::shared_ptr<SharedCopy> m_pSharedCopy;
  std::thread m_hReadThread;
};

int ReadThread(CReader* reader);
void OnRead(BenchState& state);

}  // namespace ferrotick
