#include "cli/single_run.h"

#include <sys/stat.h>

#include <optional>
#include <string>
#include <variant>

#include "cli/json_output.h"
#include "cli/output.h"
#include "cli/run_driver.h"
#include "cli/targets.h"
#include "core/command_failures.h"
#include "core/direct_io.h"
#include "core/file_handle.h"
#include "core/log_lines.h"
#include "core/progress_lines.h"
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
class SinglePresenter : public LinePresenter {
 public:
  SinglePresenter(const CliOptions& options, RunKind kind,
                  const std::string& path, Output& out)
      : LinePresenter(out, options.progress && !options.json),
        m_options(options),
        m_kind(kind),
        m_strPath(path) {}

  void Line(std::string_view line) {
    if (!m_options.json) LinePresenter::Line(line);
  }

  void OnEvent(const RunEvent& event) override {
    LinePresenter::OnEvent(event);
    if (const auto* pass = std::get_if<PassEvent>(&event)) {
      m_latest.reset();
      if (m_options.json) {
        m_out.Line(pass->Complete() ? PassJson(*pass, m_options.run, m_strPath)
                                    : IncompletePassJson(*pass, m_strPath));
      }
    }
    ForEachLogLine(event, [this](std::string_view line) { Line(line); });
    // The window's user presses Read again to end a reader.
    if (std::holds_alternative<EndEvent>(event) && m_kind == RunKind::kRead &&
        !m_bStopShown) {
      Line(StoppingLine(m_kind));
    }
  }

  void OnStop() override {
    if (const char* line = StoppingLine(m_kind)) Line(line);
    m_bStopShown = true;
  }

 private:
  std::optional<std::string> ProgressText(
      const ProgressEvent& latest) override {
    if (latest.seconds < kProgressAfterSeconds) return std::nullopt;
    return RunProgressLine(latest);
  }

  const CliOptions& m_options;
  const RunKind m_kind;
  const std::string& m_strPath;
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

// Opens the run's file once, in the run's own mode, and for a rewrite or a
// read takes its length, which is what the window's Use Existing would set
// File Size to (a block device's size too). Gives 0 or the errno.
int OpenForRun(FileHandle& file, RunKind kind, const RunDescription& run,
               std::uint64_t& length) {
  if (!file.Open(run.path, RunOpenMode(kind), run.options.direct)) {
    return file.LastError();
  }
  if (kind == RunKind::kFill) return 0;
  try {
    length = file.Length();
  } catch (const FileError& e) {
    return e.Errno();
  }
  return 0;
}

// Why the run may not begin at `path`, found before anything is opened.
std::optional<CommandFailure> Refusal(const CliOptions& options, RunKind kind,
                                      const std::string& path) {
  // The window's chooser asks before replacing a file; a command line
  // cannot ask, so it replaces nothing unless told to.
  struct stat existing {};
  if (kind == RunKind::kFill && !options.force &&
      ::lstat(path.c_str(), &existing) == 0) {
    return CommandFailure{S_ISLNK(existing.st_mode)
                              ? "already exists as a symbolic link"
                              : "already exists",
                          "give --force to replace it"};
  }
  if (const std::optional<std::string> what = NotAFileToMeasure(path)) {
    return CommandFailure{*what, ""};
  }
  if (!options.run.direct) return std::nullopt;
  std::optional<DirectRefusal> refusal =
      DirectIORefusal(path, kind == RunKind::kFill,
                      static_cast<std::uint64_t>(options.bufferKB) * 1024);
  if (!refusal) return std::nullopt;
  return CommandFailure{refusal->message, refusal->detail};
}

}  // namespace

int RunSingle(const CliOptions& options, StopSignals& signals) {
  const std::string path = FullPath(options.path);
  const RunKind kind = KindOf(options.command);
  const auto fail = [&](const CommandFailure& failure) {
    return Fail(options, path, failure.message, failure.detail);
  };
  if (const std::optional<CommandFailure> refusal =
          Refusal(options, kind, path)) {
    return fail(*refusal);
  }
  NoteWhatAnMBIs(options);

  Output out;
  SinglePresenter presenter(options, kind, path, out);
  RunDescription description;
  description.kind = kind;
  description.path = path;
  description.fileSizeMB = options.fileSizeMB.value_or(0);
  description.bufferKB = options.bufferKB;
  description.options = options.run;
  description.options.passLimit = kind == RunKind::kFill ? 0 : options.passes;

  FileHandle file;
  std::uint64_t length = 0;
  if (const int error = OpenForRun(file, kind, description, length)) {
    presenter.Line(OpenFailedLine(kind, path));
    out.Flush();
    return fail({WhyNotOpened(kind, error), CommandReason(error)});
  }
  if (kind == RunKind::kWrite && !options.fileSizeMB) {
    description.fileSizeMB = LengthInMB(length);
  }
  if (kind == RunKind::kWrite && description.fileSizeMB == 0) {
    // Passes of 0 MB would write nothing, back to back.
    presenter.Line(UsingLine(path));
    out.Flush();
    return fail({"the file is " + std::to_string(length) +
                     " bytes, under 1 MB, so a pass writes nothing",
                 "give --size"});
  }
  for (const std::string& line :
       OpeningLines(kind, path, description.fileSizeMB, options.bufferKB)) {
    presenter.Line(line);
  }
  Run run(description);
  run.Adopt(std::move(file));
  const EndEvent end = Drive(run, signals, presenter);
  presenter.ClearProgress();
  out.Flush();

  const int wanted = kind == RunKind::kFill ? 1 : options.passes;
  if (const std::optional<CommandFailure> failure =
          RunEndFailure(end, kind, wanted, path, out.Error())) {
    return fail(*failure);
  }
  return kExitOk;
}

}  // namespace ferrotick::cli
