// Wall-clock time of the run's phases, for the timing lines.
#pragma once

#include <chrono>

namespace xcn {

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace xcn
