// The live line the command line keeps rewriting on a terminal while it
// works: what is under way, and how far along it is.
#pragma once

#include <string>

#include "core/measure_summary.h"
#include "core/run_events.h"

namespace ferrotick {

// A single run: its pass, the MB so far and their rate.
std::string RunProgressLine(const ProgressEvent& latest);

// A phase of `measure` of `passes` passes over `fileSizeMB`: the share of
// the whole phase done, and once a pass has ended its rate and the time
// left at that rate. A rate within a pass is the page cache's until its
// sync, so only whole passes give one.
std::string MeasureProgressLine(const MeasuredPhase& phase,
                                const ProgressEvent& latest, int passes,
                                int fileSizeMB);

// `profile` writing its test file, then running its cells: the seconds
// of all the cells' runs done, of all there are.
std::string ProfileFillProgressLine(int fileSizeMB);
std::string ProfileCellProgressLine(const std::string& cell, int run, int runs,
                                    double doneSeconds, double totalSeconds);

}  // namespace ferrotick
