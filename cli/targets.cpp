#include "cli/targets.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace ferrotick::cli {

std::string FullPath(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(path, error);
  if (error || full.native().size() >= PATH_MAX) return path;
  return full.string();
}

std::optional<std::string> NotAFileToMeasure(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno == ELOOP) return "is a symbolic link loop";
    return std::nullopt;
  }
  const char* what = S_ISCHR(info.st_mode)    ? "a character device"
                     : S_ISFIFO(info.st_mode) ? "a FIFO"
                     : S_ISSOCK(info.st_mode) ? "a socket"
                                              : nullptr;
  if (!what) return std::nullopt;
  return std::string("is ") + what +
         ", which holds no data to measure; give a file or a block device";
}

}  // namespace ferrotick::cli
