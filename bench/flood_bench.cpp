// The log under a flood: how many lines a second one or three worker
// threads can hand to the log while the window thread drains it, and how
// many bytes the log holds per stored line beyond the line's text.
//
//   flood_bench [--lines N] [--repeats R]
//
// Prints one JSON object per measurement.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/message_log.h"
#include "median.h"

namespace {

using Clock = std::chrono::steady_clock;

// As long as a real progress line.
constexpr char kLine[] = "  Write... 1234.567 MBs [128/8192]";

struct Flood {
  double linesPerSecond;
  double bytesBeyondText;  // per stored line
};

Flood RunFlood(int workers, long linesPerWorker) {
  ferrotick::MessageLog log;  // this thread is its window thread
  std::mutex mutex;
  std::condition_variable woken;
  bool pending = false;
  log.SetWakeup([&] {
    {
      std::lock_guard<std::mutex> lock(mutex);
      pending = true;
    }
    woken.notify_one();
  });

  std::mutex startMutex;
  std::condition_variable startCv;
  bool go = false;
  std::vector<std::thread> threads;
  for (int w = 0; w < workers; ++w) {
    threads.emplace_back([&] {
      {
        std::unique_lock<std::mutex> lock(startMutex);
        startCv.wait(lock, [&] { return go; });
      }
      for (long i = 0; i < linesPerWorker; ++i) log.Append(kLine);
    });
  }
  const std::size_t total = static_cast<std::size_t>(workers) * linesPerWorker;
  const auto start = Clock::now();
  {
    std::lock_guard<std::mutex> lock(startMutex);
    go = true;
  }
  startCv.notify_all();
  std::size_t stored = 0;
  while (stored < total) {
    // While the log is behind, the wake-up stays outstanding: drain on.
    if (!log.HasPending()) {
      std::unique_lock<std::mutex> lock(mutex);
      woken.wait_for(lock, std::chrono::milliseconds(10),
                     [&] { return pending; });
      pending = false;
    }
    stored += log.Drain();
  }
  const double seconds =
      std::chrono::duration<double>(Clock::now() - start).count();
  for (std::thread& thread : threads) thread.join();
  const double text = static_cast<double>(total) * (sizeof(kLine) - 1);
  return Flood{static_cast<double>(total) / seconds,
               (static_cast<double>(log.MemoryBytes()) - text) /
                   static_cast<double>(total)};
}

}  // namespace

int main(int argc, char** argv) {
  long lines = 2000000;
  int repeats = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--lines") == 0) lines = std::atol(argv[i + 1]);
    if (std::strcmp(argv[i], "--repeats") == 0)
      repeats = std::atoi(argv[i + 1]);
  }
  for (int workers : {1, 3}) {
    std::vector<double> rates;
    std::vector<double> overheads;
    for (int r = 0; r < repeats; ++r) {
      const Flood flood = RunFlood(workers, lines);
      rates.push_back(flood.linesPerSecond);
      overheads.push_back(flood.bytesBeyondText);
    }
    std::printf(
        "{\"workers\":%d,\"lines_per_worker\":%ld,\"repeats\":%d,"
        "\"median_lines_per_s\":%.0f,\"min_lines_per_s\":%.0f,"
        "\"max_lines_per_s\":%.0f,\"bytes_per_line_beyond_text\":%.2f,"
        "\"line_bytes\":%zu}\n",
        workers, lines, repeats, Median(rates),
        *std::min_element(rates.begin(), rates.end()),
        *std::max_element(rates.begin(), rates.end()), Median(overheads),
        sizeof(kLine) - 1);
    std::fflush(stdout);
  }
  return 0;
}
