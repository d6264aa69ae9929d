#include "core/scratch_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <variant>

namespace ferrotick {

std::optional<PlaceRefusal> ScratchFile::CheckPlace(const std::string& given,
                                                    int sizeMB, bool directOnly,
                                                    TestFileReport& report) {
  std::variant<TestPlace, PlaceRefusal> checked =
      CheckTestPlace(given, sizeMB, m_command, directOnly);
  if (auto* refusal = std::get_if<PlaceRefusal>(&checked)) {
    return std::move(*refusal);
  }
  m_place = std::move(std::get<TestPlace>(checked));
  report.folder = m_place.folder;
  report.facts = m_place.facts;
  report.sizeMB = sizeMB;
  return std::nullopt;
}

std::optional<PlaceRefusal> ScratchFile::Make(TestFileReport& report) {
  std::string name = m_place.given;
  int fd;
  if (m_place.isFolder) {
    if (name.empty() || name.back() != '/') name += '/';
    name += "ferrotick-" + m_command + "-XXXXXX.tmp";
    fd = ::mkostemps(name.data(), 4, O_CLOEXEC);
  } else {
    fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  }
  if (fd < 0) {
    return PlaceRefusal{m_place.given,
                        {"cannot create the test file", std::strerror(errno)}};
  }
  ::fstat(fd, &m_info);
  ::close(fd);
  m_strPath = std::move(name);
  report.path = m_strPath;
  return std::nullopt;
}

ScratchFile::~ScratchFile() {
  struct stat now {};
  if (!m_strPath.empty() && ::lstat(m_strPath.c_str(), &now) == 0 &&
      now.st_dev == m_info.st_dev && now.st_ino == m_info.st_ino) {
    ::unlink(m_strPath.c_str());
  }
}

}  // namespace ferrotick
