#include "core/file_commands.h"

#include <limits>

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

int LengthInMB(std::uint64_t bytes) {
  const std::uint64_t mb = bytes / static_cast<std::uint64_t>(kBytesPerMB);
  constexpr auto kMax =
      static_cast<std::uint64_t>(std::numeric_limits<int>::max());
  return static_cast<int>(mb > kMax ? kMax : mb);
}

void OnUseExisting(BenchState& state) {
  state.m_workers.Reap();
  const std::optional<std::string> path =
      state.m_view.ChoosePath(UseExistingRequest());
  if (!path) return;
  state.m_strPath.Set(*path);
  std::uint64_t length = 0;
  bool opened = state.m_file.Open(*path, OpenMode::kSharedRead);
  if (opened) {
    try {
      length = state.m_file.Length();
    } catch (const FileError&) {
      state.m_file.Close();
      opened = false;
    }
  }
  if (!opened) {
    state.m_log.Append(Format("Couldn't open %s", path->c_str()));
    return;
  }
  state.m_log.Append(Format("Using %s", path->c_str()));
  state.m_view.SetTitle(Format("Ferrotick: %s", path->c_str()));
  // Not held to the 1 to 8192 range: a file under 1 MB gives 0.
  state.m_nFileSizeMB.store(LengthInMB(length));
  state.m_view.ShowSettings();
  state.m_log.Append("WARNING: Write will destroy this file!");
  state.m_view.EnableTests(true);
  state.m_file.Close();
}

void OnDeleteFile(BenchState& state) {
  state.m_workers.Reap();
  const std::string path = state.m_strPath.Get();
  // Refused while any handle of ours, or of another process, holds the
  // file: a run would go on measuring a file that no longer exists.
  if (!RemoveUnlessInUse(path)) {
    state.m_log.Append(Format("Couldn't delete %s", path.c_str()));
    state.m_log.Append("Make sure nothing is using it.");
    return;
  }
  state.m_log.Append(Format("%s deleted.", path.c_str()));
  state.m_strPath.Set("");
}

}  // namespace ferrotick
