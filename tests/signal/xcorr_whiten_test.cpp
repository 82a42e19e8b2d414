// Tests of the cross-spectrum step: the modulus through double precision, every vector path
// bit for bit against the portable loop, and the correlation steps against ccfunction.
#include "signal/xcorr_whiten.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "signal/complex.hpp"
#include "signal/xcorr.hpp"
#include "tests/signal/random_data.hpp"

namespace xcn {
namespace {

using detail::SpectrumIsa;
using test::noise;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kMax = std::numeric_limits<float>::max();
constexpr float kTiny = std::numeric_limits<float>::denorm_min();

std::uint32_t bits(float v) {
  std::uint32_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

TEST(Modulus, RoundsTheDoubleRootOnceMore) {
  struct Row {
    float re, im, want;
  };
  for (const Row& r : {
           Row{3.0f, 4.0f, 5.0f},
           Row{-0.0f, -0.0f, 0.0f},
           // sqrt is exactly 2^24 + 1, halfway between two floats: ties to the even 2^24.
           Row{16777215.0f, 8192.0f, 16777216.0f},
           Row{16777215.0f * 0x1p-100f, 8192.0f * 0x1p-100f, 0x1p-76f},
           // No overflow or underflow inside: the squares are exact in double precision.
           Row{0x1p100f, 0x1p100f, 0x1.6a09e6p100f},
           Row{kTiny, 0.0f, kTiny},
           Row{kMax, kMax, kInf},
           Row{kInf, 1.0f, kInf},
       }) {
    EXPECT_EQ(bits(modulus({r.re, r.im})), bits(r.want)) << r.re << " " << r.im;
  }
  EXPECT_TRUE(std::isnan(modulus({kNaN, 0.0f})));
  EXPECT_TRUE(std::isnan(modulus({kInf, kNaN})));
}

// Spectra with every kind of value a transform can produce, and some it cannot.
std::vector<Complex> spectrum_values(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  std::uniform_int_distribution<int> kind(0, 15);
  std::uniform_int_distribution<int> exponent(-140, 120);
  const float specials[] = {0.0f, -0.0f, kInf, -kInf, kTiny, -kTiny, kMax, 16777215.0f, 8192.0f};
  std::vector<Complex> v(n);
  for (auto& z : v) {
    auto one = [&] {
      switch (kind(gen)) {
        case 0:
          return specials[gen() % std::size(specials)];
        case 1:
          return std::ldexp(unit(gen), exponent(gen));
        default:
          return unit(gen) * 1000.0f;
      }
    };
    z = {one(), one()};
  }
  return v;
}

void expect_same_spectrum(const std::vector<Complex>& got, const std::vector<Complex>& want,
                          const char* isa) {
  for (std::size_t k = 0; k < want.size(); ++k) {
    for (const auto& [g, w] :
         {std::pair{got[k].re, want[k].re}, std::pair{got[k].im, want[k].im}}) {
      // Which NaN comes out depends on the operand order the compiler picked; that it is one
      // does not.
      if (std::isnan(w)) {
        ASSERT_TRUE(std::isnan(g)) << isa << " value " << k;
      } else {
        ASSERT_EQ(bits(g), bits(w)) << isa << " value " << k << ": " << g << " vs " << w;
      }
    }
  }
}

const char* path_name(SpectrumIsa isa) { return isa == SpectrumIsa::kAvx2 ? "avx2" : "avx512"; }

class CrossSpectrumVector : public testing::TestWithParam<SpectrumIsa> {
 protected:
  void SetUp() override {
    if (!detail::spectrum_isa_supported(GetParam())) {
      GTEST_SKIP() << "this processor has no " << path_name(GetParam());
    }
  }
};

TEST_P(CrossSpectrumVector, GivesThePortableBits) {
  // Lengths around the vector widths, so that the tails are covered too.
  for (std::size_t n : {1, 3, 4, 7, 8, 9, 15, 16, 17, 31, 33, 2048}) {
    const auto a = spectrum_values(n, static_cast<unsigned>(n));
    const auto b = spectrum_values(n, static_cast<unsigned>(n) + 1000);
    for (bool same : {false, true}) {
      std::vector<Complex> want(n), got(n);
      detail::cross_spectrum_portable(a.data(), b.data(), want.data(), n, same);
      detail::cross_spectrum_with(GetParam(), a.data(), b.data(), got.data(), n, same);
      expect_same_spectrum(got, want, path_name(GetParam()));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, CrossSpectrumVector,
                         testing::Values(SpectrumIsa::kAvx2, SpectrumIsa::kAvx512),
                         [](const testing::TestParamInfo<SpectrumIsa>& info) {
                           return std::string(path_name(info.param));
                         });

TEST(CrossSpectrum, TakesEachBranchAsTheKernelDefinesIt) {
  // Zero product, an ordinary one, one with a NaN modulus.
  const std::vector<Complex> y1 = {{0.0f, 0.0f}, {3.0f, 0.0f}, {1.0f, 2.0f}, {kNaN, 1.0f}};
  const std::vector<Complex> y2 = {{5.0f, 1.0f}, {0.0f, -4.0f}, {1.0f, 2.0f}, {1.0f, 0.0f}};
  std::vector<Complex> yw(4);
  cross_spectrum(y1, y2, yw);  // the first real parts differ: phase only
  EXPECT_EQ(bits(yw[0].re), 0u);
  EXPECT_EQ(bits(yw[0].im), 0u);
  // P = 3 * conj(-4i) = 12i, |P| = 12.
  EXPECT_EQ(yw[1].re, 0.0f);
  EXPECT_EQ(yw[1].im, 1.0f);
  // P = |1 + 2i|^2 = 5: divided by 5.
  EXPECT_EQ(yw[2].re, 1.0f);
  EXPECT_EQ(yw[2].im, 0.0f);
  EXPECT_TRUE(std::isnan(yw[3].re) && std::isnan(yw[3].im));

  std::vector<Complex> power(4);
  cross_spectrum(y1, y1, power);  // the same spectrum twice: P itself
  EXPECT_EQ(power[2].re, 5.0f);
  EXPECT_EQ(power[2].im, 0.0f);
}

TEST(CorrelationSteps, KeptSpectraGiveTheKernelsBits) {
  for (int n : {2000, 667, 4000, 19}) {
    SCOPED_TRACE(n);
    const CcPlan plan(n);
    const std::size_t npt = static_cast<std::size_t>(plan.layout().npt);
    const auto w1 = noise(n, 1), w2 = noise(n, 2);
    for (bool same : {false, true}) {
      // The kernel on fresh copies.
      auto yy1 = w1;
      auto yy2 = same ? w1 : w2;
      std::vector<float> want(static_cast<std::size_t>(n));
      ccfunction(yy1, yy2, 1.0f, n, want, 2000.0f, 0.0f, 0.0f);

      // The steps, each window transformed once.
      auto c1 = w1;
      auto c2 = same ? w1 : w2;
      std::vector<Complex> s1(npt), s2(npt), yw(npt);
      window_spectrum(plan, c1, s1);
      window_spectrum(plan, c2, s2);
      cross_spectrum(s1, s2, yw);
      std::vector<float> got(static_cast<std::size_t>(n));
      correlation_cut(plan, yw, got);
      for (std::size_t k = 0; k < want.size(); ++k) {
        ASSERT_EQ(bits(got[k]), bits(want[k])) << "same " << same << " k " << k;
      }
    }
  }
}

}  // namespace
}  // namespace xcn
