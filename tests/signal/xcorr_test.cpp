// Tests of the window correlation kernel: layout, lag convention, both branches, taper, threads.
#include "signal/xcorr.hpp"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "tests/signal/random_data.hpp"

namespace xcn {
namespace {

using test::noise;

// A window that is zero except for a noise burst over its middle half, delayed by `delay`
// samples: it stays clear of both tapers and of the window ends for small delays.
std::vector<float> burst(int n, int delay, unsigned seed) {
  const auto src = noise(n, seed);
  std::vector<float> v(n, 0.0f);
  for (int i = n / 4; i < 3 * n / 4; ++i) v[i + delay] = src[i];
  return v;
}

std::vector<float> correlate(std::vector<float> a, std::vector<float> b, int nptlen) {
  std::vector<float> out(nptlen);
  ccfunction(a, b, 1.0f, nptlen, out, 2000.0f, 0.0f, 0.0f);
  return out;
}

bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

TEST(CcLayout, PadsCentresTapersAndPlacesLagZero) {
  struct Row {
    int nptlen, npt, nhead, ntpr, lag0;
  };
  for (const Row& r :
       {Row{2000, 2048, 24, 100, 1001}, Row{8000, 8192, 96, 400, 4001},
        Row{4096, 4096, 0, 204, 2049}, Row{1999, 2048, 24, 99, 1000},
        Row{4097, 8192, 2047, 204, 2049}, Row{20, 32, 6, 1, 11}, Row{19, 32, 6, 0, 10},
        Row{1, 1, 0, 0, 1}, Row{172800, 262144, 44672, 8640, 86401}}) {
    const CcLayout got = cc_layout(r.nptlen);
    EXPECT_EQ(got.npt, r.npt) << r.nptlen;
    EXPECT_EQ(got.nhead, r.nhead) << r.nptlen;
    EXPECT_EQ(got.ntpr, r.ntpr) << r.nptlen;
    EXPECT_EQ(got.lag0, r.lag0) << r.nptlen;
  }
  for (int bad : {0, -1, -2000}) EXPECT_EQ(cc_layout(bad).npt, 0);
}

TEST(CcLayout, PadsToSmallestPowerOfTwoForEveryRecordLength) {
  int want = 1;
  for (int n = 1; n <= 262144; ++n) {
    if (n > want) want *= 2;
    ASSERT_EQ(cc_layout(n).npt, want) << n;
    ASSERT_EQ(cc_layout(n).lag0, n / 2 + 1) << n;
  }
}

TEST(Ccfunction, DelayedCopyPeaksAtItsDelayForBothParities) {
  for (int n : {2000, 1999, 2001, 4096, 4095, 8000, 20000, 172800}) {
    const int lag0 = n / 2 + 1;
    for (int s : {1, 5, -9}) {
      SCOPED_TRACE(testing::Message() << "nptlen " << n << " delay " << s);
      // The first window sees the feature s samples later than the second.
      const auto yy = correlate(burst(n, s, 11), burst(n, 0, 11), n);
      const auto peak = std::max_element(yy.begin(), yy.end());
      EXPECT_EQ(peak - yy.begin() + 1, lag0 + s);
      EXPECT_NEAR(*peak, 1.0f, 1e-3f);
    }
  }
}

TEST(Ccfunction, CrossCorrelationIsPhaseOnly) {
  auto a = noise(2000, 1);
  auto b = noise(2000, 2);
  for (float& x : a) x *= 1000.0f;  // amplitude must not matter
  const auto yy = correlate(a, b, 2000);
  for (float v : yy) ASSERT_LE(std::fabs(v), 1.0f + 1e-5f);
}

TEST(Ccfunction, IdenticalWindowsGiveSymmetricAutocorrelation) {
  for (int n : {2000, 1999}) {
    SCOPED_TRACE(n);
    const auto w = noise(n, 5);
    auto yy1 = w;
    auto yy2 = w;
    std::vector<float> yy(n);
    ccfunction(yy1, yy2, 1.0f, n, yy, 2000.0f, 0.0f, 0.0f);
    double energy = 0;  // the second window comes back tapered
    for (float x : yy2) energy += static_cast<double>(x) * x;
    const int z = n / 2;  // zero-based lag 0
    EXPECT_NEAR(yy[z], energy, 1e-5 * energy);
    for (int lag = 1; lag < n / 2; ++lag) {
      ASSERT_NEAR(yy[z + lag], yy[z - lag], 1e-5 * energy) << "lag " << lag;
      ASSERT_LT(yy[z + lag], yy[z]);
    }
  }
}

TEST(Ccfunction, FirstWindowReturnsFullRotatedCorrelation) {
  for (int n : {2000, 1999}) {
    const CcLayout lay = cc_layout(n);
    auto yy1 = noise(lay.npt, 8);  // room for the whole transform
    auto yy2 = noise(n, 9);
    std::vector<float> yy(n);
    ccfunction(yy1, yy2, 1.0f, n, yy, 2000.0f, 0.0f, 0.0f);
    const int first = lay.npt / 2 + 1 - lay.lag0;  // zero-based start of the cut
    for (int k = 0; k < n; ++k) ASSERT_EQ(yy[k], yy1[first + k]) << "nptlen " << n << " k " << k;
  }
}

TEST(Ccfunction, ZeroWindowGivesZeros) {
  const std::vector<float> zero(2000, 0.0f);
  const auto w = noise(2000, 3);
  EXPECT_TRUE(same_bits(correlate(w, zero, 2000), zero));
  EXPECT_TRUE(same_bits(correlate(zero, w, 2000), zero));
}

TEST(Ccfunction, TaperRampsAreOneSampleOutOfStep) {
  struct Row {
    int nptlen, ntpr;
  };
  for (const Row& r : {Row{19, 0}, Row{20, 1}, Row{2000, 100}}) {
    SCOPED_TRACE(r.nptlen);
    std::vector<float> yy1(r.nptlen, 1.0f), yy2(r.nptlen, 1.0f), yy(r.nptlen);
    ccfunction(yy1, yy2, 1.0f, r.nptlen, yy, 2000.0f, 0.0f, 0.0f);
    const int n = r.nptlen;
    if (r.ntpr == 0) {
      EXPECT_TRUE(same_bits(yy2, std::vector<float>(n, 1.0f)));
      continue;
    }
    EXPECT_EQ(yy2[0], 0.0f);
    EXPECT_EQ(yy2[n - r.ntpr], 1.0f);  // back ramp starts at full weight
    EXPECT_EQ(yy2[n - 1], 0.5f - 0.5f * std::cos(3.1415927f / static_cast<float>(r.ntpr)));
    if (r.ntpr > 1) {
      EXPECT_GT(yy2[n - 1], 0.0f);
      EXPECT_LT(yy2[r.ntpr - 1], 1.0f);  // front ramp ends below full weight
    }
    for (int i = r.ntpr; i < n - r.ntpr; ++i) ASSERT_EQ(yy2[i], 1.0f) << i;
  }
}

TEST(Ccfunction, OutOfRangeCallsLeaveEverythingUntouched) {
  const auto w1 = noise(100, 1), w2 = noise(100, 2);
  const std::vector<float> sentinel(100, 7.0f);
  // Non-positive lengths, and a length beyond the arrays.
  for (int n : {0, -1, -100, 101}) {
    auto yy1 = w1, yy2 = w2, yy = sentinel;
    ccfunction(yy1, yy2, 1.0f, n, yy, 2000.0f, 0.0f, 0.0f);
    EXPECT_TRUE(same_bits(yy1, w1) && same_bits(yy2, w2) && same_bits(yy, sentinel)) << n;
  }
}

TEST(Ccfunction, ReusedWorkspaceGivesSameBitsAsFreshOne) {
  CcWorkspace used;
  auto big1 = noise(20000, 1), big2 = noise(20000, 2);
  std::vector<float> big_out(20000);
  ccfunction(big1, big2, 1.0f, 20000, big_out, 2000.0f, 0.0f, 0.0f, used);

  const auto a = noise(2000, 3), b = noise(2000, 4);
  auto a1 = a, b1 = b, a2 = a, b2 = b;
  std::vector<float> out_used(2000), out_fresh(2000);
  CcWorkspace fresh;
  ccfunction(a1, b1, 1.0f, 2000, out_used, 2000.0f, 0.0f, 0.0f, used);
  ccfunction(a2, b2, 1.0f, 2000, out_fresh, 2000.0f, 0.0f, 0.0f, fresh);
  EXPECT_TRUE(same_bits(out_used, out_fresh));
}

TEST(Ccfunction, ResultsDoNotDependOnThreadCount) {
  // Mixed lengths so that workers see their storage grow and get reused.
  std::vector<int> lengths;
  for (int rep = 0; rep < 4; ++rep) lengths.insert(lengths.end(), {20000, 2000, 1999, 4000});
  const int pairs = static_cast<int>(lengths.size());
  auto run = [&](int threads) {
    std::vector<std::vector<float>> out(pairs);
#pragma omp parallel for num_threads(threads) schedule(static, 1)
    for (int p = 0; p < pairs; ++p) {
      const int n = lengths[p];
      auto a = noise(n, 2 * p), b = noise(n, 2 * p + 1);
      if (p % 3 == 0) b = a;  // some auto-correlations too
      out[p].resize(n);
      ccfunction(a, b, 1.0f, n, out[p], 2000.0f, 0.0f, 0.0f);
    }
    return out;
  };
  const auto serial = run(1);
  const auto parallel = run(4);
  for (int p = 0; p < pairs; ++p) EXPECT_TRUE(same_bits(serial[p], parallel[p])) << "pair " << p;
}

}  // namespace
}  // namespace xcn
