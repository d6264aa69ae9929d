#include "core/disk_facts.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

namespace ferrotick {

namespace {

namespace fs = std::filesystem;

// Loop devices over files on loop devices, RAID over encrypted volumes...:
// far deeper than any real stack, and a bound should sysfs ever loop.
constexpr int kMaxDepth = 8;

struct Beneath {
  std::string text;
  bool inMemory = false;
  bool cacheBeneath = false;
};

std::optional<DiskFacts> Examine(const std::string& path, int depth);
std::optional<DiskFacts> BlockFacts(unsigned major, unsigned minor,
                                    const std::string& sys, int depth);
Beneath DescribeBlock(const fs::path& dir, const std::string& sys, int depth);

bool StartsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string Trim(const std::string& text) {
  const auto blank = [](char c) {
    return c == ' ' || c == '\n' || c == '\t' || c == '\r';
  };
  std::size_t begin = 0, end = text.size();
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string ReadWhole(const fs::path& path) {
  std::ifstream file(path);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// A sysfs attribute's value; empty when absent.
std::string Attribute(const fs::path& path) { return Trim(ReadWhole(path)); }

// Mount fields escape blanks and backslashes as octal (\040).
std::string Unescape(const std::string& field) {
  const auto octal = [&](std::size_t i) {
    return i < field.size() && field[i] >= '0' && field[i] <= '7';
  };
  std::string text;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      text +=
          static_cast<char>((field[i + 1] - '0') * 64 +
                            (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
      i += 3;
    } else {
      text += field[i];
    }
  }
  return text;
}

template <typename Number>
bool ParseNumber(std::string_view text, Number& number) {
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), number);
  return error == std::errc() && end == text.data() + text.size();
}

enum class Kind {
  kStorage,    // on a block device, or nothing known
  kMemory,     // tmpfs and the like
  kPseudo,     // the kernel's interfaces
  kFuse,       // a user-space program serves the files
  kNetwork,    // another machine serves the files
  kHostShare,  // the virtual machine's host serves the files
  kOverlay,
  kZfs,  // its own cache (the ARC) keeps what a page-cache drop leaves
};

Kind KindOf(const std::string& type) {
  static const char* const kMemory[] = {"tmpfs", "ramfs", "devtmpfs", "rootfs"};
  static const char* const kPseudo[] = {
      "proc",       "sysfs",   "cgroup",      "cgroup2",   "cpuset",
      "debugfs",    "tracefs", "securityfs",  "devpts",    "mqueue",
      "pstore",     "bpf",     "binfmt_misc", "configfs",  "fusectl",
      "hugetlbfs",  "autofs",  "efivarfs",    "selinuxfs", "smackfs",
      "rpc_pipefs", "nfsd",    "nsfs",        "pipefs",    "sockfs",
      "xenfs",      "resctrl", "anon_inodefs"};
  static const char* const kNetwork[] = {
      "nfs",  "nfs4", "cifs",  "smb3",   "smb2",     "smbfs",     "9p",
      "ceph", "afs",  "ncpfs", "lustre", "orangefs", "glusterfs", "coda"};
  static const char* const kHostShare[] = {"virtiofs", "vboxsf", "vmhgfs"};
  const auto in = [&](const auto& names) {
    return std::find(std::begin(names), std::end(names), type) !=
           std::end(names);
  };
  if (in(kMemory)) return Kind::kMemory;
  if (in(kPseudo)) return Kind::kPseudo;
  if (in(kNetwork)) return Kind::kNetwork;
  if (in(kHostShare)) return Kind::kHostShare;
  if (type == "fuse" || type == "fuseblk" || StartsWith(type, "fuse.")) {
    return Kind::kFuse;
  }
  if (type == "overlay") return Kind::kOverlay;
  if (type == "zfs") return Kind::kZfs;
  return Kind::kStorage;
}

// Sources like "none", "tmpfs" or "overlay" name nothing.
bool NamesSomething(const std::string& source, const std::string& type) {
  return !source.empty() && source != "none" && source != type;
}

std::string DevName(const fs::path& dir) {
  std::istringstream lines(ReadWhole(dir / "uevent"));
  for (std::string line; std::getline(lines, line);) {
    if (StartsWith(line, "DEVNAME=")) return line.substr(8);
  }
  return dir.filename();
}

// The devices beneath a stacked one (device-mapper, RAID), joined to `head`.
Beneath Over(const std::string& head, const fs::path& dir,
             const std::string& sys, int depth) {
  std::vector<fs::path> slaves;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dir / "slaves", error)) {
    slaves.push_back(entry.path());
  }
  std::sort(slaves.begin(), slaves.end());
  Beneath result{head, !slaves.empty(), false};
  std::string joined;
  for (const fs::path& slave : slaves) {
    const fs::path real = fs::canonical(slave, error);
    Beneath part;
    if (!error && depth < kMaxDepth) {
      part = DescribeBlock(real, sys, depth + 1);
    } else {
      part.text = slave.filename();
    }
    joined += (joined.empty() ? "" : " and ") + part.text;
    result.inMemory &= part.inMemory;
    result.cacheBeneath |= part.cacheBeneath;
  }
  if (!joined.empty()) result.text += " over " + joined;
  if (result.inMemory) result.cacheBeneath = false;
  return result;
}

Beneath DescribeLoop(const std::string& name, const fs::path& dir,
                     const std::string& sys, int depth) {
  const std::string backing = Attribute(dir / "loop" / "backing_file");
  // Without direct I/O the loop driver reads through the backing file's
  // page cache, which a drop on the upper file system does not touch.
  const bool direct = Attribute(dir / "loop" / "dio") == "1";
  Beneath result{"loop device /dev/" + name, false, !direct};
  if (backing.empty()) return result;
  result.text += " over " + backing;
  struct stat info {};
  if (EndsWith(backing, "(deleted)") || depth >= kMaxDepth ||
      ::stat(backing.c_str(), &info) != 0) {
    return result;
  }
  std::optional<DiskFacts> inner;
  if (S_ISBLK(info.st_mode)) {
    inner =
        BlockFacts(major(info.st_rdev), minor(info.st_rdev), sys, depth + 1);
    if (inner) {
      result.text = "loop device /dev/" + name + " over " + inner->beneath;
    }
  } else {
    inner = Examine(backing, depth + 1);
    if (inner) {
      result.text += " (a file on " + inner->fileSystem;
      if (inner->inMemory) {
        result.text += ", in memory";
      } else if (!inner->beneath.empty()) {
        result.text += " on " + inner->beneath;
      }
      result.text += ")";
    }
  }
  if (inner) {
    result.inMemory = inner->inMemory;
    result.cacheBeneath =
        !inner->inMemory && (result.cacheBeneath || inner->cacheBeneath);
  }
  return result;
}

// A whole disk, or a device stacked on others.
Beneath DescribeDisk(const fs::path& dir, const std::string& sys, int depth) {
  const std::string name = dir.filename();
  std::error_code error;
  if (fs::is_directory(dir / "loop", error)) {
    return DescribeLoop(name, dir, sys, depth);
  }
  if (fs::is_directory(dir / "dm", error)) {
    const std::string uuid = Attribute(dir / "dm" / "uuid");
    std::string label = Attribute(dir / "dm" / "name");
    if (label.empty()) label = name;
    const char* what = StartsWith(uuid, "CRYPT-") ? "the encrypted volume "
                       : StartsWith(uuid, "LVM-") ? "the LVM volume "
                       : StartsWith(uuid, "mpath-")
                           ? "the multipath device "
                           : "the device-mapper device ";
    return Over(what + label, dir, sys, depth);
  }
  if (fs::is_directory(dir / "md", error)) {
    const std::string level = Attribute(dir / "md" / "level");
    return Over(
        "the RAID array " + name + (level.empty() ? "" : " (" + level + ")"),
        dir, sys, depth);
  }
  if (StartsWith(name, "zram")) {
    return {"the compressed memory disk " + name, true, false};
  }
  const bool hasDevice = fs::exists(dir / "device", error);
  if (StartsWith(name, "ram") && !hasDevice) {
    return {"the memory disk " + name, true, false};
  }
  if (StartsWith(name, "nbd")) {
    return {"the network block device " + name, false, true};
  }
  if (StartsWith(name, "rbd")) {
    return {"the Ceph block device " + name, false, true};
  }
  if (!hasDevice) {
    // bcache, a zoned emulation...: stacked or not, nothing more is known.
    return Over("the block device " + name, dir, sys, depth);
  }
  const std::string driver =
      fs::read_symlink(dir / "device" / "driver", error).filename();
  if (driver == "virtio_blk") return {"the virtio disk " + name, false, true};
  if (driver == "vbd" || StartsWith(name, "xvd")) {
    return {"the Xen virtual disk " + name, false, true};
  }
  const std::string vendor = Attribute(dir / "device" / "vendor");
  const std::string model = Attribute(dir / "device" / "model");
  const std::string label = vendor + " " + model;
  static const char* const kVirtual[] = {
      "QEMU", "VMware",         "Virtual disk", "Virtual Disk",
      "VBOX", "PersistentDisk", "Xen",          "Elastic Block Store"};
  const std::string shown = model.empty() ? "" : " (" + model + ")";
  for (const char* mark : kVirtual) {
    if (label.find(mark) != std::string::npos) {
      return {"the virtual disk " + name + shown, false, true};
    }
  }
  const bool usb =
      fs::canonical(dir, error).string().find("/usb") != std::string::npos;
  return {std::string(usb ? "the USB disk " : "the disk ") + name + shown,
          false, false};
}

Beneath DescribeBlock(const fs::path& dir, const std::string& sys, int depth) {
  std::error_code error;
  if (fs::exists(dir / "partition", error)) {
    Beneath disk = DescribeDisk(dir.parent_path(), sys, depth);
    disk.text = "partition " + dir.filename().string() + " of " + disk.text;
    return disk;
  }
  return DescribeDisk(dir, sys, depth);
}

std::optional<DiskFacts> BlockFacts(unsigned major, unsigned minor,
                                    const std::string& sys, int depth) {
  std::error_code error;
  const fs::path dir =
      fs::canonical(fs::path(sys) / "dev" / "block" /
                        (std::to_string(major) + ":" + std::to_string(minor)),
                    error);
  if (error) return std::nullopt;
  const Beneath beneath = DescribeBlock(dir, sys, depth);
  DiskFacts facts;
  facts.device = "/dev/" + DevName(dir);
  facts.beneath = beneath.text;
  facts.inMemory = beneath.inMemory;
  facts.cacheBeneath = beneath.cacheBeneath;
  return facts;
}

DiskFacts MountFacts(const MountEntry& mount, const std::string& sys,
                     int depth) {
  const std::string& type = mount.fileSystem;
  const std::string& source = mount.source;
  DiskFacts facts;
  facts.fileSystem = type;
  const bool named = NamesSomething(source, type);
  switch (KindOf(type)) {
    case Kind::kMemory:
      facts.inMemory = true;
      facts.beneath = "memory (" + type + ")";
      return facts;
    case Kind::kPseudo:
      facts.pseudo = true;
      facts.beneath = "no storage (" + type + " is a kernel interface)";
      return facts;
    case Kind::kOverlay:
      facts.beneath = "an overlay";
      return facts;
    case Kind::kNetwork:
      facts.device = named ? source : "";
      facts.beneath =
          "a network file system (" + type + (named ? ", " + source : "") + ")";
      facts.cacheBeneath = true;
      return facts;
    case Kind::kHostShare:
      facts.device = named ? source : "";
      facts.beneath = "a folder shared by the virtual machine's host (" + type +
                      (named ? ", " + source : "") + ")";
      facts.cacheBeneath = true;
      return facts;
    case Kind::kZfs:
      facts.device = named ? source : "";
      facts.beneath = named ? "the ZFS dataset " + source : "a ZFS dataset";
      facts.cacheBeneath = true;
      return facts;
    case Kind::kFuse:
    case Kind::kStorage:
      break;
  }
  facts.device = named ? source : "";
  // Block file systems carry their device's number; btrfs carries one of
  // its own, so its source is asked as well.
  std::optional<DiskFacts> block;
  if (mount.major != 0) {
    block = BlockFacts(mount.major, mount.minor, sys, depth);
  }
  struct stat info {};
  if (!block && StartsWith(source, "/") && ::stat(source.c_str(), &info) == 0 &&
      S_ISBLK(info.st_mode)) {
    block = BlockFacts(major(info.st_rdev), minor(info.st_rdev), sys, depth);
  }
  if (block) {
    if (facts.device.empty()) facts.device = block->device;
    facts.beneath = block->beneath;
    facts.inMemory = block->inMemory;
    facts.cacheBeneath = block->cacheBeneath;
  }
  if (KindOf(type) == Kind::kFuse) {
    // A program in between may keep what it reads in its own memory.
    const std::string program = StartsWith(type, "fuse.") ? type.substr(5)
                                : named && !StartsWith(source, "/") ? source
                                                                    : "";
    facts.beneath = "a FUSE file system" +
                    (program.empty() ? "" : " (" + program + ")") +
                    (block ? " over " + block->beneath : "");
    facts.cacheBeneath = !facts.inMemory;
  }
  return facts;
}

std::optional<DiskFacts> Examine(const std::string& path, int depth) {
  struct statfs about {};
  if (::statfs(path.c_str(), &about) != 0) return std::nullopt;
  struct statx info {};
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_MNT_ID, &info) != 0) {
    return std::nullopt;
  }
  std::optional<MountEntry> mount;
  if (info.stx_mask & STATX_MNT_ID) {
    mount = FindMountById(ReadWhole("/proc/self/mountinfo"), info.stx_mnt_id);
  }
  if (!mount) {
    // A chroot sees no mount of its own root: the kernel still tells the
    // type, and a block file system's device number.
    mount = MountEntry{};
    mount->fileSystem =
        FileSystemOfMagic(static_cast<std::uint32_t>(about.f_type));
    if (mount->fileSystem.empty()) mount->fileSystem = "unknown";
    mount->major = info.stx_dev_major;
    mount->minor = info.stx_dev_minor;
  }
  DiskFacts facts = MountFacts(*mount, "/sys", depth);
  const auto unit = static_cast<std::uint64_t>(
      about.f_frsize != 0 ? about.f_frsize : about.f_bsize);
  facts.freeBytes = static_cast<std::uint64_t>(about.f_bavail) * unit;
  return facts;
}

}  // namespace

std::optional<MountEntry> FindMountById(const std::string& mountinfo,
                                        std::uint64_t id) {
  std::istringstream lines(mountinfo);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string number, parent, device, root, point, options, field;
    MountEntry mount;
    if (!(fields >> number >> parent >> device >> root >> point >> options) ||
        !ParseNumber(number, mount.id) || mount.id != id) {
      continue;
    }
    const std::size_t colon = device.find(':');
    if (colon == std::string::npos ||
        !ParseNumber(std::string_view(device).substr(0, colon), mount.major) ||
        !ParseNumber(std::string_view(device).substr(colon + 1), mount.minor)) {
      continue;
    }
    // Optional fields end at a lone "-"; the type and source follow.
    while (fields >> field && field != "-") {
    }
    std::string type, source;
    if (field != "-" || !(fields >> type)) continue;
    fields >> source;  // may be empty
    mount.mountPoint = Unescape(point);
    mount.fileSystem = Unescape(type);
    mount.source = Unescape(source);
    return mount;
  }
  return std::nullopt;
}

std::string FileSystemOfMagic(std::uint64_t type) {
  // Not in <linux/magic.h>: file systems kept outside the kernel's tree,
  // or with their magic private to their source.
  constexpr std::uint64_t kZfs = 0x2fc12fc1, kBcachefs = 0xca451a4e,
                          kNtfs = 0x5346544e, kMqueue = 0x19800202,
                          kConfigfs = 0x62656570, kFusectl = 0x65735543;
  static const struct {
    std::uint64_t magic;
    const char* name;
  } kNames[] = {
      // ext2, ext3 and ext4 share one magic number.
      {EXT4_SUPER_MAGIC, "ext2/ext3/ext4"},
      {BTRFS_SUPER_MAGIC, "btrfs"},
      {XFS_SUPER_MAGIC, "xfs"},
      {F2FS_SUPER_MAGIC, "f2fs"},
      {EXFAT_SUPER_MAGIC, "exfat"},
      {MSDOS_SUPER_MAGIC, "fat"},
      {kNtfs, "ntfs"},
      {kZfs, "zfs"},
      {kBcachefs, "bcachefs"},
      {NILFS_SUPER_MAGIC, "nilfs2"},
      {REISERFS_SUPER_MAGIC, "reiserfs"},
      {OCFS2_SUPER_MAGIC, "ocfs2"},
      {SQUASHFS_MAGIC, "squashfs"},
      {EROFS_SUPER_MAGIC_V1, "erofs"},
      {ISOFS_SUPER_MAGIC, "iso9660"},
      {CRAMFS_MAGIC, "cramfs"},
      {OVERLAYFS_SUPER_MAGIC, "overlay"},
      {FUSE_SUPER_MAGIC, "fuse"},
      {NFS_SUPER_MAGIC, "nfs"},
      {SMB_SUPER_MAGIC, "smbfs"},
      {CIFS_SUPER_MAGIC, "cifs"},
      {SMB2_SUPER_MAGIC, "smb2"},
      {V9FS_MAGIC, "9p"},
      {CEPH_SUPER_MAGIC, "ceph"},
      {TMPFS_MAGIC, "tmpfs"},
      {RAMFS_MAGIC, "ramfs"},
      {PROC_SUPER_MAGIC, "proc"},
      {SYSFS_MAGIC, "sysfs"},
      {CGROUP_SUPER_MAGIC, "cgroup"},
      {CGROUP2_SUPER_MAGIC, "cgroup2"},
      {DEBUGFS_MAGIC, "debugfs"},
      {TRACEFS_MAGIC, "tracefs"},
      {SECURITYFS_MAGIC, "securityfs"},
      {SELINUX_MAGIC, "selinuxfs"},
      {SMACK_MAGIC, "smackfs"},
      {DEVPTS_SUPER_MAGIC, "devpts"},
      {kMqueue, "mqueue"},
      {PSTOREFS_MAGIC, "pstore"},
      {BPF_FS_MAGIC, "bpf"},
      {BINFMTFS_MAGIC, "binfmt_misc"},
      {kConfigfs, "configfs"},
      {kFusectl, "fusectl"},
      {HUGETLBFS_MAGIC, "hugetlbfs"},
      {AUTOFS_SUPER_MAGIC, "autofs"},
      {EFIVARFS_MAGIC, "efivarfs"},
      {NSFS_MAGIC, "nsfs"},
      {PIPEFS_MAGIC, "pipefs"},
      {SOCKFS_MAGIC, "sockfs"},
      {XENFS_SUPER_MAGIC, "xenfs"},
  };
  for (const auto& entry : kNames) {
    if (entry.magic == type) return entry.name;
  }
  return "";
}

DiskFacts FactsOfMount(const MountEntry& mount, const std::string& sys) {
  return MountFacts(mount, sys, 0);
}

std::optional<DiskFacts> FactsOfBlockDevice(unsigned major, unsigned minor,
                                            const std::string& sys) {
  return BlockFacts(major, minor, sys, 0);
}

std::optional<DiskFacts> ReadDiskFacts(const std::string& path) {
  return Examine(path, 0);
}

std::optional<double> CachedShareAfterDrop(const std::string& path) {
  // O_NONBLOCK: a FIFO would wait for a writer on open.
  const int fd =
      ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  std::optional<double> share;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    const auto length = static_cast<std::size_t>(info.st_size);
    void* map = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
    if (map != MAP_FAILED) {
      const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
      std::vector<unsigned char> resident((length + page - 1) / page);
      if (::mincore(map, length, resident.data()) == 0) {
        std::size_t cached = 0;
        for (unsigned char flags : resident) cached += flags & 1;
        share = static_cast<double>(cached) / resident.size();
      }
      ::munmap(map, length);
    }
  }
  ::close(fd);
  return share;
}

}  // namespace ferrotick
