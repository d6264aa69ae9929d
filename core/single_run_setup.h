// How one create, write or read asked for by name begins: what refuses it
// before anything is opened, and its file opened once, in the run's own
// mode.
#pragma once

#include <optional>
#include <string>

#include "core/command_failures.h"
#include "core/file_handle.h"
#include "core/run_description.h"

namespace ferrotick {

struct SingleRunAsk {
  RunKind kind = RunKind::kFill;
  std::string path;  // full
  // A rewrite takes the file's length when unset.
  std::optional<int> fileSizeMB;
  int bufferKB = 0;
  int passes = 1;  // write and read
  RunOptions options;
  // Nobody can be asked before a file is replaced, so a fill replaces
  // nothing unless this says so.
  bool replace = false;
};

// Why the run may not begin at all, found before anything is opened.
std::optional<CommandFailure> SingleRunRefusal(const SingleRunAsk& ask);

struct SingleRunSetup {
  RunDescription description;
  FileHandle file;  // open in the run's mode unless it failed
  std::optional<CommandFailure> failure;
  std::string failureLine;  // the log line the window shows first
};

// Opens the file and describes the run; for a rewrite or a read takes the
// length, as the window's Use Existing does (a block device's too).
SingleRunSetup OpenSingleRun(const SingleRunAsk& ask);

// For a fill or a rewrite whose buffer does not divide 1024 KB: what an
// "MB" of its lines is. Nothing otherwise.
std::optional<std::string> WhatAnMBIsNote(RunKind kind, int bufferKB);

// Why `path` can hold no file to measure (a character device, a FIFO, a
// socket, a symbolic link loop), or nothing.
std::optional<std::string> NotAFileToMeasure(const std::string& path);

}  // namespace ferrotick
