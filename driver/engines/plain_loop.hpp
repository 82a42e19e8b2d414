// The plain pair loop: static blocks of pairs per worker, every window transformed again for
// each pair. The reference the engines are held to.
#pragma once

#include <vector>

#include "driver/pairs.hpp"
#include "driver/engines/windows.hpp"
#include "signal/xcorr.hpp"

namespace xcn {

// Per-worker window buffers, reused for every pair and window.
struct WorkerBuffers {
  std::vector<float> y1, y2, yyc;
  CcWorkspace work;
};

// Correlates and stacks pair (i, j) over the grid windows both records hold, each judged by
// its own record's bound; dist is handed to the kernel as the pair's distance.
void stack_pair(const StationTable& table, const TimeGrid& grid, int i, int j, float dist,
                WorkerBuffers& buffers, Stack& stack);

// Runs the plain pair loop over all workers of the parallel runtime.
void run_pair_loop(const Run& run);

}  // namespace xcn
