#include "core/scratch_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <utility>

namespace ferrotick {

bool ScratchFile::Make(const std::string& path, bool folder,
                       const char* prefix) {
  std::string name = path;
  int fd;
  if (folder) {
    if (name.empty() || name.back() != '/') name += '/';
    name += std::string(prefix) + "-XXXXXX.tmp";
    fd = ::mkostemps(name.data(), 4, O_CLOEXEC);
  } else {
    fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  }
  if (fd < 0) return false;
  ::fstat(fd, &m_info);
  ::close(fd);
  m_strPath = std::move(name);
  return true;
}

ScratchFile::~ScratchFile() {
  struct stat now {};
  if (!m_strPath.empty() && ::lstat(m_strPath.c_str(), &now) == 0 &&
      now.st_dev == m_info.st_dev && now.st_ino == m_info.st_ino) {
    ::unlink(m_strPath.c_str());
  }
}

}  // namespace ferrotick
