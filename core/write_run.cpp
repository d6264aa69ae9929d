// The writer: passes that rewrite the file from its start until stopped or
// until the pass limit.
#include "core/pass_pacing.h"
#include "core/run_core.h"
#include "core/timed_writes.h"

namespace ferrotick {

bool WritePasses(RunCore& run, TransferBuffer& buffer) {
  WriteData data(run.Options().pattern, buffer);
  PassPacing pacing(run.Options().minPassPeriod);
  for (int pass = 1; !run.StopRequested(); ++pass) {
    run.File().SeekToStart();
    data.BeginPass(RunKind::kWrite);
    TimedWrites writes(run, buffer, data, pass);
    PassEnd end = PassEnd::kComplete;
    int i = 0;
    try {
      for (; i < run.FileSizeMB(); ++i) {
        writes.WriteMB(i);
        const bool point = IsWriteProgressPoint(i);
        run.Emit(writes.Progress(i, point));
        // The stop is tested only here and between passes: a pass of 128 MB
        // or less always ends whole.
        if (point && run.StopRequested()) {
          end = PassEnd::kStopped;
          break;
        }
      }
      run.Emit(writes.Finish(i, end));
    } catch (const FileError&) {
      run.Emit(writes.Cut(i));
      throw;
    }
    if (end == PassEnd::kComplete) ++run.completePasses;
    if (run.Options().passLimit > 0 && pass >= run.Options().passLimit) {
      return false;
    }
    if (pacing.Pauses()) {
      run.PauseUntil(pacing.NextPassAt());
      pacing.PassBegins();
    }
    run.CheckAbandon();
  }
  return true;
}

}  // namespace ferrotick
