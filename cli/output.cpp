#include "cli/output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/json_output.h"
#include "core/timing.h"

namespace ferrotick::cli {

namespace {

constexpr double kProgressEverySeconds = 0.2;

}  // namespace

void Output::Line(std::string_view line) {
  Text(line);
  Text("\n");
}

void Output::Text(std::string_view text) {
  if (!Broken() &&
      std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
    m_error = errno != 0 ? errno : EIO;
  }
}

void Output::Flush() {
  if (!Broken() && std::fflush(stdout) != 0) m_error = errno != 0 ? errno : EIO;
}

void ErrorLine(std::string_view line) {
  std::string text(line);
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

void ReportError(bool json, std::string_view run, std::string_view path,
                 std::string_view message, std::string_view detail) {
  if (json) {
    ErrorLine(ErrorJson(message, run, path, detail));
    return;
  }
  std::string text = std::string(kProgram) + ": ";
  if (!path.empty()) text += std::string(path) + ": ";
  text += message;
  if (!detail.empty()) text += ": " + std::string(detail);
  ErrorLine(text);
}

int Fail(const CliOptions& options, std::string_view path,
         std::string_view message, std::string_view detail) {
  ReportError(options.json, CommandName(options.command), path, message,
              detail);
  return kExitFailed;
}

int Fail(const CliOptions& options, const PlaceRefusal& refusal) {
  return Fail(options, refusal.where, refusal.failure.message,
              refusal.failure.detail);
}

int Finish(const CliOptions& options, Output& out, std::string_view path,
           std::string_view ended, std::string_view detail) {
  out.Flush();
  if (out.Broken()) {
    return Fail(options, path, "cannot write output",
                std::strerror(out.Error()));
  }
  return ended.empty() ? kExitOk : Fail(options, path, ended, detail);
}

ProgressLine::ProgressLine(bool wanted)
    : m_bWanted(wanted && ::isatty(STDERR_FILENO)) {}

bool ProgressLine::Due() const {
  return m_bWanted && SecondsSince(m_lastShown) >= kProgressEverySeconds;
}

void ProgressLine::Show(const std::string& text) {
  if (!m_bWanted) return;
  m_lastShown = ReadClock();
  const std::string line = "\r\033[K" + text;
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  m_bShown = true;
}

void ProgressLine::Clear() {
  if (!m_bShown) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  m_bShown = false;
}

}  // namespace ferrotick::cli
