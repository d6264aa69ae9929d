#include "core/log_lines.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <system_error>

#include "core/disk_facts.h"
#include "core/timing.h"

namespace ferrotick {

namespace {

// A line built in place: the pass lines come thousands a second from a
// flood, and a number written by to_chars is what printf writes ("%d",
// "%.3f") without its locale and its parsing. The lines made here are
// short: a rate, two counts and their words.
class LineText {
 public:
  LineText& operator<<(std::string_view text) {
    Put(text.data(), text.size());
    return *this;
  }
  LineText& operator<<(int value) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    Put(digits, static_cast<std::size_t>(end - digits));
    return *this;
  }
  // A rate, as "%.3f" prints it.
  LineText& Rate3(double value) {
    char digits[64];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits,
                                            value, std::chars_format::fixed, 3);
    if (error == std::errc()) {
      Put(digits, static_cast<std::size_t>(end - digits));
    } else {
      *this << std::string_view(Format("%.3f", value));
    }
    return *this;
  }
  std::string_view View() const { return {m_text, m_size}; }
  std::string Take() const { return std::string(View()); }

 private:
  void Put(const char* text, std::size_t n) {
    n = std::min(n, sizeof m_text - m_size);
    std::memcpy(m_text + m_size, text, n);
    m_size += n;
  }

  char m_text[160];
  std::size_t m_size = 0;
};

// The fill's and the writer's progress differ only in their first word.
LineText WriteBasedProgress(const char* prefix, int i, double seconds,
                            int fileSizeMB) {
  LineText text;
  text << prefix;
  text.Rate3(Rate(i, seconds)) << " MBs [" << i << "/" << fileSizeMB << "]";
  return text;
}

LineText InitProgress(int i, double seconds, int fileSizeMB) {
  return WriteBasedProgress("  Init... ", i, seconds, fileSizeMB);
}

LineText InitDone(int fileSizeMB, double seconds) {
  LineText text;
  text << "Init Done: ";
  text.Rate3(Rate(fileSizeMB, seconds)) << "MBs";
  return text;
}

LineText WriteProgress(int i, double seconds, int fileSizeMB) {
  return WriteBasedProgress("  Write... ", i, seconds, fileSizeMB);
}

LineText WrotePass(int n, double seconds) {
  LineText text;
  text << "Wrote " << n << "MB: ";
  text.Rate3(Rate(n, seconds)) << "MBs";
  return text;
}

LineText ReadProgress(int m, double seconds) {
  LineText text;
  text << "  Reading: ";
  text.Rate3(Rate(m, seconds)) << " MBs";
  return text;
}

LineText ReadPass(int m, double seconds) {
  LineText text;
  text << "Read " << m << "MB: ";
  text.Rate3(Rate(m, seconds)) << " MBs";
  return text;
}

struct LineMaker {
  const std::function<void(std::string_view)>& line;

  void operator()(const ProgressEvent& event) const {
    if (!event.point) return;
    switch (event.kind) {
      case RunKind::kFill:
        line(InitProgress(event.mb, event.seconds, event.fileSizeMB).View());
        break;
      case RunKind::kWrite:
        line(WriteProgress(event.mb, event.seconds, event.fileSizeMB).View());
        break;
      case RunKind::kRead:
        line(ReadProgress(event.mb, event.seconds).View());
        break;
    }
  }

  void operator()(const PassEvent& event) const {
    switch (event.kind) {
      case RunKind::kFill:
        // A cancelled or failed fill has no rate to show.
        if (event.Complete()) line(InitDone(event.mb, event.seconds).View());
        break;
      case RunKind::kWrite:
        // A failed write ends the run at once, with no pass line.
        if (event.end != PassEnd::kFailed) {
          line(WrotePass(event.mb, event.seconds).View());
        }
        break;
      case RunKind::kRead:
        line(ReadPass(event.mb, event.seconds).View());
        break;
    }
  }

  void operator()(const EndEvent& event) const {
    if (event.outcome == Outcome::kAbandoned) return;
    const bool failed = event.outcome == Outcome::kFailed;
    const std::string closed = Format("%s Closed.", event.path.c_str());
    switch (event.kind) {
      case RunKind::kFill:
        if (event.outcome == Outcome::kCompleted) {
          line(closed);
        } else {
          line("InitThread Failed or was Canceled.");
          if (failed) line(ReasonLine(event.error));
        }
        break;
      case RunKind::kWrite:
        line(failed ? "WriteThread Failed." : "WriteThread Done.");
        if (failed) line(ReasonLine(event.error));
        line(closed);
        break;
      case RunKind::kRead:
        if (failed) {
          line("Reader Thread Failed");
          line(ReasonLine(event.error));
        }
        break;
    }
  }
};

}  // namespace

std::string InitProgressLine(int i, double seconds, int fileSizeMB) {
  return InitProgress(i, seconds, fileSizeMB).Take();
}

std::string InitDoneLine(int fileSizeMB, double seconds) {
  return InitDone(fileSizeMB, seconds).Take();
}

std::string WriteProgressLine(int i, double seconds, int fileSizeMB) {
  return WriteProgress(i, seconds, fileSizeMB).Take();
}

std::string WrotePassLine(int n, double seconds) {
  return WrotePass(n, seconds).Take();
}

std::string ReadProgressLine(int m, double seconds) {
  return ReadProgress(m, seconds).Take();
}

std::string ReadPassLine(int m, double seconds) {
  return ReadPass(m, seconds).Take();
}

std::string InitializingLine(int fileSizeMB, int bufferKB) {
  return Format("Initializing %dMB w/%dKB bufs", fileSizeMB, bufferKB);
}

std::string ReasonText(int error) {
  // A lock held by a run going or by another program.
  if (error == EWOULDBLOCK || error == EAGAIN) {
    return "in use by a run or another program";
  }
  if (error == EBUSY) return "mounted, or in use by a run or another program";
  return std::strerror(error);
}

std::string ReasonLine(int error) { return "  " + ReasonText(error); }

std::optional<std::string> InMemoryWarning(const std::string& path) {
  // A device node in /dev holds the device's data, not memory's.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  const std::optional<DiskFacts> facts = ReadDiskFacts(path);
  if (!facts || !facts->inMemory) return std::nullopt;
  return Format(
      "WARNING: this file is on %s, in memory: the rates are the "
      "memory's, not a disk's.",
      facts->fileSystem.c_str());
}

std::string UsingLine(const std::string& path) {
  return Format("Using %s", path.c_str());
}

std::string CouldNotOpenLine(const std::string& path) {
  return Format("Couldn't open %s", path.c_str());
}

std::string OpenedLine(const std::string& path) {
  return Format("Opened %s", path.c_str());
}

std::vector<std::string> OpeningLines(RunKind kind, const std::string& path,
                                      int fileSizeMB, int bufferKB) {
  switch (kind) {
    case RunKind::kFill:
      return {path, InitializingLine(fileSizeMB, bufferKB)};
    case RunKind::kWrite:
      return {UsingLine(path), kWriteWarning, OpenedLine(path), "",
              kWriteStarted};
    case RunKind::kRead:
      break;
  }
  return {UsingLine(path), kReaderOpened, kReaderStarted, kReaderStarting};
}

std::string OpenFailedLine(RunKind kind, const std::string& path) {
  return kind == RunKind::kFill ? kOpenFailed : CouldNotOpenLine(path);
}

const char* StoppingLine(RunKind kind) {
  switch (kind) {
    case RunKind::kWrite:
      return kWriteStopping;
    case RunKind::kRead:
      return kReaderStopping;
    case RunKind::kFill:
      break;
  }
  return nullptr;
}

void ForEachLogLine(const RunEvent& event,
                    const std::function<void(std::string_view)>& line) {
  std::visit(LineMaker{line}, event);
}

}  // namespace ferrotick
