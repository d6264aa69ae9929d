// The fill: File Size MB of writes into a new file, timed as one pass.
#include "core/run_core.h"
#include "core/timed_writes.h"

namespace ferrotick {

bool FillPasses(RunCore& run, TransferBuffer& buffer) {
  WriteData data(run.Options().pattern, buffer);
  data.BeginPass(RunKind::kFill);
  TimedWrites writes(run, buffer, data, 1);
  int i = 0;
  try {
    for (; i < run.FileSizeMB(); ++i) {
      writes.WriteMB(i);
      // Tested after every MB, before the progress step: a cancel takes
      // effect once the MB under way is written.
      if (run.StopRequested()) {
        run.Emit(writes.Finish(i + 1, PassEnd::kStopped));
        return true;
      }
      run.Emit(writes.Progress(i, IsWriteProgressPoint(i)));
    }
    PassEvent pass = writes.Finish(run.FileSizeMB(), PassEnd::kComplete);
    // A sync takes the time of the whole fill; a stop that came during it
    // still counts, or a stopped fill would pass for a measured one.
    if (run.Options().sync && run.StopRequested()) {
      pass.end = PassEnd::kStopped;
    }
    run.Emit(pass);
    if (pass.Complete()) run.completePasses = 1;
    return !pass.Complete();
  } catch (const FileError&) {
    run.Emit(writes.Cut(i));
    throw;
  }
}

}  // namespace ferrotick
