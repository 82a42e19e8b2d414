// Header distance and azimuths: reference values, requests, the angle fold, header refresh.
#include "geodesy/distaz.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "sacio/header_model.hpp"

namespace xcn {
namespace {

struct Result {
  float dist, az, baz, gcarc;
  int nerr;
};

Result all_four(double evla, double evlo, float stla, float stlo) {
  Result r{0.0f, 0.0f, 0.0f, 0.0f, -1};
  distaz(evla, evlo, &stla, &stlo, 1, &r.dist, &r.az, &r.baz, &r.gcarc, &r.nerr);
  return r;
}

TEST(Distaz, ReferenceValuesToThePrintedPrecision) {
  struct Row {
    double evla, evlo;
    float stla, stlo;
    double gcarc, az, baz, dist;
    double tol_arc, tol_angle, tol_dist;
  };
  const Row rows[] = {
      {0, 0, 10, 0, 9.93439, 0, 180, 1105.859, 5e-6, 5e-5, 5e-4},
      {10, 0, 0, 0, 9.93439, 180, 0, 1105.859, 5e-6, 5e-5, 5e-4},
      {0, 0, 0, 10, 10.00000, 90, 270, 1113.199, 5e-6, 5e-5, 5e-4},
      {30, 100, 30, 101, 0.86747, 89.7513, 270.2487, 96.486, 5e-6, 5e-5, 5e-4},
      {35, 139, 40, -120, 75.8035, 51.0601, 303.7717, 8423.95, 5e-5, 5e-5, 5e-3},
  };
  for (const Row& row : rows) {
    const Result r = all_four(row.evla, row.evlo, row.stla, row.stlo);
    SCOPED_TRACE(testing::Message() << "(" << row.evla << "," << row.evlo << ") to (" << row.stla
                                    << "," << row.stlo << ")");
    EXPECT_EQ(r.nerr, 0);
    EXPECT_NEAR(r.gcarc, row.gcarc, row.tol_arc);
    // 0 and 360 are the same direction, but only 0 may be stored.
    EXPECT_NEAR(r.az, row.az, row.tol_angle);
    EXPECT_NEAR(r.baz, row.baz, row.tol_angle);
    EXPECT_NEAR(r.dist, row.dist, row.tol_dist);
  }
}

TEST(Distaz, DueNorthAnglesFoldToZeroNot360) {
  struct Pair {
    double evla, evlo;
    float stla, stlo;
  };
  const Pair pairs[] = {{-85, -120, -65, -120},
                        {10, 50, 40, 50},
                        {-30, 170, 20, 170},
                        {60, -75, 80, -75},
                        {40, 25, 10, 25}};
  for (const Pair& p : pairs) {
    const Result r = all_four(p.evla, p.evlo, p.stla, p.stlo);
    for (float angle : {r.az, r.baz}) {
      EXPECT_GE(angle, 0.0f) << p.evla << " " << p.evlo;
      EXPECT_LT(angle, 360.0f) << p.evla << " " << p.evlo;
      EXPECT_LT(std::min({angle, 360.0f - angle, std::fabs(angle - 180.0f)}), 1e-3f);
    }
  }
}

TEST(Distaz, NegativeRequestLeavesTheWholeArray) {
  const float stla[2] = {10.0f, 20.0f};
  const float stlo[2] = {0.0f, 0.0f};
  float dist[2] = {-1.0f, 55.0f};
  float az[2] = {std::numeric_limits<float>::quiet_NaN(), 55.0f};
  float baz[2] = {-12345.0f, 55.0f};
  float gcarc[2] = {0.0f, 55.0f};
  int nerr = -1;
  distaz(0.0, 0.0, stla, stlo, 2, dist, az, baz, gcarc, &nerr);
  EXPECT_EQ(nerr, 0);
  EXPECT_EQ(dist[0], -1.0f);
  EXPECT_EQ(dist[1], 55.0f);
  EXPECT_EQ(baz[0], -12345.0f);
  EXPECT_EQ(baz[1], 55.0f);
  EXPECT_NEAR(az[0], 0.0f, 5e-5);  // NaN requests it
  EXPECT_NEAR(az[1], 0.0f, 5e-5);
  EXPECT_NEAR(gcarc[0], 9.93439f, 5e-6);
  EXPECT_GT(gcarc[1], 19.0f);
}

TEST(Distaz, PolesAndEquatorAreDefined) {
  const Result north = all_four(90.0, 0.0, 0.0f, 30.0f);
  EXPECT_NEAR(north.gcarc, 90.0f, 1e-4);
  EXPECT_NEAR(north.dist, 10001.966, 0.5);  // meridian quadrant of this ellipsoid
  EXPECT_EQ(north.nerr, 0);
  const Result south = all_four(-90.0, 0.0, 0.0f, 30.0f);
  EXPECT_NEAR(south.dist, north.dist, 1e-3);
  EXPECT_TRUE(std::isfinite(all_four(0.0, 0.0, 0.0f, 0.0f).dist));
}

TEST(UpdateDistaz, RefreshesOnlyRequestedFieldsOfTheCurrentHeader) {
  newhdr();
  Fhdr(kEvla) = 0.0f;
  Fhdr(kEvlo) = 0.0f;
  Fhdr(kStla) = 10.0f;
  Fhdr(kStlo) = 0.0f;
  Fhdr(kDist) = 0.0f;
  update_distaz();
  EXPECT_NEAR(Fhdr(kDist), 1105.859f, 5e-4);
  EXPECT_EQ(Fhdr(kAz), -12345.0f);
  EXPECT_EQ(Fhdr(kBaz), -12345.0f);
  EXPECT_EQ(Fhdr(kGcarc), -12345.0f);

  Fhdr(kStla) = 0.0f;  // coincident: azimuths have no meaning and become 0
  Fhdr(kAz) = 33.0f;
  update_distaz();
  EXPECT_EQ(Fhdr(kAz), 0.0f);
  EXPECT_EQ(Fhdr(kBaz), 0.0f);
  EXPECT_LT(Fhdr(kDist), 1e-3f);

  Fhdr(kStlo) = -12345.0f;
  Fhdr(kDist) = 4.0f;
  update_distaz();
  EXPECT_EQ(Fhdr(kDist), 4.0f);
}

}  // namespace
}  // namespace xcn
