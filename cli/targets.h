// What the command line checks of a path before it runs anything there.
#pragma once

#include <optional>
#include <string>

namespace ferrotick::cli {

// The full path for the lines and the messages. A relative path is kept as
// given when the working directory has no name (removed, or deeper than
// PATH_MAX) or the full path would be too long to open.
std::string FullPath(const std::string& path);

// Why `path` can hold no file to measure (a character device, a FIFO, a
// socket, a symbolic link loop), or nothing.
std::optional<std::string> NotAFileToMeasure(const std::string& path);

}  // namespace ferrotick::cli
