// The reader: the Read toggle's own handle on the test file and its own
// run, reading the file from start to end in timed passes until stopped.
#pragma once

#include <chrono>
#include <memory>

#include "core/message_log.h"
#include "core/run.h"

namespace ferrotick {

class CReader {
 public:
  // A reader of `description`'s file; its lines go to `log` and its run's
  // events to `sink`.
  CReader(RunDescription description, MessageLog& log,
          std::shared_ptr<EventSink> sink);
  // A run still going is left to end by itself; never waited for.
  ~CReader() = default;
  CReader(const CReader&) = delete;
  CReader& operator=(const CReader&) = delete;

  void Start();
  // Asks the run to stop and waits at most kStopWaitMs for it; past that
  // the run is abandoned: it ends after the transfer under way and tells
  // nothing more, and the window goes on whatever the kernel does.
  void Stop();
  // True once the run has been started and has not ended.
  bool Running() const;
  // True when a Stop had to give up waiting.
  bool Abandoned() const { return m_bAbandoned; }

  // For the end of the window.
  void Abandon();
  bool WaitEnded(std::chrono::milliseconds limit);

  static constexpr int kStopWaitMs = 1000;

 private:
  Run m_run;
  MessageLog& m_log;
  std::shared_ptr<EventSink> m_pSink;
  bool m_bStarted = false;
  bool m_bAbandoned = false;
};

}  // namespace ferrotick
