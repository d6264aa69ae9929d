#include "core/timed_writes.h"

#include <cerrno>
#include <cstring>

namespace ferrotick {

WriteData::WriteData(DataPattern pattern, TransferBuffer& buffer)
    : m_pattern(pattern), m_buffer(buffer) {
  if (pattern == DataPattern::kRandom) {
    m_random.emplace(buffer.Size());
    if (!*m_random) throw FileError("random data", ENOMEM);
  }
}

void WriteData::BeginPass(RunKind kind) {
  if (m_random) {
    m_random->Refill();
  } else if (kind == RunKind::kWrite) {
    std::memset(m_buffer.Data(), m_letter, m_buffer.Size());
    m_letter = m_letter == 'Z' ? 'A' : static_cast<char>(m_letter + 1);
  }
}

TimedWrites::TimedWrites(RunCore& run, TransferBuffer& buffer, WriteData& data,
                         int pass)
    : m_run(run),
      m_buffer(buffer),
      m_data(data),
      m_pass(pass),
      m_writesPerMB(WritesPerMB(run.Description().bufferKB)),
      m_start(ReadClock()) {}

void TimedWrites::WriteMB(int) {
  for (int w = 0; w < m_writesPerMB; ++w) {
    m_run.File().Write(m_data.Next(), m_buffer.Size());
    m_bytes += m_buffer.Size();
    m_run.CheckAbandon();
  }
}

ProgressEvent TimedWrites::Progress(int i, bool point) const {
  return ProgressEvent{
      m_run.Description().kind, m_pass, i, m_run.FileSizeMB(), m_bytes,
      SecondsSince(m_start),    point};
}

PassEvent TimedWrites::Finish(int mb, PassEnd end) {
  // Before the clock stops: the pass includes getting its data to the
  // device.
  if (m_run.Options().sync) m_run.File().Sync();
  return PassEvent{m_run.Description().kind,
                   m_pass,
                   mb,
                   m_bytes,
                   SecondsSince(m_start),
                   end,
                   m_run.Description().bufferKB,
                   m_data.Pattern()};
}

PassEvent TimedWrites::Cut(int mb) const {
  return PassEvent{m_run.Description().kind,
                   m_pass,
                   mb,
                   m_bytes,
                   SecondsSince(m_start),
                   PassEnd::kFailed,
                   m_run.Description().bufferKB,
                   m_data.Pattern()};
}

}  // namespace ferrotick
