// Where a record section puts its traces: the plot frame, its axes and the pixel of every lag
// and distance.
//
// Lag runs left to right over [-max_lag, max_lag]; distance runs bottom to top from 0 km, so
// the lines lag = +/- distance / velocity meet at the bottom centre. Each trace is drawn about
// the baseline of its distance, its largest swing `amplitude_px` pixels high; the distance axis
// ends high enough for the farthest trace's swing (a trace nearer than a swing's height to 0 km
// is clipped at the bottom). Pixel (0, 0) is the top left corner of the picture.
#pragma once

#include <span>
#include <vector>

namespace xcn::tools {

struct Point {
  double x = 0;
  double y = 0;
};

struct Segment {
  Point from;
  Point to;
};

class SectionLayout {
 public:
  // A picture of width x height pixels (at least kMinWidth x kMinHeight) showing traces at
  // the given distances (km, positive) over lags within +/- max_lag_s (positive).
  SectionLayout(int width, int height, std::span<const double> distances_km, double max_lag_s);

  static constexpr int kMinWidth = 320;
  static constexpr int kMinHeight = 240;

  // The plot frame in pixels; traces are clipped to it.
  double left() const { return left_; }
  double right() const { return right_; }
  double top() const { return top_; }
  double bottom() const { return bottom_; }

  double max_lag_s() const { return max_lag_s_; }
  double max_distance_km() const { return max_distance_km_; }  // top of the distance axis

  double x_of_lag(double lag_s) const;
  double y_of_distance(double distance_km) const;

  // The baseline of trace k, in the order the distances were given.
  double baseline(std::size_t k) const { return baselines_[k]; }
  // Pixels of a normalised trace's largest swing.
  double amplitude_px() const { return amplitude_px_; }

  // The line lag = sign * distance / velocity from distance 0 to where it leaves the frame.
  Segment velocity_line(double velocity_km_s, int sign) const;

  // Tick values of the axes: round numbers covering each axis.
  const std::vector<double>& lag_ticks() const { return lag_ticks_; }
  const std::vector<double>& distance_ticks() const { return distance_ticks_; }

 private:
  double left_ = 0;
  double right_ = 0;
  double top_ = 0;
  double bottom_ = 0;
  double max_lag_s_ = 0;
  double max_distance_km_ = 0;
  double amplitude_px_ = 0;
  std::vector<double> baselines_;
  std::vector<double> lag_ticks_;
  std::vector<double> distance_ticks_;
};

// A round tick step (1, 2 or 5 times a power of ten) giving about `count` steps over `span`.
double tick_step(double span, int count);

// The lag range shown when the user gives none: half again the longest travel time at the
// velocity, rounded up to a round number, but no more than the results hold (when positive).
double default_max_lag(double max_distance_km, double velocity_km_s, double data_max_lag_s);

}  // namespace xcn::tools
