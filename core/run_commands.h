// The window's commands that start and stop runs: Create and its cancel
// control, and the Write and Read toggles.
#pragma once

#include "core/bench_state.h"

namespace ferrotick {

void OnCreate(BenchState& state);
void OnCancelInit(BenchState& state);
void OnWrite(BenchState& state);
void OnRead(BenchState& state);

}  // namespace ferrotick
