// Whether direct I/O (O_DIRECT) can work on a path, asked of the kernel
// before a run: a file system may refuse it outright, or take only
// transfers of a multiple of its block size.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ferrotick {

struct DirectRefusal {
  std::string message;  // what cannot be done, for people
  std::string detail;   // why
};

// Why direct I/O cannot work on `path` with transfers of `transferBytes`,
// or nothing when it can or when opening `path` fails for another reason.
// With `create`, a missing file is probed by making it and removing it.
std::optional<DirectRefusal> DirectIORefusal(const std::string& path,
                                             bool create,
                                             std::uint64_t transferBytes);

}  // namespace ferrotick
