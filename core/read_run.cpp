// The reader's passes: the file from start to end, MBs counted from the
// bytes the reads return, until stopped or until the pass limit.
#include "core/pass_pacing.h"
#include "core/run_core.h"

namespace ferrotick {

bool ReadPasses(RunCore& run, TransferBuffer& buffer) {
  const RunOptions& options = run.Options();
  PassPacing pacing(options.minPassPeriod);
  // Carried from pass to pass: a file of 2.5 MB reads as 2, 3, 2, 3 MB.
  std::uint64_t remainder = 0;
  for (int pass = 1;; ++pass) {
    int m = 0;
    std::uint64_t bytes = 0;
    PassEnd end = PassEnd::kComplete;
    ClockValue start = ReadClock();
    try {
      if (options.dropCache) run.File().DropCache();
      run.File().SeekToStart();
      start = ReadClock();
      for (;;) {
        const std::size_t n = run.File().Read(buffer.Data(), buffer.Size());
        run.CheckAbandon();
        if (n == 0) break;
        remainder += n;
        bytes += n;
        if (remainder >= static_cast<std::uint64_t>(kBytesPerMB)) {
          remainder -= kBytesPerMB;
          ++m;
          // The clock is read once per MB, as the write runs do: once per
          // small read would cost a few percent of the rate measured.
          const bool point = IsReadProgressPoint(m);
          run.Emit(ProgressEvent{RunKind::kRead, pass, m, 0, bytes,
                                 SecondsSince(start), point});
          if (point && run.StopRequested()) {
            end = PassEnd::kStopped;
            break;
          }
        }
      }
    } catch (const FileError&) {
      run.Emit(PassEvent{RunKind::kRead, pass, m, bytes, SecondsSince(start),
                         PassEnd::kFailed, run.Description().bufferKB,
                         DataPattern::kLetters});
      throw;
    }
    run.Emit(PassEvent{RunKind::kRead, pass, m, bytes, SecondsSince(start), end,
                       run.Description().bufferKB, DataPattern::kLetters});
    if (end == PassEnd::kComplete) ++run.completePasses;
    if (options.passLimit > 0 && pass >= options.passLimit) return false;
    if (run.StopRequested()) return true;
    if (pacing.Pauses()) {
      run.PauseUntil(pacing.NextPassAt());
      pacing.PassBegins();
    }
    run.CheckAbandon();
  }
}

}  // namespace ferrotick
