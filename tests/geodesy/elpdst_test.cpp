// Tests of the ellipsoidal distance and azimuths: reference table, symmetry, poles, degenerate
// pairs.
#include "geodesy/elpdst.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace xcn {
namespace {

struct Result {
  double dist, az, baz;
};

Result run(double lat1, double lon1, double lat2, double lon2) {
  Result r{};
  elpdst(lat1, lon1, lat2, lon2, r.dist, r.az, r.baz);
  return r;
}

// Angular difference that treats 0 and 360 as the same direction.
double angle_diff(double a, double b) {
  const double d = std::fabs(a - b);
  return std::min(d, 360.0 - d);
}

struct Row {
  double lat1, lon1, lat2, lon2, dist, az, baz;
};

constexpr Row kReference[] = {
    {0, 0, 10, 0, 1105.855, 0, 180},
    {10, 0, 0, 0, 1105.855, 180, 0},
    {0, 0, 0, 10, 1113.195, 90, 270},
    {0, 0, 0, -10, 1113.195, 270, 90},
    {30, 100, 30, 101, 96.486, 89.750, 270.250},
    {35, 139, 40, -120, 8423.920, 50.925, 303.910},
    {10, 20, -10, 25, 2279.985, 165.797, 345.797},
    // A pole as either point, with the reduced latitude taken exactly there.
    {90, 0, 45, 0, 5017.023, 180, 0},
    {-90, 0, -45, 0, 5017.023, 0, 180},
    {90, 70, 45, 0, 5017.023, 250, 0},  // at a pole, north is along its own meridian
};

TEST(Elpdst, ReproducesReferenceTableInBothOrders) {
  for (const Row& r : kReference) {
    SCOPED_TRACE(testing::Message()
                 << "(" << r.lat1 << ", " << r.lon1 << ") to (" << r.lat2 << ", " << r.lon2 << ")");
    const Result fwd = run(r.lat1, r.lon1, r.lat2, r.lon2);
    EXPECT_NEAR(fwd.dist, r.dist, 0.0005);
    EXPECT_LE(angle_diff(fwd.az, r.az), 0.0005);
    EXPECT_LE(angle_diff(fwd.baz, r.baz), 0.0005);
    const Result rev = run(r.lat2, r.lon2, r.lat1, r.lon1);
    EXPECT_NEAR(rev.dist, r.dist, 0.0005);
    EXPECT_LE(angle_diff(rev.az, r.baz), 0.0005);
    EXPECT_LE(angle_diff(rev.baz, r.az), 0.0005);
  }
}

TEST(Elpdst, SwappedPointsAgreeAndAzimuthsStayInRange) {
  std::mt19937 gen(12);
  std::uniform_real_distribution<double> lat(-89.0, 89.0), lon(-180.0, 180.0);
  for (int i = 0; i < 2000; ++i) {
    const double a = lat(gen), b = lon(gen), c = lat(gen), d = lon(gen);
    const Result fwd = run(a, b, c, d);
    const Result rev = run(c, d, a, b);
    if (fwd.dist > 19000.0) continue;  // the series degrades toward the antipode
    ASSERT_NEAR(fwd.dist, rev.dist, 1e-6 * fwd.dist) << a << " " << b << " " << c << " " << d;
    ASSERT_LE(angle_diff(fwd.az, rev.baz), 1e-6);
    for (double az : {fwd.az, fwd.baz}) {
      ASSERT_GE(az, 0.0);
      ASSERT_LT(az, 360.0);
    }
  }
}

TEST(Elpdst, CoincidentAndNearlyCoincidentPointsGiveZeroWithUndefinedAzimuths) {
  const double cases[][4] = {
      {12.5, 33.0, 12.5, 33.0},       {0, 0, 1e-8, 0},
      {45, 7, 45, 7 + 1e-9},          {90, 0, 90, 50},
      {-90, 10, -90, -170},           {89.9999999999, 0, 89.9999999999, 120},
      {-33.25, -70.5, -33.25, -70.5},
  };
  for (const auto& c : cases) {
    const Result r = run(c[0], c[1], c[2], c[3]);
    EXPECT_EQ(r.dist, 0.0) << c[0] << " " << c[1] << " " << c[2] << " " << c[3];
    EXPECT_EQ(r.az, -12345.0);
    EXPECT_EQ(r.baz, -12345.0);
  }
  // A metre apart is still a real distance with real azimuths.
  const Result m = run(0, 0, 0, 1e-5);
  EXPECT_NEAR(m.dist, 0.0011132, 1e-6);
  EXPECT_NEAR(m.az, 90.0, 1e-6);
  EXPECT_NEAR(m.baz, 270.0, 1e-6);
}

TEST(Elpdst, AntipodalAndNonFiniteInputsTerminateWithUsableOutputs) {
  const double cases[][4] = {
      {0, 0, 0, 180},   {10, 20, -10, -160}, {90, 0, -90, 0},      {30, 0, -30, 180},
      {NAN, 0, 10, 10}, {0, INFINITY, 1, 1}, {0, 0, -INFINITY, 0},
  };
  for (const auto& c : cases) {
    const Result r = run(c[0], c[1], c[2], c[3]);
    for (double v : {r.dist, r.az, r.baz}) EXPECT_TRUE(std::isfinite(v));
    for (double az : {r.az, r.baz}) {
      EXPECT_TRUE(az == -12345.0 || (az >= 0.0 && az < 360.0)) << az;
    }
  }
  const Result bad = run(NAN, 0, 10, 10);
  EXPECT_EQ(bad.dist, -12345.0);
  EXPECT_EQ(bad.az, -12345.0);
  EXPECT_EQ(bad.baz, -12345.0);
}

}  // namespace
}  // namespace xcn
