// Tests of the band-pass: its gain at the corners, what it does to tones, and a complex trace
// filtered as its two parts.
#include "signal/band_pass.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "signal/fft.hpp"
#include "tests/signal/random_data.hpp"

namespace xcn {
namespace {

TEST(BandPass, GainAtTheCornersAndTapers) {
  const struct {
    double f, low, high, nyquist, gain;
  } cases[] = {
      {0.0, 0.1, 0.3, 0.5, 0.0},
      {0.079, 0.1, 0.3, 0.5, 0.0},
      {0.08, 0.1, 0.3, 0.5, 0.0},
      {0.09, 0.1, 0.3, 0.5, 0.5},
      {0.1, 0.1, 0.3, 0.5, 1.0},
      {0.2, 0.1, 0.3, 0.5, 1.0},
      {0.3, 0.1, 0.3, 0.5, 1.0},
      {0.33, 0.1, 0.3, 0.5, 0.5},
      {0.36, 0.1, 0.3, 0.5, 0.0},
      {0.4, 0.1, 0.3, 0.5, 0.0},
      // The upper taper ends at the Nyquist frequency when 1.2 high lies beyond it.
      {0.475, 0.1, 0.45, 0.5, 0.5},
      {0.5, 0.1, 0.45, 0.5, 0.0},
      // A band up to the Nyquist frequency keeps it whole.
      {0.5, 0.1, 0.5, 0.5, 1.0},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(band_pass_gain(c.f, c.low, c.high, c.nyquist), c.gain, 1e-6)
        << c.f << " Hz in " << c.low << "-" << c.high;
  }
}

TEST(BandPass, TransformLengthHoldsTheTraceTwice) {
  const struct {
    int n, length;
  } cases[] = {{1, 2}, {2, 4}, {3, 8}, {1000, 2048}, {1024, 2048}, {2000, 4096}};
  for (const auto& c : cases) EXPECT_EQ(band_pass_length(c.n), c.length) << c.n;
}

// Tones, away from the record's ends: in the band they pass
// unchanged (no gain, no phase), halfway down a taper they keep half, outside they go.
TEST(BandPass, TonesKeepTheirGainAndPhase) {
  constexpr int n = 2000;
  const struct {
    double f, gain;
  } cases[] = {{0.05, 0.0}, {0.09, 0.5}, {0.15, 1.0}, {0.25, 1.0}, {0.33, 0.5}, {0.45, 0.0}};
  std::vector<Complex> work(band_pass_length(n));
  for (const auto& c : cases) {
    std::vector<float> x(n);
    for (int k = 0; k < n; ++k)
      x[k] = static_cast<float>(std::cos(2 * std::numbers::pi * c.f * k + 0.7));
    band_pass(x, 1.0, 0.1, 0.3, work);
    double worst = 0;
    for (int k = 500; k < 1500; ++k) {
      const double expected = c.gain * std::cos(2 * std::numbers::pi * c.f * k + 0.7);
      worst = std::max(worst, std::fabs(x[k] - expected));
    }
    EXPECT_LT(worst, 2e-3) << c.f << " Hz";
  }
}

// The gains are real and even in frequency: x + i y comes back as filtered x + i filtered y.
TEST(BandPass, ComplexTraceIsFilteredAsItsTwoParts) {
  constexpr int n = 1500;
  const int length = band_pass_length(n);
  std::vector<float> x = test::noise(n, 4), y = test::noise(n, 5);
  std::vector<float> gains(length / 2 + 1);
  band_pass_gains(length, 0.5, 0.05, 0.4, gains);
  std::vector<Complex> both(length, Complex{0, 0});
  for (int k = 0; k < n; ++k) both[k] = {x[k], y[k]};
  fork(length, 1, both);
  apply_gains(both, length, gains);
  fork(length, -1, both);
  std::vector<Complex> work(length);
  band_pass(x, 0.5, 0.05, 0.4, work);
  band_pass(y, 0.5, 0.05, 0.4, work);
  for (int k = 0; k < n; ++k) {
    ASSERT_NEAR(both[k].re, x[k], 1e-5) << k;
    ASSERT_NEAR(both[k].im, y[k], 1e-5) << k;
  }
}

TEST(BandPass, TooShortWorkLeavesTheTraceAlone) {
  std::vector<float> x = test::noise(100, 6);
  const std::vector<float> before = x;
  std::vector<Complex> work(255);
  band_pass(x, 1.0, 0.1, 0.3, work);
  EXPECT_EQ(x, before);
}

}  // namespace
}  // namespace xcn
