#include "core/file_commands.h"

#include <cerrno>

#include "core/file_handle.h"
#include "core/log_lines.h"
#include "core/timing.h"

namespace ferrotick {

namespace {

const ChoosePathRequest& UseExistingRequest() {
  static const ChoosePathRequest request{
      /*openType=*/true,
      /*defaultExtension=*/"tmp",
      /*defaultFileName=*/"testdata",
      /*filter=*/"tmp files (*.tmp)|*.tmp|All Files (*.*)|*.*||",
      /*initialDirectory=*/".",
      /*mustExist=*/true,
      /*promptOverwrite=*/false,
      /*hideReadOnly=*/false};
  return request;
}

}  // namespace

void OnUseExisting(BenchState& state) {
  const std::optional<std::string> path =
      state.m_view.ChoosePath(UseExistingRequest());
  if (!path) return;
  state.m_strPath.Set(*path);
  std::uint64_t length = 0;
  FileHandle file;
  const int error = file.Open(*path, OpenMode::kSharedRead)
                        ? file.LengthInto(length)
                        : file.LastError();
  if (error != 0) {
    state.m_log.Append(CouldNotOpenLine(*path));
    state.m_log.Append(ReasonLine(error));
    return;
  }
  state.m_log.Append(UsingLine(*path));
  state.m_view.SetTitle(Format("Ferrotick: %s", path->c_str()));
  // Not held to the 1 to 8192 range: a file under 1 MB gives 0.
  state.m_nFileSizeMB.store(LengthInMB(length));
  state.m_view.ShowSettings();
  state.m_log.Append(kWriteWarning);
  if (auto warning = InMemoryWarning(*path)) state.m_log.Append(*warning);
  state.m_view.EnableTests(true);
}

void OnDeleteFile(BenchState& state) {
  const std::string path = state.m_strPath.Get();
  // Refused while any handle of ours, or of another process, holds the
  // file: a run would go on measuring a file that no longer exists.
  if (!RemoveUnlessInUse(path)) {
    const int error = errno;
    state.m_log.Append(Format("Couldn't delete %s", path.c_str()));
    state.m_log.Append("Make sure nothing is using it.");
    state.m_log.Append(ReasonLine(error));
    return;
  }
  state.m_log.Append(Format("%s deleted.", path.c_str()));
  state.m_strPath.Set("");
}

}  // namespace ferrotick
