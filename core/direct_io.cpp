#include "core/direct_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ferrotick {

std::optional<DirectRefusal> DirectIORefusal(const std::string& path,
                                             bool create,
                                             std::uint64_t transferBytes) {
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
    return DirectRefusal{"this filesystem refuses direct I/O (--direct)",
                         std::strerror(EINVAL)};
  }
  std::optional<DirectRefusal> refusal;
#ifdef STATX_DIOALIGN
  struct statx info {};
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &info) == 0 &&
      (info.stx_mask & STATX_DIOALIGN)) {
    const std::uint32_t align = info.stx_dio_offset_align;
    if (align == 0) {
      refusal = DirectRefusal{"this filesystem refuses direct I/O (--direct)",
                              "not supported for this file"};
    } else if (transferBytes % align != 0) {
      refusal = DirectRefusal{
          "direct I/O here needs transfers of a multiple of " +
              std::to_string(align) + " bytes",
          "the device moves blocks of " + std::to_string(align) + " bytes"};
    }
  }
#else
  (void)transferBytes;
#endif
  ::close(fd);
  if (probeCreated) ::unlink(path.c_str());
  return refusal;
}

}  // namespace ferrotick
