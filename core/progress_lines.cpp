#include "core/progress_lines.h"

#include "core/timing.h"

namespace ferrotick {

namespace {

std::string Minutes(double seconds) {
  const int whole = static_cast<int>(seconds + 0.5);
  return whole >= 60 ? Format("%d min %02d s", whole / 60, whole % 60)
                     : Format("%d s", whole);
}

}  // namespace

std::string RunProgressLine(const ProgressEvent& latest) {
  const double mb = static_cast<double>(latest.bytes) / kBytesPerMB;
  return Format("  %s pass %d: %.0f MB in %.1f s, %.3f MBs so far",
                RunName(latest.kind), latest.pass, mb, latest.seconds,
                Rate(mb, latest.seconds));
}

std::string MeasureProgressLine(const MeasuredPhase& phase,
                                const ProgressEvent& latest, int passes,
                                int fileSizeMB) {
  const double passBytes = static_cast<double>(fileSizeMB) * kBytesPerMB;
  const double total = passBytes * passes;
  const double done =
      (latest.pass - 1) * passBytes + static_cast<double>(latest.bytes);
  std::string text = Format("  %s pass %d of %d: %.0f%%", phase.run.c_str(),
                            latest.pass, passes, 100 * done / total);
  if (!phase.rates.empty()) {
    const double rate = phase.rates.back();
    text += Format(", last pass %.1f MiB/s, %.0f s left", rate,
                   (total - done) / kBytesPerMB / rate);
  }
  return text;
}

std::string ProfileFillProgressLine(int fileSizeMB) {
  return Format("  writing the test file of %d MiB", fileSizeMB);
}

std::string ProfileCellProgressLine(const std::string& cell, int run, int runs,
                                    double doneSeconds, double totalSeconds) {
  return Format("  %s, run %d of %d: %.0f%%, %s left", cell.c_str(), run, runs,
                100 * doneSeconds / totalSeconds,
                Minutes(totalSeconds - doneSeconds).c_str());
}

}  // namespace ferrotick
