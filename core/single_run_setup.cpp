#include "core/single_run_setup.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <utility>

#include "core/direct_io.h"
#include "core/log_lines.h"
#include "core/run.h"
#include "core/timing.h"

namespace ferrotick {

std::optional<CommandFailure> SingleRunRefusal(const SingleRunAsk& ask) {
  struct stat existing {};
  if (ask.kind == RunKind::kFill && !ask.replace &&
      ::lstat(ask.path.c_str(), &existing) == 0) {
    return CommandFailure{S_ISLNK(existing.st_mode)
                              ? "already exists as a symbolic link"
                              : "already exists",
                          "give --force to replace it"};
  }
  if (const std::optional<std::string> what = NotAFileToMeasure(ask.path)) {
    return CommandFailure{*what, ""};
  }
  if (!ask.options.direct) return std::nullopt;
  const std::optional<DirectRefusal> refusal =
      DirectIORefusal(ask.path, ask.kind == RunKind::kFill,
                      static_cast<std::uint64_t>(ask.bufferKB) * 1024);
  if (!refusal) return std::nullopt;
  return CommandFailure{refusal->message, refusal->detail};
}

SingleRunSetup OpenSingleRun(const SingleRunAsk& ask) {
  SingleRunSetup setup;
  RunDescription& run = setup.description;
  run.kind = ask.kind;
  run.path = ask.path;
  run.fileSizeMB = ask.fileSizeMB.value_or(0);
  run.bufferKB = ask.bufferKB;
  run.options = ask.options;
  run.options.passLimit = ask.kind == RunKind::kFill ? 0 : ask.passes;
  const auto failed = [&](int error) {
    setup.failure = {WhyNotOpened(ask.kind, error), CommandReason(error)};
    setup.failureLine = OpenFailedLine(ask.kind, ask.path);
    return std::move(setup);
  };
  if (!setup.file.Open(ask.path, RunOpenMode(ask.kind), ask.options.direct)) {
    return failed(setup.file.LastError());
  }
  if (ask.kind == RunKind::kFill) return setup;
  std::uint64_t length = 0;
  if (const int error = setup.file.LengthInto(length)) return failed(error);
  if (ask.kind == RunKind::kWrite && !ask.fileSizeMB) {
    run.fileSizeMB = LengthInMB(length);
    if (run.fileSizeMB == 0) {
      // Passes of 0 MB would write nothing, back to back.
      setup.failure = {"the file is " + std::to_string(length) +
                           " bytes, under 1 MB, so a pass writes nothing",
                       "give --size"};
      setup.failureLine = UsingLine(ask.path);
    }
  }
  return setup;
}

std::optional<std::string> WhatAnMBIsNote(RunKind kind, int bufferKB) {
  if (kind == RunKind::kRead || 1024 % bufferKB == 0) return std::nullopt;
  const int writes = WritesPerMB(bufferKB);
  return Format(
      "note: --buffer %d does not divide 1024, so an MB in the lines below "
      "is %d write%s of %d KB (%lld bytes), not 1048576 bytes",
      bufferKB, writes, writes == 1 ? "" : "s", bufferKB,
      static_cast<long long>(writes) * bufferKB * 1024);
}

std::optional<std::string> NotAFileToMeasure(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno == ELOOP) return "is a symbolic link loop";
    return std::nullopt;
  }
  const char* what = S_ISCHR(info.st_mode)    ? "a character device"
                     : S_ISFIFO(info.st_mode) ? "a FIFO"
                     : S_ISSOCK(info.st_mode) ? "a socket"
                                              : nullptr;
  if (!what) return std::nullopt;
  return std::string("is ") + what +
         ", which holds no data to measure; give a file or a block device";
}

}  // namespace ferrotick
