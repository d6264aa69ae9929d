#include "cli/measure.h"

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cli/json_output.h"
#include "cli/output.h"
#include "cli/run_driver.h"
#include "core/command_failures.h"
#include "core/log_lines.h"
#include "core/measure_plan.h"
#include "core/measure_summary.h"
#include "core/progress_lines.h"
#include "core/scratch_file.h"

namespace ferrotick::cli {

namespace {

// A phase shows a progress line on a terminal, and with --verbose its log
// lines; it keeps the rates of its passes.
class PhasePresenter : public LinePresenter {
 public:
  PhasePresenter(const CliOptions& options, MeasuredPhase& phase, int passes,
                 Output& out)
      : LinePresenter(out, options.progress && !options.json && !options.quiet),
        m_options(options),
        m_phase(phase),
        m_nPasses(passes) {}

  void OnEvent(const RunEvent& event) override {
    LinePresenter::OnEvent(event);
    if (const auto* pass = std::get_if<PassEvent>(&event)) m_phase.Add(*pass);
    if (m_options.verbose && !m_options.json) {
      ForEachLogLine(event, [this](std::string_view line) { Line(line); });
    }
  }

 private:
  std::optional<std::string> ProgressText(
      const ProgressEvent& latest) override {
    return MeasureProgressLine(m_phase, latest, m_nPasses,
                               m_options.fileSizeMB.value());
  }

  const CliOptions& m_options;
  MeasuredPhase& m_phase;
  const int m_nPasses;
};

}  // namespace

int RunMeasure(const CliOptions& options, StopSignals& signals) {
  MeasureReport report;
  ScratchFile file(CommandName(options.command));
  if (const auto refusal =
          file.CheckPlace(FullPath(options.path), *options.fileSizeMB,
                          /*directOnly=*/false, report)) {
    return Fail(options, *refusal);
  }
  report.bufferKB = options.bufferKB;
  report.direct = options.run.direct;
  const auto warn = [&](const std::string& text) {
    report.warnings.push_back(text);
    if (!options.json) ErrorLine(std::string(kProgram) + ": warning: " + text);
  };
  if (const std::optional<std::string> warning =
          MemoryFileSystemWarning(report.folder, report.facts)) {
    warn(*warning);
  }
  if (const auto refusal = file.Make(report)) return Fail(options, *refusal);
  Output out;
  const std::vector<MeasuredRunPlan> plans =
      MeasurePlan(file.Path(), report.sizeMB, options.bufferKB, options.passes,
                  options.run.direct);
  std::string ended;  // why the measurement ended early, if it did
  for (const MeasuredRunPlan& plan : plans) {
    if (signals.Count() > 0) {
      ended = "stopped";
      break;
    }
    if (plan.description.kind == RunKind::kRead) {
      if (const std::optional<std::string> warning = IgnoredDropWarning(
              file.Path(), report.facts, options.run.direct)) {
        warn(*warning);
      }
    }
    Run run(plan.description);
    if (const int error = run.Open()) {
      ended = "cannot open the test file: " + CommandReason(error);
      break;
    }
    report.phases.push_back(MeasuredPhase{plan.name, {}, 0});
    PhasePresenter presenter(options, report.phases.back(), plan.passes, out);
    const EndEvent end = Drive(run, signals, presenter);
    presenter.ClearProgress();
    ended = WhyThePhaseEnded(plan.name, end, plan.passes);
    if (!ended.empty()) break;
  }
  // A stop signal at any moment is a stop, even one that came as a phase
  // ended whole.
  if (ended.empty() && signals.Count() > 0) ended = "stopped";
  report.complete = ended.empty();

  if (report.MeasuredPasses() > 0) {
    if (options.json) {
      out.Line(MeasureJson(report));
    } else {
      if (options.verbose) out.Line("");
      out.Text(MeasureText(report));
    }
  }
  return Finish(options, out, file.Path(), ended,
                PassesCompleted(report.MeasuredPasses(), PlannedPasses(plans)));
}

}  // namespace ferrotick::cli
