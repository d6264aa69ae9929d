#include "cli/test_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>

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

bool TestFile::CheckPlace(TestFileReport& report) {
  const auto refuse = [&](const std::string& where, const std::string& message,
                          const std::string& detail) {
    Fail(m_options, where, message, detail);
    return false;
  };
  const int sizeMB = m_options.fileSizeMB.value();
  m_strGiven = FullPath(m_options.path);
  struct stat info {};
  const bool exists = ::stat(m_strGiven.c_str(), &info) == 0;
  if (!exists && errno == ELOOP) {
    return refuse(m_strGiven, "is a symbolic link loop", "");
  }
  m_bFolder = exists && S_ISDIR(info.st_mode);
  if (exists && !m_bFolder) {
    return refuse(m_strGiven, "already exists",
                  std::string(CommandName(m_options.command)) +
                      " makes its own test file and removes it afterwards; "
                      "give a folder or a new file name");
  }
  const std::string folder = m_bFolder ? m_strGiven : ParentFolder(m_strGiven);
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
  // A profile transfers with direct I/O only.
  if (facts->inMemory && m_options.command == Command::kProfile) {
    return refuse(folder,
                  "is on " + facts->fileSystem +
                      ", which keeps files in memory: direct I/O to a disk is "
                      "not possible there",
                  "give a folder on a disk");
  }
  report.folder = folder;
  report.facts = *facts;
  report.sizeMB = sizeMB;
  return true;
}

bool TestFile::Make(TestFileReport& report) {
  const std::string prefix =
      std::string("ferrotick-") + CommandName(m_options.command);
  if (!m_file.Make(m_strGiven, m_bFolder, prefix.c_str())) {
    Fail(m_options, m_strGiven, "cannot create the test file",
         std::strerror(errno));
    return false;
  }
  report.path = m_file.Path();
  return true;
}

}  // namespace ferrotick::cli
