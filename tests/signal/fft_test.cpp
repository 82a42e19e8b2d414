// Tests of the radix-2 FFT and the spectrum completion.
#include "signal/fft.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <vector>

#include "tests/signal/random_data.hpp"

namespace xcn {
namespace {

using test::random_signal;

bool same_bits(const std::vector<Complex>& a, const std::vector<Complex>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Complex)) == 0;
}

TEST(Fork, ImpulsesGiveExponentialsWithScaleOnNegativeSign) {
  for (int lx : {4, 8, 64, 1024}) {
    for (int sign : {+1, -1}) {
      const float sc = sign < 0 ? 1.0f / static_cast<float>(lx) : 1.0f;
      SCOPED_TRACE(testing::Message() << "lx " << lx << " sign " << sign);

      std::vector<Complex> x0(lx, Complex{0, 0});
      x0[0] = {1, 0};
      fork(lx, sign, x0);
      for (int k = 0; k < lx; ++k) {
        ASSERT_EQ(x0[k].re, sc);
        ASSERT_EQ(x0[k].im, 0.0f);
      }

      std::vector<Complex> x1(lx, Complex{0, 0});
      x1[1] = {1, 0};
      fork(lx, sign, x1);
      for (int k = 0; k < lx; ++k) {
        const double phase = sign * 2.0 * std::numbers::pi * k / lx;
        EXPECT_NEAR(x1[k].re, sc * std::cos(phase), 1e-6 * sc) << "k " << k;
        EXPECT_NEAR(x1[k].im, sc * std::sin(phase), 1e-6 * sc) << "k " << k;
      }
      EXPECT_NEAR(x1[lx / 4].re, 0.0f, 1e-6f * sc);
      EXPECT_NEAR(x1[lx / 4].im, sign * sc, 1e-6f * sc);

      // The last stage writes its twiddles straight into this output, so the values must be
      // exactly the single-precision exponential of the twiddle angle, not a recurrence.
      const int h = lx / 2;
      for (int m = 0; m < h; ++m) {
        const float theta =
            static_cast<float>(m) * (kPi * static_cast<float>(sign)) / static_cast<float>(h);
        ASSERT_EQ(x1[m].re, std::cos(theta) * sc) << "m " << m;
        ASSERT_EQ(x1[m].im, std::sin(theta) * sc) << "m " << m;
        ASSERT_EQ(x1[m + h].re, -x1[m].re);
        ASSERT_EQ(x1[m + h].im, -x1[m].im);
      }
    }
  }
}

TEST(Fork, OneAndTwoPointsAreExact) {
  for (int sign : {+1, -1}) {
    std::vector<Complex> one{{3.5f, -1.25f}};
    fork(1, sign, one);
    EXPECT_EQ(one[0].re, 3.5f);
    EXPECT_EQ(one[0].im, -1.25f);
  }
  std::vector<Complex> two{{3.0f, 1.0f}, {1.0f, -2.0f}};
  fork(2, +1, two);
  EXPECT_EQ(two[0].re, 4.0f);
  EXPECT_EQ(two[0].im, -1.0f);
  EXPECT_EQ(two[1].re, 2.0f);
  EXPECT_EQ(two[1].im, 3.0f);
  two = {{3.0f, 1.0f}, {1.0f, -2.0f}};
  fork(2, -1, two);
  EXPECT_EQ(two[0].re, 2.0f);
  EXPECT_EQ(two[0].im, -0.5f);
  EXPECT_EQ(two[1].re, 1.0f);
  EXPECT_EQ(two[1].im, 1.5f);
}

TEST(Fork, ForwardThenInverseReturnsInput) {
  const auto input = random_signal(4096, 7);
  auto x = input;
  fork(4096, +1, x);
  fork(4096, -1, x);
  for (std::size_t k = 0; k < x.size(); ++k) {
    ASSERT_NEAR(x[k].re, input[k].re, 2e-6f);
    ASSERT_NEAR(x[k].im, input[k].im, 2e-6f);
  }
}

TEST(Fork, MatchesDoublePrecisionDftByRelativeError) {
  for (int lx = 2; lx <= 8192; lx *= 2) {
    for (int sign : {+1, -1}) {
      auto x = random_signal(lx, static_cast<unsigned>(lx + sign));
      // Phases indexed by n*k mod lx keep the reference at full double precision.
      std::vector<std::complex<double>> w(lx);
      for (int j = 0; j < lx; ++j) w[j] = std::polar(1.0, sign * 2.0 * std::numbers::pi * j / lx);
      std::vector<std::complex<double>> ref(lx);
      for (int k = 0; k < lx; ++k) {
        std::complex<double> s = 0;
        for (int n = 0; n < lx; ++n) {
          s += std::complex<double>(x[n].re, x[n].im) * w[(1L * n * k) % lx];
        }
        ref[k] = sign < 0 ? s / static_cast<double>(lx) : s;
      }
      fork(lx, sign, x);
      double err = 0, norm = 0;
      for (int k = 0; k < lx; ++k) {
        err += std::norm(std::complex<double>(x[k].re, x[k].im) - ref[k]);
        norm += std::norm(ref[k]);
      }
      EXPECT_LT(std::sqrt(err / norm), 1e-6) << "lx " << lx << " sign " << sign;
    }
  }
}

TEST(Fork, RejectedLengthsLeaveArrayUntouched) {
  const auto input = random_signal(16, 3);
  // Not positive, not a power of two, or longer than the array.
  for (int lx : {0, -1, -8, 3, 6, 12, 15, 32}) {
    auto x = input;
    fork(lx, +1, x);
    EXPECT_TRUE(same_bits(x, input)) << "lx " << lx;
    fork(lx, -1, x);
    EXPECT_TRUE(same_bits(x, input)) << "lx " << lx;
  }
}

TEST(Fold, CompletesConjugateSymmetricSpectrum) {
  std::vector<Complex> u(8);
  for (int k = 0; k < 8; ++k) u[k] = {static_cast<float>(k + 1), static_cast<float>(10 * (k + 1))};
  fold(8, 5, u);
  // One-based: u(8) = conj u(2), u(7) = conj u(3), u(6) = conj u(4), u(5) = conj u(5).
  const std::vector<Complex> want{{1, 10},  {2, 20},  {3, 30},  {4, 40},
                                  {5, -50}, {4, -40}, {3, -30}, {2, -20}};
  EXPECT_TRUE(same_bits(u, want));

  const auto before = u;
  fold(8, 1, u);
  fold(8, 0, u);
  fold(8, 9, u);   // more values than the spectrum holds
  fold(16, 5, u);  // spectrum longer than the array
  EXPECT_TRUE(same_bits(u, before));
}

}  // namespace
}  // namespace xcn
