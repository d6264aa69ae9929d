#include "cli/targets.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
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

std::string Reason(int error) {
  // A lock another process holds: the command line runs one command, so
  // its own handles never meet here.
  if (error == EWOULDBLOCK || error == EAGAIN) {
    return "in use by another process";
  }
  if (error == EBUSY) return "mounted or in use by another process";
  return std::strerror(error);
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

std::optional<Refusal> DirectRefusal(const std::string& path, bool create,
                                     int bufferKB) {
  bool probeCreated = false;
  int fd = ::open(path.c_str(),
                  O_RDONLY | O_DIRECT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0 && errno == ENOENT && create) {
    fd = ::open(path.c_str(),
                O_WRONLY | O_CREAT | O_EXCL | O_DIRECT | O_CLOEXEC | O_NOCTTY,
                0666);
    if (fd >= 0) {
      probeCreated = true;
    } else if (errno == EINVAL) {
      // The refusal comes after the file was made.
      ::unlink(path.c_str());
      errno = EINVAL;
    }
  }
  if (fd < 0) {
    if (errno != EINVAL) return std::nullopt;
    return Refusal{"this filesystem refuses direct I/O (--direct)",
                   std::strerror(EINVAL)};
  }
  std::optional<Refusal> refusal;
#ifdef STATX_DIOALIGN
  struct statx info {};
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &info) == 0 &&
      (info.stx_mask & STATX_DIOALIGN)) {
    const std::uint32_t align = info.stx_dio_offset_align;
    const std::uint64_t bytes = static_cast<std::uint64_t>(bufferKB) * 1024;
    if (align == 0) {
      refusal = Refusal{"this filesystem refuses direct I/O (--direct)",
                        "not supported for this file"};
    } else if (bytes % align != 0) {
      refusal = Refusal{
          "direct I/O here needs --buffer to be a multiple of " +
              std::to_string((align + 1023) / 1024) + " KB",
          "the device moves blocks of " + std::to_string(align) + " bytes"};
    }
  }
#else
  (void)bufferKB;
#endif
  ::close(fd);
  if (probeCreated) ::unlink(path.c_str());
  return refusal;
}

}  // namespace ferrotick::cli
