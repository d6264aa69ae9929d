// The Write toggle and the writer that rewrites the test file in passes.
#pragma once

#include <memory>

#include "core/bench_state.h"

namespace ferrotick {

void OnWrite(BenchState& state);
// 1 when stopped on request, 0 when a write failed. Waits for the writer
// before it (if any) to finish before touching the file.
int WriteThread(BenchState& state, TestFile file,
                std::shared_ptr<WriterTicket> ticket,
                std::shared_ptr<WriterTicket> previous);

}  // namespace ferrotick
