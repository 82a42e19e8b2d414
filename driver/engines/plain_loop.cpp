// The plain pair loop: each worker its static block of pairs, each pair window by window.
#include "driver/engines/plain_loop.hpp"

#include <omp.h>

#include <algorithm>

#include "driver/geometry.hpp"
#include "driver/results/result_writer.hpp"
#include "signal/stats.hpp"

namespace xcn {

void stack_pair(const StationTable& table, const TimeGrid& grid, int i, int j, float dist,
                WorkerBuffers& buffers, Stack& stack) {
  const WindowSettings& w = grid.settings;
  const int nptlen = w.nptlen;
  const std::size_t len = static_cast<std::size_t>(nptlen);
  buffers.y1.resize(len);
  buffers.y2.resize(len);
  buffers.yyc.resize(len);
  stack.reset(nptlen);

  const GridPlace& p1 = grid.place(i);
  const GridPlace& p2 = grid.place(j);
  const CommonWindows common = common_windows(p1, p2);
  stack.shared = common.count;
  if (common.count == 0) {
    stack.finish();
    return;
  }
  const HeldRecord held1(table, i);
  const HeldRecord held2(table, j);
  const float* row1 = held1.data();
  const float* row2 = held2.data();
  // A record that reads otherwise now stacks nothing; its pair is skipped.
  if (row1 == nullptr || row2 == nullptr) return;
  const auto record = [&](int s, const float* row) {
    return std::span<const float>(row, static_cast<std::size_t>(table.station(s).npts));
  };
  const Gaps gaps1 = find_gaps(record(i, row1), w, grid.dt);
  const Gaps gaps2 = find_gaps(record(j, row2), w, grid.dt);
  const float bound1 = record_bound(record(i, row1), gaps1);
  const float bound2 = record_bound(record(j, row2), gaps2);
  for (long long k = common.first; k < common.first + common.count; ++k) {
    std::copy_n(row1 + p1.offset(k, w), len, buffers.y1.begin());
    std::copy_n(row2 + p2.offset(k, w), len, buffers.y2.begin());
    if (window_taken(std(buffers.y1, nptlen), bound1, gaps1.touch(p1.offset(k, w), len)) &&
        window_taken(std(buffers.y2, nptlen), bound2, gaps2.touch(p2.offset(k, w), len))) {
      // The second station's window goes first: a positive lag is a later arrival there.
      ccfunction(buffers.y2, buffers.y1, grid.dt, nptlen, buffers.yyc, kTimelen, dist,
                 stack.count(), buffers.work);
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
  stack_pair(t, run.time, i, j, static_cast<float>(g.dist), buffers, stack);
  // A record found changed meanwhile: the skip line, and no result.
  if (t.lost(i) || t.lost(j)) {
    pair_wanted(run, ij);
    return;
  }
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
