// The stacks of one pair: its day results held in stacking order, their linear and
// phase-weighted stacks over any set of those days.
//
// Linear: the mean of the days, summed in day order in single precision and divided by their
// number, so a stack of one day is that day. Phase-weighted (Schimmel and Paulssen): the linear
// stack times |mean of the days' unit analytic signals|^nu, the coherence of their phases, which
// is 1 where every day has the same phase and about 1/sqrt(days) where the phases are random.
// A sample whose analytic signal is zero has no phase and adds nothing to the coherence.
#pragma once

#include <span>
#include <vector>

#include "signal/complex.hpp"

namespace xcn::stack {

class DayStack {
 public:
  // Days of npts samples; the unit analytic signals are kept only when `phases` is set.
  DayStack(int npts, bool phases);

  // Forgets every day, keeping the buffers.
  void clear() { days_ = 0; }
  // Appends a day of npts samples.
  void add(std::span<const float> trace);
  int days() const { return days_; }
  int npts() const { return npts_; }

  // The mean of the given days (indices in the order added, ascending); all NaN for none.
  void linear(std::span<const int> days, std::span<float> out) const;
  // The phase-weighted stack of the given days from their linear stack; all NaN for none.
  void phase_weighted(std::span<const int> days, float nu, std::span<const float> linear,
                      std::span<float> out) const;

 private:
  int npts_;
  bool phases_;
  int days_ = 0;
  std::vector<float> samples_;        // days x npts
  std::vector<Complex> unit_;         // days x npts
  std::vector<Complex> work_;         // one analytic signal
  mutable std::vector<Complex> sum_;  // the phases summed over days
};

// c^nu in single precision: repeated products for a whole nu up to 64 (the same bits on every
// machine), the library's power otherwise.
float coherence_power(float c, float nu);

}  // namespace xcn::stack
