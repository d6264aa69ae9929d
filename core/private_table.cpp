#include "core/private_table.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace ferrotick {

namespace {

std::atomic<bool> g_enabled{true};

constexpr const char kOwnTable[] = "/proc/thread-self/fd";

// Everything here goes through the raw system call: after unshare the
// numbers name this thread's descriptors, which ThreadSanitizer would take
// for the shared table's descriptors of the same numbers.
long Raw(long number, long a = 0, long b = 0, long c = 0, long d = 0) {
  return ::syscall(number, a, b, c, d);
}

std::vector<int> ListOwnTable() {
  std::vector<int> fds;
  const long dir = Raw(SYS_openat, AT_FDCWD, reinterpret_cast<long>(kOwnTable),
                       O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return fds;
  alignas(8) char buffer[4096];
  for (;;) {
    const long n =
        Raw(SYS_getdents64, dir, reinterpret_cast<long>(buffer), sizeof buffer);
    if (n <= 0) break;
    for (long pos = 0; pos < n;) {
      // struct linux_dirent64: ino (8), off (8), reclen (2), type (1), name.
      std::uint16_t reclen;
      std::memcpy(&reclen, buffer + pos + 16, sizeof reclen);
      const char* name = buffer + pos + 19;
      if (name[0] >= '0' && name[0] <= '9') {
        const int fd = std::atoi(name);
        if (fd != dir) fds.push_back(fd);
      }
      pos += reclen;
    }
  }
  Raw(SYS_close, dir);
  return fds;
}

bool IsEventFd(int fd) {
  char link[64];
  char target[32] = {};
  std::snprintf(link, sizeof link, "%s/%d", kOwnTable, fd);
  const long n = Raw(SYS_readlinkat, AT_FDCWD, reinterpret_cast<long>(link),
                     reinterpret_cast<long>(target), sizeof target - 1);
  return n > 0 && std::strcmp(target, "anon_inode:[eventfd]") == 0;
}

struct Entry {
  int fd;
  bool fifo;
  dev_t dev;
  ino_t ino;
  int access;  // O_RDONLY, O_WRONLY or O_RDWR
};

// True when the table holds another end of the same pipe as `e`.
bool OtherEndHeld(const std::vector<Entry>& entries, const Entry& e) {
  for (const Entry& other : entries) {
    if (other.fd == e.fd || !other.fifo || other.dev != e.dev ||
        other.ino != e.ino) {
      continue;
    }
    if (other.access == O_RDWR || other.access != e.access) return true;
  }
  return false;
}

void CloseAllBut(int keep) {
  std::vector<Entry> entries;
  for (int fd : ListOwnTable()) {
    if (fd <= 2 || fd == keep) continue;
    struct stat info {};
    Entry e{fd, false, 0, 0, O_RDONLY};
    if (Raw(SYS_fstat, fd, reinterpret_cast<long>(&info)) == 0) {
      e.fifo = S_ISFIFO(info.st_mode);
      e.dev = info.st_dev;
      e.ino = info.st_ino;
    }
    const long flags = Raw(SYS_fcntl, fd, F_GETFL);
    if (flags >= 0) e.access = static_cast<int>(flags & O_ACCMODE);
    entries.push_back(e);
  }
  for (const Entry& e : entries) {
    // A wake-up of the window thread goes through one of these.
    if (e.fifo ? OtherEndHeld(entries, e) : IsEventFd(e.fd)) continue;
    Raw(SYS_close, e.fd);
  }
}

}  // namespace

void SharedCopy::Detach() {
  m_state.store(kDetached, std::memory_order_release);
}

void SharedCopy::Release() {
  int attached = kAttached;
  m_state.compare_exchange_strong(attached, kReleased,
                                  std::memory_order_acq_rel);
}

bool SharedCopy::Settle() {
  const int state = m_state.load(std::memory_order_acquire);
  if (state == kDetached) {
    Raw(SYS_close, m_fd);
    m_state.store(kClosed, std::memory_order_release);
    return true;
  }
  return state == kReleased || state == kClosed;
}

bool SharedCopy::Detached() const {
  const int state = m_state.load(std::memory_order_acquire);
  return state == kDetached || state == kClosed;
}

bool TakePrivateTable(int fd) {
  if (!g_enabled.load() || fd < 0) return false;
  // Without /proc the copy could not be sorted: stay in the shared table.
  if (Raw(SYS_faccessat, AT_FDCWD, reinterpret_cast<long>(kOwnTable), R_OK) !=
      0) {
    return false;
  }
  if (::unshare(CLONE_FILES) != 0) return false;
  CloseAllBut(fd);
  return true;
}

PrivateTableScope::PrivateTableScope(SharedCopy* copy) {
  if (copy && TakePrivateTable(copy->Descriptor())) {
    m_bTaken = true;
    copy->Detach();
  }
}

PrivateTableScope::~PrivateTableScope() {
  if (!m_bTaken) return;
  if (Raw(SYS_close_range, 0, ~0U, 0) != 0) {
    for (int fd : ListOwnTable()) Raw(SYS_close, fd);
  }
}

void SetPrivateTablesForTest(bool enabled) { g_enabled.store(enabled); }

}  // namespace ferrotick
