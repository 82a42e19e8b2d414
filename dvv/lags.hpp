// The samples a measurement reads: one or two views of a correlation, each the samples at
// lags j * delta for j from first to last, read outward from zero lag.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "dvv/settings.hpp"

namespace xcn::dvv {

// How a view reads the trace: +1 the positive lags, -1 the negative ones (time reversed, so
// that j grows away from zero on both), 0 the mean of the two.
using ViewSign = int;

struct Lags {
  int zero = 0;                 // the sample of zero lag, npts / 2
  int first = 0;                // j of the first sample of each view (>= 1)
  int last = 0;                 // j of the last
  std::vector<ViewSign> views;  // in the order the taps hold them

  int span() const { return last - first + 1; }
  int taps() const { return span() * static_cast<int>(views.size()); }
};

// The lags of `window` on `side` for traces of npts samples at delta. `reach` is how far out
// the reference is read, as a factor of the last lag (1 + max_dvv for stretching); the
// farthest lag read, plus two samples for the interpolation, must lie on the trace. False with
// `error` (a reason for a message) when the window is not usable.
bool make_lags(Side side, LagWindow window, int npts, double delta, double reach, Lags& lags,
               std::string& error);

// Copies a trace's view samples into taps (lags.taps() values, view after view).
void read_views(const Lags& lags, std::span<const float> trace, std::span<double> taps);

}  // namespace xcn::dvv
