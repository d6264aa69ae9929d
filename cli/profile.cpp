#include "cli/profile.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <variant>

#include "cli/json_output.h"
#include "cli/output.h"
#include "cli/targets.h"
#include "cli/test_place.h"
#include "core/disk_facts.h"
#include "core/disk_profile.h"
#include "core/profile_summary.h"
#include "core/progress_lines.h"
#include "core/scratch_file.h"
#include "core/timing.h"

namespace ferrotick::cli {

namespace {

constexpr int kIdleMs = 100;
// After giving up on the profile: how long its transfers may take to end.
constexpr std::chrono::milliseconds kAbandonWait{1000};

std::uint64_t DrawSeed() {
  std::random_device device;
  return (static_cast<std::uint64_t>(device()) << 32 ^ device()) &
         // Small enough to type back in, as JSON numbers go.
         ((std::uint64_t{1} << 53) - 1);
}

// Shows where the profile is on a terminal: the step under way and the
// time left, from the clock alone; the transfers are never asked.
class ProfileProgress {
 public:
  ProfileProgress(const ProfileReport& report, bool wanted)
      : m_report(report), m_line(wanted) {}

  void OnStep(const ProfileStep& step) {
    m_step = step;
    m_stepStart = ReadClock();
  }
  void Show() {
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
  void Clear() { m_line.Clear(); }

 private:
  const ProfileReport& m_report;
  ProgressLine m_line;
  std::optional<ProfileStep> m_step;
  ClockValue m_stepStart = 0;
};

// Drives the profile from the main thread until it ends: the first stop
// signal asks it to stop, a second gives up on it.
ProfileEnd Drive(DiskProfile& profile, StopSignals& signals,
                 ProfileReport& report, ProfileProgress& progress) {
  if (!profile.Start([&signals] { signals.Wake(); })) {
    return ProfileEnd{Outcome::kFailed, EAGAIN, -1};
  }
  bool stopAsked = false;
  for (;;) {
    for (ProfileEvent& event : profile.Take()) {
      if (const auto* step = std::get_if<ProfileStep>(&event)) {
        progress.OnStep(*step);
      } else if (auto* run = std::get_if<CellRun>(&event)) {
        report.measured[run->cell].push_back(*run);
      } else {
        profile.WaitEnded(kAbandonWait);
        ProfileEnd end = std::get<ProfileEnd>(event);
        // A stop asked for is a stop, even when the profile ran its course
        // meanwhile.
        if (stopAsked && end.outcome == Outcome::kCompleted) {
          end.outcome = Outcome::kStopped;
        }
        return end;
      }
    }
    if (signals.Count() >= 2) {
      profile.Abandon();
      profile.WaitEnded(kAbandonWait);
      return ProfileEnd{Outcome::kAbandoned, 0, -1};
    }
    if (signals.Count() >= 1 && !stopAsked) {
      stopAsked = true;
      profile.RequestStop();
    }
    progress.Show();
    signals.Wait(kIdleMs);
  }
}

// Why the profile ended early, for people; empty when it did not.
std::string WhyItEnded(const ProfileEnd& end, const ProfileReport& report) {
  const std::string where =
      end.cell < 0 ? "the test file"
                   : "the " + CellName(report.cells[end.cell]) + " cell";
  switch (end.outcome) {
    case Outcome::kCompleted:
      return "";
    case Outcome::kStopped:
      return "stopped";
    case Outcome::kAbandoned:
      return "abandoned";
    case Outcome::kFailed:
      break;
  }
  if (end.error == EINVAL) {
    return "cannot write or read " + where +
           " with direct I/O (O_DIRECT): the file system does not support "
           "it, or not with transfers of this size";
  }
  return (end.cell < 0 ? "cannot write " : "") + where +
         (end.cell < 0 ? ": " : " failed: ") + Reason(end.error);
}

}  // namespace

int RunProfile(const CliOptions& options, StopSignals& signals) {
  const int sizeMB = options.fileSizeMB.value();
  const std::optional<TestPlace> place =
      CheckTestPlace(options.path, sizeMB, "profile", options.json);
  if (!place) return kExitFailed;
  const auto fail = [&](const std::string& where, const std::string& message,
                        const std::string& detail) {
    ReportError(options.json, "profile", where, message, detail);
    return kExitFailed;
  };
  if (place->facts.inMemory) {
    return fail(place->folder,
                "is on " + place->facts.fileSystem +
                    ", which keeps files in memory: direct I/O to a disk is "
                    "not possible there",
                "give a folder on a disk");
  }

  ScratchFile file;
  if (!file.Make(place->given, place->isFolder, "ferrotick-profile")) {
    return fail(place->given, "cannot create the test file",
                std::strerror(errno));
  }
  ProfileDescription description;
  description.path = file.Path();
  description.fileBytes = static_cast<std::uint64_t>(sizeMB) * kBytesPerMB;
  description.seconds = options.seconds;
  description.warmupSeconds = WarmupSeconds(options.seconds);
  description.runs = options.runs;
  description.seed = options.seed ? *options.seed : DrawSeed();

  ProfileReport report;
  report.path = file.Path();
  report.folder = place->folder;
  report.facts = place->facts;
  report.sizeMB = sizeMB;
  report.seconds = description.seconds;
  report.warmupSeconds = description.warmupSeconds;
  report.runs = description.runs;
  report.seed = description.seed;
  report.cells = description.cells;
  report.measured.resize(report.cells.size());

  ProfileEnd end;
  {
    DiskProfile profile(description);
    ProfileProgress progress(report, options.progress && !options.json);
    end = Drive(profile, signals, report, progress);
    progress.Clear();
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
  out.Flush();
  if (out.Broken()) {
    return fail(file.Path(), "cannot write output", std::strerror(out.Error()));
  }
  if (!report.complete) {
    return fail(file.Path(), WhyItEnded(end, report),
                Format("%d of %d runs measured", measuredRuns,
                       static_cast<int>(report.cells.size()) * report.runs));
  }
  return kExitOk;
}

}  // namespace ferrotick::cli
