// Tests of the fast FFT paths: the same bits as the plain loop on every path the CPU runs.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <latch>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include "signal/fft.hpp"
#include "signal/fft_isa.hpp"
#include "tests/signal/random_data.hpp"

namespace xcn {
namespace {

using test::random_signal;

constexpr int kMaxLog2 = 18;

float bits_to_float(std::uint32_t u) { return std::bit_cast<float>(u); }

// Values where a reordered or fused operation shows: signed zeros, NaNs of both signs with and
// without payload (a signalling one too), infinities, subnormals, the extremes of the range.
const std::vector<float>& special_values() {
  static const std::vector<float> v{0.0f,
                                    -0.0f,
                                    std::numeric_limits<float>::quiet_NaN(),
                                    -std::numeric_limits<float>::quiet_NaN(),
                                    bits_to_float(0x7fc12345u),
                                    bits_to_float(0xffc00001u),
                                    std::numeric_limits<float>::signaling_NaN(),
                                    std::numeric_limits<float>::infinity(),
                                    -std::numeric_limits<float>::infinity(),
                                    std::numeric_limits<float>::denorm_min(),
                                    -1.5e-40f,
                                    std::numeric_limits<float>::min(),
                                    std::numeric_limits<float>::max(),
                                    -std::numeric_limits<float>::max(),
                                    3.0e38f,
                                    1.0e30f,
                                    -7.0e-39f};
  return v;
}

// Random data with a share of its components replaced by special values.
std::vector<Complex> special_signal(int n, double share, unsigned seed) {
  auto x = random_signal(n, seed);
  std::mt19937 gen(seed * 31 + 1);
  std::bernoulli_distribution pick(share);
  std::uniform_int_distribution<std::size_t> which(0, special_values().size() - 1);
  for (auto& v : x) {
    if (pick(gen)) v.re = special_values()[which(gen)];
    if (pick(gen)) v.im = special_values()[which(gen)];
  }
  return x;
}

// Index of the first float whose bits differ, or -1. Which NaN an operation returns is up to the
// compiler (the plain loop alone gives other NaN signs at -O0 than at -O2), so two NaNs count
// as equal; every other value, zeros and infinities included, must match bit for bit.
long first_difference(const std::vector<Complex>& a, const std::vector<Complex>& b) {
  if (std::memcmp(a.data(), b.data(), a.size() * sizeof(Complex)) == 0) return -1;
  for (std::size_t k = 0; k < a.size(); ++k) {
    const float fa[2] = {a[k].re, a[k].im};
    const float fb[2] = {b[k].re, b[k].im};
    for (int c = 0; c < 2; ++c) {
      if (std::isnan(fa[c]) && std::isnan(fb[c])) continue;
      if (std::bit_cast<std::uint32_t>(fa[c]) != std::bit_cast<std::uint32_t>(fb[c])) {
        return static_cast<long>(2 * k + c);
      }
    }
  }
  return -1;
}

// Runs path isa and the plain loop on the same input and reports the first differing float.
void expect_same_bits(FftIsa isa, int lx, int sign, const std::vector<Complex>& input) {
  auto fast = input;
  auto plain = input;
  fork_with(isa, lx, sign, fast);
  fork_reference(lx, sign, plain);
  const long k = first_difference(fast, plain);
  ASSERT_EQ(k, -1) << fft_isa_name(isa) << " lx " << lx << " sign " << sign << " float " << k
                   << ": " << reinterpret_cast<const float*>(fast.data())[k] << " vs "
                   << reinterpret_cast<const float*>(plain.data())[k];
}

class FastFork : public testing::TestWithParam<FftIsa> {
 protected:
  void SetUp() override {
    if (!fft_isa_supported(GetParam())) {
      GTEST_SKIP() << "this CPU cannot run the " << fft_isa_name(GetParam()) << " path";
    }
  }
};

TEST_P(FastFork, MatchesPlainLoopBitForBitOnEveryLength) {
  for (int log2n = 0; log2n <= kMaxLog2; ++log2n) {
    const int lx = 1 << log2n;
    for (int sign : {+1, -1}) {
      expect_same_bits(GetParam(), lx, sign, random_signal(lx, 100 + log2n));
    }
  }
}

TEST_P(FastFork, MatchesPlainLoopOnSpecialValues) {
  // Sparse specials keep most outputs finite, so the signed zeros and subnormals stay visible;
  // dense ones drive NaNs and infinities through every stage.
  for (double share : {0.002, 0.05, 0.5, 1.0}) {
    for (int log2n : {0, 1, 2, 3, 4, 5, 6, 7, 10, 11, 13, 15}) {
      const int lx = 1 << log2n;
      for (int sign : {+1, -1}) {
        expect_same_bits(GetParam(), lx, sign,
                         special_signal(lx, share, static_cast<unsigned>(lx + 7 * log2n)));
      }
    }
  }
  // Values that overflow only in the butterflies, and subnormals that the scaling makes.
  for (float scale : {3.0e37f, 1.0e-36f}) {
    auto x = random_signal(2048, 5);
    for (auto& v : x) v = {v.re * scale, v.im * scale};
    for (int sign : {+1, -1}) expect_same_bits(GetParam(), 2048, sign, x);
  }
}

TEST_P(FastFork, FallsBackToPlainLoopOutsideItsTables) {
  // Other signs scale the phase; 2^19 points is past the largest table.
  for (int sign : {0, 2, -3}) expect_same_bits(GetParam(), 256, sign, random_signal(256, 9));
  expect_same_bits(GetParam(), 1 << 19, -1, random_signal(1 << 19, 10));
}

TEST_P(FastFork, RejectedLengthsLeaveArrayUntouched) {
  const auto input = special_signal(64, 0.2, 3);
  for (int lx : {0, -1, -64, 3, 48, 63, 128}) {
    for (int sign : {+1, -1}) {
      auto x = input;
      fork_with(GetParam(), lx, sign, x);
      EXPECT_EQ(first_difference(x, input), -1) << "lx " << lx;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, FastFork,
                         testing::Values(FftIsa::portable, FftIsa::avx2, FftIsa::avx512),
                         [](const testing::TestParamInfo<FftIsa>& info) {
                           return std::string(fft_isa_name(info.param));
                         });

TEST(FastForkTables, ConcurrentFirstUseBuildsThemOnce) {
  // Every thread runs every length at once from a common start, in its own order, so that the
  // tables of each stage are first asked for by several threads together.
  constexpr int kThreads = 6;
  std::vector<std::vector<Complex>> inputs, want;
  for (int log2n = 0; log2n <= 16; ++log2n) {
    inputs.push_back(random_signal(1 << log2n, 200 + log2n));
    want.push_back(inputs.back());
    fork_reference(1 << log2n, log2n % 2 == 0 ? 1 : -1, want.back());
  }
  std::latch start(kThreads);
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (std::size_t i = 0; i < inputs.size(); ++i) {
        const std::size_t log2n = t % 2 == 0 ? i : inputs.size() - 1 - i;
        auto x = inputs[log2n];
        fork(1 << log2n, log2n % 2 == 0 ? 1 : -1, x);
        if (first_difference(x, want[log2n]) != -1) ++failures[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

TEST(FastForkChoice, RequestIsLoweredToWhatTheCpuRuns) {
  const FftIsa best = fft_isa_supported(FftIsa::avx512) ? FftIsa::avx512
                      : fft_isa_supported(FftIsa::avx2) ? FftIsa::avx2
                                                        : FftIsa::portable;
  const FftIsa avx2_or_below = fft_isa_supported(FftIsa::avx2) ? FftIsa::avx2 : FftIsa::portable;
  EXPECT_EQ(choose_fft_isa("plain"), FftIsa::plain);
  EXPECT_EQ(choose_fft_isa("portable"), FftIsa::portable);
  EXPECT_EQ(choose_fft_isa("avx2"), avx2_or_below);
  EXPECT_EQ(choose_fft_isa("avx512"), best);
  for (const char* other : {static_cast<const char*>(nullptr), "", "AVX2", "sse", "avx"}) {
    EXPECT_EQ(choose_fft_isa(other), best) << (other ? other : "(unset)");
  }
  EXPECT_TRUE(fft_isa_supported(fft_isa()));
}

}  // namespace
}  // namespace xcn
