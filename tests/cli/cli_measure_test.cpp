// `measure` as a user runs it: the summary it prints, and a folder left as
// it was found however the measurement ends.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli/cli_support.h"

namespace ferrotick::testing {
namespace {

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  return names;
}

// The table's row for `run`, split into its words.
std::vector<std::string> Row(const std::string& out, const std::string& run) {
  for (const std::string& line : SplitLines(out)) {
    if (line.rfind(run + " ", 0) != 0) continue;
    std::vector<std::string> words;
    std::size_t start = line.find_first_not_of(' ');
    while (start != std::string::npos) {
      const std::size_t end = line.find(' ', start);
      words.push_back(line.substr(start, end - start));
      start = line.find_first_not_of(' ', end);
    }
    return words;
  }
  return {};
}

TEST(CliMeasure, SaysWhatItMeasuredAndSumsUpTheRatesAndLeavesNothing) {
  TempDir dir;
  const ChildResult text =
      RunCli({"measure", dir.path(), "--size", "4", "--passes", "3"});
  EXPECT_EQ(text.exitCode, 0) << text.err;
  const std::vector<std::string> lines = SplitLines(text.out);
  // A short default: no run's log lines, one line on what was measured
  // and how, any notes, and the table.
  EXPECT_EQ(CountPrefix(lines, "Wrote "), 0);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].rfind("Measured ", 0), 0u) << lines[0];
  for (const char* how : {"a file of 4 MiB", "transfers of 1024 KiB",
                          "queue depth 1", "random data"}) {
    EXPECT_NE(lines[0].find(how), std::string::npos) << how;
  }
  EXPECT_EQ(lines[0].find("unknown"), std::string::npos) << lines[0];
  // run, passes, median MiB/s, MB/s, min, max, spread; min <= median <= max.
  for (const char* run : {"fill", "write", "read"}) {
    const std::vector<std::string> row = Row(text.out, run);
    ASSERT_EQ(row.size(), 7u) << run << "\n" << text.out;
    EXPECT_EQ(row[1], run == std::string("fill") ? "1" : "3");
    EXPECT_LE(std::stod(row[4]), std::stod(row[2])) << run;
    EXPECT_LE(std::stod(row[2]), std::stod(row[5])) << run;
    // Decimal MB/s beside MiB/s, each rounded to 0.1 from the same median:
    // they differ by up to 0.05 + 0.05 * 1.048576.
    EXPECT_NEAR(std::stod(row[3]), std::stod(row[2]) * 1.048576, 0.103)
        << run;
  }
  EXPECT_EQ(Row(text.out, "fill")[6], "-");  // one pass has no spread
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{});

  // --verbose adds each run's log lines before the summary.
  const ChildResult verbose = RunCli(
      {"measure", dir.path(), "--size", "2", "--passes", "2", "--verbose"});
  EXPECT_EQ(verbose.exitCode, 0) << verbose.err;
  EXPECT_EQ(CountPrefix(SplitLines(verbose.out), "Init Done: "), 1);
  EXPECT_EQ(CountPrefix(SplitLines(verbose.out), "Wrote 2MB: "), 2);
  EXPECT_EQ(CountPrefix(SplitLines(verbose.out), "Read 2MB: "), 2);

  // --json: the summary alone, with every pass's rate.
  const ChildResult json =
      RunCli({"measure", dir.path(), "--size", "2", "--passes", "2", "--json"});
  EXPECT_EQ(json.exitCode, 0) << json.err;
  const std::vector<Json> objects = JsonLines(json.out);
  ASSERT_EQ(objects.size(), 1u) << json.out;
  const Json& summary = objects[0];
  EXPECT_EQ(summary["run"], "measure");
  EXPECT_EQ(summary["complete"], true);
  EXPECT_EQ(summary["pattern"], "random");
  EXPECT_EQ(summary["queue_depth"], 1);
  ASSERT_EQ(summary["runs"].size(), 3u);
  for (const Json& run : summary["runs"]) {
    const std::size_t passes = run["run"] == "fill" ? 1 : 2;
    EXPECT_EQ(run["passes"], passes);
    EXPECT_EQ(run["mib_per_s"].size(), passes);
    EXPECT_EQ(run["incomplete_passes"], 0);
    EXPECT_LE(run["min_mib_per_s"].get<double>(),
              run["median_mib_per_s"].get<double>());
  }
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{});
}

// A stop at any moment is a stop (exit 1), whichever phase or system call
// it lands in, the fill's final sync among them; and the file goes.
TEST(CliMeasure, AStopAtAnyMomentIsAStopAndLeavesNoFile) {
  for (int delayMs : {1, 10, 30, 60, 120, 250, 500}) {
    const int signal = delayMs % 20 == 0 ? SIGTERM : SIGINT;
    SCOPED_TRACE(std::to_string(delayMs) + " ms, " + strsignal(signal));
    TempDir dir;
    Child cli =
        StartCli({"measure", dir.path(), "--size", "64", "--passes", "1000"});
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    cli.Signal(signal);
    const ChildResult result = cli.Wait();
    // Killed before the program could catch anything, or stopped.
    if (result.signal == 0) {
      EXPECT_EQ(result.exitCode, 1);
      EXPECT_NE(result.err.find(": stopped: "), std::string::npos)
          << result.err;
    }
    EXPECT_NE(result.exitCode, 0);
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{});
  }
}

// A read pass cut short by a stop is counted, never measured.
TEST(CliMeasure, APassCutShortIsNoMeasuredPass) {
  TempDir dir;
  Child cli = StartCli(
      {"measure", dir.path(), "--size", "640", "--passes", "1", "--verbose"});
  // The read pass's 128-MB point: the stop lands before its end, at 640 MB,
  // and the pass ends at the next point it reaches instead.
  ASSERT_TRUE(cli.WaitForLine("  Reading: "));
  cli.Signal(SIGINT);
  const ChildResult result = cli.Wait();
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find(": stopped: 2 of 3 passes completed"),
            std::string::npos)
      << result.err;
  // Its line shows as the window shows it, but the table counts none.
  const std::vector<std::string> lines = SplitLines(result.out);
  EXPECT_EQ(CountPrefix(lines, "Read "), 1) << result.out;
  EXPECT_EQ(CountPrefix(lines, "Read 640MB: "), 0) << result.out;
  const std::vector<std::string> read = Row(result.out, "read");
  ASSERT_EQ(read.size(), 7u) << result.out;
  EXPECT_EQ(read[1], "0");
  EXPECT_NE(result.out.find("1 read pass cut short is not counted."),
            std::string::npos)
      << result.out;
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{});
}

TEST(CliMeasure, AFailedFillLeavesNoFile) {
  TempDir dir;
  // Past this size a write fails with EFBIG, as a full disk fails it.
  const ChildResult result =
      RunCliWith({"measure", dir.path(), "--size", "8"}, [] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{2 * kMiB, 2 * kMiB};
        ::setrlimit(RLIMIT_FSIZE, &limit);
      });
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find(": the fill failed: File too large"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{});
}

TEST(CliMeasure, RefusesWhatItCannotMeasureOrWouldHarm) {
  const auto& [dir, path] = Scratch();
  MakeFile(path, kMiB, 'k');
  const ChildResult existing = RunCli({"measure", path, "--size", "1"});
  EXPECT_EQ(existing.exitCode, 1);
  EXPECT_NE(existing.err.find(path + ": already exists"), std::string::npos)
      << existing.err;
  EXPECT_EQ(ReadAll(path), std::string(kMiB, 'k'));

  const ChildResult proc = RunCli({"measure", "/proc", "--size", "1"});
  EXPECT_EQ(proc.exitCode, 1);
  EXPECT_NE(proc.err.find("/proc: is on proc, a file system of the kernel's"),
            std::string::npos)
      << proc.err;

  const std::string loop = dir.File("loop");
  ASSERT_EQ(::symlink(loop.c_str(), loop.c_str()), 0);
  const ChildResult looped = RunCli({"measure", loop, "--size", "1"});
  EXPECT_EQ(looped.exitCode, 1);
  EXPECT_NE(looped.err.find(loop + ": is a symbolic link loop"),
            std::string::npos)
      << looped.err;

  SmallDisk disk("size=4m");
  if (!disk.mounted) {
    GTEST_SKIP() << "cannot mount a small tmpfs here: "
                 << std::strerror(disk.error);
  }
  const ChildResult tooBig =
      RunCli({"measure", disk.dir.path(), "--size", "8"});
  EXPECT_EQ(tooBig.exitCode, 1);
  EXPECT_NE(tooBig.err.find(": not enough free space: the test file needs 8 "
                            "MiB and 4 MiB are free"),
            std::string::npos)
      << tooBig.err;
  EXPECT_EQ(Entries(disk.dir.path()), std::vector<std::string>{});

  // Memory, not a disk: measured, with a warning first, and the summary
  // never claims the page cache was taken out.
  const ChildResult memory =
      RunCli({"measure", disk.dir.path(), "--size", "1", "--passes", "1"});
  EXPECT_EQ(memory.exitCode, 0) << memory.err;
  EXPECT_EQ(memory.err.rfind("ferrotick-cli: warning: " + disk.dir.path() +
                                 " is on tmpfs, which keeps files in memory",
                             0),
            0u)
      << memory.err;
  EXPECT_EQ(memory.out.find("page cache"), std::string::npos) << memory.out;
  EXPECT_NE(memory.out.find("in memory"), std::string::npos) << memory.out;
  EXPECT_EQ(Entries(disk.dir.path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace ferrotick::testing
