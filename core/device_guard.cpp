#include "core/device_guard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace ferrotick {

int HeldDeviceError(int fd, const std::string& path, bool writes) {
  if (!writes) return 0;  // reading harms nobody
  struct stat info {};
  if (::fstat(fd, &info) != 0) return errno;
  if (!S_ISBLK(info.st_mode)) return 0;
  // Linux refuses an exclusive open of a block device with EBUSY while a
  // filesystem, swap, a RAID or device-mapper set, or another exclusive
  // opener holds it, or any partition of it. The probe holds nothing.
  int probe;
  do {
    probe = ::open(path.c_str(),
                   O_RDONLY | O_EXCL | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  } while (probe < 0 && errno == EINTR);
  if (probe < 0) return errno;
  struct stat probed {};
  const bool same = ::fstat(probe, &probed) == 0 && S_ISBLK(probed.st_mode) &&
                    probed.st_rdev == info.st_rdev;
  ::close(probe);
  // The path now names another device: tell nothing about the one open.
  return same ? 0 : EBUSY;
}

}  // namespace ferrotick
