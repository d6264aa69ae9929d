// Randomized presses of every command, in any order and with any settings,
// on small real files, played as the window thread plays them. Seeded:
// FERROTICK_STRESS_SEED repeats a run, FERROTICK_STRESS_PRESSES sets its
// length.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/file_commands.h"
#include "core/log_commands.h"
#include "core/run_commands.h"
#include "core/timing.h"
#include "tests/stress/stress_support.h"
#include "tests/support/fake_view.h"

namespace ferrotick {
namespace {

using stress::LineMatches;
using stress::PathIn;
using stress::Transcript;
using testing::Bench;
using testing::Exists;
using testing::FileLength;
using testing::OpenDescriptors;
using testing::TempDir;
using Source = Transcript::Source;
using Lines = std::vector<std::string>;

constexpr long long kDefaultPresses = 1500;

enum class Kind {
  kInitProgress,
  kInitDone,
  kInitFailed,
  kWriteProgress,
  kWrote,
  kWriteDone,
  kWriteFailed,
  kReadProgress,
  kReadPass,
  kReaderFailed,
  kClosed,
  kUnknown,
};

// Which worker line `line` is; every worker line has one of these forms.
Kind Classify(const std::string& line) {
  static const std::pair<const char*, Kind> kFormats[] = {
      {"  Init... %.3f MBs [%d/%d]", Kind::kInitProgress},
      {"Init Done: %.3fMBs", Kind::kInitDone},
      {"InitThread Failed or was Canceled.", Kind::kInitFailed},
      {"  Write... %.3f MBs [%d/%d]", Kind::kWriteProgress},
      {"Wrote %dMB: %.3fMBs", Kind::kWrote},
      {"WriteThread Done.", Kind::kWriteDone},
      {"WriteThread Failed.", Kind::kWriteFailed},
      {"  Reading: %.3f MBs", Kind::kReadProgress},
      {"Read %dMB: %.3f MBs", Kind::kReadPass},
      {"Reader Thread Failed", Kind::kReaderFailed},
      {"%s Closed.", Kind::kClosed},  // last: its %s takes any text
  };
  for (const auto& [format, kind] : kFormats) {
    if (LineMatches(line, format)) return kind;
  }
  return Kind::kUnknown;
}

// Follows the worker lines through the transcript and checks that each
// kind of worker speaks only while one is running and in its own order:
// fills and writers end with their outcome line and then "%s Closed.",
// writers one after another, a reader's lines stop once it is stopped and
// the window has drained.
class WorkerLineChecker {
 public:
  explicit WorkerLineChecker(std::set<std::string> paths)
      : m_paths(std::move(paths)) {}

  void Check(const std::vector<Transcript::Entry>& entries) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
      m_at = i;
      const Transcript::Entry& entry = entries[i];
      if (entry.text.find_first_of("\r\n") != std::string::npos) {
        Error("a line holds a line break");
      }
      switch (entry.source) {
        case Source::kWindow:
          Window(entry.text);
          break;
        case Source::kWorker:
          Worker(entry.text);
          break;
        case Source::kDrained:
          m_readerMayLog = m_readerAlive;
          break;
        case Source::kCancel:
          m_initsCancelled = m_initsAlive;
          break;
      }
    }
  }

  // Once every run has been stopped and has ended.
  void CheckAllEnded() {
    if (m_initsAlive != 0) Error("a fill never logged its outcome");
    if (m_writersStarted != m_writersEnded) {
      Error("a writer never logged its outcome");
    }
    if (m_closesOwed != 0) Error("an outcome line had no \"%s Closed.\"");
  }

  // How many lines of each kind went by, to show what a run covered.
  std::string Summary() const {
    std::ostringstream out;
    out << "fills done " << fillsDone << ", writers " << m_writersEnded
        << ", write passes " << writePasses.size() << ", read passes "
        << readPasses.size() << ", closes " << m_closes;
    return out.str();
  }

  std::vector<std::string> errors;
  std::vector<int> writePasses;  // MB counts of the pass lines, in order
  std::vector<int> readPasses;
  int writerFailures = 0;
  int readerFailures = 0;
  int fillsDone = 0;

 private:
  void Error(const std::string& what) {
    errors.push_back("entry " + std::to_string(m_at) + ": " + what);
  }

  void Window(const std::string& line) {
    if (LineMatches(line, "Initializing %dMB w/%dKB bufs")) ++m_initsAlive;
    if (line == "WriteThread Started.") ++m_writersStarted;
    if (line == "Stopping WriteThread.") ++m_writerStops;
    if (line == "Reader Thread Started") {
      m_readerAlive = true;
      m_readerMayLog = true;
    }
    if (line == "ReadThread Stopping") m_readerAlive = false;
  }

  void Worker(const std::string& line) {
    // Says why the worker line before it failed.
    if (m_lastWorkerFailed && stress::IsReason(line)) {
      m_lastWorkerFailed = false;
      return;
    }
    const Kind kind = Classify(line);
    m_lastWorkerFailed = kind == Kind::kWriteFailed ||
                         kind == Kind::kReaderFailed ||
                         kind == Kind::kInitFailed;
    switch (kind) {
      case Kind::kInitProgress:
      case Kind::kInitDone:
      case Kind::kInitFailed:
        if (m_initsAlive == 0) {
          Error("fill line with no fill running: " + line);
          break;
        }
        if (kind == Kind::kInitProgress) break;
        --m_initsAlive;
        if (kind == Kind::kInitDone) {
          ++m_closesOwed;
          ++fillsDone;
          m_initsCancelled = std::min(m_initsCancelled, m_initsAlive);
        } else if (m_initsCancelled == 0) {
          Error("a fill failed on a good disk without a cancel");
        } else {
          --m_initsCancelled;
        }
        break;
      case Kind::kWriteProgress:
      case Kind::kWrote:
      case Kind::kWriteDone:
      case Kind::kWriteFailed:
        if (m_writersStarted == m_writersEnded) {
          Error("writer line with no writer running: " + line);
          break;
        }
        if (m_linesOfWriter != m_writersEnded) {
          // The first line of the next writer: every writer before it
          // has closed the file and said so.
          m_linesOfWriter = m_writersEnded;
          if (m_closes < m_writersEnded) {
            Error("a writer began before the one before it was closed");
          }
        }
        if (kind == Kind::kWrote) {
          writePasses.push_back(std::stoi(line.substr(6)));
        }
        if (kind == Kind::kWriteDone && m_writerStops <= m_writersEnded) {
          Error("a writer ended though nobody stopped it");
        }
        if (kind == Kind::kWriteDone || kind == Kind::kWriteFailed) {
          ++m_writersEnded;
          ++m_closesOwed;
          if (kind == Kind::kWriteFailed) ++writerFailures;
        }
        break;
      case Kind::kReadProgress:
      case Kind::kReadPass:
      case Kind::kReaderFailed:
        if (!m_readerMayLog) {
          Error("reader line after its reader was stopped: " + line);
          break;
        }
        if (kind == Kind::kReadPass) {
          readPasses.push_back(std::stoi(line.substr(5)));
        }
        if (kind == Kind::kReaderFailed) {
          ++readerFailures;
          m_readerMayLog = false;
        }
        break;
      case Kind::kClosed: {
        if (m_closesOwed == 0) Error("unowed close line: " + line);
        --m_closesOwed;
        ++m_closes;
        const std::optional<std::string> path = PathIn(line, "%s Closed.");
        if (!path || !m_paths.count(*path)) {
          Error("close line names no path ever chosen: " + line);
        }
        break;
      }
      case Kind::kUnknown:
        Error("worker line of no known form: " + line);
        break;
    }
  }

  std::set<std::string> m_paths;
  bool m_lastWorkerFailed = false;
  std::size_t m_at = 0;
  int m_initsAlive = 0;
  int m_initsCancelled = 0;  // of those alive, how many a cancel reached
  int m_writerStops = 0;
  int m_writersStarted = 0;
  int m_writersEnded = 0;
  int m_linesOfWriter = -1;
  int m_closesOwed = 0;
  int m_closes = 0;
  bool m_readerAlive = false;
  bool m_readerMayLog = false;
};

// Plays the window thread through a seeded sequence of presses, checking
// each command's own lines as it returns, and the whole transcript after.
class StressDriver {
 public:
  StressDriver(std::uint64_t seed, const TempDir& dir)
      : m_random(seed),
        m_test(dir.File("testdata.tmp")),
        m_folder(dir.path()),
        m_missing(dir.File("missing/testdata.tmp")),
        m_export(dir.File("log.txt")),
        m_full(stress::FullDevice(dir.path())),
        m_transcript(m_bench.log) {
    m_bench.log.SetObserver(&m_transcript);
    m_bench.state.SetTap(m_runs);
    RandomSettings();
  }

  ~StressDriver() {
    m_bench.state.Shutdown();
    m_bench.log.SetObserver(nullptr);
  }

  void Run(long long presses) {
    for (long long i = 0; i < presses && !Stuck(); ++i) Step();
  }

  // Stops whatever runs, waits until every worker ended, and checks that
  // nothing was left behind at that point.
  void Settle() {
    if (m_reader) PressRead();
    if (m_writing) PressWrite();
    PressCancel();
    const bool idle = DrainUntil([&] { return m_bench.state.m_runs.empty(); },
                                 std::chrono::seconds(60));
    if (!idle) {
      Error("the runs did not end within 60 s of being stopped");
      m_stuck = true;
      return;
    }
    if (stress::ThreadsSettled(m_threads) != m_threads)
      Error("a thread outlived its run");
    if (OpenDescriptors() != m_fds) Error("a descriptor outlived its run");
    m_free = true;
  }

  // Ends the bench as the window's end does, and checks what is left.
  void ShutDown(bool graceful) {
    if (graceful && !m_stuck) Settle();
    m_bench.state.Shutdown();
    // What the runs told before their end is still shown; nothing after.
    Drain();
    const std::size_t lines = m_bench.log.Count();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Drain();
    if (m_bench.log.Count() != lines) {
      Error("a line arrived after the shutdown");
    }
    if (stress::ThreadsSettled(m_threads) != m_threads)
      Error("a thread outlived the shutdown");
    if (OpenDescriptors() != m_fds) Error("a descriptor outlived the shutdown");
  }

  void CheckTranscript(bool allEnded) {
    std::set<std::string> paths = m_paths;
    paths.insert("");
    WorkerLineChecker checker(paths);
    checker.Check(m_transcript.entries);
    if (allEnded) checker.CheckAllEnded();
    for (const std::string& error : checker.errors) Error(error);
    m_summary = checker.Summary() + "; longest presses:";
    for (const auto& [kind, took] : m_slowest) {
      m_summary +=
          " " + kind + " " +
          std::to_string(
              std::chrono::duration_cast<std::chrono::milliseconds>(took)
                  .count()) +
          " ms";
    }
    // A healthy disk: no write or read may fail.
    if (checker.writerFailures != 0) Error("a writer failed on a good file");
    if (checker.readerFailures != 0) Error("a reader failed on a good file");
    if (auto overlap = m_runs->Overlap()) Error(*overlap);
    // Writers run one after another, and so do readers: their pass lines
    // are the passes the runs made, in order, none lost or torn.
    if (checker.writePasses != m_runs->Passes("write")) {
      Error("the write pass lines are not the passes the writers made");
    }
    if (checker.readPasses != m_runs->Passes("read")) {
      Error("the read pass lines are not the passes the readers made");
    }
    const std::size_t fills = m_runs->Passes("create").size();
    if (allEnded ? static_cast<std::size_t>(checker.fillsDone) != fills
                 : static_cast<std::size_t>(checker.fillsDone) > fills) {
      Error("the fill lines are not the fills made");
    }

    // The log lost nothing: it holds every line stored since the last
    // Clear, in order.
    Lines stored;
    for (std::size_t i = m_clearedAt; i < m_transcript.entries.size(); ++i) {
      const Transcript::Entry& entry = m_transcript.entries[i];
      if (entry.source == Source::kWindow || entry.source == Source::kWorker) {
        stored.push_back(entry.text);
      }
    }
    if (stored != m_bench.Lines()) Error("the log does not hold every line");

    bool enabled = checker.fillsDone > 0;
    for (const Transcript::Entry& entry : m_transcript.entries) {
      if (entry.source == Source::kWindow &&
          entry.text == "WARNING: Write will destroy this file!") {
        enabled = true;
      }
    }
    if (m_bench.view.testsEnabled != enabled) {
      Error("the tests' enabling does not follow the fills and adoptions");
    }
    for (const std::string& call : m_bench.view.calls) {
      if (call == "EnableTests:0") Error("something disabled the tests");
    }
  }

  // Failures, with the presses that led to them.
  std::string Report() const {
    std::ostringstream out;
    for (std::size_t i = 0; i < m_errors.size() && i < 20; ++i) {
      out << m_errors[i] << "\n";
    }
    if (m_errors.size() > 20) out << "... " << m_errors.size() << " in all\n";
    out << "last presses:";
    const std::size_t from = m_history.size() > 30 ? m_history.size() - 30 : 0;
    for (std::size_t i = from; i < m_history.size(); ++i) {
      out << "\n  " << m_history[i];
    }
    return out.str();
  }

  bool ok() const { return m_errors.empty(); }
  std::size_t presses() const { return m_history.size(); }
  const std::string& summary() const { return m_summary; }

 private:
  bool Stuck() const { return m_stuck || m_errors.size() > 50; }

  void Error(const std::string& what) {
    m_errors.push_back("press " + std::to_string(m_history.size()) + ": " +
                       what);
  }

  int Roll(int below) {
    return std::uniform_int_distribution<int>(0, below - 1)(m_random);
  }

  void Step() {
    static const int kWeights[] = {
        9,   // Create
        4,   // cancel
        14,  // Write
        14,  // Read
        7,   // Use Existing
        7,   // Delete File
        3,   // Clear
        5,   // Save to File
        2,   // About
        12,  // new settings
        18,  // let the workers run, draining or not
        1,   // settle
    };
    int roll = Roll(96);
    int action = 0;
    while (roll >= kWeights[action]) roll -= kWeights[action++];
    switch (action) {
      case 0:
        PressCreate();
        break;
      case 1:
        PressCancel();
        break;
      case 2:
        PressWrite();
        break;
      case 3:
        PressRead();
        break;
      case 4:
        PressUseExisting();
        break;
      case 5:
        PressDelete();
        break;
      case 6:
        PressClear();
        break;
      case 7:
        PressSave();
        break;
      case 8:
        PressAbout();
        break;
      case 9:
        RandomSettings();
        break;
      case 10:
        LetRun();
        break;
      default:
        Settle();
        break;
    }
  }

  void RandomSettings() {
    static const int kBuffers[] = {1, 2, 3, 7, 64, 128, 1000, 1023, 1024};
    const int fileMB = Roll(9);
    const int bufferKB =
        Roll(2) ? kBuffers[Roll(std::size(kBuffers))] : 1 + Roll(1024);
    m_bench.state.m_nFileSizeMB.store(fileMB);
    m_bench.state.m_nBufferKB.store(bufferKB);
    m_history.push_back("settings " + std::to_string(fileMB) + " MB, " +
                        std::to_string(bufferKB) + " KB");
  }

  void LetRun() {
    switch (Roll(3)) {
      case 0:
        Drain();
        m_history.push_back("drain");
        break;
      case 1: {
        const int ms = 1 + Roll(30);
        const auto until =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        DrainUntil([&] { return std::chrono::steady_clock::now() > until; },
                   std::chrono::seconds(1));
        m_history.push_back("drain for " + std::to_string(ms) + " ms");
        break;
      }
      default: {
        const int ms = Roll(10);
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        m_history.push_back("busy for " + std::to_string(ms) + " ms");
        break;
      }
    }
  }

  void Drain() {
    m_bench.state.HandleEvents();
    m_transcript.MarkDrained();
  }

  template <typename Done>
  bool DrainUntil(Done done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      Drain();
      if (done()) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  // Runs one command as the window does, and returns the lines it logged.
  template <typename Command>
  Lines Press(const std::string& name, Command command) {
    const std::size_t before = m_transcript.entries.size();
    m_history.push_back(name);
    m_transcript.BeginCommand();
    const auto start = std::chrono::steady_clock::now();
    command();
    const auto took = std::chrono::steady_clock::now() - start;
    m_transcript.EndCommand();
    const std::string kind = name.substr(0, name.find(' '));
    m_slowest[kind] = std::max(m_slowest[kind], took);
    Lines lines;
    for (std::size_t i = before; i < m_transcript.entries.size(); ++i) {
      lines.push_back(m_transcript.entries[i].text);
    }
    return stress::WithoutReasons(lines);
  }

  // What ChoosePath answers: mostly the test file, sometimes a cancel, a
  // folder or a path whose folder is missing.
  std::optional<std::string> Answer() {
    switch (Roll(10)) {
      case 0:
        return std::nullopt;
      case 1:
        return m_folder;
      case 2:
        return m_missing;
      default:
        return m_test;
    }
  }

  bool Holders() const {
    return (m_writing && m_writerHolds) || (m_reader && m_readerHolds);
  }

  // The test file's length while only a reader holds it, when nothing
  // may change it (a stopped writer may still be ending its pass).
  std::optional<std::uint64_t> SteadyLength() const {
    if (!(m_reader && m_readerHolds) || m_writing ||
        !m_bench.state.m_runs.empty() || !Exists(m_test)) {
      return std::nullopt;
    }
    return FileLength(m_test);
  }

  void Expect(const std::string& command, const Lines& lines,
              const std::vector<Lines>& allowed) {
    if (std::find(allowed.begin(), allowed.end(), lines) != allowed.end()) {
      return;
    }
    std::string text;
    for (const std::string& line : lines) text += "\n    [" + line + "]";
    Error(command + " logged an unexpected sequence:" + text);
  }

  void CheckPath() {
    if (m_bench.state.m_strPath.Get() != m_path) {
      Error("the path is not the one last chosen");
    }
  }

  void PressCreate() {
    const std::optional<std::string> answer = Answer();
    if (answer) m_bench.view.answers.push_back(*answer);
    const int fileMB = m_bench.state.m_nFileSizeMB.load();
    const int bufferKB = m_bench.state.m_nBufferKB.load();
    const bool mayWork = answer == m_test && !Holders();
    const bool mustWork = mayWork && m_free;
    const std::optional<std::uint64_t> length = SteadyLength();
    const Lines lines = Press("Create " + answer.value_or("(cancel)"),
                              [&] { OnCreate(m_bench.state); });
    if (length && lines == Lines{"Open Failed"} &&
        FileLength(m_test) != *length) {
      Error("a refused Create changed the file in use");
    }
    if (!answer) {
      Expect("Create", lines, {{}});
      return;
    }
    m_path = *answer;
    m_paths.insert(*answer);
    const Lines started = {
        *answer, Format("Initializing %dMB w/%dKB bufs", fileMB, bufferKB)};
    std::vector<Lines> allowed;
    if (!mustWork) allowed.push_back({"Open Failed"});
    if (mayWork) allowed.push_back(started);
    Expect("Create", lines, allowed);
    if (lines == started) m_free = false;
    CheckPath();
  }

  void PressCancel() {
    const Lines lines = Press("Cancel", [&] { OnCancelInit(m_bench.state); });
    Expect("Cancel", lines, {{}});
    m_transcript.MarkCancel();
  }

  void PressWrite() {
    const std::string path = m_path;
    const bool exists = path == m_test && Exists(m_test);
    const Lines lines = Press("Write", [&] { OnWrite(m_bench.state); });
    if (m_writing) {
      Expect("Write (stop)", lines, {{"Stopping WriteThread."}});
      m_writing = false;
      if (m_bench.view.writeCaption != "Write") Error("caption not Write");
      return;
    }
    const Lines started = {"Opened " + path, "", "WriteThread Started."};
    std::vector<Lines> allowed;
    if (!(exists && m_free)) allowed.push_back({"Open Failed or Canceled"});
    if (exists) allowed.push_back(started);
    Expect("Write (start)", lines, allowed);
    if (lines == started) {
      m_writing = true;
      m_writerHolds = true;
      m_free = false;
      if (m_bench.view.writeCaption != "StopWrite") {
        Error("caption not StopWrite after a start");
      }
    }
  }

  void PressRead() {
    const std::string path = m_path;
    const bool exists = path == m_test && Exists(m_test);
    const Lines lines = Press("Read", [&] { OnRead(m_bench.state); });
    if (m_reader) {
      Expect("Read (stop)", lines, {{"ReadThread Stopping"}});
      m_reader = false;
    } else {
      const Lines started = {"Reader Opened File", "Reader Thread Started",
                             "Starting Reader"};
      std::vector<Lines> allowed;
      if (!(exists && m_free)) {
        allowed.push_back({"Reader Open Failed", "Starting Reader"});
      }
      if (exists) allowed.push_back(started);
      Expect("Read (start)", lines, allowed);
      m_reader = true;
      m_readerHolds = lines == started;
      if (m_readerHolds) m_free = false;
    }
    if (m_bench.view.readCaption != (m_reader ? "StopRead" : "Read")) {
      Error("the Read caption does not follow the presses");
    }
    if ((m_bench.state.m_pReader != nullptr) != m_reader) {
      Error("the reader does not follow the presses");
    }
  }

  void PressUseExisting() {
    const std::optional<std::string> answer = Answer();
    if (answer) m_bench.view.answers.push_back(*answer);
    const bool exists = answer == m_test && Exists(m_test);
    const Lines lines = Press("Use Existing " + answer.value_or("(cancel)"),
                              [&] { OnUseExisting(m_bench.state); });
    if (!answer) {
      Expect("Use Existing", lines, {{}});
      return;
    }
    m_path = *answer;
    m_paths.insert(*answer);
    const Lines used = {"Using " + *answer,
                        "WARNING: Write will destroy this file!"};
    std::vector<Lines> allowed;
    if (!(exists && m_free)) allowed.push_back({"Couldn't open " + *answer});
    if (exists) allowed.push_back(used);
    Expect("Use Existing", lines, allowed);
    if (lines == used && !m_bench.view.testsEnabled) {
      Error("Use Existing left the tests disabled");
    }
    CheckPath();
  }

  void PressDelete() {
    const std::string path = m_path;
    const bool mayWork = path == m_test && Exists(m_test) && !Holders();
    const Lines lines =
        Press("Delete File", [&] { OnDeleteFile(m_bench.state); });
    const Lines deleted = {path + " deleted."};
    std::vector<Lines> allowed;
    if (!(mayWork && m_free)) {
      allowed.push_back(
          {"Couldn't delete " + path, "Make sure nothing is using it."});
    }
    if (mayWork) allowed.push_back(deleted);
    Expect("Delete File", lines, allowed);
    if (lines == deleted) {
      m_path.clear();
      if (Exists(path))
        Error("Delete File said deleted, yet the file is there");
    } else if (path == m_test && Holders() && !Exists(path)) {
      Error("the file in use vanished");
    }
    CheckPath();
  }

  void PressClear() {
    const Lines lines = Press("Clear", [&] { OnClear(m_bench.state); });
    Expect("Clear", lines, {{}});
    if (m_bench.log.Count() != 0) Error("Clear left lines");
    m_clearedAt = m_transcript.entries.size();
  }

  void PressAbout() {
    const Lines lines = Press("About", [&] { OnAbout(m_bench.state); });
    Expect("About", lines, {AboutLines()});
  }

  void PressSave() {
    std::optional<std::string> answer;
    switch (Roll(10)) {
      case 0:
        break;
      case 1:
        answer = m_folder;
        break;
      case 2:
        answer = m_test;
        break;
      case 3:
        answer = m_full;
        break;
      default:
        answer = m_export;
    }
    // Only a full device of our own: /dev/full's lock is shared with
    // other test programs.
    if (answer == "/dev/full") answer = m_export;
    if (answer) m_bench.view.answers.push_back(*answer);
    std::string expected;
    for (std::size_t i = 1; i < m_bench.log.Count(); ++i) {
      expected += m_bench.log.Line(i);
      expected += "\r\n";
    }
    const bool mayWork = answer == m_export ||
                         (answer == m_test && !Holders()) ||
                         (answer == m_full && expected.empty());
    const bool mustWork = mayWork && (answer != m_test || m_free);
    std::optional<std::string> failure;
    const std::optional<std::uint64_t> length = SteadyLength();
    const Lines lines = Press("Save to File " + answer.value_or("(cancel)"),
                              [&] { failure = OnSaveLog(m_bench.state); });
    if (answer == m_test && length && lines == Lines{"Open Failed"} &&
        FileLength(m_test) != *length) {
      Error("a refused export changed the file in use");
    }
    if (!answer) {
      Expect("Save to File", lines, {{}});
      return;
    }
    const Lines written = {*answer + " written."};
    std::vector<Lines> allowed;
    if (mayWork) allowed.push_back(written);
    if (!mustWork) allowed.push_back({"Open Failed"});
    if (answer == m_full && !expected.empty()) allowed.push_back({});
    Expect("Save to File", lines, allowed);
    if (failure.has_value() != (lines.empty())) {
      Error("a failed export must be reported, and only then");
    }
    if (failure && failure->find(*answer) == std::string::npos) {
      Error("the export's error does not name the file: " + *failure);
    }
    if (lines == written && answer != m_full &&
        stress::ReadFile(*answer) != expected) {
      Error("the exported file differs from the log");
    }
  }

  std::mt19937_64 m_random;
  const std::string m_test;
  const std::string m_folder;
  const std::string m_missing;
  const std::string m_export;
  const std::string m_full;
  const int m_threads = stress::ThreadBaseline();
  const std::vector<std::string> m_fds = OpenDescriptors();

  Bench m_bench;
  Transcript m_transcript;
  std::shared_ptr<stress::RunRecorder> m_runs =
      std::make_shared<stress::RunRecorder>();

  // What the presses so far should have left.
  std::string m_path;
  std::set<std::string> m_paths;
  bool m_writing = false;
  bool m_writerHolds = false;
  bool m_reader = false;
  bool m_readerHolds = false;
  bool m_free = true;  // no run can hold the test file
  std::size_t m_clearedAt = 0;

  std::vector<std::string> m_history;
  std::vector<std::string> m_errors;
  std::string m_summary;
  // The longest each command kept the window thread, for the summary.
  std::map<std::string, std::chrono::steady_clock::duration> m_slowest;
  bool m_stuck = false;
};

TEST(Stress, RandomPressesKeepEveryRunAndLineInOrder) {
  const std::uint64_t seed = stress::SeedFromEnv();
  const long long presses =
      stress::EnvInteger("FERROTICK_STRESS_PRESSES", kDefaultPresses);
  SCOPED_TRACE("FERROTICK_STRESS_SEED=" + std::to_string(seed));
  TempDir dir;
  StressDriver driver(seed, dir);
  driver.Run(presses);
  driver.ShutDown(/*graceful=*/true);
  driver.CheckTranscript(/*allEnded=*/true);
  EXPECT_TRUE(driver.ok()) << driver.Report();
  RecordProperty("covered", driver.summary());
}

TEST(Stress, ShutdownInTheMiddleLeavesNoThreadNorDescriptor) {
  const std::uint64_t seed = stress::SeedFromEnv();
  const long long presses =
      stress::EnvInteger("FERROTICK_STRESS_PRESSES", kDefaultPresses);
  SCOPED_TRACE("FERROTICK_STRESS_SEED=" + std::to_string(seed));
  // Rounds of different lengths end the bench in different states.
  for (int round = 1; round <= 4; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    TempDir dir;
    StressDriver driver(seed + round, dir);
    driver.Run(presses * round / 16);
    driver.ShutDown(/*graceful=*/false);
    driver.CheckTranscript(/*allEnded=*/false);
    EXPECT_TRUE(driver.ok()) << driver.Report();
  }
}

}  // namespace
}  // namespace ferrotick
