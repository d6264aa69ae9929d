#include "cli/profile.h"

#include <optional>
#include <random>
#include <string>
#include <variant>

#include "cli/json_output.h"
#include "cli/output.h"
#include "cli/run_driver.h"
#include "cli/test_file.h"
#include "core/command_failures.h"
#include "core/disk_profile.h"
#include "core/profile_summary.h"
#include "core/progress_lines.h"
#include "core/timing.h"

namespace ferrotick::cli {

namespace {

std::uint64_t DrawSeed() {
  std::random_device device;
  return (static_cast<std::uint64_t>(device()) << 32 ^ device()) &
         // Small enough to type back in, as JSON numbers go.
         ((std::uint64_t{1} << 53) - 1);
}

// Keeps each run of a cell measured, and shows where the profile is on a
// terminal: the step under way and the time left, from the clock alone;
// the transfers are never asked.
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
    if (m_step->cell < 0) {
      m_line.Show(ProfileFillProgressLine(m_report.sizeMB));
      return;
    }
    const double span = m_report.warmupSeconds + m_report.seconds;
    const int steps = static_cast<int>(m_report.cells.size()) * m_report.runs;
    const int before = m_step->cell * m_report.runs + m_step->run - 1;
    const double into = std::min(SecondsSince(m_stepStart), span);
    m_line.Show(ProfileCellProgressLine(CellName(m_report.cells[m_step->cell]),
                                        m_step->run, m_report.runs,
                                        before * span + into, steps * span));
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
  TestFile file(options);
  if (!file.CheckPlace(report) || !file.Make(report)) return kExitFailed;
  ProfileDescription description;
  description.path = file.Path();
  description.fileBytes =
      static_cast<std::uint64_t>(report.sizeMB) * kBytesPerMB;
  description.seconds = options.seconds;
  description.warmupSeconds = WarmupSeconds(options.seconds);
  description.runs = options.runs;
  description.seed = options.seed ? *options.seed : DrawSeed();

  report.seconds = description.seconds;
  report.warmupSeconds = description.warmupSeconds;
  report.runs = description.runs;
  report.seed = description.seed;
  report.cells = description.cells;
  report.measured.resize(report.cells.size());

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

  int measuredRuns = 0;
  for (const std::vector<CellRun>& runs : report.measured) {
    measuredRuns += static_cast<int>(runs.size());
  }
  Output out;
  if (measuredRuns > 0) {
    if (options.json) {
      out.Line(ProfileJson(report));
    } else {
      out.Text(ProfileText(report));
    }
  }
  return Finish(options, out, file.Path(), WhyTheProfileEnded(end, report),
                Format("%d of %d runs measured", measuredRuns,
                       static_cast<int>(report.cells.size()) * report.runs));
}

}  // namespace ferrotick::cli
