// The windows of a record, the rule that accepts a window for a pair, and the stack of a pair's
// accepted window correlations. Every engine uses these, so they decide alike.
#pragma once

#include <cstddef>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace xcn {

class StationTable;

// Fixed window settings.
inline constexpr float kTimelen = 2000.0f;  // window length in seconds
inline constexpr float kOvlp = 0.9f;        // overlap fraction of consecutive windows
inline constexpr float kCrtStd = 1.1f;      // rejection factor

// Window length and step in samples for a sampling interval.
struct WindowSettings {
  int nptlen;     // window length in samples
  float overlap;  // step between window starts in samples
};
WindowSettings window_settings(float dt);
// What a worker needs at least for a window of `samples` samples: the window and its padded
// transform.
std::size_t window_bytes(double samples);
// Empty when the interval can be run within `budget` bytes, else why it cannot.
std::string refuse_sampling(float dt, std::size_t budget);

// Sample offsets of the windows of a record of nptend samples, in order. A shorter record's
// windows are the first ones of a longer record's.
std::vector<std::size_t> window_offsets(const WindowSettings& w, int nptend);

// A window of a record is kept below this deviation: 1.1 times the record's.
inline float rejection_bound(float record_std) { return kCrtStd * record_std; }
// The stretches of a record that hold no data: runs of exact zeros at least 1 s and at least
// 10 samples long, the way xcn_prep and other programs fill gaps (and never more than a window
// of nptlen samples, so that a window of zeros is always one).
struct Gaps {
  struct Run {
    std::size_t first = 0;  // first zero
    std::size_t end = 0;    // one past the last
  };
  std::vector<Run> runs;  // in order, apart

  // Whether samples [from, from + length) hold any sample of a gap.
  bool touch(std::size_t from, std::size_t length) const;
};
Gaps find_gaps(std::span<const float> record, const WindowSettings& w, float dt);
// The bound of a record's windows: 1.1 times the deviation of its samples with its gaps left
// out, so that a gap neither counts nor lowers the bound of the live windows.
float record_bound(std::span<const float> record, const Gaps& gaps);

// Whether one record's window passes its bound (a deviation that is not a number never does).
inline bool window_passes(float crt, float bound) { return crt < bound; }
// A pair takes a window when the windows of both its records pass.
inline bool window_accepted(float crt1, float bound1, float crt2, float bound2) {
  return window_passes(crt1, bound1) && window_passes(crt2, bound2);
}
// Whether a station accepts its window of deviation crt: one that holds any part of a gap is
// never taken, a gap's zeros would be whitened as if they were data.
inline bool window_taken(float crt, float bound, bool in_gap) {
  return !in_gap && window_passes(crt, bound);
}

// The run's one window grid: windows of nptlen samples every `overlap` samples from the
// earliest start among the usable records, window k starting k x overlap samples after it. A
// record holds window k when every sample of it lies within the record.
struct GridPlace {
  long long shift = 0;  // samples from the grid's start to the record's first sample
  long long first = 0;  // first grid window the record holds
  int windows = 0;      // it holds windows first .. first + windows - 1

  // Sample of the record where grid window k begins.
  std::size_t offset(long long k, const WindowSettings& w) const {
    return static_cast<std::size_t>(k * static_cast<long long>(w.overlap) - shift);
  }
};
// The grid windows two records both hold: first .. first + count - 1.
struct CommonWindows {
  long long first = 0;
  int count = 0;
};
CommonWindows common_windows(const GridPlace& a, const GridPlace& b);

struct TimeGrid {
  WindowSettings settings{};
  float dt = 0.0f;
  // The grid's start: a date (milliseconds since 1970 plus seconds) when `dated`, else seconds
  // on the common origin of records without a reference time.
  bool dated = false;
  long long start_ms = 0;
  double start_s = 0.0;
  std::vector<GridPlace> places;  // per station; none for an unusable one

  const GridPlace& place(int i) const { return places[static_cast<std::size_t>(i - 1)]; }
};
// The interval a header's DELTA stands for: the whole microseconds it is nearest to when they
// round back to it (0.01 for 0.0099999998), else its own value. Records lie on grids of that.
double interval_of(float dt);

// Lays the usable stations of `table` out on the grid of sampling interval dt. Reported on
// `err`: a run mixing records with and without a reference time (once), a record whose start
// lies off the grid by more than a tenth of a sample, and a record shorter than one window.
TimeGrid lay_out_grid(const StationTable& table, float dt, std::FILE* err);

// The stack of one pair: the sum of its accepted window correlations, then their mean.
struct Stack {
  std::vector<float> yall;  // nptlen values
  int counter = 0;          // accepted windows, once finished
  int shared = 0;           // windows both records hold, accepted or not

  // Empty stack of nptlen values.
  void reset(int nptlen);
  // Adds one accepted window's correlation.
  void add(std::span<const float> yyc);
  // Takes the sum of `count` window correlations made elsewhere, in place of adding them.
  void set_sum(std::span<const float> sum, int count);
  // Divides by the number of windows added (no window: every value is 0/0, NaN).
  void finish();
  // Windows added so far.
  float count() const { return count_; }

 private:
  float count_ = 0.0f;
};

}  // namespace xcn
