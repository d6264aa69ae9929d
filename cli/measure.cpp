#include "cli/measure.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "cli/json_output.h"
#include "cli/output.h"
#include "cli/run_driver.h"
#include "cli/targets.h"
#include "cli/test_place.h"
#include "core/disk_facts.h"
#include "core/log_lines.h"
#include "core/measure_summary.h"
#include "core/progress_lines.h"
#include "core/scratch_file.h"
#include "core/timing.h"

namespace ferrotick::cli {

namespace {

// Past this share of the file still cached after a drop, the file system
// is taken to ignore the drop.
constexpr double kIgnoredDropShare = 0.5;

// A phase shows a progress line on a terminal, and with --verbose its log
// lines; it keeps the rates of its passes.
class PhasePresenter : public RunPresenter {
 public:
  PhasePresenter(const CliOptions& options, MeasuredPhase& phase, int passes,
                 Output& out)
      : m_options(options),
        m_phase(phase),
        m_nPasses(passes),
        m_out(out),
        m_progress(options.progress && !options.json && !options.quiet) {}

  void OnEvent(const RunEvent& event) override {
    if (const auto* progress = std::get_if<ProgressEvent>(&event)) {
      m_latest = *progress;
    } else if (const auto* pass = std::get_if<PassEvent>(&event)) {
      if (pass->Complete()) {
        m_phase.rates.push_back(Rate(
            static_cast<double>(pass->bytes) / kBytesPerMB, pass->seconds));
      } else {
        ++m_phase.incomplete;
      }
    }
    if (m_options.verbose && !m_options.json) {
      ForEachLogLine(event, [this](std::string_view line) {
        m_progress.Clear();
        m_out.Line(line);
      });
    }
  }

  void OnIdle() override {
    m_out.Flush();
    if (!m_latest || !m_progress.Due()) return;
    m_progress.Show(MeasureProgressLine(m_phase, *m_latest, m_nPasses,
                                        m_options.fileSizeMB.value()));
  }

  bool Broken() const override { return m_out.Broken(); }
  void ClearProgress() { m_progress.Clear(); }

 private:
  const CliOptions& m_options;
  MeasuredPhase& m_phase;
  const int m_nPasses;
  Output& m_out;
  ProgressLine m_progress;
  std::optional<ProgressEvent> m_latest;
};

}  // namespace

int RunMeasure(const CliOptions& options, StopSignals& signals) {
  const int sizeMB = options.fileSizeMB.value();
  const std::optional<TestPlace> place =
      CheckTestPlace(options.path, sizeMB, "measure", options.json);
  if (!place) return kExitFailed;
  const DiskFacts* const facts = &place->facts;
  const auto fail = [&](const std::string& where, const std::string& message,
                        const std::string& detail) {
    ReportError(options.json, "measure", where, message, detail);
    return kExitFailed;
  };
  MeasureReport report;
  report.folder = place->folder;
  report.facts = *facts;
  report.sizeMB = sizeMB;
  report.bufferKB = options.bufferKB;
  report.direct = options.run.direct;
  const auto warn = [&](const std::string& text) {
    report.warnings.push_back(text);
    if (!options.json) ErrorLine(std::string(kProgram) + ": warning: " + text);
  };
  if (facts->inMemory) {
    warn(place->folder + " is on " + facts->fileSystem +
         ", which keeps files in memory: the rates are the memory's, not a "
         "disk's");
  }

  ScratchFile file;
  if (!file.Make(place->given, place->isFolder, "ferrotick-measure")) {
    return fail(place->given, "cannot create the test file",
                std::strerror(errno));
  }
  report.path = file.Path();
  Output out;
  struct Plan {
    RunKind kind;
    const char* name;
    int passes;
  };
  const Plan plans[] = {{RunKind::kFill, "fill", 1},
                        {RunKind::kWrite, "write", options.passes},
                        {RunKind::kRead, "read", options.passes}};
  std::string ended;  // why the measurement ended early, if it did
  for (const Plan& plan : plans) {
    if (signals.Count() > 0) {
      ended = "stopped";
      break;
    }
    if (plan.kind == RunKind::kRead && !options.run.direct &&
        !facts->inMemory) {
      const std::optional<double> cached = CachedShareAfterDrop(file.Path());
      if (cached && *cached > kIgnoredDropShare) {
        warn(
            Format("%s keeps the file in memory after a cache drop (%.0f%% "
                   "still cached): the read rates are the page cache's",
                   facts->fileSystem.c_str(), *cached * 100));
      }
    }
    RunDescription description;
    description.kind = plan.kind;
    description.path = file.Path();
    description.fileSizeMB = sizeMB;
    description.bufferKB = options.bufferKB;
    description.options.direct = options.run.direct;
    description.options.sync =
        !options.run.direct && plan.kind != RunKind::kRead;
    description.options.dropCache =
        !options.run.direct && plan.kind == RunKind::kRead;
    description.options.passLimit =
        plan.kind == RunKind::kFill ? 0 : plan.passes;
    description.options.pattern = DataPattern::kRandom;
    Run run(description);
    if (const int error = run.Open()) {
      ended = "cannot open the test file: " + Reason(error);
      break;
    }
    report.phases.push_back(MeasuredPhase{plan.name, {}, 0});
    PhasePresenter presenter(options, report.phases.back(), plan.passes, out);
    const EndEvent end = DriveRun(run, signals, presenter);
    presenter.ClearProgress();
    if (end.outcome == Outcome::kFailed) {
      ended = std::string("the ") + plan.name + " failed: " + Reason(end.error);
    } else if (end.outcome != Outcome::kCompleted ||
               end.completePasses < plan.passes) {
      ended = end.outcome == Outcome::kAbandoned ? "abandoned" : "stopped";
    }
    if (!ended.empty()) break;
  }
  // A stop signal at any moment is a stop, even one that came as a phase
  // ended whole.
  if (ended.empty() && signals.Count() > 0) ended = "stopped";
  report.complete = ended.empty();

  bool anyPass = false;
  for (const MeasuredPhase& phase : report.phases) {
    anyPass |= !phase.rates.empty();
  }
  if (anyPass) {
    if (options.json) {
      out.Line(MeasureJson(report));
    } else {
      if (options.verbose) out.Line("");
      out.Text(MeasureText(report));
    }
  }
  out.Flush();
  if (out.Broken()) {
    return fail(file.Path(), "cannot write output", std::strerror(out.Error()));
  }
  if (!ended.empty()) {
    int passes = 0;
    int wanted = 0;
    for (std::size_t i = 0; i < std::size(plans); ++i) {
      wanted += plans[i].passes;
      if (i < report.phases.size()) {
        passes += static_cast<int>(report.phases[i].rates.size());
      }
    }
    return fail(file.Path(), ended,
                Format("%d of %d passes completed", passes, wanted));
  }
  return kExitOk;
}

}  // namespace ferrotick::cli
