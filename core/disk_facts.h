// What a measurement needs to know about the place it measures: the file
// system and device behind a folder, its free space, and whether it keeps
// its data in memory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ferrotick {

struct DiskFacts {
  std::string fileSystem;  // as mounted: "ext4", "tmpfs", ...
  std::string device;      // the mount's source: "/dev/vda1", "tmpfs", ...
  std::string beneath;     // what lies under the file system, for people
  bool inMemory = false;      // tmpfs or ramfs: memory, not a disk
  bool cacheBeneath = false;  // reads may come from a cache below
  bool pseudo = false;        // proc, sysfs...: no file can be measured
  std::uint64_t freeBytes = 0;  // what an unprivileged user may still use
};

// Facts of the file system holding `path`; nothing, with errno set, when
// it cannot be examined.
std::optional<DiskFacts> ReadDiskFacts(const std::string& path);

// The mountinfo line's file system and source for device `major:minor`,
// from the text of /proc/self/mountinfo; the last mount of it wins.
std::optional<DiskFacts> FindMount(const std::string& mountinfo, unsigned major,
                                   unsigned minor);

// Drops `path` from the page cache and returns the share of its pages
// still cached afterwards (0 to 1): near 1 where the file system ignores
// the drop. Nothing when it cannot be told.
std::optional<double> CachedShareAfterDrop(const std::string& path);

}  // namespace ferrotick
