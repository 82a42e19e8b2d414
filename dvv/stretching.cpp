// Stretching: grid search of the stretch factor, refinement, and its error.
#include "dvv/stretching.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace xcn::dvv {

namespace {

// Above this many values the grid's rows are stretched anew for each current instead of held.
constexpr std::size_t kMaxGridValues = std::size_t{1} << 22;

// The refinement stops when e is known to this: far below any dv/v a network resolves.
constexpr double kTolerance = 1e-8;

// Removes the mean of x and scales it to unit norm; false (x untouched after the mean) when
// it has no variance.
bool normalise(std::span<double> x) {
  double sum = 0;
  for (double v : x) sum += v;
  const double mean = sum / static_cast<double>(x.size());
  double power = 0;
  for (double& v : x) {
    v -= mean;
    power += v * v;
  }
  if (!(power > 0)) return false;
  const double scale = 1.0 / std::sqrt(power);
  for (double& v : x) v *= scale;
  return true;
}

// The correlation coefficient of the reference stretched by 1 + e with the current (zero
// mean and unit norm already), in one pass: the current's zero mean takes the reference's
// mean out of the product.
double coefficient(const ReferenceCurve& curve, const Lags& lags, double e,
                   std::span<const double> current, std::span<double> stretched) {
  curve.stretched(lags, e, stretched);
  double sum = 0, power = 0, product = 0;
  for (std::size_t i = 0; i < current.size(); ++i) {
    sum += stretched[i];
    power += stretched[i] * stretched[i];
    product += stretched[i] * current[i];
  }
  const double variance = power - sum * sum / static_cast<double>(current.size());
  return variance > 0 ? product / std::sqrt(variance) : 0.0;
}

// The maximum of f over [a, b] by Brent's method: parabolas through the three best points
// where they step inside the interval and shrink it fast enough, golden sections otherwise.
// It starts from x with two more points w and v whose values fw and fv are known roughly (the
// grid's), so that its first step may already be a parabola's.
template <typename F>
std::pair<double, double> maximise(F f, double a, double b, double x, double w, double fw, double v,
                                   double fv, double tolerance) {
  constexpr double golden = 0.3819660112501051;  // (3 - sqrt 5) / 2
  double fx = f(x);
  double step = 0, previous = b - a;
  for (int iteration = 0; iteration < 100; ++iteration) {
    const double middle = 0.5 * (a + b);
    if (std::fabs(x - middle) <= 2 * tolerance - 0.5 * (b - a)) break;
    bool parabolic = false;
    if (std::fabs(previous) > tolerance) {
      // The vertex of the parabola through (x, fx), (w, fw), (v, fv), as x + p / q.
      const double r = (x - w) * (fx - fv);
      double q = (x - v) * (fx - fw);
      double p = (x - v) * q - (x - w) * r;
      q = 2 * (q - r);
      if (q > 0) p = -p;
      q = std::fabs(q);
      const double older = previous;
      if (std::fabs(p) < std::fabs(0.5 * q * older) && p > q * (a - x) && p < q * (b - x)) {
        previous = step;
        step = p / q;
        const double u = x + step;
        if (u - a < 2 * tolerance || b - u < 2 * tolerance) {
          step = x < middle ? tolerance : -tolerance;
        }
        parabolic = true;
      }
    }
    if (!parabolic) {
      previous = (x >= middle ? a : b) - x;
      step = golden * previous;
    }
    const double u = x + (std::fabs(step) >= tolerance ? step : std::copysign(tolerance, step));
    const double fu = f(u);
    if (fu >= fx) {
      (u >= x ? a : b) = x;
      v = w, fv = fw;
      w = x, fw = fx;
      x = u, fx = fu;
    } else {
      (u < x ? a : b) = u;
      if (fu >= fw || w == x) {
        v = w, fv = fw;
        w = u, fw = fu;
      } else if (fu >= fv || v == x || v == w) {
        v = u, fv = fu;
      }
    }
  }
  return {x, fx};
}

}  // namespace

bool build_grid(const ReferenceCurve& curve, const Lags& lags, double max_dvv, double top,
                StretchGrid& grid, std::vector<double>& work) {
  const double step = 1.0 / (4.0 * top * lags.last);
  const int half = std::max(2, static_cast<int>(std::ceil(max_dvv / step)));
  grid.factors.resize(static_cast<std::size_t>(2 * half + 1));
  for (int g = -half; g <= half; ++g) {
    grid.factors[static_cast<std::size_t>(g + half)] = max_dvv * g / half;
  }
  const auto taps = static_cast<std::size_t>(lags.taps());
  work.resize(taps);
  // The unstretched reference must have something to correlate with.
  curve.stretched(lags, 0.0, work);
  if (!normalise(work)) return false;
  grid.rows.clear();
  if (grid.factors.size() * taps > kMaxGridValues) return true;
  grid.rows.resize(grid.factors.size() * taps);
  for (std::size_t g = 0; g < grid.factors.size(); ++g) {
    curve.stretched(lags, grid.factors[g], work);
    normalise(work);
    std::copy(work.begin(), work.end(), grid.rows.begin() + static_cast<std::ptrdiff_t>(g * taps));
  }
  return true;
}

Measurement measure_stretching(const ReferenceCurve& curve, const Lags& lags,
                               const StretchGrid& grid, double max_dvv,
                               std::span<const double> taps, StretchWork& work) {
  Measurement m;
  work.current.assign(taps.begin(), taps.end());
  work.stretched.resize(taps.size());
  if (!normalise(work.current)) {
    m.status = Status::silent;
    return m;
  }
  const auto fit = [&](double e) {
    return coefficient(curve, lags, e, work.current, work.stretched);
  };
  // The grid.
  const std::size_t n = taps.size();
  work.grid.resize(grid.factors.size());
  std::size_t best = 0;
  for (std::size_t g = 0; g < grid.factors.size(); ++g) {
    double cc;
    if (grid.rows.empty()) {
      cc = fit(grid.factors[g]);
    } else {
      const float* row = grid.rows.data() + g * n;
      cc = 0;
      for (std::size_t i = 0; i < n; ++i) cc += row[i] * work.current[i];
    }
    work.grid[g] = cc;
    if (cc > work.grid[best]) best = g;
  }
  // The refinement, between the grid's neighbours of the best.
  const std::size_t last = grid.factors.size() - 1;
  const std::size_t below = best == 0 ? 0 : best - 1;
  const std::size_t above = std::min(best + 1, last);
  const double a = grid.factors[below];
  const double b = grid.factors[above];
  auto [e, cc] =
      maximise(fit, a, b, grid.factors[best], a, work.grid[below], b, work.grid[above], kTolerance);
  const bool edge =
      (best == 0 && e - a <= 4 * kTolerance) || (best == last && b - e <= 4 * kTolerance);
  m.status = edge ? Status::at_limit : Status::ok;
  if (edge) e = best == 0 ? -max_dvv : max_dvv, cc = fit(e);
  m.dvv = e / (1.0 + e);
  m.cc = cc;
  return m;
}

double weaver_error(double cc, Band band, LagWindow window, int sides) {
  if (!(cc > 0)) return std::numeric_limits<double>::infinity();
  if (cc >= 1) return 0.0;
  const double t = 1.0 / (band.high - band.low);
  const double wc = std::numbers::pi * (band.low + band.high);
  const double t1 = window.min, t2 = window.max;
  const double span = sides * (t2 * t2 * t2 - t1 * t1 * t1);
  return std::sqrt(1.0 - cc * cc) / (2.0 * cc) *
         std::sqrt(6.0 * std::sqrt(std::numbers::pi / 2.0) * t / (wc * wc * span));
}

}  // namespace xcn::dvv
