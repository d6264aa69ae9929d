// Runs the command-line program as a child process with its output on
// pipes, so that a test can read it as it comes and send it signals.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ferrotick::testing {

struct ChildResult {
  int exitCode = -1;  // -1 when ended by a signal or not reaped
  int signal = 0;
  std::string out;
  std::string err;
};

class Child {
 public:
  // Starts `args` (args[0] is the program). `inChild` runs in the child
  // between fork and exec; it may only use async-signal-safe calls.
  explicit Child(const std::vector<std::string>& args,
                 const std::function<void()>& inChild = {});
  ~Child();  // kills a child still running
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Reads until standard output holds `text` or the time runs out.
  bool WaitForOutput(
      const std::string& text,
      std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Reads until `done` holds of standard output so far.
  bool WaitUntil(const std::function<bool(const std::string& out)>& done,
                 std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Reads until standard output holds a whole line beginning with
  // `prefix`; returns that line.
  std::optional<std::string> WaitForLine(
      const std::string& prefix,
      std::chrono::milliseconds timeout = std::chrono::seconds(30));
  void Signal(int signal);
  pid_t Pid() const { return m_pid; }
  // Standard output read so far.
  const std::string& Out() const { return m_result.out; }
  // Reads both pipes to their end and reaps the child; kills it first
  // when it has not ended in time.
  ChildResult Wait(
      std::chrono::milliseconds timeout = std::chrono::seconds(60));

 private:
  // One poll round; false once both pipes are closed.
  bool Pump(int timeoutMs);

  pid_t m_pid = -1;
  int m_outFd = -1;
  int m_errFd = -1;
  ChildResult m_result;
};

// The program built beside the tests.
std::string CliPath();
// The program with `args`: left running, or run to its end.
Child StartCli(const std::vector<std::string>& args);
ChildResult RunCli(const std::vector<std::string>& args);
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace ferrotick::testing
