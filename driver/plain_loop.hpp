// The plain pair loop: static blocks of pairs per worker, every window transformed again for
// each pair. The reference the engines are held to.
#pragma once

#include <vector>

#include "driver/pairs.hpp"
#include "driver/windows.hpp"
#include "signal/xcorr.hpp"

namespace xcn {

// Per-worker window buffers, reused for every pair and window.
struct WorkerBuffers {
  std::vector<float> y1, y2, yyc;
  CcWorkspace work;
};

// Correlates and stacks pair (i, j) over the first nptend samples of both rows; dt and dist
// are handed to the kernel as the pair's sampling interval and distance.
void stack_pair(const StationTable& table, int i, int j, int nptend, const WindowSettings& w,
                float dt, float dist, WorkerBuffers& buffers, Stack& stack);

// Runs the plain pair loop over all workers of the parallel runtime.
void run_pair_loop(const Run& run);

}  // namespace xcn
