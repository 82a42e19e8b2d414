// The plain pair loop: each worker its static block of pairs, each pair window by window.
#include "driver/plain_loop.hpp"

#include <omp.h>

#include <algorithm>

#include "driver/geometry.hpp"
#include "driver/result_writer.hpp"
#include "signal/stats.hpp"

namespace xcn {

void stack_pair(const StationTable& table, int i, int j, int nptend, const WindowSettings& w,
                float dt, float dist, WorkerBuffers& buffers, Stack& stack) {
  const int nptlen = w.nptlen;
  const std::size_t len = static_cast<std::size_t>(nptlen);
  buffers.y1.resize(len);
  buffers.y2.resize(len);
  buffers.yyc.resize(len);
  stack.reset(nptlen);

  const float* row1 = table.row(i);
  const float* row2 = table.row(j);
  const float bound1 = rejection_bound(std(std::span<const float>(row1, kCapacity), nptend));
  const float bound2 = rejection_bound(std(std::span<const float>(row2, kCapacity), nptend));
  for (const std::size_t offset : window_offsets(w, nptend)) {
    std::copy_n(row1 + offset, len, buffers.y1.begin());
    std::copy_n(row2 + offset, len, buffers.y2.begin());
    if (window_accepted(std(buffers.y1, nptlen), bound1, std(buffers.y2, nptlen), bound2)) {
      // The second station's window goes first: a positive lag is a later arrival there.
      ccfunction(buffers.y2, buffers.y1, dt, nptlen, buffers.yyc, kTimelen, dist, stack.count(),
                 buffers.work);
      stack.add(buffers.yyc);
    }
  }
  stack.finish();
}

namespace {

void run_pair(const Run& run, int ij, WorkerBuffers& buffers, Stack& stack) {
  if (!pair_wanted(run, ij)) return;
  const int i = run.pairs->ni(ij);
  const int j = run.pairs->nj(ij);
  const StationTable& t = *run.table;
  const Geometry g = pair_geometry(t.station(i), t.station(j));
  const WindowSettings w = window_settings(run.last.dt);
  stack_pair(t, i, j, pair_nptend(run, i, j), w, run.last.dt, static_cast<float>(g.dist), buffers,
             stack);
  finish_pair(run, ij, g, stack);
}

}  // namespace

void run_pair_loop(const Run& run) {
  const int nij = run.pairs->size();
#pragma omp parallel
  {
    const Block block = worker_block(nij, omp_get_num_threads(), omp_get_thread_num());
    WorkerBuffers buffers;
    Stack stack;
    for (int ij = block.first; ij <= block.last; ++ij) run_pair(run, ij, buffers, stack);
  }
}

}  // namespace xcn
