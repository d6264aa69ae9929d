// A program started with standard input, output or error closed would hand
// that number to the first file it opens, and text meant for the terminal
// would go into the user's file.
#pragma once

namespace ferrotick {

// Puts read-only /dev/null in place of each closed standard descriptor, so
// that output sent there fails and is reported. First thing in main().
void ReserveStandardDescriptors();

}  // namespace ferrotick
