// The log's lines: the texts the window shows (and the command line prints)
// for what the runs tell, byte for byte the same in both.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/run_events.h"

namespace ferrotick {

std::string InitProgressLine(int i, double seconds, int fileSizeMB);
std::string InitDoneLine(int fileSizeMB, double seconds);
std::string WriteProgressLine(int i, double seconds, int fileSizeMB);
std::string WrotePassLine(int n, double seconds);
std::string ReadProgressLine(int m, double seconds);
std::string ReadPassLine(int m, double seconds);

// Lines of the window's commands that the command line shows too.
inline constexpr char kOpenFailed[] = "Open Failed";
inline constexpr char kWriteWarning[] =
    "WARNING: Write will destroy this file!";
inline constexpr char kWriteStarted[] = "WriteThread Started.";
inline constexpr char kWriteStopping[] = "Stopping WriteThread.";
inline constexpr char kReaderOpened[] = "Reader Opened File";
inline constexpr char kReaderStarted[] = "Reader Thread Started";
inline constexpr char kReaderStarting[] = "Starting Reader";
inline constexpr char kReaderStopping[] = "ReadThread Stopping";
std::string InitializingLine(int fileSizeMB, int bufferKB);
// Why something failed, from its errno, in plain words ("Permission
// denied", "in use by another process").
std::string ReasonText(int error);
// The line after a failure line that says why: "  Permission denied".
std::string ReasonLine(int error);
// The warning after a command's lines when `path` is a file held in memory
// (tmpfs, ramfs...), or nothing: its rates would be the memory's.
std::optional<std::string> InMemoryWarning(const std::string& path);
std::string UsingLine(const std::string& path);
std::string CouldNotOpenLine(const std::string& path);
std::string OpenedLine(const std::string& path);

// A run's opening lines as the window shows them for Create, or for Use
// Existing and then Write or Read (a read without the write warning).
std::vector<std::string> OpeningLines(RunKind kind, const std::string& path,
                                      int fileSizeMB, int bufferKB);
// The line when a run's file cannot be opened.
std::string OpenFailedLine(RunKind kind, const std::string& path);
// The line as the window's user stops a run of `kind`; nullptr for a fill,
// whose cancel says nothing.
const char* StoppingLine(RunKind kind);

// Each line the log shows for `event`, in order: none for most progress
// events, a pass line, or a run's closing lines (the path in a closing
// line is the end event's). A line's text lasts until the call returns.
void ForEachLogLine(const RunEvent& event,
                    const std::function<void(std::string_view)>& line);

}  // namespace ferrotick
