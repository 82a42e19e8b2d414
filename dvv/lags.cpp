// The views of a correlation a measurement reads, the pair's default lag window and MWCS
// window, and the text of quantities in messages.
#include "dvv/lags.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace xcn::dvv {

// Slack for lags given on the sample grid but rounded on the way (100.0 s at 0.05 s).
constexpr double kOnGrid = 1e-9;

std::string quantity(double value, const char* unit) {
  char text[48];
  std::snprintf(text, sizeof text, "%g %s", value, unit);
  return text;
}

std::optional<LagWindow> default_lag_window(double dist_km, double low_hz, int npts, double delta,
                                            double max_dvv) {
  if (!(dist_km >= 0) || !(low_hz > 0) || !(delta > 0) || npts < 3 || !(max_dvv >= 0)) {
    return std::nullopt;
  }
  const double begin = std::max(20.0, 2.0 * dist_km / 3.0);
  const double end = begin + std::max(100.0, 10.0 / low_hz);
  const int zero = npts / 2;
  const double last = std::min(zero, npts - 1 - zero) * delta;
  const double reachable = (last - 2.0 * delta) / (1.0 + max_dvv);
  const double max = std::min(end, reachable);
  if (!(max > begin)) return std::nullopt;
  return LagWindow{begin, max};
}

double default_mwcs_length(Band band) {
  return std::max(2.0 / band.low, 7.5 / (band.high - band.low));
}

bool make_lags(Side side, LagWindow window, int npts, double delta, double reach, Lags& lags,
               std::string& error) {
  if (!(window.min >= 0) || !(window.max > window.min) || !std::isfinite(window.max)) {
    error = "the lag window must run from a lag of 0 s or more to a larger one";
    return false;
  }
  lags.zero = npts / 2;
  lags.first = std::max(1, static_cast<int>(std::ceil(window.min / delta - kOnGrid)));
  const double last = std::floor(window.max / delta + kOnGrid);
  switch (side) {
    case Side::both:
      lags.views = {+1, -1};
      break;
    case Side::positive:
      lags.views = {+1};
      break;
    case Side::negative:
      lags.views = {-1};
      break;
    case Side::mean:
      lags.views = {0};
      break;
  }
  // The farthest sample each view may read.
  int room = npts;
  for (ViewSign v : lags.views) {
    if (v >= 0) room = std::min(room, npts - 1 - lags.zero);
    if (v <= 0) room = std::min(room, lags.zero);
  }
  if (last * reach + 2.0 > room) {
    error = "the lag window ends at " + quantity(window.max, "s") + "; the trace allows at most " +
            quantity(std::floor((room - 2) / reach) * delta, "s");
    return false;
  }
  lags.last = static_cast<int>(last);
  if (lags.last < lags.first) {
    error = "the lag window from " + quantity(window.min, "s") + " to " +
            quantity(window.max, "s") + " holds no sample";
    return false;
  }
  return true;
}

void read_views(const Lags& lags, std::span<const float> trace, std::span<double> taps) {
  std::size_t i = 0;
  for (ViewSign v : lags.views) {
    for (int j = lags.first; j <= lags.last; ++j) {
      const auto at = [&](int k) -> double { return trace[static_cast<std::size_t>(k)]; };
      taps[i++] = v > 0   ? at(lags.zero + j)
                  : v < 0 ? at(lags.zero - j)
                          : 0.5 * (at(lags.zero + j) + at(lags.zero - j));
    }
  }
}

}  // namespace xcn::dvv
