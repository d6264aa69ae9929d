#include "cli/measure.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli_runner.h"
#include "cli/disk_facts.h"
#include "cli/json_lines.h"
#include "cli/rate_summary.h"
#include "core/timing.h"

namespace ferrotick::cli {

namespace {

constexpr const char* kProgram = "ferrotick-cli";
// Past this share of the file still cached after a drop, the file system
// is taken to ignore the drop.
constexpr double kIgnoredDropShare = 0.5;

void WriteErr(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

void ReportError(const CliOptions& options, const std::string& path,
                 const std::string& message, const std::string& detail) {
  if (options.json) {
    WriteErr(ErrorJson(message, "measure", path, detail));
    return;
  }
  std::string text = std::string(kProgram) + ": " + path + ": " + message;
  if (!detail.empty()) text += ": " + detail;
  WriteErr(text);
}

// The test file: made here, so that nothing of the user's is replaced,
// and removed when the measurement ends however it ends. Only the file
// made here is removed, not one put in its place meanwhile.
class TestFileOnDisk {
 public:
  // A folder gets a new file with a unique name; any other path must name
  // no file yet. Empty on failure, with errno set.
  static std::optional<TestFileOnDisk> Make(const std::string& path,
                                            bool folder) {
    std::string name = path;
    int fd;
    if (folder) {
      if (name.empty() || name.back() != '/') name += '/';
      name += "ferrotick-measure-XXXXXX.tmp";
      fd = ::mkostemps(name.data(), 4, O_CLOEXEC);
    } else {
      fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    }
    if (fd < 0) return std::nullopt;
    struct stat info {};
    ::fstat(fd, &info);
    ::close(fd);
    return TestFileOnDisk(std::move(name), info);
  }

  TestFileOnDisk(TestFileOnDisk&& other) noexcept
      : m_strPath(std::move(other.m_strPath)),
        m_info(other.m_info),
        m_bOwned(std::exchange(other.m_bOwned, false)) {}
  TestFileOnDisk& operator=(TestFileOnDisk&&) = delete;
  ~TestFileOnDisk() {
    struct stat now {};
    if (m_bOwned && ::lstat(m_strPath.c_str(), &now) == 0 &&
        now.st_dev == m_info.st_dev && now.st_ino == m_info.st_ino) {
      ::unlink(m_strPath.c_str());
    }
  }

  const std::string& Path() const { return m_strPath; }

 private:
  TestFileOnDisk(std::string path, const struct stat& info)
      : m_strPath(std::move(path)), m_info(info) {}

  std::string m_strPath;
  struct stat m_info {};
  bool m_bOwned = true;
};

std::string ParentFolder(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Rates from bytes and seconds, in MB of 1,048,576 bytes.
std::vector<double> Rates(const std::vector<PassRecord>& passes) {
  std::vector<double> rates;
  for (const PassRecord& pass : passes) {
    rates.push_back(
        Rate(static_cast<double>(pass.bytes) / kBytesPerMB, pass.seconds));
  }
  return rates;
}

std::string WhatWasMeasured(const CliOptions& options, const DiskFacts& facts,
                            const std::string& folder) {
  return Format(
      "Measured %s on %s in %s: a file of %d MB, transfers of %d KB, page "
      "cache bypassed (%s)%s.",
      facts.fileSystem.c_str(), facts.device.c_str(), folder.c_str(),
      *options.fileSizeMB, options.bufferKB,
      options.run.direct ? "O_DIRECT"
                         : "writes synced to the device, cache dropped "
                           "before reads",
      facts.inMemory ? ", but the file system keeps files in memory" : "");
}

}  // namespace

int RunMeasure(const CliOptions& options) {
  const std::string& given = options.path;
  struct stat info {};
  const bool exists = ::stat(given.c_str(), &info) == 0;
  const bool folder = exists && S_ISDIR(info.st_mode);
  if (exists && !folder) {
    ReportError(options, given, "already exists",
                "measure makes its own test file and removes it afterwards; "
                "give a folder or a new file name");
    return kExitFailed;
  }
  const std::string place = folder ? given : ParentFolder(given);
  const std::optional<DiskFacts> facts = ReadDiskFacts(place);
  if (!facts) {
    ReportError(options, place, "cannot examine the folder",
                std::strerror(errno));
    return kExitFailed;
  }
  const std::uint64_t needed =
      static_cast<std::uint64_t>(*options.fileSizeMB) * kBytesPerMB;
  if (facts->freeBytes < needed) {
    ReportError(options, place, "not enough free space",
                Format("the test file needs %d MB and %llu MB are free; give "
                       "a smaller --size",
                       *options.fileSizeMB,
                       static_cast<unsigned long long>(facts->freeBytes /
                                                       kBytesPerMB)));
    return kExitFailed;
  }
  std::vector<std::string> warnings;
  auto warn = [&](const std::string& text) {
    warnings.push_back(text);
    if (!options.json) WriteErr(std::string(kProgram) + ": warning: " + text);
  };
  if (facts->inMemory) {
    warn(place + " is on " + facts->fileSystem +
         ", which keeps files in memory: the rates are the memory's, not a "
         "disk's");
  }

  // Stop signals are caught from here on, so the file never outlives one.
  StopSignalScope signals;
  std::optional<TestFileOnDisk> file = TestFileOnDisk::Make(given, folder);
  if (!file) {
    ReportError(options, given, "cannot create the test file",
                std::strerror(errno));
    return kExitFailed;
  }

  CliOptions phase = options;
  phase.path = file->Path();
  phase.force = true;  // the file made just now, empty
  phase.run.sync = !options.run.direct;
  phase.run.dropCache = false;
  struct Outcome {
    const char* run;
    std::vector<PassRecord> passes;
  };
  std::vector<Outcome> outcomes;
  int status = kExitOk;
  auto runPhase = [&](Command command, const char* run) {
    if (status != kExitOk || StopSignalScope::Count() > 0) return;
    phase.command = command;
    PhaseResult result = RunPhase(phase);
    status = result.status;
    outcomes.push_back(Outcome{run, std::move(result.passes)});
  };
  runPhase(Command::kCreate, "fill");
  runPhase(Command::kWrite, "write");
  if (status == kExitOk && !options.run.direct && !facts->inMemory) {
    const std::optional<double> cached = CachedShareAfterDrop(file->Path());
    if (cached && *cached > kIgnoredDropShare) {
      warn(
          Format("%s keeps the file in memory after a cache drop (%.0f%% "
                 "still cached): the read rates are the page cache's",
                 facts->fileSystem.c_str(), *cached * 100));
    }
  }
  phase.run.sync = false;
  phase.run.dropCache = !options.run.direct;
  runPhase(Command::kRead, "read");

  bool anyPass = false;
  for (const Outcome& outcome : outcomes) anyPass |= !outcome.passes.empty();
  if (!anyPass) return status;
  const std::string measured = WhatWasMeasured(options, *facts, place);
  if (options.json) {
    MeasureReport report{file->Path(),
                         facts->fileSystem,
                         facts->device,
                         *options.fileSizeMB,
                         options.bufferKB,
                         options.run.direct,
                         status == kExitOk,
                         measured,
                         {},
                         warnings};
    for (const Outcome& outcome : outcomes) {
      report.runs.push_back(MeasuredRun{outcome.run, Rates(outcome.passes)});
    }
    std::printf("%s\n", MeasureJson(report).c_str());
  } else {
    std::vector<SummaryRow> rows;
    for (const Outcome& outcome : outcomes) {
      rows.push_back(SummaryRow{outcome.run, Summarize(Rates(outcome.passes))});
    }
    std::printf("%s%s\n%s", options.quiet ? "" : "\n", measured.c_str(),
                SummaryTable(rows).c_str());
  }
  if (std::fflush(stdout) != 0 && status == kExitOk) {
    ReportError(options, file->Path(), "cannot write output",
                std::strerror(errno));
    status = kExitFailed;
  }
  return status;
}

}  // namespace ferrotick::cli
