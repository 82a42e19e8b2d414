// Tests of the analytic signal: known Hilbert pairs, the trace kept as the real part, padding.
#include "signal/analytic.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "tests/signal/random_data.hpp"

namespace xcn {
namespace {

TEST(AnalyticSignal, LengthIsNextPowerOfTwo) {
  const struct {
    int n, lx;
  } cases[] = {{0, 1}, {1, 1}, {2, 2}, {3, 4}, {2000, 2048}, {2048, 2048}, {172800, 262144}};
  for (const auto& c : cases) EXPECT_EQ(analytic_length(c.n), c.lx) << c.n;
}

// A whole number of cycles over a power-of-two length: cos gives exp(i wt), sin gives -i exp.
TEST(AnalyticSignal, CosineAndSineGiveTheirQuadrature) {
  constexpr int n = 512;
  for (int cycles : {1, 7, 100, 255}) {
    for (bool sine : {false, true}) {
      SCOPED_TRACE(testing::Message() << cycles << " cycles, " << (sine ? "sin" : "cos"));
      std::vector<float> x(n);
      for (int k = 0; k < n; ++k) {
        const double w = 2 * std::numbers::pi * cycles * k / n;
        x[k] = static_cast<float>(sine ? std::sin(w) : std::cos(w));
      }
      std::vector<Complex> a(n);
      analytic_signal(x, a);
      for (int k = 0; k < n; ++k) {
        const double w = 2 * std::numbers::pi * cycles * k / n;
        const double im = sine ? -std::cos(w) : std::sin(w);
        ASSERT_NEAR(a[k].re, x[k], 2e-5) << k;
        ASSERT_NEAR(a[k].im, im, 2e-5) << k;
      }
    }
  }
}

// Padded traces keep their samples as the real part, and the envelope of a windowed tone is
// its window away from the ends.
TEST(AnalyticSignal, PaddedTraceKeepsItsSamplesAndEnvelope) {
  constexpr int n = 2000;
  std::vector<float> x(n);
  for (int k = 0; k < n; ++k) {
    const double t = (k - 1000) / 200.0;
    x[k] = static_cast<float>(std::exp(-t * t) * std::cos(2 * std::numbers::pi * 0.2 * k));
  }
  std::vector<Complex> a(analytic_length(n));
  analytic_signal(x, a);
  for (int k = 0; k < n; ++k) {
    ASSERT_NEAR(a[k].re, x[k], 1e-5) << k;
    const double t = (k - 1000) / 200.0;
    ASSERT_NEAR(std::hypot(a[k].re, a[k].im), std::exp(-t * t), 1e-3) << k;
  }
}

TEST(AnalyticSignal, TooShortBufferIsLeftAlone) {
  const std::vector<float> x = test::noise(100, 3);
  std::vector<Complex> a(127, Complex{5, 5});
  analytic_signal(x, a);
  for (const Complex& z : a) ASSERT_TRUE(z.re == 5 && z.im == 5);
}

}  // namespace
}  // namespace xcn
