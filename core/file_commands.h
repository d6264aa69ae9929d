// Use Existing and Delete File.
#pragma once

#include "core/bench_state.h"

namespace ferrotick {

void OnUseExisting(BenchState& state);
void OnDeleteFile(BenchState& state);

}  // namespace ferrotick
