#include "core/log_commands.h"

#include <cerrno>
#include <cstring>

#include "core/file_handle.h"
#include "core/log_lines.h"
#include "core/timing.h"
#include "core/version.h"

namespace ferrotick {

namespace {

const ChoosePathRequest& SaveLogRequest() {
  static const ChoosePathRequest request{
      /*openType=*/false,
      /*defaultExtension=*/"txt",
      /*defaultFileName=*/"Ferrotick",
      /*filter=*/"txt files (*.txt)|*.txt|All Files (*.*)|*.*||",
      /*initialDirectory=*/".",
      /*mustExist=*/false,
      /*promptOverwrite=*/true,
      /*hideReadOnly=*/true};
  return request;
}

constexpr std::size_t kExportChunk = 64 * 1024;

}  // namespace

ExportResult ExportLog(const MessageLog& log, const std::string& path) {
  ExportResult result;
  FileHandle file;
  if (!file.Open(path, OpenMode::kExport)) {
    result.error = file.LastError();
    return result;
  }
  result.opened = true;
  std::string chunk;
  // Chunks end at line ends: a write that fails leaves the file cut back
  // to the whole lines before it.
  std::uint64_t whole = 0;
  try {
    // The first line is not exported; the count is read before each line.
    for (std::size_t i = 1; i < log.Count(); ++i) {
      chunk += log.Line(i);
      chunk += "\r\n";
      if (chunk.size() >= kExportChunk) {
        file.Write(chunk.data(), chunk.size());
        whole += chunk.size();
        chunk.clear();
      }
    }
    file.Write(chunk.data(), chunk.size());
  } catch (const FileError& error) {
    result.error = error.Errno();
    file.TruncateTo(whole);
    file.Close();
    return result;
  }
  file.Close();
  result.ok = true;
  return result;
}

const std::vector<std::string>& AboutLines() {
  static const std::vector<std::string> lines = {
      "",
      std::string("Vexa - Ferrotick ") + kVersion,
      "",
      "Ferrotick tests the speed of your hard drive by simply",
      "writing to file of your choice (you select the size) and timing it.",
      "",
      "Ferrotick is free software under the MIT License: anyone may use,",
      "copy, change, share and sell it, keeping the notice and the licence.",
      "",
      "Vexa is not responsible for any damage to your system or for any",
      "data you lose by using this program. Use it at your own risk and",
      "keep backups of anything you care about.",
      "",
      "Ferrotick's source code is free too: no payment, no letter needed.",
      "The source is the Ferrotick source tree this program is built",
      "from; the files at its top say what it holds and on which terms:",
      "",
      "  LICENSE      the MIT License and the copyright notice",
      "  README.md    how to build, test and install Ferrotick",
      "  packaging/   the Debian copyright file, with the notices of the",
      "               code from other projects in ferrotick-cli",
      "",
      "An installed package keeps the same terms in its copyright file,",
      "/usr/share/doc/ferrotick/copyright; ask its Maintainer for the source.",
      "",
      "Program notes:",
      "",
      "Read times are kind of wonky unless you have a HUGE file, since the",
      "OS will cache stuff and then the read times look fantastic.",
      "",
      "Write times experience this, to a lesser extent.",
      "",
      "Read/Write both loop over the file, until you stop them.",
      "",
      "I usually just Create a big file and look at the time. This is probably",
      "the most accurate indication of what you will really get, in terms of",
      "performance on your system.",
      "",
      "A file larger than your memory gives the most honest numbers.",
      "",
      "Enjoy!",
      "Vexa - questions and fixes go to the package's Maintainer.",
      "",
  };
  return lines;
}

void OnClear(BenchState& state) { state.m_log.Clear(); }

void OnAbout(BenchState& state) {
  for (const std::string& line : AboutLines()) state.m_log.Append(line);
}

std::optional<std::string> OnSaveLog(BenchState& state) {
  const std::optional<std::string> path =
      state.m_view.ChoosePath(SaveLogRequest());
  if (!path) return std::nullopt;
  const ExportResult result = ExportLog(state.m_log, *path);
  if (!result.opened) {
    state.m_log.Append("Open Failed");
    state.m_log.Append(ReasonLine(result.error));
    return std::nullopt;
  }
  if (!result.ok) {
    return Format("An error occurred while writing %s: %s.", path->c_str(),
                  std::strerror(result.error));
  }
  state.m_log.Append(Format("%s written.", path->c_str()));
  return std::nullopt;
}

}  // namespace ferrotick
