#include "core/disk_facts.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <vector>

namespace ferrotick {

namespace {

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

}  // namespace

std::optional<DiskFacts> FindMount(const std::string& mountinfo, unsigned major,
                                   unsigned minor) {
  const std::string device =
      std::to_string(major) + ":" + std::to_string(minor);
  std::optional<DiskFacts> found;
  std::istringstream lines(mountinfo);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string id, parent, majorMinor, field;
    if (!(fields >> id >> parent >> majorMinor) || majorMinor != device) {
      continue;
    }
    // Optional fields end at a lone "-"; file system and source follow.
    while (fields >> field && field != "-") {
    }
    std::string fileSystem, source;
    if (field != "-" || !(fields >> fileSystem >> source)) continue;
    found = DiskFacts{Unescape(fileSystem), Unescape(source), "", false, false, false, 0};
  }
  return found;
}

std::optional<DiskFacts> ReadDiskFacts(const std::string& path) {
  struct statfs fs {};
  struct stat info {};
  if (::statfs(path.c_str(), &fs) != 0 || ::stat(path.c_str(), &info) != 0) {
    return std::nullopt;
  }
  std::ifstream file("/proc/self/mountinfo");
  std::stringstream text;
  text << file.rdbuf();
  DiskFacts facts =
      FindMount(text.str(), major(info.st_dev), minor(info.st_dev))
          .value_or(DiskFacts{"unknown", "unknown", "", false, false, false, 0});
  facts.freeBytes = static_cast<std::uint64_t>(fs.f_bavail) *
                    static_cast<std::uint64_t>(fs.f_frsize);
  facts.inMemory = fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC;
  facts.pseudo = fs.f_type == PROC_SUPER_MAGIC || fs.f_type == SYSFS_MAGIC;
  return facts;
}

std::optional<double> CachedShareAfterDrop(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  std::optional<double> share;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && info.st_size > 0) {
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
