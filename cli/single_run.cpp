#include "cli/single_run.h"

#include <optional>
#include <string>
#include <variant>

#include "cli/json_output.h"
#include "cli/output.h"
#include "cli/run_driver.h"
#include "core/command_failures.h"
#include "core/log_lines.h"
#include "core/progress_lines.h"
#include "core/single_run_setup.h"
#include "core/test_place.h"

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

}  // namespace

int RunSingle(const CliOptions& options, StopSignals& signals) {
  SingleRunAsk ask;
  ask.kind = KindOf(options.command);
  ask.path = FullPath(options.path);
  ask.fileSizeMB = options.fileSizeMB;
  ask.bufferKB = options.bufferKB;
  ask.passes = options.passes;
  ask.options = options.run;
  ask.replace = options.force;
  const auto fail = [&](const CommandFailure& failure) {
    return Fail(options, ask.path, failure.message, failure.detail);
  };
  if (const std::optional<CommandFailure> refusal = SingleRunRefusal(ask)) {
    return fail(*refusal);
  }
  // The JSON has mib_per_s instead.
  if (const std::optional<std::string> note =
          WhatAnMBIsNote(ask.kind, ask.bufferKB);
      note && !options.json) {
    ErrorLine(std::string(kProgram) + ": " + *note);
  }

  Output out;
  SinglePresenter presenter(options, ask.kind, ask.path, out);
  SingleRunSetup setup = OpenSingleRun(ask);
  if (setup.failure) {
    presenter.Line(setup.failureLine);
    out.Flush();
    return fail(*setup.failure);
  }
  const RunDescription& description = setup.description;
  for (const std::string& line :
       OpeningLines(ask.kind, ask.path, description.fileSizeMB, ask.bufferKB)) {
    presenter.Line(line);
  }
  Run run(description);
  run.Adopt(std::move(setup.file));
  const EndEvent end = Drive(run, signals, presenter);
  presenter.ClearProgress();
  out.Flush();

  const int wanted = ask.kind == RunKind::kFill ? 1 : options.passes;
  if (const std::optional<CommandFailure> failure =
          RunEndFailure(end, ask.kind, wanted, ask.path, out.Error())) {
    return fail(*failure);
  }
  return kExitOk;
}

}  // namespace ferrotick::cli
