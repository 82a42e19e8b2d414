// Tests of the MWCS pieces that stand alone: the phase of a cross-spectral value.
#include "dvv/mwcs.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace xcn::dvv {
namespace {

// Every octant, the axes and the reduction's seam at tan(pi/8), over magnitudes far apart.
TEST(PhaseOf, AgreesWithAtan2AllRound) {
  for (double scale : {1e-30, 1e-3, 1.0, 7e20}) {
    for (int step = -4000; step <= 4000; ++step) {
      const double angle = std::numbers::pi * step / 4000;
      const double re = scale * std::cos(angle), im = scale * std::sin(angle);
      ASSERT_NEAR(phase_of(re, im), std::atan2(im, re), 3e-8) << angle << " at " << scale;
    }
    const double seam = std::atan(0.41421356237309503);
    for (double a : {seam - 1e-12, seam, seam + 1e-12}) {
      EXPECT_NEAR(phase_of(scale * std::cos(a), scale * std::sin(a)), a, 3e-8);
    }
  }
  EXPECT_EQ(phase_of(0.0, 0.0), 0.0);
  EXPECT_EQ(phase_of(-2.0, 0.0), std::numbers::pi);
  EXPECT_EQ(phase_of(0.0, -3.0), -std::numbers::pi / 2);
  EXPECT_TRUE(std::isnan(phase_of(std::nan(""), 1.0)));
}

}  // namespace
}  // namespace xcn::dvv
