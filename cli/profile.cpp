#include "cli/profile.h"

#include <optional>
#include <string>
#include <variant>

#include "cli/json_output.h"
#include "cli/output.h"
#include "cli/run_driver.h"
#include "core/command_failures.h"
#include "core/disk_profile.h"
#include "core/profile_summary.h"
#include "core/scratch_file.h"
#include "core/timing.h"

namespace ferrotick::cli {

namespace {

// Keeps each run of a cell measured, and shows where the profile is on a
// terminal.
class StepPresenter : public ProfilePresenter {
 public:
  StepPresenter(ProfileReport& report, bool wanted)
      : m_report(report), m_line(wanted) {}

  void OnEvent(const ProfileEvent& event) override {
    if (const auto* step = std::get_if<ProfileStep>(&event)) {
      m_step = *step;
      m_stepStart = ReadClock();
    } else if (const auto* run = std::get_if<CellRun>(&event)) {
      m_report.measured[run->cell].push_back(*run);
    }
  }
  void OnIdle() override {
    if (!m_step || !m_line.Due()) return;
    m_line.Show(
        ProfileProgressLine(m_report, *m_step, SecondsSince(m_stepStart)));
  }
  void ClearProgress() { m_line.Clear(); }

 private:
  ProfileReport& m_report;
  ProgressLine m_line;
  std::optional<ProfileStep> m_step;
  ClockValue m_stepStart = 0;
};

}  // namespace

int RunProfile(const CliOptions& options, StopSignals& signals) {
  ProfileReport report;
  ScratchFile file(CommandName(options.command));
  // A profile transfers with direct I/O only.
  std::optional<PlaceRefusal> refusal = file.CheckPlace(
      FullPath(options.path), *options.fileSizeMB, /*directOnly=*/true, report);
  if (!refusal) refusal = file.Make(report);
  if (refusal) return Fail(options, *refusal);
  ProfileDescription description;
  description.path = file.Path();
  description.fileBytes =
      static_cast<std::uint64_t>(report.sizeMB) * kBytesPerMB;
  description.seconds = options.seconds;
  description.warmupSeconds = WarmupSeconds(options.seconds);
  description.runs = options.runs;
  description.seed = options.seed ? *options.seed : DrawSeed();
  report.Expect(description);

  ProfileEnd end;
  {
    DiskProfile profile(description);
    StepPresenter presenter(report, options.progress && !options.json);
    end = Drive(profile, signals, presenter);
    presenter.ClearProgress();
  }
  // A stop signal at any moment is a stop.
  if (end.outcome == Outcome::kCompleted && signals.Count() > 0) {
    end.outcome = Outcome::kStopped;
  }
  report.complete = end.outcome == Outcome::kCompleted;

  Output out;
  if (report.MeasuredCount() > 0) {
    if (options.json) {
      out.Line(ProfileJson(report));
    } else {
      out.Text(ProfileText(report));
    }
  }
  return Finish(options, out, file.Path(), WhyTheProfileEnded(end, report),
                Format("%d of %d runs measured", report.MeasuredCount(),
                       report.AskedCount()));
}

}  // namespace ferrotick::cli
