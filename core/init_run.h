// Create, its cancel control, and the fill that Create starts.
#pragma once

#include "core/bench_state.h"

namespace ferrotick {

void OnCreate(BenchState& state);
void OnCancelInit(BenchState& state);
// 1 after a successful fill, 0 after a failed or cancelled one.
int InitThread(BenchState& state, TestFile file);

}  // namespace ferrotick
