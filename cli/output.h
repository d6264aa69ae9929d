// Standard output and error for the command line: a failure to write is
// remembered (a closed pipe, a full disk), never a signal.
#pragma once

#include <string>
#include <string_view>

#include "cli/command_line.h"
#include "core/test_place.h"
#include "core/timing.h"

namespace ferrotick::cli {

class Output {
 public:
  // One line on standard output.
  void Line(std::string_view line);
  // Lines that end in their own line ends.
  void Text(std::string_view text);
  void Flush();
  bool Broken() const { return m_error != 0; }
  int Error() const { return m_error; }

 private:
  int m_error = 0;
};

// One line on standard error, at once.
void ErrorLine(std::string_view line);

// "ferrotick-cli: PATH: MESSAGE: DETAIL", or the same as a JSON object.
void ReportError(bool json, std::string_view run, std::string_view path,
                 std::string_view message, std::string_view detail = {});
// Reports the error of the command `options` asked for; gives the status
// to exit with.
int Fail(const CliOptions& options, std::string_view path,
         std::string_view message, std::string_view detail = {});
int Fail(const CliOptions& options, const PlaceRefusal& refusal);

// Flushes standard output and gives the exit status of a command that
// printed its summary there: a failure when it could not be written, or
// when `ended` says why the command ended early (`detail`: how far it got).
int Finish(const CliOptions& options, Output& out, std::string_view path,
           std::string_view ended, std::string_view detail);

// A live line on standard error for a terminal: rewritten in place, at
// most a few times a second, and cleared before anything else prints.
class ProgressLine {
 public:
  explicit ProgressLine(bool wanted);
  // True when a line may be shown now (a terminal, and not too soon).
  bool Due() const;
  void Show(const std::string& text);
  void Clear();

 private:
  const bool m_bWanted;
  bool m_bShown = false;
  ClockValue m_lastShown = 0;
};

}  // namespace ferrotick::cli
