// The test file `measure` and `profile` make for themselves: its place
// checked before anything is written there, and the file removed however
// the command ends.
#pragma once

#include <string>

#include "cli/command_line.h"
#include "core/scratch_file.h"
#include "core/test_file_report.h"
#include "core/test_place.h"

namespace ferrotick::cli {

class TestFile {
 public:
  explicit TestFile(const CliOptions& options) : m_options(options) {}

  // A folder or a new file's name, on a file system that holds files (and
  // for a profile, not in memory), with room for the file; its folder,
  // facts and size go into `report`. A refusal is reported and gives false.
  bool CheckPlace(TestFileReport& report);
  // Makes the file in the place checked, and names it in `report`; false,
  // reported, when it cannot be made.
  bool Make(TestFileReport& report);
  const std::string& Path() const { return m_file.Path(); }

 private:
  const CliOptions& m_options;
  TestPlace m_place;
  ScratchFile m_file;
};

}  // namespace ferrotick::cli
