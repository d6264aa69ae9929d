// What the fill and the writer share: a timed pass of whole-MB writes of
// the run's data, its progress and its end.
#pragma once

#include <optional>

#include "core/data_pattern.h"
#include "core/run_core.h"

namespace ferrotick {

// The data a write-based run writes, pass after pass.
class WriteData {
 public:
  // Throws FileError (ENOMEM) when random data cannot be had.
  WriteData(DataPattern pattern, TransferBuffer& buffer);
  // Prepares a pass, outside its timed span: a letter pass gets its letter
  // ('A' for the first), a fill of letters keeps zeros, random data is
  // made anew.
  void BeginPass(RunKind kind);
  // The bytes of the next write.
  const char* Next() { return m_random ? m_random->Next() : m_buffer.Data(); }
  DataPattern Pattern() const { return m_pattern; }

 private:
  const DataPattern m_pattern;
  TransferBuffer& m_buffer;
  std::optional<RandomData> m_random;
  char m_letter = 'A';
};

class TimedWrites {
 public:
  TimedWrites(RunCore& run, TransferBuffer& buffer, WriteData& data, int pass);

  // The W writes of MB index i, after which i + 1 MB are written. Throws
  // FileError, or RunAbandoned after any write.
  void WriteMB(int i);
  // The event after MB index i; `point` at the 128-MB points.
  ProgressEvent Progress(int i, bool point) const;
  // Pass end, with a sync first when the run asks for one: the pass with
  // `mb` as its line's count. A sync that fails throws FileError.
  PassEvent Finish(int mb, PassEnd end);
  // The pass so far, for a pass that a failure cut short.
  PassEvent Cut(int mb) const;

 private:
  RunCore& m_run;
  TransferBuffer& m_buffer;
  WriteData& m_data;
  const int m_pass;
  const int m_writesPerMB;
  const ClockValue m_start;
  std::uint64_t m_bytes = 0;
};

}  // namespace ferrotick
