// `measure` as a user runs it: the summary it prints, and a folder left as
// it was found however the measurement ends.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstring>
#include <string>
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

TEST(CliMeasure, SummarisesFillWriteAndReadAndLeavesNothing) {
  TempDir dir;
  const ChildResult text =
      RunCli({"measure", dir.path(), "--size", "4", "--passes", "3"});
  EXPECT_EQ(text.exitCode, 0) << text.err;
  EXPECT_EQ(text.err, "");
  const std::vector<std::string> lines = SplitLines(text.out);
  EXPECT_EQ(CountPrefix(lines, "Init Done: "), 1);
  EXPECT_EQ(CountPrefix(lines, "Wrote 4MB: "), 3);
  EXPECT_EQ(CountPrefix(lines, "Read 4MB: "), 3);
  EXPECT_EQ(CountPrefix(lines, "Measured "), 1);
  // run, passes, median, min, max, spread; min <= median <= max.
  for (const char* run : {"fill", "write", "read"}) {
    const std::vector<std::string> row = Row(text.out, run);
    ASSERT_EQ(row.size(), 6u) << run << "\n" << text.out;
    EXPECT_EQ(row[1], run == std::string("fill") ? "1" : "3");
    EXPECT_LE(std::stod(row[3]), std::stod(row[2])) << run;
    EXPECT_LE(std::stod(row[2]), std::stod(row[4])) << run;
  }
  EXPECT_EQ(Row(text.out, "fill")[5], "-");  // one pass has no spread
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{});

  // --json: the summary alone, with every pass's rate.
  const ChildResult json =
      RunCli({"measure", dir.path(), "--size", "2", "--passes", "2", "--json"});
  EXPECT_EQ(json.exitCode, 0) << json.err;
  const std::vector<Json> objects = JsonLines(json.out);
  ASSERT_EQ(objects.size(), 1u) << json.out;
  const Json& summary = objects[0];
  EXPECT_EQ(summary["run"], "measure");
  EXPECT_EQ(summary["complete"], true);
  ASSERT_EQ(summary["runs"].size(), 3u);
  for (const Json& run : summary["runs"]) {
    const std::size_t passes = run["run"] == "fill" ? 1 : 2;
    EXPECT_EQ(run["passes"], passes);
    EXPECT_EQ(run["mib_per_s"].size(), passes);
    EXPECT_LE(run["min_mib_per_s"].get<double>(),
              run["median_mib_per_s"].get<double>());
  }
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{});
}

TEST(CliMeasure, StopSignalsEndItWithASummaryAndNoFile) {
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(strsignal(signal));
    TempDir dir;
    Child cli =
        StartCli({"measure", dir.path(), "--size", "4", "--passes", "1000000"});
    ASSERT_TRUE(cli.WaitForLine("Wrote 4MB: "));
    cli.Signal(signal);
    const ChildResult result = cli.Wait();
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find(": stopped: "), std::string::npos) << result.err;
    EXPECT_EQ(Row(result.out, "fill").size(), 6u) << result.out;
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{});
  }
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
  EXPECT_NE(result.err.find(": the run failed: File too large"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{});
}

TEST(CliMeasure, RefusesWhatItWouldHarmOrCannotFit) {
  const auto& [dir, path] = Scratch();
  MakeFile(path, kMiB, 'k');
  const ChildResult existing = RunCli({"measure", path, "--size", "1"});
  EXPECT_EQ(existing.exitCode, 1);
  EXPECT_NE(existing.err.find(path + ": already exists"), std::string::npos)
      << existing.err;
  EXPECT_EQ(ReadAll(path), std::string(kMiB, 'k'));

  SmallDisk disk("size=4m");
  if (!disk.mounted) {
    GTEST_SKIP() << "cannot mount a small tmpfs here: "
                 << std::strerror(disk.error);
  }
  const ChildResult tooBig =
      RunCli({"measure", disk.dir.path(), "--size", "8"});
  EXPECT_EQ(tooBig.exitCode, 1);
  EXPECT_NE(tooBig.err.find(": not enough free space: the test file needs 8 "
                            "MB and 4 MB are free"),
            std::string::npos)
      << tooBig.err;
  EXPECT_EQ(Entries(disk.dir.path()), std::vector<std::string>{});

  // Memory, not a disk: measured, with a warning first.
  const ChildResult memory =
      RunCli({"measure", disk.dir.path(), "--size", "1", "--passes", "1"});
  EXPECT_EQ(memory.exitCode, 0) << memory.err;
  EXPECT_EQ(memory.err.rfind("ferrotick-cli: warning: " + disk.dir.path() +
                                 " is on tmpfs, which keeps files in memory",
                             0),
            0u)
      << memory.err;
  EXPECT_EQ(Entries(disk.dir.path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace ferrotick::testing
