// The pair engine: each station's windows measured and transformed once, pairs correlated from
// the kept spectra in memory tiles, results bit-identical to the plain pair loop.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <span>
#include <vector>

#include "driver/pairs.hpp"
#include "driver/engines/station_windows.hpp"
#include "driver/engines/windows.hpp"

namespace xcn {

// How the pair loop is run: the plain loop, the exact engine (the plain loop's bytes) or the
// matrix engine (all pairs' stacks as matrix products, equal up to rounding).
enum class EngineKind { kPlain, kExact, kMatrix };
const char* engine_name(EngineKind kind);
// The matrix engine where the build has BLAS, else the exact engine.
EngineKind default_engine();

// Settings from the environment.
struct EngineSettings {
  EngineKind engine = EngineKind::kExact;  // XCN_ENGINE=plain|exact (or fast)|matrix; unset:
                                           // default_engine()
  std::size_t budget = 0;                  // bytes the engines may hold (XCN_MEMORY_BUDGET, in MiB)
  bool timing = false;                     // XCN_TIMING=1: phase times on standard error
};
// Reads them; an unreadable value is reported on `err` and the default used, as is a path of
// XCN_FFT_ISA or XCN_SPECTRUM_ISA that does not exist; a worker count beyond four per processor
// is cut to that and reported. The matrix engine
// asked for in a build without it is reported too, and the exact engine used.
EngineSettings engine_settings(std::FILE* err);

// Half the physical memory: the default budget.
std::size_t default_budget();

// Stations first .. last (1-based, inclusive) whose spectra are held together.
struct Tile {
  int first;
  int last;
};
// Splits stations 1 .. bytes.size(), station i keeping bytes[i-1] bytes of spectra, into tiles
// of consecutive stations such that any two tiles together fit `limit`: all in one tile when
// everything fits, else tiles of at most limit/2 bytes.
std::vector<Tile> plan_tiles(std::span<const std::size_t> bytes, std::size_t limit);

// What a run of the engine did, for the timing line.
struct EngineReport {
  double measure_s = 0.0;  // window deviations of every station of a pair to compute
  int measured = 0;        // stations measured
  double spectra_s = 0.0;  // transforms of the kept windows
  double pairs_s = 0.0;    // pair correlation, stacking and writing
  int tiles = 0;
  std::size_t stations_per_tile = 0;  // most stations in one tile
  std::size_t bytes = 0;              // spectra of every station, kept all at once
  std::size_t peak_bytes = 0;         // spectra held at most at one time
  // Processor time of the pair stage over all workers: the correlations (products, transforms,
  // stacking), and the progress lines and result files.
  double pairs_cpu_s = 0.0;
  double writing_cpu_s = 0.0;
  // The matrix engine's own.
  double products_cpu_s = 0.0;  // processor time of the matrix products (within pairs_cpu_s)
  double exact_s = 0.0;         // pairs on the exact engine's path (within pairs_s)
  int block = 0;                // stations per block of a product
  int columns = 0;              // windows of a sweep's time chunk (tiles then count sweeps)
  long exact_pairs = 0;         // pairs given to the exact engine
};

// Runs the pair loop with the engine over all workers of the parallel runtime, keeping at most
// `budget` bytes of spectra and per-worker storage.
EngineReport run_pair_engine(const Run& run, std::size_t budget);

// Whether the exact engine takes pair (i, j), i <= j.
using PairFilter = std::function<bool(int i, int j)>;
// The same for the pairs that `take` accepts only (the others get no line), on windows measured
// already.
EngineReport run_pair_engine(const Run& run, const WindowTable& windows, std::size_t budget,
                             const PairFilter& take);

}  // namespace xcn
