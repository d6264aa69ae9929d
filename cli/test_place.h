// Where `measure` and `profile` make their own test file, checked before
// anything is written there.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/disk_facts.h"

namespace ferrotick::cli {

struct TestPlace {
  std::string given;      // the full path given
  bool isFolder = false;  // else `given` names the new test file
  std::string folder;     // where the file will be
  DiskFacts facts;
};

// A folder or a new file's name, on a file system that holds files, with
// room for `sizeMB`; a refusal is reported for `command` and gives nothing.
std::optional<TestPlace> CheckTestPlace(const std::string& path, int sizeMB,
                                        std::string_view command, bool json);

}  // namespace ferrotick::cli
