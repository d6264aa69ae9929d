// What a file in a folder would live on: the file system, its device, what
// lies beneath it, and whether reads of it may come from memory rather than
// from the storage. Only what the kernel tells is said; the rest stays
// empty.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ferrotick {

struct DiskFacts {
  // "ext4", "btrfs", "fuse.sshfs", ...: the mount's type; when no mount is
  // visible (a chroot), the type statfs reports; else "unknown".
  std::string fileSystem;
  // The mount's source when it names a device, a share or a dataset
  // ("/dev/vda1", "server:/export", "tank/home"); empty otherwise.
  std::string device;
  // A part of a sentence for people saying what lies under the file
  // system ("the virtio disk vda", "memory (tmpfs)", ...); empty when
  // nothing is known.
  std::string beneath;
  // tmpfs, ramfs, a RAM disk: the rates are memory's.
  bool inMemory = false;
  // Reads may be served by a cache below the file system, which a drop of
  // the page cache leaves: a loop device over a file, FUSE, a network, a
  // virtual disk's host, ZFS's own cache.
  bool cacheBeneath = false;
  // proc, sysfs, ...: no file can be measured there.
  bool pseudo = false;
  // What an unprivileged user may still use.
  std::uint64_t freeBytes = 0;
};

// Facts for the file system holding `path` (a folder or a file); nothing,
// with errno set, when it cannot be examined.
std::optional<DiskFacts> ReadDiskFacts(const std::string& path);

// Drops `path` from the page cache and returns the share of its pages
// still cached afterwards (0 to 1): near 1 where the file system ignores
// the drop. Nothing when it cannot be told (not a regular file, empty).
std::optional<double> CachedShareAfterDrop(const std::string& path);

// The pieces ReadDiskFacts is made of, for what the kernel would tell.

struct MountEntry {
  std::uint64_t id = 0;  // the mount ID, as statx's stx_mnt_id gives it
  unsigned major = 0;    // the file system's device; 0:N for none
  unsigned minor = 0;
  std::string mountPoint;
  std::string fileSystem;
  std::string source;
};

// The line of /proc/self/mountinfo text for mount `id`.
std::optional<MountEntry> FindMountById(const std::string& mountinfo,
                                        std::uint64_t id);

// The name of a file system from statfs's f_type; empty when unknown.
std::string FileSystemOfMagic(std::uint64_t type);

// Facts (all but freeBytes) for a mount, walking the block devices beneath
// it in the sysfs tree at `sys`.
DiskFacts FactsOfMount(const MountEntry& mount, const std::string& sys);

// What block device `major:minor` is, from the sysfs tree at `sys`:
// beneath, inMemory and cacheBeneath, and device as "/dev/NAME". Nothing
// when sysfs does not know it.
std::optional<DiskFacts> FactsOfBlockDevice(unsigned major, unsigned minor,
                                            const std::string& sys);

}  // namespace ferrotick
