// Ctrl-C: a real SIGINT to the running program stops the run the way the
// dialog's controls do, and the run's closing lines still print.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/syscall.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli/cli_support.h"

namespace ferrotick::testing {
namespace {

int IndexOf(const std::vector<std::string>& lines, const std::string& line) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] == line) return static_cast<int>(i);
  }
  return -1;
}

// Sends SIGINT a third of a pass after a pass ended, so that it lands
// inside the next pass rather than at the turn between two passes (where
// a stop takes effect with no further pass, in the dialog as here).
void InterruptInNextPass(Child& cli, double passSeconds) {
  std::this_thread::sleep_for(std::chrono::duration<double>(passSeconds / 3));
  cli.Signal(SIGINT);
}

// Seconds of the pass whose line is "<prefix>%.3fMBs", moving `mb` MB.
double PassSeconds(const std::string& line, const std::string& prefix, int mb) {
  return mb / std::stod(line.substr(prefix.size()));
}

TEST(CliInterrupt, WriteStopsAfterThePassUnderWay) {
  const auto& [dir, path] = Scratch();
  MakeFile(path, 16 * kMiB);
  Child cli = StartCli({"write", path, "--passes", "1000000", "--buffer", "1"});
  const auto first = cli.WaitForLine("Wrote 16MB: ");
  ASSERT_TRUE(first);
  InterruptInNextPass(cli, PassSeconds(*first, "Wrote 16MB: ", 16));
  const ChildResult result = cli.Wait();

  EXPECT_EQ(result.exitCode, 1) << result.err;
  const std::vector<std::string> lines = SplitLines(result.out);
  const int stopping = IndexOf(lines, "Stopping WriteThread.");
  ASSERT_GE(stopping, 0) << result.out;
  // The pass under way ends whole and is reported, then the closing lines.
  const std::vector<std::string> tail(lines.begin() + stopping + 1,
                                      lines.end());
  ASSERT_EQ(tail.size(), 3u) << result.out;
  EXPECT_EQ(tail[0].rfind("Wrote 16MB: ", 0), 0u);
  EXPECT_EQ(tail[1], "WriteThread Done.");
  EXPECT_EQ(tail[2], path + " Closed.");
  EXPECT_EQ(CountPrefix(lines, "Wrote "), CountPrefix(lines, "Wrote 16MB: "));
  EXPECT_NE(result.err.find(": stopped: "), std::string::npos) << result.err;
}

// A stop at any moment is a stop: the pass under way still ends whole, but
// the run does not pass for one that nobody stopped.
TEST(CliInterrupt, AStopInTheLastPassIsAStopThoughThePassEndsWhole) {
  const auto& [dir, path] = Scratch();
  MakeFile(path, 32 * kMiB);
  Child cli = StartCli({"write", path, "--passes", "2", "--buffer", "1"});
  const auto first = cli.WaitForLine("Wrote 32MB: ");
  ASSERT_TRUE(first);
  // During the second and last pass.
  InterruptInNextPass(cli, PassSeconds(*first, "Wrote 32MB: ", 32));
  const ChildResult result = cli.Wait();

  EXPECT_EQ(result.exitCode, 1) << result.err;
  EXPECT_NE(result.err.find(": stopped: 2 of 2 passes completed"),
            std::string::npos)
      << result.err;
  const std::vector<std::string> lines = SplitLines(result.out);
  EXPECT_EQ(CountPrefix(lines, "Wrote 32MB: "), 2);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "WriteThread Done.");
  EXPECT_EQ(lines[lines.size() - 1], path + " Closed.");
}

TEST(CliInterrupt, JsonStaysValidWhenStopped) {
  const auto& [dir, path] = Scratch();
  MakeFile(path, 8 * kMiB);
  Child cli = StartCli(
      {"write", path, "--passes", "1000000", "--buffer", "1", "--json"});
  const auto first = cli.WaitForLine("{");
  ASSERT_TRUE(first);
  const std::optional<Json> pass = ParseJson(*first);
  ASSERT_TRUE(pass && pass->contains("seconds")) << *first;
  InterruptInNextPass(cli, (*pass)["seconds"].get<double>());
  const ChildResult result = cli.Wait();

  EXPECT_EQ(result.exitCode, 1);
  std::vector<Json> passes = JsonLines(result.out);
  ASSERT_GE(passes.size(), 2u);  // the one seen, and the one under way
  for (std::size_t i = 0; i < passes.size(); ++i) {
    EXPECT_EQ(passes[i]["pass"], i + 1);
    EXPECT_EQ(passes[i]["bytes"], 8 * kMiB);
  }
  const std::vector<Json> errors = JsonLines(result.err);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].value("error", ""), "stopped");
  EXPECT_EQ(errors[0].value("detail", ""),
            std::to_string(passes.size()) + " of 1000000 passes completed");
}

// A request to end (kill, a closed terminal) is taken as Ctrl-C is.
TEST(CliInterrupt, CreateIsCancelledAfterTheMegabyteUnderWay) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    const auto& [dir, path] = Scratch();
    // Seconds of filling at 1 KB a write, so that the signal lands in it
    // even on a busy machine.
    Child cli = StartCli({"create", path, "--size", "1024", "--buffer", "1"});
    ASSERT_TRUE(cli.WaitForOutput("Initializing 1024MB w/1KB bufs\n"));
    cli.Signal(signal);
    const ChildResult result = cli.Wait();

    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitCode, 1);
    const std::vector<std::string> lines = SplitLines(result.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "InitThread Failed or was Canceled.");
    // A cancel takes effect once the MB under way is complete.
    const std::uint64_t length = FileLength(path);
    EXPECT_LT(length, 1024 * kMiB);
    EXPECT_EQ(length % kMiB, 0u);
    EXPECT_NE(
        result.err.find(": stopped: 0 of 1 pass completed; the partial "
                        "file (" +
                        std::to_string(length) + " bytes) is left behind"),
        std::string::npos)
        << result.err;
  }
}

TEST(CliInterrupt, ReadIsStoppedByTheToggle) {
  const auto& [dir, path] = Scratch();
  MakeFile(path, 8 * kMiB);
  Child cli = StartCli({"read", path, "--passes", "1000000", "--buffer", "1"});
  ASSERT_TRUE(cli.WaitForOutput("Read 8MB: "));
  cli.Signal(SIGINT);
  const ChildResult result = cli.Wait();

  EXPECT_EQ(result.exitCode, 1);
  const std::vector<std::string> lines = SplitLines(result.out);
  const int stopping = IndexOf(lines, "ReadThread Stopping");
  ASSERT_GE(stopping, 0) << result.out;
  // At most the pass under way follows the stop, and nothing else.
  const int after = static_cast<int>(lines.size()) - stopping - 1;
  EXPECT_LE(after, 1);
  if (after == 1) {
    EXPECT_EQ(lines.back().rfind("Read 8MB: ", 0), 0u);
  }
  EXPECT_NE(result.err.find(": stopped: "), std::string::npos);
}

// Under nohup, or started in the background by a shell, a signal ignored
// from the start stays ignored; the others still stop the run.
TEST(CliInterrupt, ASignalIgnoredFromTheStartStaysIgnored) {
  const auto& [dir, path] = Scratch();
  MakeFile(path, 8 * kMiB);
  Child cli({CliPath(), "write", path, "--passes", "1000000", "--buffer", "1"},
            [] { ::signal(SIGHUP, SIG_IGN); });
  ASSERT_TRUE(cli.WaitForLine("Wrote 8MB: "));
  cli.Signal(SIGHUP);
  const int atHangUp = CountPrefix(SplitLines(cli.Out()), "Wrote 8MB: ");
  // Two whole passes more: the hang-up stopped nothing.
  ASSERT_TRUE(cli.WaitUntil([atHangUp](const std::string& out) {
    return CountPrefix(SplitLines(out), "Wrote 8MB: ") >= atHangUp + 2;
  }));
  cli.Signal(SIGINT);
  const ChildResult result = cli.Wait();

  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find(": stopped: "), std::string::npos) << result.err;
}

// The system call the child's main thread is blocked in, as /proc says.
std::string BlockedIn(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/syscall");
  std::string line;
  std::getline(in, line);
  return line;
}

bool PollUntil(const std::function<bool()>& done) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// A stop that comes while the output is stalled (a full pipe, a paused
// terminal) must not break the write under way: it is a stop, not a
// failure to write.
TEST(CliInterrupt, AStopWhileTheOutputIsStalledIsAStop) {
  const auto& [dir, path] = Scratch();
  MakeFile(path, kMiB);
  Child cli =
      StartCli({"write", path, "--passes", "1000000", "--buffer", "1024"});
  ASSERT_TRUE(cli.WaitForLine("Wrote 1MB: "));
  // Nobody reads: the pipe fills and the program waits in a write.
  const std::string inWrite = std::to_string(SYS_write) + " ";
  ASSERT_TRUE(
      PollUntil([&] { return BlockedIn(cli.Pid()).rfind(inWrite, 0) == 0; }));
  // kill() has queued the signal when it returns: it comes during the
  // stall, and is taken once the write goes on.
  cli.Signal(SIGINT);
  const ChildResult result = cli.Wait();

  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err.find("cannot write output"), std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find(": stopped: "), std::string::npos) << result.err;
  EXPECT_EQ(SplitLines(result.out).back(), path + " Closed.");
}

}  // namespace
}  // namespace ferrotick::testing
