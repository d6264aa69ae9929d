// What the fill and the writer share: a pass of whole-MB writes on the
// bench state's clock, its progress step and its end.
#pragma once

#include <string>

#include "core/bench_state.h"
#include "core/transfer_buffer.h"

namespace ferrotick {

class TimedWrites {
 public:
  using ProgressLine = std::string (*)(int i, double seconds, int fileSizeMB);

  TimedWrites(BenchState& state, TestFile& file, TransferBuffer& buffer,
              int bufferKB, const char* run);

  // Reads the clock into m_clockStart.
  void Start();
  // The W writes of one MB. Throws FileError, or Abandoned after any write.
  void WriteMB(int i);
  // The progress step after MB index i: seconds into m_dSeconds, a line.
  void Progress(int i, ProgressLine line);
  // Pass end: seconds into m_dSeconds; returns them. `mb` is the MB count
  // of the pass and `written` the MBs actually written.
  double Finish(int mb, int written, int pass);

 private:
  std::uint64_t Bytes(int mbs) const;

  BenchState& m_state;
  TestFile& m_file;
  TransferBuffer& m_buffer;
  const int m_bufferKB;
  const int m_writesPerMB;
  const char* m_run;
  ClockValue m_start = 0;
};

}  // namespace ferrotick
