// Where a record section puts its traces: frame, axes, baselines and velocity lines.
#include "tools/section_layout.hpp"

#include <algorithm>
#include <cmath>

namespace xcn::tools {
namespace {

std::vector<double> ticks(double from, double to, double step) {
  std::vector<double> values;
  // A billionth of a step of slack keeps an end tick that rounding put a hair outside.
  for (double v = std::ceil(from / step - 1e-9) * step; v <= to + step * 1e-9; v += step) {
    values.push_back(std::fabs(v) < step * 1e-9 ? 0.0 : v);
  }
  return values;
}

}  // namespace

double tick_step(double span, int count) {
  const double raw = span / count;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  const double norm = raw / magnitude;
  if (norm < 1.5) return magnitude;
  if (norm < 3.5) return 2 * magnitude;
  if (norm < 7.5) return 5 * magnitude;
  return 10 * magnitude;
}

double default_max_lag(double max_distance_km, double velocity_km_s, double data_max_lag_s) {
  const double wanted = 1.5 * max_distance_km / velocity_km_s;
  if (!(wanted > 0)) return data_max_lag_s;
  const double step = tick_step(wanted, 10);
  const double rounded = std::ceil(wanted / step) * step;
  return data_max_lag_s > 0 ? std::min(rounded, data_max_lag_s) : rounded;
}

SectionLayout::SectionLayout(int width, int height, std::span<const double> distances_km,
                             double max_lag_s)
    : max_lag_s_(max_lag_s) {
  const double w = std::max(width, kMinWidth);
  const double h = std::max(height, kMinHeight);
  // Margins for the tick labels, the axis titles and the title line.
  left_ = std::max(64.0, 0.08 * w);
  right_ = w - std::max(24.0, 0.03 * w);
  top_ = std::max(48.0, 0.07 * h);
  bottom_ = h - std::max(56.0, 0.09 * h);

  // Neighbours may overlap, as on any record section, but a lone trace stays modest.
  const double plot_height = bottom_ - top_;
  const double share = std::min(1 / (static_cast<double>(distances_km.size()) + 1), 1.0 / 8);
  amplitude_px_ = share * plot_height;

  // The distance axis reaches high enough for the farthest trace's swing.
  double farthest = 0;
  for (const double d : distances_km) farthest = std::max(farthest, d);
  const double wanted = farthest > 0 ? farthest / (1 - share) : 100.0;
  const double step = tick_step(wanted, 6);
  max_distance_km_ = std::ceil(wanted / step) * step;
  distance_ticks_ = ticks(0, max_distance_km_, step);
  lag_ticks_ = ticks(-max_lag_s_, max_lag_s_, tick_step(2 * max_lag_s_, 8));

  baselines_.reserve(distances_km.size());
  for (const double d : distances_km) baselines_.push_back(y_of_distance(d));
}

double SectionLayout::x_of_lag(double lag_s) const {
  return left_ + (lag_s + max_lag_s_) / (2 * max_lag_s_) * (right_ - left_);
}

double SectionLayout::y_of_distance(double distance_km) const {
  return bottom_ - distance_km / max_distance_km_ * (bottom_ - top_);
}

Segment SectionLayout::velocity_line(double velocity_km_s, int sign) const {
  // It leaves through the top, or through a side when the lags shown are the shorter.
  const double end_km = std::min(max_distance_km_, max_lag_s_ * velocity_km_s);
  const double end_lag = (sign < 0 ? -1 : 1) * end_km / velocity_km_s;
  return {{x_of_lag(0), y_of_distance(0)}, {x_of_lag(end_lag), y_of_distance(end_km)}};
}

}  // namespace xcn::tools
