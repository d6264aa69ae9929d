// Why a command of the command line could not begin, failed or ended
// early, in the user's words.
#pragma once

#include <optional>
#include <string>

#include "core/run_events.h"

namespace ferrotick {

struct CommandFailure {
  std::string message;
  std::string detail;
};

// Why an open or a transfer failed. The command line runs one command, so
// a lock it meets is always another process's.
std::string CommandReason(int error);

// Said as the window would: the run's file cannot be used at all, or only
// not written.
std::string WhyNotOpened(RunKind kind, int error);

// How a run that began ended, as a failure: a fill that did not finish
// says what it left at `path`. Nothing when every one of the `wanted`
// passes ran to its end and its lines were written; `outputError` is the
// errno of a failed write of them, or 0.
std::optional<CommandFailure> RunEndFailure(const EndEvent& end, RunKind kind,
                                            int wanted, const std::string& path,
                                            int outputError);
// What a fill that did not finish left at `path`, as the end of a detail:
// "; the partial file (N bytes) is left behind", or nothing.
std::string PartialFileNote(const std::string& path);

// Why a phase of `measure` named `run`, of `passes` passes, that ended with
// `end` ends the measurement early; empty when it does not.
std::string WhyThePhaseEnded(const std::string& run, const EndEvent& end,
                             int passes);
// "3 of 11 passes completed", "0 of 1 pass completed".
std::string PassesCompleted(int done, int wanted);

}  // namespace ferrotick
