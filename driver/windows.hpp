// The windows of a record, the rule that accepts a window for a pair, and the stack of a pair's
// accepted window correlations. Every engine uses these, so they decide alike.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace xcn {

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
// Nothing when the interval can be run, else why it cannot.
const char* refuse_sampling(float dt);

// Sample offsets of the windows of a record of nptend samples, in order. A shorter record's
// windows are the first ones of a longer record's.
std::vector<std::size_t> window_offsets(const WindowSettings& w, int nptend);

// A window of a record is kept below this deviation: 1.1 times the record's.
inline float rejection_bound(float record_std) { return kCrtStd * record_std; }
// Whether one record's window passes its bound (a deviation that is not a number never does).
inline bool window_passes(float crt, float bound) { return crt < bound; }
// A pair takes a window when the windows of both its records pass.
inline bool window_accepted(float crt1, float bound1, float crt2, float bound2) {
  return window_passes(crt1, bound1) && window_passes(crt2, bound2);
}

// The stack of one pair: the sum of its accepted window correlations, then their mean.
struct Stack {
  std::vector<float> yall;  // nptlen values
  int counter = 0;          // accepted windows, once finished

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
