// Stretching: the reference stretched to r(t (1 + e)) and compared with the current trace by
// their correlation coefficient over the lag window; the best e found on a grid, then refined.
#pragma once

#include <span>
#include <vector>

#include "dvv/curve.hpp"
#include "dvv/lags.hpp"
#include "dvv/measurement.hpp"
#include "dvv/settings.hpp"

namespace xcn::dvv {

// The stretch factors searched first, and the reference stretched by each, computed once per
// pair.
struct StretchGrid {
  std::vector<double> factors;  // e, ascending, from -max_dvv to +max_dvv
  std::vector<float> rows;      // factors x taps: zero mean, unit norm; empty when too large
};

// A grid fine enough that the best of its factors lies on the main peak of the coefficient:
// steps of a quarter of the e that turns the highest frequency (`top`, cycles per sample) by
// a cycle at the last lag, and at least two on each side of zero. False when the reference
// is zero over the lag window.
bool build_grid(const ReferenceCurve& curve, const Lags& lags, double max_dvv, double top,
                StretchGrid& grid, std::vector<double>& work);

struct StretchWork {
  std::vector<double> current;    // the current's taps, zero mean and unit norm
  std::vector<double> stretched;  // the reference stretched
  std::vector<double> grid;       // the coefficient at each factor of the grid
};

// The e within +-max_dvv of the largest coefficient (refined to 1e-8 by golden sections and
// parabolas), returned as dvv = e / (1 + e) with that coefficient in cc; the error is left to
// the caller. taps are the current's view samples.
Measurement measure_stretching(const ReferenceCurve& curve, const Lags& lags,
                               const StretchGrid& grid, double max_dvv,
                               std::span<const double> taps, StretchWork& work);

// The standard deviation of a stretching estimate (Weaver et al. 2011): with T the inverse
// bandwidth and w_c the central angular frequency,
//   sqrt(1 - cc^2) / (2 cc) * sqrt(6 sqrt(pi / 2) T / (w_c^2 (t2^3 - t1^3)))
// over the lag window [t1, t2]. Each of `sides` windows adds its t2^3 - t1^3: two sides
// measured together carry twice the information. Infinite for cc <= 0, 0 for cc >= 1.
double weaver_error(double cc, Band band, LagWindow window, int sides);

}  // namespace xcn::dvv
