// What the matrix engine multiplies and in which blocks, planned once from the network, the
// run's settings and the budget alone: the same on every rank and for any number of workers, so
// that each pair's sum comes out of the same product whichever process or worker makes it.
#pragma once

#include <cstddef>
#include <vector>

namespace xcn {

struct Run;

// How the stations with spectra are held: in tiles of consecutive stations, and multiplied in
// blocks of stations whose stacked spectra are held together until their pairs are written.
struct MatrixPlan {
  int tile = 0;           // stations per tile (the last may hold fewer)
  int block = 0;          // stations per block at most, rows and columns of one product
  std::size_t bytes = 0;  // held at most: the tiles in use and one block's stacked spectra
  int columns = 0;        // windows of a tile held at a time; 0: all of them
};
// The plan for `stations` stations of `station_bytes` unit spectra each, `pair_bytes` of
// stacked spectra per pair of a block, within `limit` bytes: every station in one tile when it
// fits beside a block, else two tiles as large as fit beside theirs. A tile of one station is
// the least, whatever the limit.
MatrixPlan plan_matrix(int stations, std::size_t station_bytes, std::size_t pair_bytes,
                       std::size_t limit);
// The plan for tiles that hold their windows in time chunks, when not even a tile of one station
// with every window fits: tiles of one block, as many stations as fit with chunks of at least
// 64 windows (or of what fits beside one station), `column_bytes` per window and station.
MatrixPlan plan_matrix_chunks(int stations, int windows, std::size_t column_bytes,
                              std::size_t pair_bytes, std::size_t limit);

// The members (the usable stations) in tiles, each tile cut into blocks of as even a size as
// the plan allows. The columns of a product are the grid windows that any member holds, in time
// order; a member's windows are consecutive columns, the others of its row zeros.
struct MatrixGrid {
  std::vector<int> members;       // 1-based stations, in order
  int windows = 0;                // columns
  std::vector<int> first_column;  // of each member's first window
  MatrixPlan plan;
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
// most a block, in station order.
std::vector<int> grid_groups(const MatrixGrid& grid, int stations);

}  // namespace xcn
