#include "core/test_place.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "core/timing.h"

namespace ferrotick {

namespace {

std::string ParentFolder(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string FullPath(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(path, error);
  if (error || full.native().size() >= PATH_MAX) return path;
  return full.string();
}

std::variant<TestPlace, PlaceRefusal> CheckTestPlace(const std::string& given,
                                                     int sizeMB,
                                                     const std::string& command,
                                                     bool directOnly) {
  const auto refuse = [](const std::string& where, const std::string& message,
                         const std::string& detail) {
    return PlaceRefusal{where, {message, detail}};
  };
  TestPlace place;
  place.given = given;
  struct stat info {};
  const bool exists = ::stat(place.given.c_str(), &info) == 0;
  if (!exists && errno == ELOOP) {
    return refuse(place.given, "is a symbolic link loop", "");
  }
  place.isFolder = exists && S_ISDIR(info.st_mode);
  if (exists && !place.isFolder) {
    return refuse(place.given, "already exists",
                  command +
                      " makes its own test file and removes it afterwards; "
                      "give a folder or a new file name");
  }
  place.folder = place.isFolder ? place.given : ParentFolder(place.given);
  const std::string& folder = place.folder;
  const std::optional<DiskFacts> facts = ReadDiskFacts(folder);
  if (!facts) {
    return refuse(folder, "cannot examine the folder", std::strerror(errno));
  }
  if (facts->pseudo) {
    return refuse(folder,
                  "is on " + facts->fileSystem +
                      ", a file system of the kernel's own that holds no "
                      "files to measure",
                  "give a folder on a disk");
  }
  const std::uint64_t needed = static_cast<std::uint64_t>(sizeMB) * kBytesPerMB;
  if (facts->freeBytes < needed) {
    return refuse(folder, "not enough free space",
                  Format("the test file needs %d MiB and %llu MiB are free; "
                         "give a smaller --size",
                         sizeMB,
                         static_cast<unsigned long long>(facts->freeBytes /
                                                         kBytesPerMB)));
  }
  if (facts->inMemory && directOnly) {
    return refuse(folder,
                  "is on " + facts->fileSystem +
                      ", which keeps files in memory: direct I/O to a disk is "
                      "not possible there",
                  "give a folder on a disk");
  }
  place.facts = *facts;
  return place;
}

}  // namespace ferrotick
