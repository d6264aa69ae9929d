#include "cli/single_run.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <variant>

#include "cli/json_output.h"
#include "cli/output.h"
#include "cli/run_driver.h"
#include "cli/targets.h"
#include "core/direct_io.h"
#include "core/file_handle.h"
#include "core/log_lines.h"
#include "core/timing.h"

namespace ferrotick::cli {

namespace {

constexpr double kProgressAfterSeconds = 1.0;

RunKind KindOf(Command command) {
  switch (command) {
    case Command::kWrite:
      return RunKind::kWrite;
    case Command::kRead:
      return RunKind::kRead;
    default:
      return RunKind::kFill;
  }
}

// The run's lines as the window shows them, with the toggles' lines where
// the window's user would press them; or one JSON object per pass.
class SinglePresenter : public RunPresenter {
 public:
  SinglePresenter(const CliOptions& options, const std::string& path,
                  Output& out)
      : m_options(options),
        m_strPath(path),
        m_out(out),
        m_progress(options.progress && !options.json) {}

  void Line(std::string_view line) {
    if (m_options.json) return;
    m_progress.Clear();
    m_out.Line(line);
  }

  void OnEvent(const RunEvent& event) override {
    if (const auto* progress = std::get_if<ProgressEvent>(&event)) {
      m_latest = *progress;
    } else if (const auto* pass = std::get_if<PassEvent>(&event)) {
      m_latest.reset();
      if (m_options.json) {
        m_out.Line(pass->Complete() ? PassJson(*pass, m_options.run, m_strPath)
                                    : IncompletePassJson(*pass, m_strPath));
      }
    }
    ForEachLogLine(event, [this](std::string_view line) { Line(line); });
    // The window's user presses Read again to end a reader.
    if (std::holds_alternative<EndEvent>(event) &&
        m_options.command == Command::kRead && !m_bStopShown) {
      Line(kReaderStopping);
    }
  }

  void OnStop() override {
    if (m_options.command == Command::kWrite) Line(kWriteStopping);
    if (m_options.command == Command::kRead) Line(kReaderStopping);
    m_bStopShown = true;
  }

  void OnIdle() override {
    m_out.Flush();
    if (!m_latest || m_latest->seconds < kProgressAfterSeconds ||
        !m_progress.Due()) {
      return;
    }
    const double mb = static_cast<double>(m_latest->bytes) / kBytesPerMB;
    m_progress.Show(Format("  %s pass %d: %.0f MB in %.1f s, %.3f MBs so far",
                           RunName(m_latest->kind), m_latest->pass, mb,
                           m_latest->seconds, Rate(mb, m_latest->seconds)));
  }

  bool Broken() const override { return m_out.Broken(); }
  void ClearProgress() { m_progress.Clear(); }

 private:
  const CliOptions& m_options;
  const std::string& m_strPath;
  Output& m_out;
  ProgressLine m_progress;
  std::optional<ProgressEvent> m_latest;
  bool m_bStopShown = false;
};

// An "MB" of a fill or rewrite is W writes of Buffer Size KB; say once what
// that is when it is not 1 MiB. The JSON has mib_per_s instead.
void NoteWhatAnMBIs(const CliOptions& options) {
  const int kb = options.bufferKB;
  if (options.json || options.command == Command::kRead || 1024 % kb == 0) {
    return;
  }
  const int writes = WritesPerMB(kb);
  ErrorLine(Format(
      "%s: note: --buffer %d does not divide 1024, so an MB in the lines "
      "below is %d write%s of %d KB (%lld bytes), not 1048576 bytes",
      kProgram, kb, writes, writes == 1 ? "" : "s", kb,
      static_cast<long long>(writes) * kb * 1024));
}

// A fill that did not finish leaves the file it made, part written.
std::string PartialFileNote(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
  return "; the partial file (" + std::to_string(info.st_size) +
         " bytes) is left behind";
}

}  // namespace

int RunSingle(const CliOptions& options, StopSignals& signals) {
  const std::string path = FullPath(options.path);
  const RunKind kind = KindOf(options.command);
  const char* name = CommandName(options.command);
  const auto fail = [&](const std::string& message, const std::string& detail) {
    ReportError(options.json, name, path, message, detail);
    return kExitFailed;
  };
  // The window's chooser asks before replacing a file; a command line
  // cannot ask, so it replaces nothing unless told to.
  struct stat existing {};
  if (kind == RunKind::kFill && !options.force &&
      ::lstat(path.c_str(), &existing) == 0) {
    return fail(S_ISLNK(existing.st_mode) ? "already exists as a symbolic link"
                                          : "already exists",
                "give --force to replace it");
  }
  if (const std::optional<std::string> refusal = NotAFileToMeasure(path)) {
    return fail(*refusal, "");
  }
  if (options.run.direct) {
    if (std::optional<DirectRefusal> refusal = DirectIORefusal(
            path, kind == RunKind::kFill,
            static_cast<std::uint64_t>(options.bufferKB) * 1024)) {
      return fail(refusal->message, refusal->detail);
    }
  }
  NoteWhatAnMBIs(options);

  Output out;
  SinglePresenter presenter(options, path, out);
  RunDescription description;
  description.kind = kind;
  description.path = path;
  description.fileSizeMB = options.fileSizeMB.value_or(0);
  description.bufferKB = options.bufferKB;
  description.options = options.run;
  description.options.passLimit = kind == RunKind::kFill ? 0 : options.passes;

  FileHandle file;
  if (kind == RunKind::kFill) {
    if (!file.Open(path, OpenMode::kCreate, options.run.direct)) {
      presenter.Line(kOpenFailed);
      out.Flush();
      return fail("cannot create the file", Reason(file.LastError()));
    }
    presenter.Line(path);
    presenter.Line(InitializingLine(description.fileSizeMB, options.bufferKB));
  } else {
    // Opened once, in the run's own mode; its length is what the window's
    // Use Existing would set File Size to (a block device's size too).
    std::uint64_t length = 0;
    const OpenMode mode = kind == RunKind::kWrite ? OpenMode::kSharedWrite
                                                  : OpenMode::kSharedRead;
    bool opened = file.Open(path, mode, options.run.direct);
    int error = file.LastError();
    try {
      if (opened) length = file.Length();
    } catch (const FileError& e) {
      opened = false;
      error = e.Errno();
    }
    if (!opened) {
      presenter.Line(CouldNotOpenLine(path));
      out.Flush();
      // Said as the window would: it cannot be used at all, or only not
      // written.
      const bool onlyNotWritten =
          kind == RunKind::kWrite &&
          (error == EBUSY || error == EACCES || error == EROFS ||
           error == EPERM || error == ETXTBSY);
      return fail(onlyNotWritten ? "cannot open the file for writing"
                                 : "cannot open the file",
                  Reason(error));
    }
    presenter.Line(UsingLine(path));
    if (kind == RunKind::kWrite) {
      if (!options.fileSizeMB) description.fileSizeMB = LengthInMB(length);
      if (description.fileSizeMB == 0) {
        // Passes of 0 MB would write nothing, back to back.
        out.Flush();
        return fail("the file is " + std::to_string(length) +
                        " bytes, under 1 MB, so a pass writes nothing",
                    "give --size");
      }
      presenter.Line(kWriteWarning);
      presenter.Line(OpenedLine(path));
      presenter.Line("");
      presenter.Line(kWriteStarted);
    } else {
      presenter.Line(kReaderOpened);
      presenter.Line(kReaderStarted);
      presenter.Line(kReaderStarting);
    }
  }
  Run run(description);
  run.Adopt(std::move(file));
  const EndEvent end = DriveRun(run, signals, presenter);
  presenter.ClearProgress();
  out.Flush();

  const int wanted = kind == RunKind::kFill ? 1 : options.passes;
  const bool whole = end.completePasses >= wanted;
  const std::string partial =
      kind == RunKind::kFill && !whole ? PartialFileNote(path) : "";
  const std::string done = std::to_string(end.completePasses) + " of " +
                           std::to_string(wanted) +
                           (wanted == 1 ? " pass" : " passes") + " completed";
  if (out.Broken()) {
    return fail("cannot write output", std::strerror(out.Error()) + partial);
  }
  switch (end.outcome) {
    case Outcome::kCompleted:
      if (whole) return kExitOk;
      return fail("the run failed", done + partial);
    case Outcome::kFailed:
      return fail("the run failed", Reason(end.error) + partial);
    case Outcome::kStopped:
      return fail("stopped", done + partial);
    case Outcome::kAbandoned:
      return fail("abandoned", done + partial);
  }
  return kExitFailed;
}

}  // namespace ferrotick::cli
