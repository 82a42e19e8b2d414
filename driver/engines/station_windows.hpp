// What both pair engines share: every station's window deviations measured once, the parallel
// loop they run their stages with, and page-backed storage that is given back when dropped.
#pragma once

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <new>
#include <utility>
#include <vector>

#include "driver/engines/windows.hpp"
#include "driver/pages.hpp"
#include "driver/pairs.hpp"

namespace xcn {

// The windows of one station on the run's grid, each accepted or not once: its deviation
// against 1.1 times its record's (gaps of zeros left out), and never when all zeros.
struct StationWindows {
  GridPlace place;             // the grid windows the record holds
  float bound = 0.0f;          // a window is accepted below this
  std::vector<float> crt;      // deviation of each window it holds, from place.first on
  std::vector<char> accepted;  // whether it accepts each of them

  // Whether it accepts grid window k (one it holds).
  bool passes(long long k) const {
    return accepted[static_cast<std::size_t>(k - place.first)] != 0;
  }
  // Whether its windows were measured here (another rank's station's are not).
  bool measured() const { return crt.size() == static_cast<std::size_t>(place.windows); }
};

// Every station's windows; unusable stations, and those of no pair this rank computes, have none.
struct WindowTable {
  WindowSettings settings{};
  std::vector<StationWindows> stations;
  int measured = 0;  // stations whose windows were measured

  const StationWindows& station(int i) const { return stations[static_cast<std::size_t>(i - 1)]; }
};

// Runs body(k) for k = 0 .. count-1 over all workers, each k taken by the next free worker.
// The first exception stops the rest and is thrown again once every worker has stopped.
template <typename Body>
void parallel_for(int count, Body body) {
  std::exception_ptr failure;
  std::atomic<bool> failed{false};
#pragma omp parallel for schedule(dynamic, 1)
  for (int k = 0; k < count; ++k) {
    if (failed.load(std::memory_order_relaxed)) continue;
    try {
      body(k);
    } catch (...) {
#pragma omp critical(xcn_engine_failure)
      {
        if (!failure) failure = std::current_exception();
      }
      failed.store(true, std::memory_order_relaxed);
    }
  }
  if (failure) std::rethrow_exception(failure);
}

// Measures the record and every window of each usable station, in parallel.
WindowTable measure_windows(const Run& run);

// Zeroed memory in pages of its own, unmapped when dropped, so that what a run holds follows
// its stages and not the allocator's caches.
template <typename T>
class PageBuffer {
 public:
  PageBuffer() = default;
  explicit PageBuffer(std::size_t count) : bytes_(count * sizeof(T)) {
    if (bytes_ == 0) return;
    char* p = map_pages(bytes_);
    // Every page is used, so all are made at once. Large pages also let the products read the
    // spectra across the buffer with fewer address misses: one day at 1 Hz of 1000 stations
    // took 27 s in large pages against 34 s, one at 20 Hz of 100 stations 19 s against 21 s.
    if (bytes_ >= kLargePage) populate(p, bytes_);
    data_ = reinterpret_cast<T*>(p);
  }
  ~PageBuffer() {
    if (data_ != nullptr) munmap(data_, bytes_);
  }
  PageBuffer(PageBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), bytes_(std::exchange(other.bytes_, 0)) {}
  PageBuffer& operator=(PageBuffer&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(bytes_, other.bytes_);
    return *this;
  }
  PageBuffer(const PageBuffer&) = delete;
  PageBuffer& operator=(const PageBuffer&) = delete;

  T* data() const { return data_; }
  std::size_t bytes() const { return bytes_; }

 private:
  // Slices of 32 MiB, made by the workers side by side.
  static void populate(char* p, std::size_t bytes) {
    constexpr std::size_t kSlice = std::size_t{32} << 20;
    const long long slices = static_cast<long long>((bytes + kSlice - 1) / kSlice);
#pragma omp parallel for schedule(dynamic)
    for (long long k = 0; k < slices; ++k) {
      const std::size_t first = static_cast<std::size_t>(k) * kSlice;
      make_pages(p + first, std::min(kSlice, bytes - first));
    }
  }

  T* data_ = nullptr;
  std::size_t bytes_ = 0;
};

}  // namespace xcn
