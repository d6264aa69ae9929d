// The process's threads as the tests count them, read from /proc.
#pragma once

#include <dirent.h>

#include <fstream>
#include <sstream>
#include <string>

namespace ferrotick::testing {

// Threads that are not on their way out. A joined thread can stay listed
// in /proc/self/task for a while after the join returns (long on a busy
// machine), but the kernel has marked it exiting (PF_EXITING) before the
// join can return, so leaving it out makes a count right after a join
// exact rather than a matter of timing.
inline int LiveThreadCount() {
  constexpr unsigned long kExiting = 0x4;  // PF_EXITING
  DIR* dir = ::opendir("/proc/self/task");
  if (!dir) return -1;
  int count = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream stat(std::string("/proc/self/task/") + entry->d_name +
                       "/stat");
    std::string line;
    if (!std::getline(stat, line)) continue;  // gone meanwhile
    // Past the name in parentheses: state, ppid, pgrp, session, tty_nr,
    // tpgid, then the flags.
    const std::size_t nameEnd = line.rfind(')');
    if (nameEnd == std::string::npos) continue;
    std::istringstream fields(line.substr(nameEnd + 1));
    std::string field;
    for (int i = 0; i < 7; ++i) fields >> field;
    unsigned long flags = 0;
    std::istringstream(field) >> flags;
    if (!(flags & kExiting)) ++count;
  }
  ::closedir(dir);
  return count;
}

}  // namespace ferrotick::testing
