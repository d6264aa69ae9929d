// The real program, run as a child process: its lines against the core's
// for the same run, its exit statuses, and its JSON.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/file_commands.h"
#include "core/run_commands.h"
#include "tests/cli/cli_support.h"

namespace ferrotick::testing {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Rates ("%.3f") differ from run to run; everything else must match.
std::vector<std::string> Masked(std::vector<std::string> lines) {
  for (std::string& line : lines) {
    std::string masked;
    for (std::size_t i = 0; i < line.size();) {
      std::size_t end = i;
      while (end < line.size() && IsDigit(line[end])) ++end;
      const bool rate = end > i && end + 3 < line.size() && line[end] == '.' &&
                        IsDigit(line[end + 1]) && IsDigit(line[end + 2]) &&
                        IsDigit(line[end + 3]) &&
                        (end + 4 == line.size() || !IsDigit(line[end + 4]));
      if (rate) {
        masked += '#';
        i = end + 4;
      } else if (end > i) {
        masked.append(line, i, end - i);
        i = end;
      } else {
        masked += line[i++];
      }
    }
    line = masked;
  }
  return lines;
}

// The same runs driven as the dialog drives them: the commands on the
// window thread, the view answering the chooser with `path`.
std::vector<std::string> DialogCreate(const std::string& path, int sizeMB,
                                      int bufferKB) {
  Bench bench;
  bench.state.m_nFileSizeMB = sizeMB;
  bench.state.m_nBufferKB = bufferKB;
  bench.view.answers.push_back(path);
  OnCreate(bench.state);
  EXPECT_TRUE(bench.WaitIdle());
  return bench.Lines();
}

// Use Existing on `path`, as the dialog's user would before Write or Read.
void UseExisting(Bench& bench, const std::string& path, int bufferKB,
                 int passes) {
  bench.state.m_nBufferKB = bufferKB;
  bench.state.m_options.passLimit = passes;
  bench.view.answers.push_back(path);
  OnUseExisting(bench.state);
}

std::vector<std::string> DialogWrite(const std::string& path, int bufferKB,
                                     int passes) {
  Bench bench;
  UseExisting(bench, path, bufferKB, passes);
  OnWrite(bench.state);
  EXPECT_TRUE(bench.WaitIdle());
  return bench.Lines();
}

std::vector<std::string> DialogRead(const std::string& path, int bufferKB,
                                    int passes) {
  Bench bench;
  UseExisting(bench, path, bufferKB, passes);
  OnRead(bench.state);
  EXPECT_TRUE(bench.DrainUntil(
      [&] { return CountPrefix(bench.Lines(), "Read ") == passes; }));
  OnRead(bench.state);  // the toggle stops and destroys the reader
  bench.state.HandleEvents();
  return bench.Lines();
}

// A run whose output is the dialog's log lines and nothing on standard
// error; those lines.
std::vector<std::string> CleanRun(const std::vector<std::string>& args) {
  const ChildResult cli = RunCli(args);
  EXPECT_EQ(cli.exitCode, 0);
  EXPECT_EQ(cli.err, "");
  return SplitLines(cli.out);
}

// The same, with --json: one object per finished pass.
std::vector<Json> CleanJsonRun(std::vector<std::string> args) {
  args.push_back("--json");
  const ChildResult cli = RunCli(args);
  EXPECT_EQ(cli.exitCode, 0);
  EXPECT_EQ(cli.err, "");
  return JsonLines(cli.out);
}

TEST(CliRuns, CreatePrintsTheDialogsLines) {
  const auto& [dir, path] = Scratch();
  const std::vector<std::string> lines =
      CleanRun({"create", path, "--size", "3", "--buffer", "64"});
  EXPECT_EQ(Masked(lines), Masked(DialogCreate(path, 3, 64)));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], "Initializing 3MB w/64KB bufs");
  EXPECT_EQ(lines[3], path + " Closed.");
  EXPECT_EQ(FileLength(path), 3 * kMiB);
}

TEST(CliRuns, WritePrintsTheDialogsLines) {
  const auto& [dir, path] = Scratch();
  MakeFile(path, 3 * kMiB);
  const std::vector<std::string> lines =
      CleanRun({"write", path, "--passes", "2", "--buffer", "32"});
  EXPECT_EQ(Masked(lines), Masked(DialogWrite(path, 32, 2)));
  // File Size came from the file's length, as Use Existing sets it.
  EXPECT_EQ(CountPrefix(lines, "Wrote 3MB: "), 2);
  EXPECT_EQ(lines.back(), path + " Closed.");
}

TEST(CliRuns, ReadPrintsTheDialogsLines) {
  const auto& [dir, path] = Scratch();
  MakeFile(path, 5 * kMiB / 2);
  const std::vector<std::string> lines =
      CleanRun({"read", path, "--passes", "2"});
  // All but Use Existing's warning of a write, which a read does not make.
  std::vector<std::string> dialog = DialogRead(path, 128, 2);
  ASSERT_EQ(dialog.at(1), "WARNING: Write will destroy this file!");
  dialog.erase(dialog.begin() + 1);
  EXPECT_EQ(Masked(lines), Masked(dialog));
  // The half MB left over counts towards the second pass.
  EXPECT_EQ(CountPrefix(lines, "Read 2MB: "), 1);
  EXPECT_EQ(CountPrefix(lines, "Read 3MB: "), 1);
  EXPECT_EQ(lines.back(), "ReadThread Stopping");
}

TEST(CliRuns, SizeGivenToWriteOverridesTheFilesLength) {
  const auto& [dir, path] = Scratch();
  MakeFile(path, kMiB / 2);  // Use Existing alone would give File Size 0
  const std::vector<std::string> lines =
      CleanRun({"write", path, "--size", "2"});
  EXPECT_EQ(CountPrefix(lines, "Wrote 2MB: "), 1);
  EXPECT_EQ(FileLength(path), 2 * kMiB);
}

TEST(CliRuns, FailuresExitWithOneAndSayWhy) {
  const auto& [dir, path] = Scratch();
  const ChildResult write = RunCli({"write", path});
  EXPECT_EQ(write.exitCode, 1);
  EXPECT_EQ(SplitLines(write.out),
            std::vector<std::string>{"Couldn't open " + path});
  EXPECT_EQ(write.err,
            "ferrotick-cli: " + path +
                ": cannot open the file: No such file or directory\n");

  const std::string inDirectory = dir.File("no/such/dir/t.tmp");
  const ChildResult create = RunCli({"create", inDirectory});
  EXPECT_EQ(create.exitCode, 1);
  EXPECT_EQ(SplitLines(create.out), std::vector<std::string>{"Open Failed"});
  EXPECT_NE(create.err.find("cannot create the file: No such file"),
            std::string::npos);
}

TEST(CliArguments, BadArgumentsExitWithTwoAndTouchNoFile) {
  const auto& [dir, path] = Scratch();
  const std::string existing = dir.File("keep.tmp");
  const std::string& fresh = path;
  MakeFile(existing, kMiB, 'k');
  struct Case {
    std::vector<std::string> args;
    std::string complaint;
  };
  const std::vector<Case> cases = {
      {{"create", fresh, "--size", "0"},
       "--size: Value 0 not in range 1 to 8192"},
      {{"create", fresh, "--buffer", "2048"}, "not in range 1 to 1024"},
      {{"write", existing, "--size", "9000"}, "not in range 1 to 8192"},
      {{"write", existing, "--buffer", "x"}, "--buffer"},
      {{"read", existing, "--passes", "0"}, "not in range 1 to 1000000"},
      {{"write", existing, "--drop-cache"}, "not expected: --drop-cache"},
      {{"create", fresh, "--fast"}, "not expected: --fast"},
      {{"create"}, "PATH is required"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.complaint);
    const ChildResult result = RunCli(c.args);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.out, "");
    const std::vector<std::string> err = SplitLines(result.err);
    ASSERT_EQ(err.size(), 1u);
    EXPECT_EQ(err[0].rfind("ferrotick-cli: ", 0), 0u);
    EXPECT_NE(err[0].find(c.complaint), std::string::npos) << err[0];
  }
  EXPECT_FALSE(Exists(fresh));
  EXPECT_EQ(ReadAll(existing), std::string(kMiB, 'k'));

  const ChildResult json = RunCli({"create", fresh, "--size", "0", "--json"});
  EXPECT_EQ(json.exitCode, 2);
  std::vector<Json> errors = JsonLines(json.err);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(
      errors[0]["error"].get<std::string>().find("not in range 1 to 8192"),
      std::string::npos);
  EXPECT_FALSE(Exists(fresh));
}

TEST(CliArguments, HelpAndVersion) {
  const ChildResult help = RunCli({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Usage: ferrotick-cli [OPTIONS] SUBCOMMAND"),
            std::string::npos);
  EXPECT_EQ(help.err, "");
  const ChildResult version = RunCli({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "ferrotick-cli 1.0.0.1\n");
}

TEST(CliJson, OneObjectPerFinishedPass) {
  const auto& [dir, path] = Scratch();
  const std::string quoted = dir.File("t \"quoted\".tmp");

  std::vector<Json> created = CleanJsonRun({"create", quoted, "--size", "2"});
  ASSERT_EQ(created.size(), 1u);
  EXPECT_EQ(created[0]["run"], "create");
  EXPECT_EQ(created[0]["pass"], 1);
  EXPECT_EQ(created[0]["mb"], 2);
  EXPECT_EQ(created[0]["bytes"], 2 * kMiB);
  EXPECT_EQ(created[0]["buffer_kb"], 128);
  EXPECT_EQ(created[0]["path"], quoted);

  std::vector<Json> written = CleanJsonRun(
      {"write", quoted, "--passes", "3", "--buffer", "256", "--sync"});
  ASSERT_EQ(written.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    Json& pass = written[i];
    EXPECT_EQ(pass["run"], "write");
    EXPECT_EQ(pass["pass"], i + 1);
    EXPECT_EQ(pass["bytes"], 2 * kMiB);
    const double seconds = pass["seconds"].get<double>();
    const double bytesPerSecond = pass["bytes_per_s"].get<double>();
    EXPECT_GT(seconds, 0);
    EXPECT_NEAR(bytesPerSecond, 2.0 * kMiB / seconds,
                bytesPerSecond * 1e-6 + 1);
    EXPECT_EQ(pass["options"]["sync"], true);
    EXPECT_EQ(pass["options"]["drop_cache"], false);
  }

  std::vector<Json> reads = CleanJsonRun(
      {"read", quoted, "--passes", "2", "--buffer", "1", "--drop-cache"});
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(reads[1]["run"], "read");
  EXPECT_EQ(reads[1]["pass"], 2);
  EXPECT_EQ(reads[1]["bytes"], 2 * kMiB);
  EXPECT_EQ(reads[1]["buffer_kb"], 1);
  EXPECT_EQ(reads[1]["options"]["drop_cache"], true);
}

TEST(CliJson, ErrorsGoToStandardErrorAsJson) {
  const auto& [dir, path] = Scratch();
  const ChildResult result = RunCli({"read", path, "--json"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "");
  const std::vector<Json> errors = JsonLines(result.err);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], Json({{"error", "cannot open the file"},
                             {"detail", "No such file or directory"},
                             {"run", "read"},
                             {"path", path}}));
}

}  // namespace
}  // namespace ferrotick::testing
