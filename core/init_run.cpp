#include "core/init_run.h"

#include <memory>
#include <optional>
#include <utility>

#include "core/timed_writes.h"
#include "core/transfer_buffer.h"

namespace ferrotick {

namespace {

const ChoosePathRequest& CreateRequest() {
  static const ChoosePathRequest request{
      /*openType=*/false,
      /*defaultExtension=*/"tmp",
      /*defaultFileName=*/"testdata",
      /*filter=*/"tmp files (*.tmp)|*.tmp|All Files (*.*)|*.*||",
      /*initialDirectory=*/".",
      /*mustExist=*/false,
      /*promptOverwrite=*/true,
      /*hideReadOnly=*/true};
  return request;
}

// The timed fill; returns its seconds, or nothing when cancelled. Throws
// FileError on a failed write.
std::optional<double> Fill(BenchState& state, TestFile& file,
                           TransferBuffer& buffer, int bufferKB) {
  TimedWrites writes(state, file, buffer, bufferKB, "create");
  writes.Start();
  int i = 0;
  for (; i < state.m_nFileSizeMB.load(); ++i) {
    writes.WriteMB(i);
    // Tested after every MB, before the progress step.
    if (state.m_bCancelInit.load()) return std::nullopt;
    if (IsWriteProgressPoint(i)) writes.Progress(i, InitProgressLine);
  }
  return writes.Finish(state.m_nFileSizeMB.load(), i, 1);
}

}  // namespace

void OnCreate(BenchState& state) {
  state.m_workers.Reap();
  const std::optional<std::string> path =
      state.m_view.ChoosePath(CreateRequest());
  if (!path) return;
  state.m_strPath.Set(*path);
  if (!state.m_file.Open(*path, OpenMode::kCreate, state.m_options.direct)) {
    state.m_log.Append("Open Failed");
    return;
  }
  state.m_log.Append(*path);
  state.m_view.SetTitle(Format("Ferrotick: %s", path->c_str()));
  state.m_bCancelInit.store(false);
  // The run owns the handle from here on; a later open on the window
  // thread works on a handle of its own.
  auto file = std::make_shared<TestFile>(std::move(state.m_file));
  const bool started = state.m_workers.Start(
      [&state, file] { InitThread(state, std::move(*file)); },
      std::make_shared<SharedCopy>(file->Descriptor()));
  if (!started) {
    state.m_log.Append("InitThread did not start.");
    return;
  }
  state.m_log.Append(Format("Initializing %dMB w/%dKB bufs",
                            state.m_nFileSizeMB.load(),
                            state.m_nBufferKB.load()));
}

void OnCancelInit(BenchState& state) { state.m_bCancelInit.store(true); }

int InitThread(BenchState& state, TestFile file) {
  try {
    const int bufferKB = state.m_nBufferKB.load();
    // The fill's own time: m_dSeconds is also the clock of a writer on
    // another file.
    std::optional<double> seconds;
    {
      TransferBuffer buffer(static_cast<std::size_t>(bufferKB) * 1024,
                            state.m_options.direct);
      if (buffer) {
        try {
          seconds = Fill(state, file, buffer, bufferKB);
        } catch (const FileError& error) {
          if (state.m_pListener) {
            state.m_pListener->OnFailure("create", error.Errno());
          }
        }
      }
    }
    state.CheckAbandon();
    if (!seconds) {
      // Not left held: a failed or cancelled fill lets go of the file.
      file.Close();
      state.m_log.Append("InitThread Failed or was Canceled.");
      return 0;
    }
    state.m_log.Append(InitDoneLine(state.m_nFileSizeMB.load(), *seconds));
    // Closed before the tests are enabled, so a Write pressed at once finds
    // the file free; the lines keep their order.
    file.Close();
    state.m_log.PostEnableTests(true);
    state.m_log.Append(Format("%s Closed.", state.m_strPath.Get().c_str()));
    return 1;
  } catch (const Abandoned&) {
    return 0;
  }
}

}  // namespace ferrotick
