// What a folder's file would live on: mounts found by ID, the type statfs
// tells when no mount is visible, the block devices beneath, memory and
// the kernel's own file systems, on this machine and in given text.
#include "core/disk_facts.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "tests/support/fake_view.h"
#include "tests/support/loop_device.h"

namespace ferrotick {
namespace {

namespace fs = std::filesystem;
using testing::LoopDevice;
using testing::TempDir;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A mount made by a test, gone with it.
class Mount {
 public:
  Mount(const std::string& source, const std::string& target, const char* type,
        const char* options = nullptr)
      : m_target(target) {
    ::mkdir(target.c_str(), 0700);
    m_mounted = ::mount(source.c_str(), target.c_str(), type, 0, options) == 0;
  }
  ~Mount() {
    if (m_mounted && ::umount2(m_target.c_str(), 0) != 0) {
      ::umount2(m_target.c_str(), MNT_DETACH);
    }
  }
  bool Mounted() const { return m_mounted; }

 private:
  std::string m_target;
  bool m_mounted = false;
};

// An image made by `mkfs` in `folder`, on a loop device, mounted.
struct MountedImage {
  MountedImage(const std::string& folder, const std::string& mkfs,
               const char* type, int sizeMB)
      : image(folder + "/disk.img"), point(folder + "/mnt") {
    if (::geteuid() != 0) {
      missing = "not root: no loop device";
      return;
    }
    const std::string command = "truncate -s " + std::to_string(sizeMB) +
                                "M '" + image + "' && " + mkfs + " '" + image +
                                "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
      missing = mkfs + " is not available";
      return;
    }
    loop = std::make_unique<LoopDevice>(image);
    missing = loop->Missing();
    if (!missing.empty()) return;
    mount = std::make_unique<Mount>(loop->Path(), point, type);
    if (!mount->Mounted()) missing = std::string("cannot mount ") + type;
  }

  std::string image, point, missing;
  std::unique_ptr<LoopDevice> loop;
  std::unique_ptr<Mount> mount;  // goes before the loop device
};

TEST(DiskFacts, MountFoundByItsIdInMountinfo) {
  // Mount 30's device number is the file system's, not that of a folder in
  // a btrfs subvolume under it; 31's point and source have escapes.
  const std::string mountinfo =
      "22 1 0:21 / /proc rw,nosuid - proc proc rw\n"
      "25 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
      "garbage line\n"
      "30 25 0:40 / /data rw master:2 shared:3 - btrfs /dev/vdb rw\n"
      "31 25 0:45 / /run/my\\040disk rw - tmpfs tmp\\134fs rw,size=10k\n";
  const std::optional<MountEntry> data = FindMountById(mountinfo, 30);
  ASSERT_TRUE(data);
  EXPECT_EQ(data->fileSystem, "btrfs");
  EXPECT_EQ(data->source, "/dev/vdb");
  EXPECT_EQ(data->mountPoint, "/data");
  EXPECT_EQ(data->major, 0u);
  EXPECT_EQ(data->minor, 40u);
  const std::optional<MountEntry> escaped = FindMountById(mountinfo, 31);
  ASSERT_TRUE(escaped);
  EXPECT_EQ(escaped->mountPoint, "/run/my disk");
  EXPECT_EQ(escaped->source, "tmp\\fs");
  // Not "3" of "30", nor a line that is not one.
  EXPECT_FALSE(FindMountById(mountinfo, 3));
  EXPECT_FALSE(FindMountById(mountinfo, 0));
  EXPECT_FALSE(FindMountById("", 25));
}

TEST(DiskFacts, BtrfsSubvolumeIsFoundThoughItsDeviceNumberDiffers) {
  TempDir dir;
  MountedImage btrfs(dir.path(), "mkfs.btrfs -q -f", "btrfs", 128);
  if (!btrfs.missing.empty()) GTEST_SKIP() << btrfs.missing;
  const std::string sub = btrfs.point + "/sub";
  if (std::system(
          ("btrfs subvolume create '" + sub + "' >/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "cannot make a btrfs subvolume";
  }
  struct stat top {
  }, inner{};
  ASSERT_EQ(::stat(btrfs.point.c_str(), &top), 0);
  ASSERT_EQ(::stat(sub.c_str(), &inner), 0);
  ASSERT_NE(top.st_dev, inner.st_dev) << "no case for matching by mount ID";
  const std::optional<DiskFacts> facts = ReadDiskFacts(sub);
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->fileSystem, "btrfs");
  EXPECT_EQ(facts->device, btrfs.loop->Path());
  EXPECT_TRUE(Has(facts->beneath, "loop device " + btrfs.loop->Path()))
      << facts->beneath;
  EXPECT_GT(facts->freeBytes, 0u);
}

TEST(DiskFacts, WithoutAVisibleMountStatfsTellsTheType) {
  struct statfs root {};
  ASSERT_EQ(::statfs("/", &root), 0);
  const std::string known =
      FileSystemOfMagic(static_cast<std::uint32_t>(root.f_type));
  ASSERT_FALSE(known.empty()) << std::hex << root.f_type;
  const std::optional<DiskFacts> facts = ReadDiskFacts("/");
  ASSERT_TRUE(facts);
  // ext2/3/4 share a magic number: the mount names one of them.
  EXPECT_TRUE(Has(known, facts->fileSystem)) << known;
  EXPECT_EQ(FileSystemOfMagic(0x12345678), "");

  // In a chroot neither /proc nor /sys are there: what statfs tells stays.
  if (::geteuid() != 0) GTEST_SKIP() << "not root: no chroot";
  TempDir dir;
  struct statfs jail {};
  ASSERT_EQ(::statfs(dir.path().c_str(), &jail), 0);
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipeFds[0]);
    std::string said = "cannot chroot";
    if (::chroot(dir.path().c_str()) == 0 && ::chdir("/") == 0) {
      const std::optional<DiskFacts> inside = ReadDiskFacts("/");
      said = inside ? inside->fileSystem + "|" + inside->device + "|" +
                          inside->beneath + "|" +
                          std::to_string(inside->freeBytes > 0)
                    : "nothing";
    }
    const ssize_t written = ::write(pipeFds[1], said.data(), said.size());
    ::_exit(written == static_cast<ssize_t>(said.size()) ? 0 : 1);
  }
  ::close(pipeFds[1]);
  std::string said;
  char buffer[512];
  for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
    said.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(pipeFds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const std::string type =
      FileSystemOfMagic(static_cast<std::uint32_t>(jail.f_type));
  const bool memory = type == "tmpfs";
  EXPECT_EQ(said, type + "||" + (memory ? "memory (tmpfs)" : "") + "|1");
}

TEST(DiskFacts, LoopDeviceOverAFileNamesTheFileAndItsCache) {
  TempDir dir;
  MountedImage ext4(dir.path(), "mkfs.ext4 -q -F", "ext4", 16);
  if (!ext4.missing.empty()) GTEST_SKIP() << ext4.missing;
  const std::optional<DiskFacts> host = ReadDiskFacts(dir.path());
  const std::optional<DiskFacts> facts = ReadDiskFacts(ext4.point);
  ASSERT_TRUE(host && facts);
  EXPECT_EQ(facts->fileSystem, "ext4");
  EXPECT_EQ(facts->device, ext4.loop->Path());
  EXPECT_TRUE(Has(facts->beneath, "loop device " + ext4.loop->Path() +
                                      " over " + ext4.image + " (a file on " +
                                      host->fileSystem))
      << facts->beneath;
  EXPECT_EQ(facts->inMemory, host->inMemory);
  EXPECT_EQ(facts->cacheBeneath, !host->inMemory);

  // An image kept in memory makes a disk of memory.
  Mount memory("tmpfs", dir.File("memory"), "tmpfs", "size=32m");
  ASSERT_TRUE(memory.Mounted());
  MountedImage inMemory(dir.File("memory"), "mkfs.ext4 -q -F", "ext4", 16);
  ASSERT_TRUE(inMemory.missing.empty()) << inMemory.missing;
  const std::optional<DiskFacts> ram = ReadDiskFacts(inMemory.point);
  ASSERT_TRUE(ram);
  EXPECT_TRUE(ram->inMemory);
  EXPECT_FALSE(ram->cacheBeneath);
  EXPECT_TRUE(Has(ram->beneath, "(a file on tmpfs, in memory)"))
      << ram->beneath;
}

TEST(DiskFacts, MemoryAndKernelFileSystems) {
  for (const char* kernel : {"/proc", "/sys", "/proc/self"}) {
    const std::optional<DiskFacts> facts = ReadDiskFacts(kernel);
    ASSERT_TRUE(facts) << kernel;
    EXPECT_TRUE(facts->pseudo) << kernel;
    EXPECT_FALSE(facts->inMemory || facts->cacheBeneath) << kernel;
    EXPECT_EQ(facts->device, "") << kernel;
  }
  TempDir dir;
  const std::string folder = dir.File("memory");
  Mount memory("tmpfs", folder, "tmpfs", "size=4m");
  if (!memory.Mounted()) GTEST_SKIP() << "cannot mount tmpfs";
  const std::optional<DiskFacts> facts = ReadDiskFacts(folder);
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->fileSystem, "tmpfs");
  EXPECT_EQ(facts->device, "");  // "tmpfs" names no device
  EXPECT_EQ(facts->beneath, "memory (tmpfs)");
  EXPECT_TRUE(facts->inMemory);
  EXPECT_FALSE(facts->cacheBeneath || facts->pseudo);
  EXPECT_EQ(facts->freeBytes, 4u << 20);

  // A drop cannot take memory's pages away; what is no file tells nothing.
  const std::string file = folder + "/f";
  std::ofstream(file) << std::string(20000, 'x');
  EXPECT_EQ(CachedShareAfterDrop(file), 1.0);
  ASSERT_EQ(::mkfifo((folder + "/fifo").c_str(), 0600), 0);
  EXPECT_FALSE(CachedShareAfterDrop(folder + "/fifo"));  // and no wait
  std::ofstream(folder + "/empty").flush();
  EXPECT_FALSE(CachedShareAfterDrop(folder + "/empty"));
  EXPECT_FALSE(CachedShareAfterDrop(folder + "/none"));
  const bool examined = ReadDiskFacts(folder + "/none").has_value();
  const int error = errno;
  EXPECT_FALSE(examined);
  EXPECT_EQ(error, ENOENT);
}

TEST(DiskFacts, WhatServesFilesFromTheMountAlone) {
  TempDir emptySys;
  const auto facts = [&](const char* type, const char* source) {
    MountEntry mount;
    mount.minor = 50;
    mount.fileSystem = type;
    mount.source = source;
    return FactsOfMount(mount, emptySys.path());
  };
  const DiskFacts sshfs = facts("fuse.sshfs", "me@host:/home");
  EXPECT_EQ(sshfs.beneath, "a FUSE file system (sshfs)");
  EXPECT_EQ(sshfs.device, "me@host:/home");
  EXPECT_TRUE(sshfs.cacheBeneath);
  const DiskFacts nfs = facts("nfs4", "server:/export");
  EXPECT_EQ(nfs.beneath, "a network file system (nfs4, server:/export)");
  EXPECT_TRUE(nfs.cacheBeneath);
  const DiskFacts overlay = facts("overlay", "overlay");
  EXPECT_EQ(overlay.beneath, "an overlay");
  EXPECT_EQ(overlay.device, "");
  EXPECT_TRUE(facts("zfs", "tank/home").cacheBeneath);
  EXPECT_TRUE(facts("devtmpfs", "udev").inMemory);
  EXPECT_TRUE(facts("cgroup2", "cgroup2").pseudo);
  // A block file system whose device sysfs does not show: nothing more.
  const DiskFacts unseen = facts("xfs", "/dev/sdz9");
  EXPECT_EQ(unseen.device, "/dev/sdz9");
  EXPECT_EQ(unseen.beneath, "");
  EXPECT_FALSE(unseen.cacheBeneath || unseen.inMemory || unseen.pseudo);
}

// Writes `text` to `path` under `root`, making the folders.
void Put(const fs::path& root, const std::string& path,
         const std::string& text) {
  fs::create_directories((root / path).parent_path());
  std::ofstream(root / path) << text << "\n";
}

void Link(const fs::path& root, const std::string& path,
          const std::string& target) {
  fs::create_directories((root / path).parent_path());
  fs::create_directory_symlink(target, root / path);
}

TEST(DiskFacts, BlockDevicesFromSysfs) {
  TempDir dir;
  const fs::path sys = dir.path();
  // A virtio disk's partition.
  const std::string vda = "devices/pci0000:00/0000:00:05.0/virtio2/block/vda";
  Put(sys, vda + "/vda1/partition", "1");
  Put(sys, vda + "/vda1/uevent", "MAJOR=254\nMINOR=1\nDEVNAME=vda1");
  Link(sys, "devices/pci0000:00/0000:00:05.0/virtio2/driver",
       "../../../bus/virtio/drivers/virtio_blk");
  Link(sys, vda + "/device", "../..");
  Link(sys, "dev/block/254:1", "../../" + vda + "/vda1");
  // An encrypted volume over an NVMe partition.
  const std::string nvme = "devices/pci0000:00/0000:00:06.0/nvme/nvme0";
  Put(sys, nvme + "/model", "Samsung SSD 980 1TB   ");
  Put(sys, nvme + "/nvme0n1/nvme0n1p3/partition", "3");
  Link(sys, nvme + "/nvme0n1/device", "../../nvme0");
  Put(sys, "devices/virtual/block/dm-0/dm/name", "cryptroot");
  Put(sys, "devices/virtual/block/dm-0/dm/uuid", "CRYPT-LUKS2-0f1e-cryptroot");
  Link(sys, "devices/virtual/block/dm-0/slaves/nvme0n1p3",
       "../../../../../" + nvme + "/nvme0n1/nvme0n1p3");
  Link(sys, "dev/block/253:0", "../../devices/virtual/block/dm-0");
  // A SCSI disk that QEMU emulates, and a compressed memory disk.
  const std::string sda = "devices/pci0000:00/host0/target0:0:0/0:0:0:0";
  Put(sys, sda + "/vendor", "QEMU    ");
  Put(sys, sda + "/model", "QEMU HARDDISK   ");
  Put(sys, sda + "/block/sda/size", "1");
  Link(sys, sda + "/block/sda/device", "../..");
  Link(sys, "dev/block/8:0", "../../" + sda + "/block/sda");
  Put(sys, "devices/virtual/block/zram0/size", "1");
  Link(sys, "dev/block/252:0", "../../devices/virtual/block/zram0");

  const std::optional<DiskFacts> vda1 = FactsOfBlockDevice(254, 1, sys);
  ASSERT_TRUE(vda1);
  EXPECT_EQ(vda1->beneath, "partition vda1 of the virtio disk vda");
  EXPECT_EQ(vda1->device, "/dev/vda1");
  EXPECT_TRUE(vda1->cacheBeneath);
  const std::optional<DiskFacts> crypt = FactsOfBlockDevice(253, 0, sys);
  ASSERT_TRUE(crypt);
  EXPECT_EQ(crypt->beneath,
            "the encrypted volume cryptroot over partition nvme0n1p3 of the "
            "disk nvme0n1 (Samsung SSD 980 1TB)");
  EXPECT_FALSE(crypt->cacheBeneath || crypt->inMemory);
  const std::optional<DiskFacts> sda0 = FactsOfBlockDevice(8, 0, sys);
  ASSERT_TRUE(sda0);
  EXPECT_EQ(sda0->beneath, "the virtual disk sda (QEMU HARDDISK)");
  EXPECT_TRUE(sda0->cacheBeneath);
  const std::optional<DiskFacts> zram = FactsOfBlockDevice(252, 0, sys);
  ASSERT_TRUE(zram);
  EXPECT_TRUE(zram->inMemory);
  EXPECT_FALSE(FactsOfBlockDevice(8, 16, sys));

  // A mount takes its device's facts, its source staying its own.
  MountEntry root;
  root.major = 253;
  root.fileSystem = "ext4";
  root.source = "/dev/mapper/cryptroot";
  const DiskFacts mounted = FactsOfMount(root, sys);
  EXPECT_EQ(mounted.device, "/dev/mapper/cryptroot");
  EXPECT_EQ(mounted.beneath, crypt->beneath);
}

TEST(DiskFacts, ThisMachinesRootAsTheKernelShowsIt) {
  const std::optional<DiskFacts> facts = ReadDiskFacts("/");
  ASSERT_TRUE(facts);
  EXPECT_FALSE(facts->pseudo);
  EXPECT_NE(facts->fileSystem, "unknown");
  struct stat root {};
  ASSERT_EQ(::stat("/", &root), 0);
  std::error_code error;
  const fs::path block =
      fs::canonical("/sys/dev/block/" + std::to_string(major(root.st_dev)) +
                        ":" + std::to_string(minor(root.st_dev)),
                    error);
  if (error) {
    GTEST_SKIP() << "/ is not on a block device that sysfs shows";
  }
  EXPECT_TRUE(Has(facts->beneath, block.filename().string())) << facts->beneath;
  const fs::path disk =
      fs::exists(block / "partition") ? block.parent_path() : block;
  const bool virtio =
      fs::read_symlink(disk / "device" / "driver", error).filename() ==
      "virtio_blk";
  EXPECT_EQ(Has(facts->beneath, "the virtio disk " + disk.filename().string()),
            virtio)
      << facts->beneath;
  if (virtio) {
    EXPECT_TRUE(facts->cacheBeneath);
  }
}

}  // namespace
}  // namespace ferrotick
