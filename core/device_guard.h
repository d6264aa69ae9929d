// Keeps writes off a block device that a filesystem or another program
// holds: writing there would destroy what it holds.
#pragma once

#include <string>

#include "core/test_file.h"

namespace ferrotick {

// 0 when the open descriptor `fd` of `path` may be used in `mode`; EBUSY
// when it is a block device, `mode` writes, and the device is mounted or
// held by another program; another errno when that cannot be told.
int HeldDeviceError(int fd, const std::string& path, OpenMode mode);

}  // namespace ferrotick
