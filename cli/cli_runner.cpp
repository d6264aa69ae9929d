#include "cli/cli_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "cli/json_lines.h"
#include "cli/measure.h"
#include "core/bench_view.h"
#include "core/file_commands.h"
#include "core/init_run.h"
#include "core/message_log.h"
#include "core/reader.h"
#include "core/timing.h"
#include "core/write_run.h"

namespace ferrotick::cli {

namespace {

constexpr const char* kProgram = "ferrotick-cli";

// Set by the handler of the stop signals; read by the main loop.
std::atomic<int> g_interrupts{0};
std::atomic<int> g_wakeFd{-1};
static_assert(std::atomic<int>::is_always_lock_free,
              "the signal handler needs a lock-free counter");

void OnInterruptSignal(int) {
  const int saved = errno;
  g_interrupts.fetch_add(1);
  const int fd = g_wakeFd.load();
  if (fd >= 0) {
    const char byte = 'i';
    [[maybe_unused]] const ssize_t ignored = ::write(fd, &byte, 1);
  }
  errno = saved;
}

// Wakes the main loop from worker threads and from the signal handler.
class WakePipe {
 public:
  WakePipe() {
    if (::pipe2(m_fds, O_CLOEXEC | O_NONBLOCK) != 0) m_fds[0] = m_fds[1] = -1;
  }
  ~WakePipe() {
    for (int fd : m_fds) {
      if (fd >= 0) ::close(fd);
    }
  }
  WakePipe(const WakePipe&) = delete;
  WakePipe& operator=(const WakePipe&) = delete;

  // A full pipe already holds a wake-up, so a failed write loses nothing.
  void Wake() {
    const char byte = 'w';
    [[maybe_unused]] const ssize_t ignored = ::write(m_fds[1], &byte, 1);
  }
  void Wait(int timeoutMs) {
    pollfd entry{m_fds[0], POLLIN, 0};
    if (::poll(&entry, 1, timeoutMs) > 0) {
      char bytes[256];
      while (::read(m_fds[0], bytes, sizeof(bytes)) > 0) {
      }
    }
  }
  int WriteEnd() const { return m_fds[1]; }

 private:
  int m_fds[2];
};

// Ctrl-C, and a polite request to end (kill, a closed terminal): each
// stops the run as the dialog's controls do, so its closing lines print.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kStopSignalCount = std::size(kStopSignals);
struct sigaction g_previousActions[kStopSignalCount];

}  // namespace

// Only the outermost scope installs the handlers and clears the count;
// inner ones only point the wake-up at their own loop.
int StopSignalScope::s_depth = 0;

StopSignalScope::StopSignalScope(int wakeFd)
    : m_previousWakeFd(g_wakeFd.exchange(wakeFd)) {
  if (s_depth++ > 0) return;
  g_interrupts.store(0);
  struct sigaction action {};
  action.sa_handler = OnInterruptSignal;
  // A write to a stalled output goes on after the handler; the main loop's
  // poll returns early all the same.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < kStopSignalCount; ++i) {
    ::sigaction(kStopSignals[i], &action, &g_previousActions[i]);
  }
}

StopSignalScope::~StopSignalScope() {
  g_wakeFd.store(m_previousWakeFd);
  if (--s_depth > 0) return;
  for (std::size_t i = 0; i < kStopSignalCount; ++i) {
    ::sigaction(kStopSignals[i], &g_previousActions[i], nullptr);
  }
}

int StopSignalScope::Count() { return g_interrupts.load(); }

namespace {

// The full path for the log and the messages. A relative path is kept as
// given when the working directory has no name (removed, or deeper than
// PATH_MAX) or the full path would be too long to open.
std::string FullPath(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(path, error);
  if (error || full.native().size() >= PATH_MAX) return path;
  return full.string();
}

// Why an open or a transfer failed, in the user's words.
std::string Reason(int error) {
  // A lock another process holds; the dialog's own handles never meet
  // here, since the command line runs one command.
  if (error == EWOULDBLOCK || error == EAGAIN) {
    return "in use by another process";
  }
  if (error == EBUSY) return "mounted or in use by another process";
  return std::strerror(error);
}

// The chooser of a command line: the path was given up front.
class CliView : public BenchView {
 public:
  explicit CliView(std::string path) : m_strPath(std::move(path)) {}
  void SetTitle(const std::string&) override {}
  void EnableTests(bool) override {}
  void SetWriteCaption(const std::string&) override {}
  void SetReadCaption(const std::string&) override {}
  void ShowSettings() override {}
  std::optional<std::string> ChoosePath(const ChoosePathRequest&) override {
    return m_strPath;
  }

 private:
  std::string m_strPath;
};

struct ProgressSnapshot {
  const char* run = nullptr;
  int pass = 0;
  std::uint64_t bytes = 0;
  double seconds = 0;
};

// Called on worker threads: keeps what it hears for the main loop.
class CliListener : public RunListener {
 public:
  CliListener(WakePipe& wake, bool wantProgress)
      : m_wake(wake), m_bWantProgress(wantProgress) {}

  void OnPass(const PassRecord& record) override {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_passes.push_back(record);
      ++m_nPassesHeard;
      m_progress.reset();
    }
    m_wake.Wake();
  }

  void OnProgress(const char* run, std::uint64_t bytes,
                  double seconds) override {
    if (!m_bWantProgress) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_progress = ProgressSnapshot{run, m_nPassesHeard + 1, bytes, seconds};
  }

  void OnFailure(const char*, int error) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_nFailure == 0) m_nFailure = error;
  }

  // The errno of the first failed transfer, or 0.
  int Failure() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nFailure;
  }

  std::vector<PassRecord> TakePasses() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::exchange(m_passes, {});
  }

  std::optional<ProgressSnapshot> Progress() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_progress;
  }

 private:
  WakePipe& m_wake;
  const bool m_bWantProgress;
  std::mutex m_mutex;
  std::vector<PassRecord> m_passes;            // guarded by m_mutex
  int m_nPassesHeard = 0;                      // guarded by m_mutex
  int m_nFailure = 0;                          // guarded by m_mutex
  std::optional<ProgressSnapshot> m_progress;  // guarded by m_mutex
};

constexpr std::string_view kInitEndedLine =
    "InitThread Failed or was Canceled.";

bool IsFailureLine(std::string_view line) {
  static constexpr std::string_view kFailures[] = {
      "Open Failed",
      "InitThread did not start.",
      kInitEndedLine,
      "Open Failed or Canceled",
      "WriteThread did not start.",
      "WriteThread Failed.",
      "Reader Creation failed",
      "Reader Open Failed",
      "Reader Thread Failed",
  };
  for (std::string_view failure : kFailures) {
    if (line == failure) return true;
  }
  return false;
}

struct Refusal {
  std::string message;
  std::string detail;
};

// Why --direct cannot work on `path`, or nothing when it can (or when the
// run's own open will report the trouble). Leaves no file behind.
std::optional<Refusal> DirectRefusal(const std::string& path, bool create,
                                     int bufferKB) {
  bool probeCreated = false;
  int fd = ::open(path.c_str(),
                  O_RDONLY | O_DIRECT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0 && errno == ENOENT && create) {
    fd = ::open(path.c_str(),
                O_WRONLY | O_CREAT | O_EXCL | O_DIRECT | O_CLOEXEC | O_NOCTTY,
                0666);
    if (fd >= 0) {
      probeCreated = true;
    } else if (errno == EINVAL) {
      // The refusal comes after the file was made.
      ::unlink(path.c_str());
      errno = EINVAL;
    }
  }
  if (fd < 0) {
    if (errno != EINVAL) return std::nullopt;
    return Refusal{"this filesystem refuses direct I/O (--direct)",
                   std::strerror(EINVAL)};
  }
  std::optional<Refusal> refusal;
#ifdef STATX_DIOALIGN
  struct statx info {};
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &info) == 0 &&
      (info.stx_mask & STATX_DIOALIGN)) {
    const std::uint32_t align = info.stx_dio_offset_align;
    const std::uint64_t bytes = static_cast<std::uint64_t>(bufferKB) * 1024;
    if (align == 0) {
      refusal = Refusal{"this filesystem refuses direct I/O (--direct)",
                        "not supported for this file"};
    } else if (bytes % align != 0) {
      refusal = Refusal{
          "direct I/O here needs --buffer to be a multiple of " +
              std::to_string((align + 1023) / 1024) + " KB",
          "the device moves blocks of " + std::to_string(align) + " bytes"};
    }
  }
#else
  (void)bufferKB;
#endif
  ::close(fd);
  if (probeCreated) ::unlink(path.c_str());
  return refusal;
}

class Runner {
 public:
  // A phase of a measurement keeps its passes instead of printing them as
  // JSON, and leaves its file to the measurement.
  explicit Runner(const CliOptions& options, bool phase = false)
      : m_options(options),
        m_bPhase(phase),
        m_run(CommandName(options.command)),
        m_strPath(FullPath(options.path)),
        m_bShowProgress(options.progress && !options.json &&
                        ::isatty(STDERR_FILENO)),
        m_view(m_strPath),
        m_listener(m_wake, m_bShowProgress),
        m_state(m_view, m_log) {
    m_log.SetWakeup([this] { m_wake.Wake(); });
    m_log.SetView(&m_view);
    m_state.m_options = options.run;
    // Asked for N passes, the user wants them back to back.
    m_state.m_options.minPassPeriod = {};
    m_state.m_options.passLimit =
        options.command == Command::kCreate ? 0 : options.passes;
    m_state.m_pListener = &m_listener;
    m_state.m_nBufferKB.store(options.bufferKB);
    m_state.m_nFileSizeMB.store(options.fileSizeMB.value_or(0));
  }

  int Run() {
    // The dialog's chooser asks before replacing a file; a command line
    // cannot ask, so it replaces nothing unless told to.
    struct stat existing {};
    if (m_options.command == Command::kCreate && !m_options.force &&
        ::lstat(m_strPath.c_str(), &existing) == 0) {
      ReportError(S_ISLNK(existing.st_mode)
                      ? "already exists as a symbolic link"
                      : "already exists",
                  "give --force to replace it");
      return kExitFailed;
    }
    if (m_options.run.direct) {
      if (std::optional<Refusal> refusal =
              DirectRefusal(m_strPath, m_options.command == Command::kCreate,
                            m_options.bufferKB)) {
        ReportError(refusal->message, refusal->detail);
        return kExitFailed;
      }
    }
    if (!m_options.json) NoteWhatAnMBIs();
    StopSignalScope signals(m_wake.WriteEnd());
    if (!Start()) {
      Pump();
      Outcome();  // says why, unless Start already has
      return kExitFailed;
    }
    for (;;) {
      const int interruptCount = StopSignalScope::Count();
      if (interruptCount >= 2 || m_bOutputBroken) {
        // A second Ctrl-C, or nobody left to read the output: end at once,
        // silently, as closing the dialog does.
        m_bAbandoned = StillRunning();
        m_state.Shutdown();
        Pump();
        break;
      }
      if (interruptCount >= 1 && !m_bStopSent) {
        Pump();
        StopRun();
        m_bStopSent = true;
      }
      Pump();
      if (Finished()) break;
      m_wake.Wait(kPollMs);
    }
    Pump();
    ClearProgress();
    return Outcome();
  }

  const std::vector<PassRecord>& Passes() const { return m_passes; }

 private:
  static constexpr int kPollMs = 50;
  static constexpr double kProgressAfterSeconds = 1.0;
  static constexpr auto kProgressEvery = std::chrono::milliseconds(200);

  // Presses what the dialog's user would press; false when nothing started.
  bool Start() {
    switch (m_options.command) {
      case Command::kCreate:
        OnCreate(m_state);
        if (LastLine().rfind("Initializing ", 0) == 0) {
          m_bFillStarted = true;
          return true;
        }
        if (LastLine() == "Open Failed") {
          ReportError("cannot create the file",
                      Reason(m_state.m_file.LastError()));
        }
        return false;
      case Command::kWrite:
        if (!UseExisting()) return false;
        // From the length of a block device too, which Use Existing may
        // not see.
        m_state.m_nFileSizeMB.store(
            m_options.fileSizeMB.value_or(LengthInMB(m_nExpectedBytes)));
        if (m_state.m_nFileSizeMB.load() == 0) {
          // Passes of 0 MB would write nothing, back to back.
          ReportError("the file is " + std::to_string(m_nExpectedBytes) +
                          " bytes, under 1 MB, so a pass writes nothing",
                      "give --size");
          return false;
        }
        m_nExpectedMB = m_state.m_nFileSizeMB.load();
        OnWrite(m_state);
        if (LastLine() == "WriteThread Started.") return true;
        if (LastLine() == "Open Failed or Canceled") {
          ReportError("cannot open the file for writing",
                      Reason(m_state.m_file.LastError()));
        }
        return false;
      case Command::kRead:
        if (!UseExisting()) return false;
        OnRead(m_state);
        if (m_state.m_pReader && m_state.m_pReader->HasThread()) return true;
        ReportError("cannot read the file", "");
        return false;
      default:
        return false;
    }
  }

  // An "MB" of a fill or rewrite is W writes of Buffer Size KB; say once
  // what that is when it is not 1 MiB. The JSON has mib_per_s instead.
  void NoteWhatAnMBIs() {
    const int kb = m_options.bufferKB;
    if (m_options.command == Command::kRead || kb <= 0 || 1024 % kb == 0) {
      return;
    }
    const int writes = WritesPerMB(kb);
    WriteErr(
        Format("%s: note: --buffer %d does not divide 1024, so an MB in "
               "the lines below is %d write%s of %d KB (%lld bytes), "
               "not 1048576 bytes",
               kProgram, kb, writes, writes == 1 ? "" : "s", kb,
               static_cast<long long>(writes) * kb * 1024));
  }

  // Use Existing on the path: it sets File Size from the file's length.
  bool UseExisting() {
    OnUseExisting(m_state);
    if (LastLine() != "WARNING: Write will destroy this file!") {
      ReportError("cannot open the file", Reason(m_state.m_file.LastError()));
      return false;
    }
    // A read writes nothing: the dialog's warning is not repeated.
    if (m_options.command == Command::kRead) m_nHiddenLine = m_log.Count() - 1;
    // As Use Existing measures it: a block device's size, not its 0.
    TestFile file;
    if (file.Open(m_strPath, OpenMode::kSharedRead)) {
      try {
        m_nExpectedBytes = file.Length();
      } catch (const FileError&) {
      }
    }
    return true;
  }

  // What the dialog's cancel or toggle control does.
  void StopRun() {
    m_state.m_workers.Reap();
    switch (m_options.command) {
      case Command::kCreate:
        if (m_state.m_workers.Running() > 0) OnCancelInit(m_state);
        break;
      case Command::kWrite:
        if (m_state.m_workers.Running() > 0 && m_state.m_bWriting.load()) {
          OnWrite(m_state);
        }
        break;
      case Command::kRead:
        if (m_state.m_pReader) OnRead(m_state);  // waits at most 1 s
        break;
      default:
        break;
    }
  }

  bool StillRunning() {
    m_state.m_workers.Reap();
    return m_state.m_workers.Running() > 0 || m_state.m_pReader != nullptr;
  }

  bool Finished() {
    if (m_options.command == Command::kRead) {
      if (!m_state.m_pReader) return true;
      if (m_nPasses >= m_options.passes || m_bFailed) {
        // The reader has ended by itself; the toggle stops and destroys it.
        Pump();
        OnRead(m_state);
        return true;
      }
      return false;
    }
    m_state.m_workers.Reap();
    return m_state.m_workers.Running() == 0;
  }

  // Moves worker lines into the log and prints everything new.
  void Pump() {
    m_log.Drain();
    std::vector<PassRecord> passes = m_listener.TakePasses();
    const bool anything = m_nPrinted < m_log.Count() || !passes.empty();
    if (anything) ClearProgress();
    for (; m_nPrinted < m_log.Count(); ++m_nPrinted) {
      if (m_nPrinted == m_nHiddenLine) continue;
      const std::string_view line = m_log.Line(m_nPrinted);
      // A fill cancelled by Ctrl-C was stopped, not failed.
      const bool failure =
          IsFailureLine(line) && !(m_bStopSent && line == kInitEndedLine);
      if (failure && !m_bFailed) {
        m_bFailed = true;
        m_strFailure = line;
      }
      if (!m_options.json && !m_options.quiet) WriteOut(line);
    }
    // Lines are not kept once printed, so a long run's memory stays flat.
    if (m_nPrinted > 0) {
      m_log.Clear();
      m_nPrinted = 0;
      m_nHiddenLine = SIZE_MAX;  // passed over already
    }
    for (const PassRecord& record : passes) {
      ++m_nPasses;
      if (IsCompletePass(record)) ++m_nCompletePasses;
      if (m_bPhase) {
        m_passes.push_back(record);
      } else if (m_options.json) {
        WriteOut(PassJson(record, m_options.run, m_strPath));
      }
    }
    if (anything && !m_bOutputBroken && std::fflush(stdout) != 0) {
      OutputFailed();
    }
    ShowProgress();
  }

  bool IsCompletePass(const PassRecord& record) const {
    switch (m_options.command) {
      case Command::kWrite:
        return record.mb == m_nExpectedMB;
      case Command::kRead:
        return record.bytes == m_nExpectedBytes;
      default:
        return true;
    }
  }

  int Outcome() {
    const int wanted =
        m_options.command == Command::kCreate ? 1 : m_options.passes;
    if (!m_bFailed && m_nCompletePasses >= wanted && !m_bAbandoned &&
        !m_bOutputBroken) {
      return kExitOk;
    }
    if (m_bErrorReported) return kExitFailed;
    const bool whole = !m_bFailed && m_nCompletePasses >= wanted;
    if (m_bOutputBroken) {
      ReportError("cannot write output",
                  std::strerror(m_nOutputErrno) + PartialFileNote(whole));
    } else if (m_bFailed) {
      const int error = m_listener.Failure();
      ReportError(
          "the run failed",
          (error != 0 ? Reason(error) : m_strFailure) + PartialFileNote(whole));
    } else {
      const std::string detail =
          std::to_string(m_nCompletePasses) + " of " + std::to_string(wanted) +
          (wanted == 1 ? " pass" : " passes") + " completed";
      ReportError(m_bAbandoned ? "abandoned" : "stopped",
                  detail + PartialFileNote(whole));
    }
    return kExitFailed;
  }

  // A fill that did not finish leaves the file it made, part written.
  std::string PartialFileNote(bool whole) const {
    struct stat info {};
    if (m_bPhase || !m_bFillStarted || whole ||
        ::stat(m_strPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
      return {};
    }
    return "; the partial file (" + std::to_string(info.st_size) +
           " bytes) is left behind";
  }

  std::string_view LastLine() const {
    return m_log.Count() == 0 ? std::string_view()
                              : m_log.Line(m_log.Count() - 1);
  }

  void ReportError(std::string_view message, std::string_view detail) {
    m_bErrorReported = true;
    ClearProgress();
    if (m_options.json) {
      WriteErr(ErrorJson(message, m_run, m_strPath, detail));
    } else {
      std::string text = std::string(kProgram) + ": " + m_strPath + ": " +
                         std::string(message);
      if (!detail.empty()) text += ": " + std::string(detail);
      WriteErr(text);
    }
  }

  void WriteOut(std::string_view line) {
    if (m_bOutputBroken) return;
    if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() ||
        std::fputc('\n', stdout) == EOF) {
      OutputFailed();
    }
  }

  void OutputFailed() {
    m_nOutputErrno = errno != 0 ? errno : EIO;
    m_bOutputBroken = true;
  }

  static void WriteErr(std::string_view line) {
    std::string text(line);
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
  }

  void ShowProgress() {
    if (!m_bShowProgress) return;
    const std::optional<ProgressSnapshot> progress = m_listener.Progress();
    if (!progress || progress->seconds < kProgressAfterSeconds) return;
    const auto now = std::chrono::steady_clock::now();
    if (m_bProgressShown && now - m_lastProgress < kProgressEvery) return;
    m_lastProgress = now;
    const double mb = static_cast<double>(progress->bytes) / kBytesPerMB;
    const std::string text =
        Format("\r\033[K  %s pass %d: %.0f MB in %.1f s, %.3f MBs so far",
               progress->run, progress->pass, mb, progress->seconds,
               Rate(mb, progress->seconds));
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
    m_bProgressShown = true;
  }

  void ClearProgress() {
    if (!m_bProgressShown) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    m_bProgressShown = false;
  }

  const CliOptions& m_options;
  const bool m_bPhase;
  const char* m_run;
  const std::string m_strPath;
  const bool m_bShowProgress;
  WakePipe m_wake;
  MessageLog m_log;  // built here, so this thread is the window thread
  CliView m_view;
  CliListener m_listener;
  BenchState m_state;  // last: its end joins the workers before the rest go

  std::vector<PassRecord> m_passes;  // a phase's, in order
  std::size_t m_nPrinted = 0;
  std::size_t m_nHiddenLine = SIZE_MAX;  // a log line not printed
  int m_nPasses = 0;
  int m_nCompletePasses = 0;
  int m_nExpectedMB = 0;
  std::uint64_t m_nExpectedBytes = 0;
  bool m_bFailed = false;
  std::string m_strFailure;  // the first failure line
  bool m_bErrorReported = false;
  bool m_bStopSent = false;
  bool m_bAbandoned = false;
  bool m_bOutputBroken = false;
  int m_nOutputErrno = 0;
  bool m_bFillStarted = false;
  bool m_bProgressShown = false;
  std::chrono::steady_clock::time_point m_lastProgress;
};

// A closed standard descriptor would be handed to the first file opened,
// and the log lines written into the test file. Read-only /dev/null takes
// its place, so that output sent there fails and is reported.
void ReserveStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = ::open("/dev/null", O_RDONLY | O_NOCTTY);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}

}  // namespace

PhaseResult RunPhase(const CliOptions& options) {
  Runner runner(options, /*phase=*/true);
  const int status = runner.Run();
  return PhaseResult{status, runner.Passes()};
}

int RunCommand(const CliOptions& options) {
  Runner runner(options);
  return runner.Run();
}

int CliMain(const std::vector<std::string>& args) {
  ReserveStandardDescriptors();
  const ParseOutcome parsed = ParseCommandLine(args);
  if (parsed.error) {
    const std::string line =
        parsed.error->json
            ? ErrorJson(parsed.error->message)
            : std::string(kProgram) + ": " + parsed.error->message;
    std::fprintf(stderr, "%s\n", line.c_str());
    return kExitUsage;
  }
  const CliOptions& options = *parsed.options;
  switch (options.command) {
    case Command::kHelp:
      std::fputs(HelpText().c_str(), stdout);
      return kExitOk;
    case Command::kVersion:
      std::fputs(VersionText().c_str(), stdout);
      return kExitOk;
    default:
      break;
  }
  // A closed standard output shows up as a failed write, not a signal.
  ::signal(SIGPIPE, SIG_IGN);
  return options.command == Command::kMeasure ? RunMeasure(options)
                                              : RunCommand(options);
}

}  // namespace ferrotick::cli
