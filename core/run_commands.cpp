#include "core/run_commands.h"

#include <memory>
#include <new>
#include <optional>
#include <utility>

#include "core/log_lines.h"
#include "core/reader.h"
#include "core/timing.h"

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

}  // namespace

void OnCreate(BenchState& state) {
  const std::optional<std::string> path =
      state.m_view.ChoosePath(CreateRequest());
  if (!path) return;
  state.m_strPath.Set(*path);
  auto run = std::make_unique<Run>(state.Describe(RunKind::kFill));
  if (const int error = run->Open()) {
    state.m_log.Append(kOpenFailed);
    state.m_log.Append(ReasonLine(error));
    return;
  }
  state.m_log.Append(*path);
  state.m_view.SetTitle(Format("Ferrotick: %s", path->c_str()));
  if (!run->Start(state.Sink())) {
    state.m_log.Append("InitThread did not start.");
    return;
  }
  state.m_runs.push_back(std::move(run));
  // After the start: the fill's own lines come after the command's.
  state.m_log.Append(
      InitializingLine(state.m_nFileSizeMB.load(), state.m_nBufferKB.load()));
  if (auto warning = InMemoryWarning(*path)) state.m_log.Append(*warning);
}

void OnCancelInit(BenchState& state) {
  // Every fill going; one that has not yet seen its cancel is still going.
  for (const auto& run : state.m_runs) {
    if (run->Description().kind == RunKind::kFill) run->RequestStop();
  }
}

void OnWrite(BenchState& state) {
  if (state.m_bWriting.load()) {
    state.m_bWriting.store(false);
    if (state.m_pWriter) state.m_pWriter->RequestStop();
    state.m_view.SetWriteCaption("Write");
    state.m_log.Append(kWriteStopping);
    return;
  }
  auto run = std::make_unique<Run>(state.Describe(RunKind::kWrite));
  if (const int error = run->Open()) {
    state.m_log.Append("Open Failed or Canceled");
    state.m_log.Append(ReasonLine(error));
    return;
  }
  const std::string& path = run->Description().path;
  state.m_log.Append(OpenedLine(path));
  state.m_log.Append("");
  // Two writers never share the file: a writer still finishing (stopped,
  // or ended on a failure) is waited for before this one writes.
  Run* previous = state.m_pWriter;
  if (previous) previous->RequestStop();
  if (!run->Start(state.Sink(), previous)) {
    state.m_log.Append("WriteThread did not start.");
    return;
  }
  state.m_bWriting.store(true);
  state.m_pWriter = run.get();
  state.m_runs.push_back(std::move(run));
  state.m_view.SetWriteCaption("StopWrite");
  state.m_log.Append(kWriteStarted);
}

void OnRead(BenchState& state) {
  if (state.m_pReader) {
    state.m_pReader->Stop();
    state.m_pReader.reset();
    state.m_view.SetReadCaption("Read");
    return;
  }
  try {
    state.m_pReader = std::make_unique<CReader>(state.Describe(RunKind::kRead),
                                                state.m_log, state.Sink());
  } catch (const std::bad_alloc&) {
    state.m_log.Append("Reader Creation failed");
    return;
  }
  state.m_pReader->Start();
  state.m_view.SetReadCaption("StopRead");
  state.m_log.Append(kReaderStarting);
}

}  // namespace ferrotick
