// The limit for our workload: the transfers of a Ferrotick pass (open,
// lock, seek, the timed writes or reads, close) in one thread and nothing
// else, with the buffer where the caller puts it.
//
//   plain_loop create|rewrite|read PATH SIZE_MB BUFFER_KB
//              [--sync] [--direct] [--drop-cache] [--offset BYTES]
//
// --offset puts the buffer that many bytes past a page boundary (default
// 0); bench/fidelity.py tries several and takes the fastest as the limit.
// Prints one JSON line:
// {"run":...,"bytes":...,"seconds":...,"bytes_per_s":...,"offset":...}
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "core/io_memory.h"

namespace {

std::int64_t Now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "plain_loop: %s: %s\n", what, std::strerror(errno));
  std::exit(1);
}

// As the test-file handle opens: non-blocking open, then blocking again,
// then a lock without waiting; create truncates, once the lock is held, a
// file that is not empty.
int OpenLike(const char* path, int access, bool exclusive, bool direct) {
  int flags = access | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  if (direct) flags |= O_DIRECT;
  const int fd = ::open(path, flags, 0666);
  if (fd < 0) Die("open");
  struct stat info {};
  if (::fstat(fd, &info) != 0) Die("fstat");
  if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    Die("fcntl");
  }
  if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    Die("flock");
  }
  if (exclusive) {
    if (::fstat(fd, &info) != 0) Die("fstat");
    if (info.st_size != 0 && ::ftruncate(fd, 0) != 0) Die("ftruncate");
  }
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr,
                 "usage: plain_loop create|rewrite|read PATH SIZE_MB "
                 "BUFFER_KB [--sync] [--direct] [--drop-cache] "
                 "[--offset BYTES]\n");
    return 2;
  }
  const std::string run = argv[1];
  const char* path = argv[2];
  const long sizeMB = std::atol(argv[3]);
  const long bufferKB = std::atol(argv[4]);
  bool sync = false, direct = false, dropCache = false;
  long offset = 0;
  for (int i = 5; i < argc; ++i) {
    const std::string option = argv[i];
    sync = sync || option == "--sync";
    direct = direct || option == "--direct";
    dropCache = dropCache || option == "--drop-cache";
    if (option == "--offset" && i + 1 < argc) offset = std::atol(argv[++i]);
  }
  if (bufferKB < 1 || bufferKB > 1024 || sizeMB < 0 || offset < 0 ||
      offset >= 4096) {
    return 2;
  }
  const std::size_t size = static_cast<std::size_t>(bufferKB) * 1024;
  const std::size_t rounded = (offset + size + 4095) / 4096 * 4096;
  // From 256 KiB in huge pages, as the program's transfer memory is: the
  // kernel copies to and from them faster than to scattered small pages.
  char* block = static_cast<char*>(ferrotick::AllocateIoMemory(4096, rounded));
  if (!block) Die("aligned_alloc");
  std::memset(block, 0, rounded);
  char* const buffer = block + offset;
  const long writesPerMB = 1024 / bufferKB;

  std::uint64_t bytes = 0;
  std::int64_t start = 0;
  std::int64_t end = 0;
  if (run == "create" || run == "rewrite") {
    const bool create = run == "create";
    const int fd =
        OpenLike(path, create ? O_WRONLY | O_CREAT : O_WRONLY, create, direct);
    if (!create) {
      if (::lseek(fd, 0, SEEK_SET) < 0) Die("lseek");
      std::memset(buffer, 'A', size);
    }
    start = Now();
    for (long mb = 0; mb < sizeMB; ++mb) {
      for (long w = 0; w < writesPerMB; ++w) {
        const char* p = buffer;
        std::size_t left = size;
        while (left > 0) {
          const ssize_t put = ::write(fd, p, left);
          if (put < 0) {
            if (errno == EINTR) continue;
            Die("write");
          }
          p += put;
          left -= static_cast<std::size_t>(put);
        }
      }
    }
    if (sync && ::fdatasync(fd) != 0) Die("fdatasync");
    end = Now();
    bytes = static_cast<std::uint64_t>(sizeMB) * writesPerMB * size;
    ::close(fd);
  } else if (run == "read") {
    const int fd = OpenLike(path, O_RDONLY, false, direct);
    if (dropCache) {
      if (::fdatasync(fd) != 0 && errno != EINVAL) Die("fdatasync");
      if (::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) != 0) Die("fadvise");
    }
    if (::lseek(fd, 0, SEEK_SET) < 0) Die("lseek");
    start = Now();
    for (;;) {
      const ssize_t got = ::read(fd, buffer, size);
      if (got < 0) {
        if (errno == EINTR) continue;
        Die("read");
      }
      if (got == 0) break;
      bytes += static_cast<std::uint64_t>(got);
    }
    end = Now();
    ::close(fd);
  } else {
    return 2;
  }
  std::free(block);
  const double seconds = static_cast<double>(end - start) * 1e-9;
  std::printf(
      "{\"run\":\"%s\",\"bytes\":%llu,\"seconds\":%.9f,\"bytes_per_s\":%.0f,"
      "\"offset\":%ld}\n",
      run.c_str(), static_cast<unsigned long long>(bytes), seconds,
      seconds > 0 ? static_cast<double>(bytes) / seconds : 0.0, offset);
  return 0;
}
