// The rotation's arithmetic: orientations from headers and codes, the motion along a direction
// from any three components that span space, and sums that skip what adds nothing.
#include "rotate/rotation.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

namespace xcn::rotate {
namespace {

constexpr float kUndef = -12345.0f;

TEST(Orientation, TheHeaderTellsItElseTheCodesLastLetter) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    char letter;
    float cmpaz, cmpinc;
    bool known;
    double azimuth, incidence;
  } cases[] = {
      {'Z', kUndef, kUndef, true, 0, 0},   {'N', kUndef, kUndef, true, 0, 90},
      {'E', kUndef, kUndef, true, 90, 90}, {'N', 3, 90, true, 3, 90},
      {'E', 92, kUndef, true, 92, 90},     {'1', 30, 90, true, 30, 90},
      {'2', 120, kUndef, true, 120, 90},   {'1', kUndef, kUndef, false, 0, 0},
      {'2', kUndef, 90, false, 0, 0},      {'1', nan, 90, false, 0, 0},
      {'3', kUndef, 0, true, 0, 0},        {'Z', 0, 180, true, 0, 180},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(1, c.letter) + " " + std::to_string(c.cmpaz) + " " +
                 std::to_string(c.cmpinc));
    const auto o = orientation(c.letter, c.cmpaz, c.cmpinc);
    ASSERT_EQ(o.has_value(), c.known);
    if (!o) continue;
    EXPECT_EQ(o->azimuth_deg, c.azimuth);
    EXPECT_EQ(o->incidence_deg, c.incidence);
  }
}

TEST(Direction, PointsEastNorthAndUpWithoutRoundingCrumbs) {
  const struct {
    double azimuth, incidence;
    Direction want;
  } cases[] = {
      {0, 90, {0, 1, 0}}, {90, 90, {1, 0, 0}},    {180, 90, {0, -1, 0}},
      {0, 0, {0, 0, 1}},  {270, 180, {0, 0, -1}}, {30, 90, {0.5, std::sqrt(3.0) / 2, 0}},
  };
  for (const auto& c : cases) {
    const Direction d = direction(c.azimuth, c.incidence);
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(d[k], c.want[k], 1e-15) << c.azimuth << " " << c.incidence << " part " << k;
      if (c.want[k] == 0) {
        EXPECT_EQ(d[k], 0.0) << c.azimuth << " " << c.incidence;
      }
    }
  }
}

TEST(Frame, TransverseIsRadialTurnedClockwiseAndAzimuthsStayInTheCircle) {
  const struct {
    double radial, r, t;
  } cases[] = {{30, 30, 120}, {300, 300, 30}, {-90, 270, 0}, {450, 90, 180}};
  for (const auto& c : cases) {
    const Frame f = frame(c.radial);
    EXPECT_DOUBLE_EQ(f.axes[0].azimuth_deg, c.r) << c.radial;
    EXPECT_DOUBLE_EQ(f.axes[1].azimuth_deg, c.t) << c.radial;
    EXPECT_EQ(f.axes[0].incidence_deg, 90);
    EXPECT_EQ(f.axes[1].incidence_deg, 90);
    EXPECT_EQ(f.axes[2].incidence_deg, 0);
  }
}

double dot(const Direction& a, const Direction& b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// For any ground motion v, the weighted components give the motion along each wanted
// direction: sum of w[c] (axis[c] . v) = wanted . v.
TEST(Solve, WeightsRecoverTheMotionAlongAnyDirectionFromAnyThreeSpanningComponents) {
  const struct {
    const char* what;
    std::array<std::array<double, 2>, 3> axes;  // azimuth, incidence
  } cases[] = {
      {"E N Z", {{{90, 90}, {0, 90}, {0, 0}}}},
      {"Z E N, another order", {{{0, 0}, {90, 90}, {0, 90}}}},
      {"1 2 Z turned by 37", {{{37, 90}, {127, 90}, {0, 0}}}},
      {"horizontals 60 degrees apart", {{{10, 90}, {70, 90}, {0, 0}}}},
      {"a vertical pointing down", {{{0, 90}, {90, 90}, {0, 180}}}},
      {"tilted, as a Galperin set", {{{0, 54.7356}, {120, 54.7356}, {240, 54.7356}}}},
  };
  const std::array<Direction, 3> wanted = {direction(75, 90), direction(165, 90), direction(0, 0)};
  const std::vector<Direction> motions = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0.3, -1.7, 2.2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::array<Direction, 3> axes;
    for (int k = 0; k < 3; ++k) axes[k] = direction(c.axes[k][0], c.axes[k][1]);
    const auto w = solve(axes, wanted);
    ASSERT_TRUE(w.has_value());
    for (const Direction& v : motions) {
      for (int p = 0; p < 3; ++p) {
        double recovered = 0;
        for (int a = 0; a < 3; ++a) recovered += (*w)[p][a] * dot(axes[a], v);
        EXPECT_NEAR(recovered, dot(wanted[p], v), 1e-12) << "direction " << p;
      }
    }
  }
}

TEST(Solve, ComponentsNearOnePlaneAreRefused) {
  const std::array<Direction, 3> wanted = {direction(0, 90), direction(90, 90), direction(0, 0)};
  // Two horizontals 3 degrees apart, and three horizontals.
  EXPECT_FALSE(solve({direction(0, 90), direction(3, 90), direction(0, 0)}, wanted));
  EXPECT_FALSE(solve({direction(0, 90), direction(90, 90), direction(200, 90)}, wanted));
  // 7 degrees apart still serve.
  EXPECT_TRUE(solve({direction(0, 90), direction(7, 90), direction(0, 0)}, wanted));
}

// The vertical takes nothing from the horizontals of E, N and Z, to the bit, so a horizontal's
// correlation without a window (all not-a-number) leaves ZZ as it is.
TEST(Combine, TermsOfWeightZeroLeaveNoTraceAndSumsAreDouble) {
  const std::array<Direction, 3> axes = {direction(90, 90), direction(0, 90), direction(0, 0)};
  const auto w = solve(axes, {direction(30, 90), direction(120, 90), direction(0, 0)});
  ASSERT_TRUE(w);
  EXPECT_EQ((*w)[2][0], 0.0);
  EXPECT_EQ((*w)[2][1], 0.0);
  EXPECT_EQ((*w)[2][2], 1.0);
  EXPECT_EQ((*w)[0][2], 0.0);
  EXPECT_DOUBLE_EQ((*w)[0][0], 0.5);  // R at 30 degrees: E sin 30 + N cos 30
  EXPECT_DOUBLE_EQ((*w)[0][1], std::sqrt(3.0) / 2);

  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::vector<float> none(4, nan), zz = {1, -2, 3e7f, 1};
  std::array<std::array<std::span<const float>, 3>, 3> c;
  for (auto& row : c) row.fill(none);
  c[2][2] = zz;
  std::vector<float> out(4);
  combine((*w)[2], (*w)[2], c, out);
  EXPECT_EQ(out, zz);
  // A weight on a correlation without a window gives none.
  combine((*w)[0], (*w)[2], c, out);
  EXPECT_TRUE(std::isnan(out[0]));

  // Nine terms that cancel in single precision do not in double.
  std::vector<float> big(1, 1e8f), one(1, 1.0f), minus(1, -1e8f);
  for (auto& row : c) row.fill(one);
  c[0][0] = big;
  c[0][1] = minus;
  const Weights unit = {1, 1, 1};
  std::vector<float> sum(1);
  combine(unit, unit, c, sum);
  EXPECT_EQ(sum[0], 7.0f);
}

}  // namespace
}  // namespace xcn::rotate
