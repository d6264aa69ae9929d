#include "cli/test_place.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "cli/output.h"
#include "cli/targets.h"
#include "core/timing.h"

namespace ferrotick::cli {

namespace {

std::string ParentFolder(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::optional<TestPlace> CheckTestPlace(const std::string& path, int sizeMB,
                                        std::string_view command, bool json) {
  const auto refuse = [&](const std::string& where, const std::string& message,
                          const std::string& detail) {
    ReportError(json, command, where, message, detail);
    return std::nullopt;
  };
  TestPlace place;
  place.given = FullPath(path);
  struct stat info {};
  const bool exists = ::stat(place.given.c_str(), &info) == 0;
  if (!exists && errno == ELOOP) {
    return refuse(place.given, "is a symbolic link loop", "");
  }
  place.isFolder = exists && S_ISDIR(info.st_mode);
  if (exists && !place.isFolder) {
    return refuse(place.given, "already exists",
                  std::string(command) +
                      " makes its own test file and removes it afterwards; "
                      "give a folder or a new file name");
  }
  place.folder = place.isFolder ? place.given : ParentFolder(place.given);
  const std::optional<DiskFacts> facts = ReadDiskFacts(place.folder);
  if (!facts) {
    return refuse(place.folder, "cannot examine the folder",
                  std::strerror(errno));
  }
  if (facts->pseudo) {
    return refuse(place.folder,
                  "is on " + facts->fileSystem +
                      ", a file system of the kernel's own that holds no "
                      "files to measure",
                  "give a folder on a disk");
  }
  const std::uint64_t needed = static_cast<std::uint64_t>(sizeMB) * kBytesPerMB;
  if (facts->freeBytes < needed) {
    return refuse(place.folder, "not enough free space",
                  Format("the test file needs %d MiB and %llu MiB are free; "
                         "give a smaller --size",
                         sizeMB,
                         static_cast<unsigned long long>(facts->freeBytes /
                                                         kBytesPerMB)));
  }
  place.facts = *facts;
  return place;
}

}  // namespace ferrotick::cli
