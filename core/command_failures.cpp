#include "core/command_failures.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "core/log_lines.h"

namespace ferrotick {

std::string CommandReason(int error) {
  if (error == EWOULDBLOCK || error == EAGAIN) {
    return "in use by another process";
  }
  if (error == EBUSY) return "mounted or in use by another process";
  return ReasonText(error);
}

std::string WhyNotOpened(RunKind kind, int error) {
  if (kind == RunKind::kFill) return "cannot create the file";
  const bool onlyNotWritten =
      kind == RunKind::kWrite &&
      (error == EBUSY || error == EACCES || error == EROFS || error == EPERM ||
       error == ETXTBSY);
  return onlyNotWritten ? "cannot open the file for writing"
                        : "cannot open the file";
}

std::optional<CommandFailure> RunEndFailure(const EndEvent& end, RunKind kind,
                                            int wanted, const std::string& path,
                                            int outputError) {
  const bool whole = end.completePasses >= wanted;
  const std::string partial =
      kind == RunKind::kFill && !whole ? PartialFileNote(path) : "";
  const std::string done = PassesCompleted(end.completePasses, wanted);
  if (outputError != 0) {
    return CommandFailure{"cannot write output",
                          std::strerror(outputError) + partial};
  }
  switch (end.outcome) {
    case Outcome::kCompleted:
      if (whole) return std::nullopt;
      return CommandFailure{"the run failed", done + partial};
    case Outcome::kFailed:
      return CommandFailure{"the run failed",
                            CommandReason(end.error) + partial};
    case Outcome::kStopped:
      return CommandFailure{"stopped", done + partial};
    case Outcome::kAbandoned:
      break;
  }
  return CommandFailure{"abandoned", done + partial};
}

std::string PartialFileNote(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
  return "; the partial file (" + std::to_string(info.st_size) +
         " bytes) is left behind";
}

std::string WhyThePhaseEnded(const std::string& run, const EndEvent& end,
                             int passes) {
  if (end.outcome == Outcome::kFailed) {
    return "the " + run + " failed: " + CommandReason(end.error);
  }
  if (end.outcome == Outcome::kCompleted && end.completePasses >= passes) {
    return "";
  }
  return end.outcome == Outcome::kAbandoned ? "abandoned" : "stopped";
}

std::string PassesCompleted(int done, int wanted) {
  return std::to_string(done) + " of " + std::to_string(wanted) +
         (wanted == 1 ? " pass" : " passes") + " completed";
}

}  // namespace ferrotick
