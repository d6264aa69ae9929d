// Use Existing and Delete File.
#pragma once

#include "core/bench_state.h"

namespace ferrotick {

void OnUseExisting(BenchState& state);
void OnDeleteFile(BenchState& state);

// A file's length in whole MB, as Use Existing sets File Size.
int LengthInMB(std::uint64_t bytes);

}  // namespace ferrotick
