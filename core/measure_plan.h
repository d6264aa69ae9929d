// How `measure` measures: on its own test file, a fill with its data on
// the device, then write passes and read passes from the device, all with
// data that neither compresses nor repeats, one transfer at a time.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/disk_facts.h"
#include "core/run_description.h"

namespace ferrotick {

struct MeasuredRunPlan {
  std::string name;  // "fill", "write" or "read"
  int passes = 1;
  RunDescription description;
};

// The runs in order. Without `direct`, writes are synced before each
// pass's clock stops and the file is dropped from the page cache before
// each read pass.
std::vector<MeasuredRunPlan> MeasurePlan(const std::string& path,
                                         int fileSizeMB, int bufferKB,
                                         int passes, bool direct);

// The passes of all the runs.
int PlannedPasses(const std::vector<MeasuredRunPlan>& plan);

// The warning when the test file's `folder` is on a file system that keeps
// files in memory, so every rate is the memory's; or nothing.
std::optional<std::string> MemoryFileSystemWarning(const std::string& folder,
                                                   const DiskFacts& facts);

// Before the read passes: the warning when a cache drop leaves most of
// the file at `path` cached, so the reads would be the page cache's; or
// nothing.
std::optional<std::string> IgnoredDropWarning(const std::string& path,
                                              const DiskFacts& facts,
                                              bool direct);

}  // namespace ferrotick
