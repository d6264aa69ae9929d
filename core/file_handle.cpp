#include "core/file_handle.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

#include "core/device_guard.h"

namespace ferrotick {

namespace {

std::string Describe(const char* what, int error) {
  return std::string(what) + ": " + std::strerror(error);
}

int OpenFlags(OpenMode mode) {
  switch (mode) {
    case OpenMode::kCreate:
    case OpenMode::kExport:
      return O_WRONLY | O_CREAT;  // truncated once the lock is held
    case OpenMode::kSharedWrite:
      return O_WRONLY;
    case OpenMode::kSharedRead:
      return O_RDONLY;
  }
  return O_RDONLY;
}

bool Exclusive(OpenMode mode) {
  return mode == OpenMode::kCreate || mode == OpenMode::kExport;
}

// Truncating a file that is already empty is not free: on ext4 it arms a
// flush of the whole file at close (0.4 s for 1 GB), which would delay the
// fill's end and overlap the next run.
bool TruncateUnlessEmpty(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return false;
  return info.st_size == 0 || ::ftruncate(fd, 0) == 0;
}

KernelCalls g_systemCalls;
std::atomic<KernelCalls*> g_calls{&g_systemCalls};

KernelCalls& Calls() { return *g_calls.load(std::memory_order_acquire); }

}  // namespace

FileError::FileError(const std::string& what, int error)
    : std::runtime_error(Describe(what.c_str(), error)), m_errno(error) {}

int KernelCalls::Open(const char* path, int flags, mode_t mode) {
  return ::open(path, flags, mode);
}

// Positional transfers through the raw system call: no cancellation point
// and no file-position lock. Only 64-bit ABIs pass the offset in one
// register; elsewhere the C library splits it as that ABI wants.
long KernelCalls::Read(int fd, void* buffer, std::size_t n, std::uint64_t at,
                       bool positional) {
  if (!positional) return ::syscall(SYS_read, fd, buffer, n);
#if defined(__LP64__)
  return ::syscall(SYS_pread64, fd, buffer, n, static_cast<off_t>(at));
#else
  return ::pread64(fd, buffer, n, static_cast<off64_t>(at));
#endif
}

long KernelCalls::Write(int fd, const void* buffer, std::size_t n,
                        std::uint64_t at, bool positional) {
  if (!positional) return ::syscall(SYS_write, fd, buffer, n);
#if defined(__LP64__)
  return ::syscall(SYS_pwrite64, fd, buffer, n, static_cast<off_t>(at));
#else
  return ::pwrite64(fd, buffer, n, static_cast<off64_t>(at));
#endif
}

int KernelCalls::DataSync(int fd) { return ::fdatasync(fd); }

int KernelCalls::DropCache(int fd) {
  return ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
}

void SetKernelCallsForTest(KernelCalls* calls) {
  g_calls.store(calls ? calls : &g_systemCalls, std::memory_order_release);
}

FileHandle::~FileHandle() { Close(); }

FileHandle::FileHandle(FileHandle&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_lastError(other.m_lastError),
      m_offset(other.m_offset),
      m_bStream(other.m_bStream) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    m_fd = std::exchange(other.m_fd, -1);
    m_lastError = other.m_lastError;
    m_offset = other.m_offset;
    m_bStream = other.m_bStream;
  }
  return *this;
}

bool FileHandle::Open(const std::string& path, OpenMode mode, bool direct) {
  Close();
  m_lastError = 0;
  // Non-blocking only for the open itself: a FIFO must not hang it.
  int flags = OpenFlags(mode) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  if (direct) flags |= O_DIRECT;
  int fd;
  do {
    fd = Calls().Open(path.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    m_lastError = errno;
    return false;
  }
  struct stat info {};
  int refused = 0;
  if (::fstat(fd, &info) != 0) {
    refused = errno;
  } else if (S_ISDIR(info.st_mode)) {
    refused = EISDIR;
  } else if (!S_ISREG(info.st_mode) && !S_ISCHR(info.st_mode) &&
             !S_ISBLK(info.st_mode)) {
    refused = EINVAL;
  } else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    refused = errno;
  }
  if (refused == 0) {
    refused = HeldDeviceError(fd, path, mode != OpenMode::kSharedRead);
  }
  if (refused != 0) {
    m_lastError = refused;
    ::close(fd);
    return false;
  }
  // A character device (/dev/full, /dev/null) holds no data to guard, and
  // is shared with every other program: it is never locked.
  const int lock = (Exclusive(mode) ? LOCK_EX : LOCK_SH) | LOCK_NB;
  int locked = 0;
  if (!S_ISCHR(info.st_mode)) {
    do {
      locked = ::flock(fd, lock);
    } while (locked != 0 && errno == EINTR);
  }
  // Truncate only once the lock shows nobody else holds the file.
  if (locked != 0 ||
      (Exclusive(mode) && S_ISREG(info.st_mode) && !TruncateUnlessEmpty(fd))) {
    m_lastError = errno;
    ::close(fd);
    return false;
  }
  m_fd = fd;
  m_offset = 0;
  m_bStream = false;
  return true;
}

void FileHandle::SeekToStart() {
  if (m_bStream && ::lseek(m_fd, 0, SEEK_SET) < 0) {
    throw FileError("seek", errno);
  }
  m_offset = 0;
}

std::uint64_t FileHandle::Length() const {
  struct stat info {};
  if (::fstat(m_fd, &info) != 0) throw FileError("stat", errno);
  if (S_ISBLK(info.st_mode)) {
    std::uint64_t bytes = 0;
    if (::ioctl(m_fd, BLKGETSIZE64, &bytes) != 0) {
      throw FileError("BLKGETSIZE64", errno);
    }
    return bytes;
  }
  return static_cast<std::uint64_t>(info.st_size);
}

int FileHandle::LengthInto(std::uint64_t& bytes) const {
  try {
    bytes = Length();
  } catch (const FileError& e) {
    return e.Errno();
  }
  return 0;
}

std::size_t FileHandle::Read(void* buffer, std::size_t n) {
  for (;;) {
    const long got = Calls().Read(m_fd, buffer, n, m_offset, !m_bStream);
    if (got >= 0) {
      m_offset += static_cast<std::uint64_t>(got);
      return static_cast<std::size_t>(got);
    }
    if (errno == ESPIPE && !m_bStream) {
      m_bStream = true;
    } else if (errno != EINTR) {
      throw FileError("read", errno);
    }
  }
}

void FileHandle::Write(const void* buffer, std::size_t n) {
  const char* bytes = static_cast<const char*>(buffer);
  while (n > 0) {
    const long put = Calls().Write(m_fd, bytes, n, m_offset, !m_bStream);
    if (put < 0) {
      if (errno == ESPIPE && !m_bStream) {
        m_bStream = true;
        continue;
      }
      if (errno == EINTR) continue;
      throw FileError("write", errno);
    }
    if (put == 0) throw FileError("write", EIO);
    bytes += put;
    n -= static_cast<std::size_t>(put);
    m_offset += static_cast<std::uint64_t>(put);
  }
}

void FileHandle::Sync() {
  if (Calls().DataSync(m_fd) != 0) throw FileError("fdatasync", errno);
}

void FileHandle::TruncateTo(std::uint64_t bytes) {
  struct stat info {};
  if (::fstat(m_fd, &info) == 0 && S_ISREG(info.st_mode)) {
    [[maybe_unused]] const int ignored =
        ::ftruncate(m_fd, static_cast<off_t>(bytes));
  }
}

void FileHandle::DropCache() {
  // Dirty pages are not dropped: write them back first. A device or file
  // system without a sync (EINVAL) has nothing to write back.
  if (Calls().DataSync(m_fd) != 0 && errno != EINVAL) {
    throw FileError("fdatasync", errno);
  }
  const int error = Calls().DropCache(m_fd);
  if (error != 0) throw FileError("posix_fadvise", error);
}

void FileHandle::Close() {
  if (m_fd >= 0) {
    ::close(m_fd);
    m_fd = -1;
  }
}

bool RemoveUnlessInUse(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return false;
  if (S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if (S_ISREG(info.st_mode)) {
    // Any handle of ours or of another process holds a lock on the file.
    // A file we may only write is checked through a write handle, which
    // neither truncates nor changes it.
    constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    int fd = ::open(path.c_str(), O_RDONLY | kFlags);
    if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_WRONLY | kFlags);
    // Without a handle the lock cannot be tested (no descriptor left, the
    // file gone or changed): refuse. A file this process may neither read
    // nor write is removed as before; none of our modes could open it.
    if (fd < 0 && errno != EACCES) return false;
    if (fd >= 0) {
      if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error == EWOULDBLOCK ? EBUSY : error;
        return false;
      }
      const int removed = ::unlink(path.c_str());
      const int error = errno;
      ::close(fd);
      errno = error;
      return removed == 0;
    }
  }
  return ::unlink(path.c_str()) == 0;
}

}  // namespace ferrotick
