#include "core/timed_writes.h"

namespace ferrotick {

TimedWrites::TimedWrites(BenchState& state, TestFile& file,
                         TransferBuffer& buffer, int bufferKB, const char* run)
    : m_state(state),
      m_file(file),
      m_buffer(buffer),
      m_bufferKB(bufferKB),
      m_writesPerMB(WritesPerMB(bufferKB)),
      m_run(run) {}

std::uint64_t TimedWrites::Bytes(int mbs) const {
  return static_cast<std::uint64_t>(mbs) * m_writesPerMB * m_buffer.Size();
}

void TimedWrites::Start() {
  m_start = ReadClock();
  m_state.m_clockStart.store(m_start);
}

void TimedWrites::WriteMB(int i) {
  for (int w = 0; w < m_writesPerMB; ++w) {
    m_file.Write(m_buffer.Data(), m_buffer.Size());
    m_state.CheckAbandon();
  }
  if (m_state.m_pListener) {
    m_state.m_pListener->OnProgress(m_run, Bytes(i + 1), SecondsSince(m_start));
  }
}

void TimedWrites::Progress(int i, ProgressLine line) {
  const double seconds = SecondsSince(m_start);
  m_state.m_dSeconds.store(seconds);
  m_state.m_log.Append(line(i, seconds, m_state.m_nFileSizeMB.load()));
}

double TimedWrites::Finish(int mb, int written, int pass) {
  if (m_state.m_options.sync) m_file.Sync();
  const double seconds = SecondsSince(m_start);
  m_state.m_dSeconds.store(seconds);
  if (m_state.m_pListener) {
    m_state.m_pListener->OnPass(PassRecord{m_run, pass, mb, Bytes(written),
                                           seconds, Rate(mb, seconds),
                                           m_bufferKB});
  }
  return seconds;
}

}  // namespace ferrotick
