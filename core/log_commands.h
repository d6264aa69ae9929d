// Clear, Save to File and About: the commands that work on the log.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/bench_state.h"
#include "core/message_log.h"

namespace ferrotick {

struct ExportResult {
  bool opened = false;
  bool ok = false;  // every line written and the file closed
  int error = 0;    // errno of a failed open or write
};

// Writes the log from its second line on, each line ended by CR LF.
ExportResult ExportLog(const MessageLog& log, const std::string& path);

// The 43 lines that About appends.
const std::vector<std::string>& AboutLines();

void OnClear(BenchState& state);
void OnAbout(BenchState& state);
// Nothing when the export succeeded, failed to open (logged) or was
// cancelled; otherwise the text of the file error for the window to show.
std::optional<std::string> OnSaveLog(BenchState& state);

}  // namespace ferrotick
