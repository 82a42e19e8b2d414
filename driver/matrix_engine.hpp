// The matrix engine (XCN_ENGINE=matrix): the stacked phase-only cross-spectra of all pairs as
// one complex matrix product per frequency bin, through BLAS; the same decisions as the exact
// engine and the same values up to rounding.
#pragma once

#include <cstddef>

#include "driver/engine.hpp"

namespace xcn {

// Whether this build has the matrix engine (it is built only where BLAS was found).
bool matrix_engine_available();

// How the stations with spectra are held: in tiles of consecutive stations, and multiplied in
// blocks of stations whose stacked spectra are held together until their pairs are written.
struct MatrixPlan {
  int tile = 0;           // stations per tile (the last may hold fewer)
  int block = 0;          // stations per block, rows and columns of one product
  std::size_t bytes = 0;  // held at most: the tiles in use and one block's stacked spectra
};
// The plan for `stations` stations of `station_bytes` unit spectra each, `pair_bytes` of
// stacked spectra per pair of a block, within `limit` bytes: every station in one tile when it
// fits beside a block, else two tiles as large as fit beside theirs. A tile of one station is
// the least, whatever the limit.
MatrixPlan plan_matrix(int stations, std::size_t station_bytes, std::size_t pair_bytes,
                       std::size_t limit);

// Runs the pair loop with the matrix engine over all workers of the parallel runtime. Pairs
// the product cannot give (records of another length than most, two copies of one record) go
// through the exact engine. Without BLAS in the build this is the exact engine.
EngineReport run_matrix_engine(const Run& run, std::size_t budget);

}  // namespace xcn
