// Test doubles and helpers: a view that records what the core asks of it,
// and a harness that plays the window thread.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/bench_state.h"
#include "core/bench_view.h"
#include "core/message_log.h"

namespace ferrotick::testing {

class FakeView : public BenchView {
 public:
  void SetTitle(const std::string& text) override;
  void EnableTests(bool on) override;
  void SetWriteCaption(const std::string& text) override;
  void SetReadCaption(const std::string& text) override;
  void ShowSettings() override;
  std::optional<std::string> ChoosePath(
      const ChoosePathRequest& request) override;

  // The next ChoosePath answers; an empty deque answers "cancelled".
  std::deque<std::optional<std::string>> answers;
  std::vector<ChoosePathRequest> requests;
  std::string title;
  std::string writeCaption = "Write";
  std::string readCaption = "Read";
  bool testsEnabled = false;
  int showSettingsCalls = 0;
  std::vector<std::string> calls;  // every call, in order
};

// A folder under the test temp dir, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return m_path; }
  std::string File(const std::string& name) const {
    return m_path + "/" + name;
  }

 private:
  std::string m_path;
};

// Plays the window thread: the log, the view and the bench state.
struct Bench {
  Bench();
  ~Bench();
  // Handles the runs' events until `done` holds or the time runs out.
  bool DrainUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Handles events until the log holds `line` at or after `from`.
  bool WaitForLine(
      const std::string& line, std::size_t from = 0,
      std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Handles events until no run is going, and then what is left.
  bool WaitIdle(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  std::vector<std::string> Lines(std::size_t from = 0) const;
  std::optional<std::size_t> Find(const std::string& line,
                                  std::size_t from = 0) const;

  MessageLog log;
  FakeView view;
  BenchState state{view, log};
};

// Descriptors open in this process, from /proc/self/fd.
std::vector<std::string> OpenDescriptors();
// Threads alive; one joined is no longer counted (LiveThreadCount).
int ThreadCount();
// A file of `bytes` bytes made of byte `fill`.
void MakeFile(const std::string& path, std::uint64_t bytes, char fill = 'x');
std::string ReadAll(const std::string& path);
// The byte at `offset`, or -1 past the end.
int ByteAt(const std::string& path, std::uint64_t offset);
std::uint64_t FileLength(const std::string& path);
bool Exists(const std::string& path);
// True when `line` matches `format` where the only conversions are
// %d, %s and %.3f.
bool MatchesFormat(const std::string& line, const std::string& format);

}  // namespace ferrotick::testing
