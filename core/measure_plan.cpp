#include "core/measure_plan.h"

#include "core/timing.h"

namespace ferrotick {

namespace {

// Past this share of the file still cached after a drop, the file system
// is taken to ignore the drop.
constexpr double kIgnoredDropShare = 0.5;

}  // namespace

std::vector<MeasuredRunPlan> MeasurePlan(const std::string& path,
                                         int fileSizeMB, int bufferKB,
                                         int passes, bool direct) {
  std::vector<MeasuredRunPlan> plan;
  for (const RunKind kind : {RunKind::kFill, RunKind::kWrite, RunKind::kRead}) {
    MeasuredRunPlan run;
    run.name = kind == RunKind::kFill    ? "fill"
               : kind == RunKind::kWrite ? "write"
                                         : "read";
    run.passes = kind == RunKind::kFill ? 1 : passes;
    RunDescription& description = run.description;
    description.kind = kind;
    description.path = path;
    description.fileSizeMB = fileSizeMB;
    description.bufferKB = bufferKB;
    description.options.direct = direct;
    description.options.sync = !direct && kind != RunKind::kRead;
    description.options.dropCache = !direct && kind == RunKind::kRead;
    description.options.passLimit = kind == RunKind::kFill ? 0 : passes;
    description.options.pattern = DataPattern::kRandom;
    plan.push_back(std::move(run));
  }
  return plan;
}

int PlannedPasses(const std::vector<MeasuredRunPlan>& plan) {
  int count = 0;
  for (const MeasuredRunPlan& run : plan) count += run.passes;
  return count;
}

std::optional<std::string> MemoryFileSystemWarning(const std::string& folder,
                                                   const DiskFacts& facts) {
  if (!facts.inMemory) return std::nullopt;
  return folder + " is on " + facts.fileSystem +
         ", which keeps files in memory: the rates are the memory's, not a "
         "disk's";
}

std::optional<std::string> IgnoredDropWarning(const std::string& path,
                                              const DiskFacts& facts,
                                              bool direct) {
  if (direct || facts.inMemory) return std::nullopt;
  const std::optional<double> cached = CachedShareAfterDrop(path);
  if (!cached || *cached <= kIgnoredDropShare) return std::nullopt;
  return Format(
      "%s keeps the file in memory after a cache drop (%.0f%% still "
      "cached): the read rates are the page cache's",
      facts.fileSystem.c_str(), *cached * 100);
}

}  // namespace ferrotick
