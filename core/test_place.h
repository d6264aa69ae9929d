// Where `measure` and `profile` may make their own test file, checked
// before anything is written there.
#pragma once

#include <string>
#include <variant>

#include "core/command_failures.h"
#include "core/disk_facts.h"

namespace ferrotick {

// The full path for the lines and the messages. A relative path is kept as
// given when the working directory has no name (removed, or deeper than
// PATH_MAX) or the full path would be too long to open.
std::string FullPath(const std::string& path);

struct TestPlace {
  std::string given;      // the full path given
  bool isFolder = false;  // else `given` names the new test file
  std::string folder;     // where the file will be
  DiskFacts facts;
};

struct PlaceRefusal {
  std::string where;  // the path the refusal names
  CommandFailure failure;
};

// A folder or a new file's name, on a file system that holds files, with
// room for `sizeMB`; with `directOnly`, not one that keeps files in memory.
// `command` names what makes the file, in a refusal.
std::variant<TestPlace, PlaceRefusal> CheckTestPlace(const std::string& given,
                                                     int sizeMB,
                                                     const std::string& command,
                                                     bool directOnly);

}  // namespace ferrotick
