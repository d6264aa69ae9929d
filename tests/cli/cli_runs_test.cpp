// The real program, run as a child process: its lines against the core's
// for the same run, its exit statuses, and its JSON.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/file_commands.h"
#include "core/init_run.h"
#include "core/reader.h"
#include "core/write_run.h"
#include "tests/cli/child_process.h"
#include "tests/cli/json_value.h"
#include "tests/core/fake_view.h"

namespace ferrotick::testing {
namespace {

constexpr std::uint64_t kMiB = 1048576;

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

std::vector<std::string> DialogWrite(const std::string& path, int bufferKB,
                                     int passes) {
  Bench bench;
  bench.state.m_nBufferKB = bufferKB;
  bench.state.m_options.passLimit = passes;
  bench.view.answers.push_back(path);
  OnUseExisting(bench.state);
  OnWrite(bench.state);
  EXPECT_TRUE(bench.WaitIdle());
  return bench.Lines();
}

std::vector<std::string> DialogRead(const std::string& path, int bufferKB,
                                    int passes) {
  Bench bench;
  bench.state.m_nBufferKB = bufferKB;
  bench.state.m_options.passLimit = passes;
  bench.view.answers.push_back(path);
  OnUseExisting(bench.state);
  OnRead(bench.state);
  EXPECT_TRUE(bench.DrainUntil([&] {
    int done = 0;
    for (const std::string& line : bench.Lines()) {
      done += line.rfind("Read ", 0) == 0;
    }
    return done == passes;
  }));
  OnRead(bench.state);  // the toggle stops and destroys the reader
  bench.log.Drain();
  return bench.Lines();
}

int CountPrefix(const std::vector<std::string>& lines,
                const std::string& prefix) {
  int count = 0;
  for (const std::string& line : lines) count += line.rfind(prefix, 0) == 0;
  return count;
}

TEST(CliRuns, CreatePrintsTheDialogsLines) {
  TempDir dir;
  const std::string path = dir.File("t.tmp");
  const ChildResult cli =
      RunCli({"create", path, "--size", "3", "--buffer", "64"});
  EXPECT_EQ(cli.exitCode, 0);
  EXPECT_EQ(cli.err, "");
  const std::vector<std::string> lines = SplitLines(cli.out);
  EXPECT_EQ(Masked(lines), Masked(DialogCreate(path, 3, 64)));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], "Initializing 3MB w/64KB bufs");
  EXPECT_EQ(lines[3], path + " Closed.");
  EXPECT_EQ(FileLength(path), 3 * kMiB);
}

TEST(CliRuns, WritePrintsTheDialogsLines) {
  TempDir dir;
  const std::string path = dir.File("t.tmp");
  MakeFile(path, 3 * kMiB);
  const ChildResult cli =
      RunCli({"write", path, "--passes", "2", "--buffer", "32"});
  EXPECT_EQ(cli.exitCode, 0);
  EXPECT_EQ(cli.err, "");
  const std::vector<std::string> lines = SplitLines(cli.out);
  EXPECT_EQ(Masked(lines), Masked(DialogWrite(path, 32, 2)));
  // File Size came from the file's length, as Use Existing sets it.
  EXPECT_EQ(CountPrefix(lines, "Wrote 3MB: "), 2);
  EXPECT_EQ(lines.back(), path + " Closed.");
}

TEST(CliRuns, ReadPrintsTheDialogsLines) {
  TempDir dir;
  const std::string path = dir.File("t.tmp");
  MakeFile(path, 5 * kMiB / 2);
  const ChildResult cli = RunCli({"read", path, "--passes", "2"});
  EXPECT_EQ(cli.exitCode, 0);
  EXPECT_EQ(cli.err, "");
  const std::vector<std::string> lines = SplitLines(cli.out);
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
  TempDir dir;
  const std::string path = dir.File("t.tmp");
  MakeFile(path, kMiB / 2);  // Use Existing alone would give File Size 0
  const ChildResult cli = RunCli({"write", path, "--size", "2"});
  EXPECT_EQ(cli.exitCode, 0);
  EXPECT_EQ(CountPrefix(SplitLines(cli.out), "Wrote 2MB: "), 1);
  EXPECT_EQ(FileLength(path), 2 * kMiB);
}

TEST(CliRuns, FailuresExitWithOneAndSayWhy) {
  TempDir dir;
  const std::string missing = dir.File("missing.tmp");
  const ChildResult write = RunCli({"write", missing});
  EXPECT_EQ(write.exitCode, 1);
  EXPECT_EQ(SplitLines(write.out),
            std::vector<std::string>{"Couldn't open " + missing});
  EXPECT_EQ(write.err,
            "ferrotick-cli: " + missing +
                ": cannot open the file: No such file or directory\n");

  const std::string inDirectory = dir.File("no/such/dir/t.tmp");
  const ChildResult create = RunCli({"create", inDirectory});
  EXPECT_EQ(create.exitCode, 1);
  EXPECT_EQ(SplitLines(create.out), std::vector<std::string>{"Open Failed"});
  EXPECT_NE(create.err.find("cannot create the file: No such file"),
            std::string::npos);
}

TEST(CliArguments, BadArgumentsExitWithTwoAndTouchNoFile) {
  TempDir dir;
  const std::string existing = dir.File("keep.tmp");
  const std::string fresh = dir.File("new.tmp");
  MakeFile(existing, kMiB, 'k');
  struct Case {
    std::vector<std::string> args;
    std::string complaint;
  };
  const std::vector<Case> cases = {
      {{"create", fresh, "--size", "0"}, "between 1 and 8192"},
      {{"create", fresh, "--buffer", "2048"}, "between 1 and 1024"},
      {{"write", existing, "--size", "9000"}, "between 1 and 8192"},
      {{"write", existing, "--buffer", "x"}, "between 1 and 1024"},
      {{"read", existing, "--passes", "0"}, "between 1 and 1000000"},
      {{"write", existing, "--drop-cache"}, "does not apply to write"},
      {{"create", fresh, "--fast"}, "unknown option '--fast'"},
      {{"create"}, "create needs a PATH"},
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

  const ChildResult json = RunCli({"--json", "create", fresh, "--size", "0"});
  EXPECT_EQ(json.exitCode, 2);
  const auto error = ParseJson(json.err);
  ASSERT_TRUE(error) << json.err;
  EXPECT_NE((*error)["error"].String().find("between 1 and 8192"),
            std::string::npos);
  EXPECT_FALSE(Exists(fresh));
}

TEST(CliArguments, HelpAndVersion) {
  const ChildResult help = RunCli({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("Usage: ferrotick-cli create PATH", 0), 0u);
  EXPECT_EQ(help.err, "");
  const ChildResult version = RunCli({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "ferrotick-cli 1.0.0.1\n");
}

std::vector<JsonValue> ParseLines(const std::string& text) {
  std::optional<std::vector<JsonValue>> values = ParseJsonLines(text);
  EXPECT_TRUE(values) << "not one JSON object per line:\n" << text;
  return values.value_or(std::vector<JsonValue>{});
}

TEST(CliJson, OneObjectPerFinishedPass) {
  TempDir dir;
  const std::string path = dir.File("t \"quoted\".tmp");

  const ChildResult create = RunCli({"create", path, "--size", "2", "--json"});
  EXPECT_EQ(create.exitCode, 0);
  EXPECT_EQ(create.err, "");
  const std::vector<JsonValue> created = ParseLines(create.out);
  ASSERT_EQ(created.size(), 1u);
  EXPECT_EQ(created[0]["run"].String(), "create");
  EXPECT_EQ(created[0]["pass"].Number(), 1);
  EXPECT_EQ(created[0]["mb"].Number(), 2);
  EXPECT_EQ(created[0]["bytes"].Number(), 2.0 * kMiB);
  EXPECT_EQ(created[0]["buffer_kb"].Number(), 128);
  EXPECT_EQ(created[0]["path"].String(), path);

  const ChildResult write = RunCli(
      {"write", path, "--passes", "3", "--buffer", "256", "--json", "--sync"});
  EXPECT_EQ(write.exitCode, 0);
  EXPECT_EQ(write.err, "");
  const std::vector<JsonValue> written = ParseLines(write.out);
  ASSERT_EQ(written.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(written[i]["run"].String(), "write");
    EXPECT_EQ(written[i]["pass"].Number(), i + 1);
    EXPECT_EQ(written[i]["bytes"].Number(), 2.0 * kMiB);
    EXPECT_GT(written[i]["seconds"].Number(), 0);
    EXPECT_NEAR(written[i]["bytes_per_s"].Number(),
                2.0 * kMiB / written[i]["seconds"].Number(),
                written[i]["bytes_per_s"].Number() * 1e-6 + 1);
    EXPECT_TRUE(written[i]["options"]["sync"].Bool());
    EXPECT_FALSE(written[i]["options"]["drop_cache"].Bool());
  }

  const ChildResult read = RunCli({"read", path, "--passes", "2", "--buffer",
                                   "1", "--json", "--drop-cache"});
  EXPECT_EQ(read.exitCode, 0);
  EXPECT_EQ(read.err, "");
  const std::vector<JsonValue> reads = ParseLines(read.out);
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(reads[1]["run"].String(), "read");
  EXPECT_EQ(reads[1]["pass"].Number(), 2);
  EXPECT_EQ(reads[1]["bytes"].Number(), 2.0 * kMiB);
  EXPECT_EQ(reads[1]["buffer_kb"].Number(), 1);
  EXPECT_TRUE(reads[1]["options"]["drop_cache"].Bool());
}

TEST(CliJson, ErrorsGoToStandardErrorAsJson) {
  TempDir dir;
  const std::string missing = dir.File("missing.tmp");
  const ChildResult result = RunCli({"read", missing, "--json"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "");
  const std::vector<JsonValue> errors = ParseLines(result.err);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0]["error"].String(), "cannot open the file");
  EXPECT_EQ(errors[0]["detail"].String(), "No such file or directory");
  EXPECT_EQ(errors[0]["run"].String(), "read");
  EXPECT_EQ(errors[0]["path"].String(), missing);
}

}  // namespace
}  // namespace ferrotick::testing
