// The one way out of a run's results: the pair loop hands every finished pair to the run's sink
// and knows no more. Two sinks: SAC files, one per pair (result_writer), and one run container
// (container_sink).
#pragma once

#include <cstdio>

#include "driver/console.hpp"
#include "driver/engines/windows.hpp"
#include "driver/geometry.hpp"

namespace xcn {

class ResultSink {
 public:
  virtual ~ResultSink() = default;
  // Pair ij's finished stack with its geometry and its progress line; called from any worker.
  // The sink may take the stack's samples: a stack is reset or set anew before its next pair.
  virtual void put(int ij, const Geometry& g, Stack& stack, const ConsoleLine& progress) = 0;
  // Returns once every pair put is out (written, or failed and counted).
  virtual void finish() = 0;
  // Once every rank's pairs are out: the results made final (the header pass of SAC files, the
  // container named). Failures count in the run's tally.
  virtual void complete(std::FILE* err) = 0;
};

}  // namespace xcn
