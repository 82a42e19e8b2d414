// Wall-clock and processor time of the run's phases, for the timing lines.
#pragma once

#include <time.h>

#include <chrono>

namespace xcn {

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Processor time of the calling thread: what a stage costs, apart from waiting for a processor
// or a lock.
inline double thread_cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace xcn
