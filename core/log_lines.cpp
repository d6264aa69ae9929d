#include "core/log_lines.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "core/disk_facts.h"
#include "core/timing.h"

namespace ferrotick {

namespace {

struct LineMaker {
  const std::function<void(std::string)>& line;

  void operator()(const ProgressEvent& event) const {
    if (!event.point) return;
    switch (event.kind) {
      case RunKind::kFill:
        line(InitProgressLine(event.mb, event.seconds, event.fileSizeMB));
        break;
      case RunKind::kWrite:
        line(WriteProgressLine(event.mb, event.seconds, event.fileSizeMB));
        break;
      case RunKind::kRead:
        line(ReadProgressLine(event.mb, event.seconds));
        break;
    }
  }

  void operator()(const PassEvent& event) const {
    switch (event.kind) {
      case RunKind::kFill:
        // A cancelled or failed fill has no rate to show.
        if (event.Complete()) line(InitDoneLine(event.mb, event.seconds));
        break;
      case RunKind::kWrite:
        // A failed write ends the run at once, with no pass line.
        if (event.end != PassEnd::kFailed) {
          line(WrotePassLine(event.mb, event.seconds));
        }
        break;
      case RunKind::kRead:
        line(ReadPassLine(event.mb, event.seconds));
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
  return Format("  Init... %.3f MBs [%d/%d]", Rate(i, seconds), i, fileSizeMB);
}

std::string InitDoneLine(int fileSizeMB, double seconds) {
  return Format("Init Done: %.3fMBs", Rate(fileSizeMB, seconds));
}

std::string WriteProgressLine(int i, double seconds, int fileSizeMB) {
  return Format("  Write... %.3f MBs [%d/%d]", Rate(i, seconds), i, fileSizeMB);
}

std::string WrotePassLine(int n, double seconds) {
  return Format("Wrote %dMB: %.3fMBs", n, Rate(n, seconds));
}

std::string ReadProgressLine(int m, double seconds) {
  return Format("  Reading: %.3f MBs", Rate(m, seconds));
}

std::string ReadPassLine(int m, double seconds) {
  return Format("Read %dMB: %.3f MBs", m, Rate(m, seconds));
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
  return Format("WARNING: this file is on %s, in memory: the rates are the "
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

void ForEachLogLine(const RunEvent& event,
                    const std::function<void(std::string)>& line) {
  std::visit(LineMaker{line}, event);
}

}  // namespace ferrotick
