// Where a transfer buffer should sit in its page: for each buffer size,
// times cached reads and in-place rewrites of one file with the buffer at
// each of several offsets past a page boundary, in rotating order, and
// prints the median ratio of each offset's rate to offset 0.
//
//   placement PATH [--size MB] [--rounds N] [--buffers 1,2,...]
//             [--offsets 0,16,...] [--runs read,rewrite] [--clock wall|cpu]
//
// The file is made once (SIZE MB) and left in the page cache. `--clock cpu`
// times the thread's CPU time instead of wall time, which a loaded machine
// disturbs less. Prints one JSON line per run and buffer size.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "median.h"

namespace {

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "placement: %s: %s\n", what, std::strerror(errno));
  std::exit(1);
}

std::vector<long> List(const std::string& text) {
  std::vector<long> values;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, ',');) {
    values.push_back(std::atol(item.c_str()));
  }
  return values;
}

clockid_t g_clock = CLOCK_MONOTONIC;

double Now() {
  timespec now{};
  clock_gettime(g_clock, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

// One pass over the file; returns bytes per second.
double Pass(int fd, bool read, char* buffer, std::size_t size,
            std::uint64_t fileBytes) {
  std::uint64_t done = 0;
  const double start = Now();
  while (done + size <= fileBytes) {
    const ssize_t n = read ? ::pread(fd, buffer, size, done)
                           : ::pwrite(fd, buffer, size, done);
    if (n < 0) {
      if (errno == EINTR) continue;
      Die(read ? "pread" : "pwrite");
    }
    if (n == 0) break;
    done += static_cast<std::uint64_t>(n);
  }
  return static_cast<double>(done) / (Now() - start);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: placement PATH [--size MB] [--rounds N] "
                 "[--buffers KB,...] [--offsets B,...] [--runs read,rewrite] "
                 "[--clock wall|cpu]\n");
    return 2;
  }
  const char* path = argv[1];
  long sizeMB = 128;
  int rounds = 9;
  std::vector<long> buffers = List("1,2,4,8,16,32,64,128,256,512,1024");
  std::vector<long> offsets = List("0,16,32,48,64,128,512,2048");
  std::string runs = "read,rewrite";
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const std::string value = argv[i + 1];
    if (option == "--size") {
      sizeMB = std::atol(value.c_str());
    } else if (option == "--rounds") {
      rounds = std::atoi(value.c_str());
    } else if (option == "--buffers") {
      buffers = List(value);
    } else if (option == "--offsets") {
      offsets = List(value);
    } else if (option == "--runs") {
      runs = value;
    } else if (option == "--clock") {
      g_clock = value == "cpu" ? CLOCK_THREAD_CPUTIME_ID : CLOCK_MONOTONIC;
    } else {
      std::fprintf(stderr, "placement: unknown option %s\n", option.c_str());
      return 2;
    }
  }
  if (offsets.empty() || offsets[0] != 0) offsets.insert(offsets.begin(), 0);
  const std::uint64_t fileBytes = static_cast<std::uint64_t>(sizeMB) << 20;

  const int fd = ::open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Die("open");
  {
    std::vector<char> chunk(1 << 20, 'x');
    for (long mb = 0; mb < sizeMB; ++mb) {
      if (::write(fd, chunk.data(), chunk.size()) !=
          static_cast<ssize_t>(chunk.size())) {
        Die("write");
      }
    }
  }
  // Room for the largest buffer at the largest offset, page aligned.
  const long maxOffset = *std::max_element(offsets.begin(), offsets.end());
  const long maxBuffer = *std::max_element(buffers.begin(), buffers.end());
  const std::size_t room =
      (static_cast<std::size_t>(maxBuffer) * 1024 + maxOffset + 8191) / 4096 *
      4096;
  char* base = static_cast<char*>(std::aligned_alloc(4096, room));
  if (!base) Die("aligned_alloc");
  std::memset(base, 'y', room);

  std::stringstream runList(runs);
  for (std::string run; std::getline(runList, run, ',');) {
    const bool read = run == "read";
    for (long bufferKB : buffers) {
      const std::size_t size = static_cast<std::size_t>(bufferKB) * 1024;
      const std::size_t n = offsets.size();
      std::vector<std::vector<double>> rates(n);
      Pass(fd, read, base, size, fileBytes);  // warm-up
      for (int r = 0; r < rounds; ++r) {
        for (std::size_t k = 0; k < n; ++k) {
          const std::size_t o = (k + static_cast<std::size_t>(r)) % n;
          rates[o].push_back(
              Pass(fd, read, base + offsets[o], size, fileBytes));
        }
      }
      std::printf(
          "{\"run\":\"%s\",\"buffer_kb\":%ld,\"rounds\":%d,\"offsets\":[",
          run.c_str(), bufferKB, rounds);
      for (std::size_t o = 0; o < n; ++o) {
        std::vector<double> ratios;
        for (int r = 0; r < rounds; ++r)
          ratios.push_back(rates[o][r] / rates[0][r]);
        std::sort(ratios.begin(), ratios.end());
        std::printf(
            "%s{\"offset\":%ld,\"median_mib_per_s\":%.0f,\"ratio\":%.3f,"
            "\"min\":%.3f,\"max\":%.3f}",
            o ? "," : "", offsets[o], Median(rates[o]) / 1048576.0,
            Median(ratios), ratios.front(), ratios.back());
      }
      std::printf("]}\n");
      std::fflush(stdout);
    }
  }
  std::free(base);
  ::close(fd);
  ::unlink(path);
  return 0;
}
