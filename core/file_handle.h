// The benchmark's file handle, on Linux calls.
//
// Sharing between handles is emulated with flock(): create and export hold
// an exclusive lock, shared read and shared write a shared lock, taken
// without waiting. Every open() makes its own lock owner, so two handles of
// this process conflict just as handles of two processes do. Character
// devices are not locked. A block device that is mounted or held by
// another program is never opened for writing.
//
// Transfers are positional (pread/pwrite at an offset the handle keeps),
// made through the raw system call: no file-position lock in the kernel and
// no cancellation wrapper in the C library. A device that refuses
// positional transfers (a terminal) is read and written at its position.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace ferrotick {

enum class OpenMode {
  kCreate,       // created or truncated; write; exclusive
  kSharedWrite,  // must exist, kept whole; write; shared
  kSharedRead,   // must exist; read; shared
  kExport,       // created or truncated; write; exclusive
};

// A failed transfer, seek or sync; carries errno.
class FileError : public std::runtime_error {
 public:
  FileError(const std::string& what, int error);
  int Errno() const { return m_errno; }

 private:
  int m_errno;
};

// Every call the handle makes on the kernel for a file's data. A test may
// put its own in their place to count them, hold them or fail them; the
// defaults make the system calls. Each returns what its system call does,
// with errno set on failure.
class KernelCalls {
 public:
  virtual ~KernelCalls() = default;
  virtual int Open(const char* path, int flags, mode_t mode);
  // Positional when `at` is set; otherwise at the descriptor's position.
  virtual long Read(int fd, void* buffer, std::size_t n, std::uint64_t at,
                    bool positional);
  virtual long Write(int fd, const void* buffer, std::size_t n,
                     std::uint64_t at, bool positional);
  virtual int DataSync(int fd);
  // posix_fadvise(POSIX_FADV_DONTNEED) on the whole file; returns 0 or the
  // error number, as posix_fadvise does.
  virtual int DropCache(int fd);
};

// nullptr restores the system calls. The calls must outlive every handle
// that uses them.
void SetKernelCallsForTest(KernelCalls* calls);

class FileHandle {
 public:
  FileHandle() = default;
  ~FileHandle();
  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  // Closes any earlier open first. Reports failure by its result; the
  // reason stays in LastError().
  bool Open(const std::string& path, OpenMode mode, bool direct = false);
  bool IsOpen() const { return m_fd >= 0; }
  void SeekToStart();            // throws FileError
  std::uint64_t Length() const;  // a block device's size; throws FileError
  // Length() without the throw: 0, or the errno of the failed look.
  int LengthInto(std::uint64_t& bytes) const;
  std::size_t Read(void* buffer, std::size_t n);  // 0 at the end; throws
  void Write(const void* buffer, std::size_t n);  // whole buffer or throws
  void Sync();                                    // fdatasync; throws FileError
  // Cuts a plain file back to `bytes`; anything else is left as it is.
  void TruncateTo(std::uint64_t bytes);
  void DropCache();  // writes back, then drops the file's cached pages
  void Close();
  int LastError() const { return m_lastError; }
  int Descriptor() const { return m_fd; }

 private:
  int m_fd = -1;
  int m_lastError = 0;
  std::uint64_t m_offset = 0;  // where the next positional transfer goes
  bool m_bStream = false;      // the device refused positional transfers
};

// Removes a plain file (never a folder) unless a handle holds its lock.
// Returns false, with errno set, when the file is missing or in use.
bool RemoveUnlessInUse(const std::string& path);

}  // namespace ferrotick
