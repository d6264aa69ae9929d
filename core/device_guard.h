// Keeps writes off a block device that a filesystem or another program
// holds: writing there would destroy what it holds.
#pragma once

#include <string>

namespace ferrotick {

// 0 when the open descriptor `fd` of `path` may be used; EBUSY when it is
// a block device opened to write (`writes`) and the device is mounted or
// held by another program; another errno when that cannot be told.
int HeldDeviceError(int fd, const std::string& path, bool writes);

}  // namespace ferrotick
