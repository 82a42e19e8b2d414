// What the matrix engine multiplies and in which blocks, planned once from the network, the
// run's settings and the budget alone: the same on every rank and for any number of workers, so
// that each pair's sum comes out of the same product whichever process or worker makes it.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "signal/window_products.hpp"

namespace xcn {

struct Run;

// How the stations with spectra are held: in tiles of consecutive stations with every window,
// multiplied in blocks of stations whose stacked spectra are held together until their pairs are
// written; or, in sweeps, the stacked spectra of several block pairs held at once while the
// windows of their stations pass in time chunks, each window transformed once per sweep.
struct MatrixPlan {
  int tile = 0;             // stations per tile (the last may hold fewer); sweeps: all in one
  int block = 0;            // stations per block at most, rows and columns of one product
  std::size_t bytes = 0;    // held at most
  int columns = 0;          // sweeps: windows of a time chunk; 0: tiles with every window
  std::vector<int> sweeps;  // sweeps: the first block pair of each, then the count of all
  long long builds = 0;     // stations' windows transformed, each station once per build
};
// The plan for `stations` stations of `station_bytes` unit spectra each, `pair_bytes` of
// stacked spectra per pair of a block, within `limit` bytes: every station in one tile when it
// fits beside a block, else two tiles as large as fit beside theirs. A tile of one station is
// the least, whatever the limit.
MatrixPlan plan_matrix(int stations, std::size_t station_bytes, std::size_t pair_bytes,
                       std::size_t limit);

// Stations of a block at most: products of this size run near the processor's peak; larger
// ones gain little and hold much more.
inline constexpr int kMaxBlock = 128;
// A sweep keeps its spectra and sums in runs of this many bins, the last run padded.
inline constexpr std::size_t kSweepRun = 16;
static_assert(kSweepRun % kProductLanes == 0, "the product kernel takes whole vectors of bins");
inline std::size_t sweep_bins(std::size_t bins) {
  return (bins + kSweepRun - 1) / kSweepRun * kSweepRun;
}

// What a sweep holds, in bytes: `pair` of stacked spectra per element of a block pair's
// product (a block with itself holds its pairs r < c), and per station of the sweep
// `column` per window of a chunk, `station` throughout, and, where records are read forward,
// `stretch_base` plus `stretch_step` per window after the first of a chunk.
struct SweepBytes {
  std::size_t pair = 0;
  std::size_t column = 0;
  std::size_t station = 0;
  std::size_t stretch_base = 0;
  std::size_t stretch_step = 0;
};
// Elements of one bin's product of a block of `rows` stations with one of `cols` (`diagonal`:
// the block with itself, its pairs r < c).
std::size_t product_elements(int rows, int cols, bool diagonal);
// The sweep plan for `stations` stations with `windows` windows within `limit` bytes: the
// block size that transforms the fewest windows (the larger of equals), its block pairs taken
// in row order into sweeps as long as each fits with chunks of 16 windows, then chunks as wide
// as every sweep allows. A sweep of one block pair of the smallest blocks (one station, up to
// 2048 blocks), one window wide, is the least, whatever the limit.
MatrixPlan plan_sweeps(int stations, int windows, const SweepBytes& bytes, std::size_t limit);
// Block pair k (x <= y, row by row) of `blocks` blocks.
std::pair<int, int> block_pair(int blocks, int k);

// The members (the usable stations) in tiles, each tile cut into blocks of as even a size as
// the plan allows. The columns of a product are the grid windows that any member holds, in time
// order; a member's windows are consecutive columns, the others of its row zeros.
struct MatrixGrid {
  std::vector<int> members;       // 1-based stations, in the order of their record names
  int windows = 0;                // columns
  std::vector<int> first_column;  // of each member's first window
  MatrixPlan plan;
  bool stream = false;      // records are not held: the sweeps read them forward
  std::vector<int> tiles;   // first member of each tile, then the member count
  std::vector<int> blocks;  // first member of each block, then the member count

  int block_count() const { return blocks.empty() ? 0 : static_cast<int>(blocks.size()) - 1; }
};

// Cuts `members` into tiles of plan.tile and those into blocks of at most plan.block.
MatrixGrid cut_grid(std::vector<int> members, int windows, const MatrixPlan& plan);
// The columns of the members' windows: the number of grid windows any of them holds, and the
// column of each one's first window.
int window_columns(const Run& run, const std::vector<int>& members, std::vector<int>& first_column);
// The grid of a run whose station values are read, within `budget` bytes.
MatrixGrid matrix_grid(const Run& run, std::size_t budget);

// Groups of stations (0-based group of each 1-based station, by index i - 1) for dealing the
// pairs to ranks: each block of members one group, then the other stations in groups of at
// most a block, in list order.
std::vector<int> grid_groups(const MatrixGrid& grid, int stations);

}  // namespace xcn
