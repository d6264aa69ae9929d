#include "core/reader.h"

#include <utility>

#include "core/log_lines.h"

namespace ferrotick {

CReader::CReader(RunDescription description, MessageLog& log,
                 std::shared_ptr<EventSink> sink)
    : m_run(std::move(description)), m_log(log), m_pSink(std::move(sink)) {}

void CReader::Start() {
  if (const int error = m_run.Open()) {
    m_log.Append("Reader Open Failed");
    m_log.Append(ReasonLine(error));
    return;
  }
  m_log.Append(kReaderOpened);
  if (!m_run.Start(m_pSink)) {
    m_log.Append("Reader Thread Failed");
    return;
  }
  m_bStarted = true;
  m_log.Append(kReaderStarted);
}

void CReader::Stop() {
  m_run.RequestStop();
  m_log.Append(kReaderStopping);
  if (!m_bStarted) return;
  if (!m_run.WaitEnded(std::chrono::milliseconds(kStopWaitMs))) {
    m_run.Abandon();
    m_bAbandoned = true;
  }
}

bool CReader::Running() const { return m_bStarted && !m_run.Ended(); }

void CReader::Abandon() { m_run.Abandon(); }

bool CReader::WaitEnded(std::chrono::milliseconds limit) {
  return !m_bStarted || m_run.WaitEnded(limit);
}

}  // namespace ferrotick
