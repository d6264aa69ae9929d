// Soak driver for bench/soak.sh: runs the writer and the reader on one file
// at the same time for a bounded time, with this thread playing the window
// thread (it sleeps until a worker wakes it, then drains), and prints in
// Markdown how the log's memory and the window's responsiveness went.
//
//   ferrotick-soak [--seconds N] [--file-mb M] [--buffer-kb B] [--dir D]
//                  [--sample-seconds S] [--empty]
//
// --empty adopts an empty file instead of creating one: File Size 0, so
// both runs make passes that move nothing, as fast as their pacing allows.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/file_commands.h"
#include "core/run_commands.h"
#include "tests/support/fake_view.h"

namespace ferrotick {
namespace {

using Clock = std::chrono::steady_clock;

double Millis(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

struct Options {
  int seconds = 120;
  int fileMB = 32;
  int bufferKB = 128;
  int sampleSeconds = 10;
  bool empty = false;
  std::string dir;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  const char* tmp = std::getenv("TMPDIR");
  options.dir = tmp && *tmp ? tmp : "/tmp";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--empty") {
      options.empty = true;
    } else if (arg == "--seconds" && hasValue) {
      options.seconds = std::atoi(argv[++i]);
    } else if (arg == "--file-mb" && hasValue) {
      options.fileMB = std::atoi(argv[++i]);
    } else if (arg == "--buffer-kb" && hasValue) {
      options.bufferKB = std::atoi(argv[++i]);
    } else if (arg == "--sample-seconds" && hasValue) {
      options.sampleSeconds = std::atoi(argv[++i]);
    } else if (arg == "--dir" && hasValue) {
      options.dir = argv[++i];
    } else {
      return false;
    }
  }
  return options.seconds > 0 && options.fileMB >= 1 && options.fileMB <= 8192 &&
         options.bufferKB >= 1 && options.bufferKB <= 1024 &&
         options.sampleSeconds > 0;
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// Counts the passes and bytes each run reports.
class Counter : public EventSink {
 public:
  void OnEvent(const RunEvent& event) override {
    const auto* pass = std::get_if<PassEvent>(&event);
    if (!pass) return;
    if (pass->kind == RunKind::kWrite) {
      ++writePasses;
      writeBytes += pass->bytes;
    } else if (pass->kind == RunKind::kRead) {
      ++readPasses;
      readBytes += pass->bytes;
    }
  }

  std::atomic<long> writePasses{0};
  std::atomic<long> readPasses{0};
  std::atomic<std::uint64_t> writeBytes{0};
  std::atomic<std::uint64_t> readBytes{0};
};

// The window thread's loop: sleeps until a worker's wake-up (or 100 ms),
// then drains, timing both.
class WindowLoop {
 public:
  explicit WindowLoop(BenchState& state) : m_state(state) {
    state.SetWakeup([this] {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (!m_woken) {
        m_woken = true;
        m_wokenAt = Clock::now();
      }
      m_cv.notify_one();
    });
  }

  // Forgets what was measured so far.
  void Reset() {
    m_latencies.clear();
    m_longestDrain = 0;
    m_longestDrainLines = 0;
    m_lines = 0;
    m_turns = 0;
  }

  // One turn of the loop; returns the lines drained.
  std::size_t Turn() {
    Clock::time_point wokenAt;
    bool woken;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_cv.wait_for(lock, std::chrono::milliseconds(100),
                    [this] { return m_woken; });
      woken = m_woken;
      wokenAt = m_wokenAt;
      m_woken = false;
    }
    const Clock::time_point start = Clock::now();
    if (woken) m_latencies.push_back(Millis(start - wokenAt));
    const std::size_t before = m_state.m_log.Count();
    m_state.HandleEvents();
    const std::size_t lines = m_state.m_log.Count() - before;
    const double took = Millis(Clock::now() - start);
    if (took > m_longestDrain) {
      m_longestDrain = took;
      m_longestDrainLines = lines;
    }
    m_lines += lines;
    ++m_turns;
    return lines;
  }

  std::vector<double> m_latencies;  // wake-up to the start of its drain
  double m_longestDrain = 0;
  std::size_t m_longestDrainLines = 0;
  std::size_t m_lines = 0;
  long m_turns = 0;

 private:
  BenchState& m_state;
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_woken = false;
  Clock::time_point m_wokenAt;
};

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(p * (values.size() - 1));
  return values[at];
}

int Soak(const Options& options) {
  char pattern[4096];
  std::snprintf(pattern, sizeof(pattern), "%s/ferrotick-soak-XXXXXX",
                options.dir.c_str());
  if (!::mkdtemp(pattern)) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string folder = pattern;
  const std::string path = folder + "/soak.tmp";

  testing::Bench bench;
  auto counter = std::make_shared<Counter>();
  bench.state.SetTap(counter);
  WindowLoop window(bench.state);
  bench.state.m_nFileSizeMB = options.fileMB;
  bench.state.m_nBufferKB = options.bufferKB;

  if (options.empty) {
    testing::MakeFile(path, 0);
    bench.view.answers.push_back(path);
    OnUseExisting(bench.state);
  } else {
    bench.view.answers.push_back(path);
    OnCreate(bench.state);
    while (!bench.Find("Open Failed") && !bench.Find(path + " Closed.") &&
           !bench.Find("InitThread Failed or was Canceled.")) {
      window.Turn();
    }
    if (!bench.Find(path + " Closed.")) {
      std::fprintf(stderr, "the fill failed; see %s\n", folder.c_str());
      return 1;
    }
  }
  const std::string fill =
      options.empty ? "" : std::string(bench.log.Line(bench.log.Count() - 2));
  bench.log.Clear();
  window.Reset();

  struct Sample {
    double seconds;
    std::size_t lines;
    std::size_t memory;
    long rss;
    long writePasses;
    long readPasses;
  };
  std::vector<Sample> samples;
  const Clock::time_point start = Clock::now();
  auto sample = [&] {
    samples.push_back(
        Sample{std::chrono::duration<double>(Clock::now() - start).count(),
               bench.log.Count(), bench.log.MemoryBytes(), ResidentKiB(),
               counter->writePasses.load(), counter->readPasses.load()});
  };
  OnWrite(bench.state);
  OnRead(bench.state);
  sample();
  const Clock::time_point end = start + std::chrono::seconds(options.seconds);
  Clock::time_point next = start + std::chrono::seconds(options.sampleSeconds);
  while (Clock::now() < end) {
    window.Turn();
    if (Clock::now() >= next) {
      sample();
      next += std::chrono::seconds(options.sampleSeconds);
    }
  }
  Clock::time_point pressed = Clock::now();
  OnWrite(bench.state);
  const double writeStop = Millis(Clock::now() - pressed);
  pressed = Clock::now();
  OnRead(bench.state);
  const double readStop = Millis(Clock::now() - pressed);
  const bool idle = bench.WaitIdle();
  window.Turn();
  sample();
  bench.state.Shutdown();
  // Every pass the runs reported has its line in the log.
  long wroteLines = 0;
  long readLines = 0;
  for (std::size_t i = 0; i < bench.log.Count(); ++i) {
    const std::string_view line = bench.log.Line(i);
    wroteLines += line.rfind("Wrote ", 0) == 0;
    readLines += line.rfind("Read ", 0) == 0;
  }
  const bool whole = wroteLines == counter->writePasses.load() &&
                     readLines == counter->readPasses.load();

  std::printf("### %s, %d KB buffers, %d s\n\n",
              options.empty ? "Write and Read on one empty file (File Size 0)"
                            : ("Write and Read on one " +
                               std::to_string(options.fileMB) + " MB file")
                                  .c_str(),
              options.bufferKB, options.seconds);
  if (!fill.empty()) std::printf("Fill: `%s`\n\n", fill.c_str());
  std::printf(
      "| time (s) | log lines | log memory (KiB) | process RSS (KiB) | write "
      "passes | read passes |\n|---:|---:|---:|---:|---:|---:|\n");
  for (const Sample& s : samples) {
    std::printf("| %.0f | %zu | %zu | %ld | %ld | %ld |\n", s.seconds, s.lines,
                s.memory / 1024, s.rss, s.writePasses, s.readPasses);
  }
  const Sample& last = samples.back();
  const double seconds = last.seconds;
  std::printf(
      "\n- Log: %zu lines, %.1f lines/s, %.1f bytes of log memory per line "
      "(text and line index, with spare capacity).\n",
      last.lines, last.lines / seconds,
      last.lines ? static_cast<double>(last.memory) / last.lines : 0.0);
  std::printf("- Data moved: written %.1f MB/s, read %.1f MB/s on average.\n",
              counter->writeBytes.load() / 1048576.0 / seconds,
              counter->readBytes.load() / 1048576.0 / seconds);
  std::printf(
      "- Window thread: %zu wake-ups; wake-up to drain median %.3f ms, 99th "
      "percentile %.3f ms, longest %.3f ms; longest drain %.3f ms (%zu "
      "lines); %ld turns of its loop.\n",
      window.m_latencies.size(), Percentile(window.m_latencies, 0.5),
      Percentile(window.m_latencies, 0.99), Percentile(window.m_latencies, 1.0),
      window.m_longestDrain, window.m_longestDrainLines, window.m_turns);
  std::printf(
      "- Stop presses at the end: Write %.3f ms, Read %.3f ms; all runs "
      "ended: %s; a pass line in the log for every pass made: %s.\n\n",
      writeStop, readStop, idle ? "yes" : "NO", whole ? "yes" : "NO");
  ::unlink(path.c_str());
  ::rmdir(folder.c_str());
  return idle && whole ? 0 : 1;
}

}  // namespace
}  // namespace ferrotick

int main(int argc, char** argv) {
  ferrotick::Options options;
  if (!ferrotick::ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: %s [--seconds N] [--file-mb M] [--buffer-kb B] "
                 "[--dir D] [--sample-seconds S] [--empty]\n",
                 argv[0]);
    return 2;
  }
  return ferrotick::Soak(options);
}
