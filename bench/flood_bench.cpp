// The hand-over under a flood: how many log lines a second one or three
// runs' threads can hand to the presenting thread, which takes the events
// and makes each into its line as the window and the command line do, and
// how many bytes the window's log holds per stored line beyond the text.
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

#include "core/event_handover.h"
#include "core/log_lines.h"
#include "core/message_log.h"
#include "median.h"

namespace {

using Clock = std::chrono::steady_clock;

// A pass as a read of an empty file makes them, back to back.
ferrotick::PassEvent ReadPass(int pass) {
  ferrotick::PassEvent event;
  event.kind = ferrotick::RunKind::kRead;
  event.pass = pass;
  event.mb = 0;
  event.seconds = 1e-6;
  return event;
}

struct Flood {
  double linesPerSecond;
  double bytesBeyondText;  // per stored line
};

Flood RunFlood(int workers, long linesPerWorker) {
  std::mutex mutex;
  std::condition_variable woken;
  bool pending = false;
  ferrotick::EventHandover handover([&] {
    {
      std::lock_guard<std::mutex> lock(mutex);
      pending = true;
    }
    woken.notify_one();
  });
  ferrotick::MessageLog log;

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
      for (long i = 0; i < linesPerWorker; ++i) {
        handover.OnEvent(ReadPass(static_cast<int>(i)));
      }
    });
  }
  const std::size_t total = static_cast<std::size_t>(workers) * linesPerWorker;
  std::size_t textBytes = 0;
  ferrotick::LineBatch lines;
  const auto start = Clock::now();
  {
    std::lock_guard<std::mutex> lock(startMutex);
    go = true;
  }
  startCv.notify_all();
  while (log.Count() < total) {
    {
      std::unique_lock<std::mutex> lock(mutex);
      woken.wait_for(lock, std::chrono::milliseconds(10),
                     [&] { return pending; });
      pending = false;
    }
    lines.Clear();
    for (const ferrotick::RunEvent& event : handover.Take()) {
      ferrotick::ForEachLogLine(event, [&](std::string_view line) {
        textBytes += line.size();
        lines.Add(line);
      });
    }
    log.Append(lines);
  }
  const double seconds =
      std::chrono::duration<double>(Clock::now() - start).count();
  for (std::thread& thread : threads) thread.join();
  return Flood{static_cast<double>(total) / seconds,
               (static_cast<double>(log.MemoryBytes()) -
                static_cast<double>(textBytes)) /
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
        "\"max_lines_per_s\":%.0f,\"bytes_per_line_beyond_text\":%.2f}\n",
        workers, lines, repeats, Median(rates),
        *std::min_element(rates.begin(), rates.end()),
        *std::max_element(rates.begin(), rates.end()), Median(overheads));
    std::fflush(stdout);
  }
  return 0;
}
