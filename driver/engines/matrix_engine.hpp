// The matrix engine (XCN_ENGINE=matrix): the stacked phase-only cross-spectra of all pairs as
// one complex matrix product per frequency bin, through BLAS; the same decisions as the exact
// engine and the same values up to rounding.
#pragma once

#include <cstddef>

#include "driver/engines/engine.hpp"

namespace xcn {

// Whether this build has the matrix engine (it is built only where BLAS was found).
bool matrix_engine_available();

// Runs the pair loop with the matrix engine over all workers of the parallel runtime, on the
// grid of run.grid. Pairs the product cannot give (two copies of one record) go through the
// exact engine. Without BLAS in the build this is the
// exact engine.
EngineReport run_matrix_engine(const Run& run, std::size_t budget);

}  // namespace xcn
