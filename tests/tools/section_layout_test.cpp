// Tests of the record-section layout: traces of the synthetic network at their distances, the
// velocity lines through their travel times, axes and the default lag range.
#include "tools/section_layout.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tools/synth.hpp"

namespace xcn::tools {
namespace {

// The distances of all station pairs of the demo network, as the header pass writes them
// to within 0.1 km (the tangent plane against the ellipsoid).
std::vector<double> demo_distances() {
  const auto stations = synth::station_layout(6);
  std::vector<double> d;
  for (std::size_t i = 0; i < stations.size(); ++i) {
    for (std::size_t j = i + 1; j < stations.size(); ++j) {
      d.push_back(std::hypot(stations[i].east_km - stations[j].east_km,
                             stations[i].north_km - stations[j].north_km));
    }
  }
  return d;
}

// The x where a segment crosses the height y.
double x_at(const Segment& s, double y) {
  return s.from.x + (y - s.from.y) / (s.to.y - s.from.y) * (s.to.x - s.from.x);
}

TEST(SectionLayout, PlacesSyntheticNetworkTracesAtTheirDistancesInsideTheFrame) {
  const auto distances = demo_distances();
  ASSERT_EQ(distances.size(), 15u);
  EXPECT_NEAR(distances.front(), 20.25, 0.1);  // ST01-ST02 of the demo table
  const SectionLayout layout(1200, 800, distances, 140);

  // 274.8 km and its swing's room fit under a round 300 km.
  EXPECT_DOUBLE_EQ(layout.max_distance_km(), 300);
  EXPECT_DOUBLE_EQ(layout.y_of_distance(0), layout.bottom());
  EXPECT_DOUBLE_EQ(layout.y_of_distance(300), layout.top());
  const double px_per_km = (layout.bottom() - layout.top()) / 300;
  for (std::size_t k = 0; k < distances.size(); ++k) {
    EXPECT_NEAR(layout.baseline(k), layout.bottom() - distances[k] * px_per_km, 1e-9) << k;
    EXPECT_GE(layout.baseline(k) - layout.amplitude_px(), layout.top()) << k;
    EXPECT_LE(layout.baseline(k) + layout.amplitude_px(), layout.bottom()) << k;
    for (std::size_t j = 0; j < distances.size(); ++j) {
      if (distances[j] > distances[k]) {
        EXPECT_LT(layout.baseline(j), layout.baseline(k));
      }
    }
  }
  // Fifteen traces share the height without dwarfing one another.
  EXPECT_NEAR(layout.amplitude_px(), (layout.bottom() - layout.top()) / 16, 1e-9);
  EXPECT_GT(layout.amplitude_px(), 30);
}

TEST(SectionLayout, VelocityLinesCrossEveryTraceAtItsTravelTime) {
  const auto distances = demo_distances();
  for (const double max_lag : {140.0, 60.0}) {
    const SectionLayout layout(1200, 800, distances, max_lag);
    for (const int sign : {-1, 1}) {
      const Segment line = layout.velocity_line(3.0, sign);
      EXPECT_DOUBLE_EQ(line.from.x, layout.x_of_lag(0));
      EXPECT_DOUBLE_EQ(line.from.y, layout.bottom());
      for (std::size_t k = 0; k < distances.size(); ++k) {
        if (distances[k] / 3.0 > max_lag) continue;  // beyond the lags shown
        EXPECT_NEAR(x_at(line, layout.baseline(k)), layout.x_of_lag(sign * distances[k] / 3.0),
                    1e-6)
            << max_lag << " " << k;
      }
      if (max_lag == 140.0) {  // leaves through the top at 300 km, lag 100 s
        EXPECT_DOUBLE_EQ(line.to.y, layout.top());
        EXPECT_DOUBLE_EQ(line.to.x, layout.x_of_lag(sign * 100.0));
      } else {  // through the side at 60 s, 180 km
        EXPECT_DOUBLE_EQ(line.to.x, sign < 0 ? layout.left() : layout.right());
        EXPECT_NEAR(line.to.y, layout.y_of_distance(180), 1e-9);
      }
    }
  }
}

TEST(SectionLayout, AxesAreSymmetricInLagWithRoundTicks) {
  const double distances[] = {20.25, 274.8};
  for (const auto& [width, height] : {std::pair{1200, 800}, std::pair{320, 240}}) {
    const SectionLayout layout(width, height, distances, 137);
    EXPECT_GT(layout.left(), 0);
    EXPECT_LT(layout.right(), width);
    EXPECT_GT(layout.top(), 0);
    EXPECT_LT(layout.bottom(), height);
    EXPECT_DOUBLE_EQ(layout.x_of_lag(-137), layout.left());
    EXPECT_DOUBLE_EQ(layout.x_of_lag(137), layout.right());
    EXPECT_DOUBLE_EQ(layout.x_of_lag(0), (layout.left() + layout.right()) / 2);
  }
  const SectionLayout layout(1200, 800, distances, 137);
  EXPECT_EQ(layout.lag_ticks(),
            (std::vector<double>{-120, -100, -80, -60, -40, -20, 0, 20, 40, 60, 80, 100, 120}));
  EXPECT_EQ(layout.distance_ticks(), (std::vector<double>{0, 50, 100, 150, 200, 250, 300, 350}));

  // No traces at all still gives a usable frame.
  const SectionLayout empty(640, 480, {}, 10);
  EXPECT_GT(empty.max_distance_km(), 0);
  EXPECT_FALSE(empty.distance_ticks().empty());
}

TEST(SectionLayout, TickStepsAndDefaultLagRangeAreRoundNumbers) {
  struct Case {
    double span;
    int count;
    double step;
  };
  for (const Case c : {Case{280, 8, 50}, Case{300, 6, 50}, Case{10, 5, 2}, Case{137.4, 10, 10},
                       Case{0.7, 7, 0.1}, Case{8000, 4, 2000}}) {
    EXPECT_DOUBLE_EQ(tick_step(c.span, c.count), c.step) << c.span << " " << c.count;
  }
  // Half again 274.8 km / 3 km/s is 137.4 s: 140 s, unless the results hold fewer lags.
  EXPECT_DOUBLE_EQ(default_max_lag(274.8, 3, 1000), 140);
  EXPECT_DOUBLE_EQ(default_max_lag(274.8, 3, 100), 100);
  EXPECT_DOUBLE_EQ(default_max_lag(274.8, 3, 0), 140);
  EXPECT_DOUBLE_EQ(default_max_lag(100, 3.5, 1000), 45);  // 42.9 s up to a step of 5
}

}  // namespace
}  // namespace xcn::tools
