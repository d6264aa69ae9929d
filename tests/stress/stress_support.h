// Helpers shared by the stress and fault tests: a transcript of every log
// line with the thread kind that stored it, a run listener that sees when
// two file writers overlap, and the machinery for making faults real
// (small or read-only mounts, a private full device, another process).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "core/message_log.h"
#include "core/run_events.h"

namespace ferrotick::stress {

// An integer from the environment, or `fallback` when unset or unreadable.
long long EnvInteger(const char* name, long long fallback);
// FERROTICK_STRESS_SEED when set, else a fresh random seed.
std::uint64_t SeedFromEnv();

// The whole file in big reads (testing::ReadAll goes byte by byte, which
// is slow under the sanitizers). Empty when it cannot be read.
std::string ReadFile(const std::string& path);

// True when `line` matches `format`, whose only conversions are %d, %s and
// %.3f. %s matches any text; no regex, so it is cheap on long logs.
bool LineMatches(std::string_view line, std::string_view format);
// The %s part of `line` for a format with one %s, when the line matches.
std::optional<std::string> PathIn(std::string_view line,
                                  std::string_view format);

// A line that says why the line before it failed ("  Permission denied").
bool IsReason(std::string_view line);
// `lines` without the reasons, once each failure line has been seen to say
// why (a test failure where one does not): the tests of which lines come
// need not know what the system says.
std::vector<std::string> WithoutReasons(const std::vector<std::string>& lines);

// Every line the log stores, in order, marked with the thread that stored
// it: window lines are stored while a command runs, worker lines only when
// the window thread drains.
class Transcript : public LogObserver {
 public:
  // kDrained and kCancel mark events that log nothing.
  enum class Source { kWindow, kWorker, kDrained, kCancel };
  struct Entry {
    Source source;
    std::string text;
  };

  explicit Transcript(const MessageLog& log) : m_log(log) {}
  void OnLogAppending(std::size_t first, std::size_t last) override;
  void OnLogAppended() override;
  void OnLogClearing() override {}
  void OnLogCleared() override { ++clears; }

  void BeginCommand() { m_inCommand = true; }
  void EndCommand() { m_inCommand = false; }
  // Notes that a drain just ended: every line a joined thread queued
  // before it is now in the log.
  void MarkDrained();
  // Notes a press of the cancel control.
  void MarkCancel() { entries.push_back(Entry{Source::kCancel, {}}); }

  std::vector<Entry> entries;
  int clears = 0;

 private:
  const MessageLog& m_log;
  bool m_inCommand = false;
  std::size_t m_first = 0;
  std::size_t m_last = 0;
};

// Sees every run event: tells whether two runs that write the test file
// (a fill or a writer) ever reported at the same time, and keeps each
// kind's pass MB counts in order, to hold the log's pass lines against.
// Readers may run beside a writer, so they are left out of the overlaps.
class RunRecorder : public EventSink {
 public:
  void OnEvent(const RunEvent& event) override;
  // Describes the first overlap, or nothing.
  std::optional<std::string> Overlap() const;
  // The MB counts of the passes of `run` ("create", "write" or "read").
  std::vector<int> Passes(const std::string& run) const;

 private:
  struct Span {
    std::string run;
    long first;
    long last;
  };
  void Note(const char* run);

  mutable std::mutex m_mutex;
  long m_sequence = 0;
  std::vector<Span> m_spans;
  std::map<std::thread::id, std::size_t> m_spanOf;
  std::vector<std::pair<std::string, int>> m_passes;
};

// ThreadCount() to compare with at the end: first starts and joins one
// thread, since a sanitizer's own helper thread starts with the first.
int ThreadBaseline();
// ThreadCount() once it reaches `expected`, or after 10 s: a thread still
// finishing its run may need a moment on a busy machine.
int ThreadsSettled(int expected);

// A tmpfs mounted on `dir` for the life of the object; needs root.
class TmpfsMount {
 public:
  TmpfsMount(std::string dir, const std::string& options);
  ~TmpfsMount();
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;

  bool ok() const { return m_mounted; }
  const std::string& error() const { return m_error; }
  bool RemountReadOnly();

 private:
  std::string m_dir;
  bool m_mounted = false;
  std::string m_error;
};

// A device that fails every write with ENOSPC. A node of its own in `dir`
// when the process may make one, so its lock is not shared with other
// tests using /dev/full; else /dev/full itself.
std::string FullDevice(const std::string& dir);

// Runs `body` in a child process and returns its exit status (-1 when the
// child did not exit normally). `body` may only make plain system calls.
int InChild(const std::function<int()>& body);

}  // namespace ferrotick::stress
