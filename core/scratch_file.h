// A test file a measurement makes for itself, in a place checked before
// anything is written there, and removes when it ends, however it ends.
// Only the file made here is removed, never one another program put in its
// place meanwhile.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>

#include "core/test_file_report.h"
#include "core/test_place.h"

namespace ferrotick {

class ScratchFile {
 public:
  // `command` names what makes the file, in its name and in a refusal.
  explicit ScratchFile(std::string command) : m_command(std::move(command)) {}
  ~ScratchFile();  // removes the file, if it is still the one made here
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  // `given` is a folder or a new file's name, on a file system that holds
  // files (with `directOnly`, not in memory), with room for `sizeMB`; its
  // folder, facts and size go into `report`.
  std::optional<PlaceRefusal> CheckPlace(const std::string& given, int sizeMB,
                                         bool directOnly,
                                         TestFileReport& report);
  // In the place checked: in a folder, a new file with a unique name; any
  // other path must name no file yet. Named in `report`.
  std::optional<PlaceRefusal> Make(TestFileReport& report);
  const std::string& Path() const { return m_strPath; }

 private:
  const std::string m_command;
  TestPlace m_place;
  std::string m_strPath;
  struct stat m_info {};
};

}  // namespace ferrotick
