// Tests of the window statistic, the heap sort, the median and the row printer.
#include "signal/stats.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "signal/print.hpp"

namespace xcn {
namespace {

TEST(Std, SampleDeviation) {
  const std::vector<float> ramp{1, 2, 3, 4};
  EXPECT_EQ(xcn::std(ramp, 4), static_cast<float>(std::sqrt(5.0 / 3.0)));
  EXPECT_NEAR(xcn::std(ramp, 4), 1.2909944f, 1e-7f);
  EXPECT_EQ(xcn::std(ramp, 2), static_cast<float>(std::sqrt(0.5)));  // the first nptlen only

  for (int n : {2, 3, 1000}) EXPECT_EQ(xcn::std(std::vector<float>(n, 0.0f), n), 0.0f) << n;
  // A constant run has no spread, whatever its value.
  for (float v : {0.3f, 0.1f, -17120.0f, 3e7f}) {
    EXPECT_EQ(xcn::std(std::vector<float>(1000, v), 1000), 0.0f) << v;
  }
}

TEST(Std, AnOffsetDoesNotChangeTheDeviation) {
  // A record's DC offset, large against its noise: one-pass single-precision sums lost the
  // noise to rounding (a negative variance, not a number) and rejected every window.
  // Quiet noise of deviation 100 counts, as a real record has; what the offset changes is only
  // the rounding of the samples themselves to single precision.
  std::mt19937 gen(11);
  std::normal_distribution<float> noise(0.0f, 100.0f);
  for (const int n : {2000, 86400, 1 << 20}) {
    std::vector<float> quiet(static_cast<std::size_t>(n));
    for (float& v : quiet) v = noise(gen);
    for (const float offset : {3000.0f, 20000.0f, -17120.0f}) {
      std::vector<float> shifted = quiet;
      for (float& v : shifted) v += offset;
      EXPECT_NEAR(xcn::std(shifted, n) / xcn::std(quiet, n), 1.0f, 1e-6f) << n << " " << offset;
    }
  }
  // Against a double-precision two-pass computation of the same samples.
  std::vector<float> y(8640000);
  for (float& v : y) v = noise(gen) - 17120.0f;
  double mean = 0.0;
  for (float v : y) mean += v;
  mean /= static_cast<double>(y.size());
  double sq = 0.0;
  for (float v : y) sq += (v - mean) * (v - mean);
  const double want = std::sqrt(sq / static_cast<double>(y.size() - 1));
  EXPECT_NEAR(xcn::std(y, static_cast<int>(y.size())) / want, 1.0, 1e-7);
}

TEST(Std, SamplesThatAreNotFiniteGiveNotANumber) {
  std::vector<float> y(100, 1.5f);
  y[3] = -2.0f;
  for (float bad : {std::nanf(""), INFINITY, -INFINITY}) {
    std::vector<float> z = y;
    z[50] = bad;
    EXPECT_TRUE(std::isnan(xcn::std(z, 100))) << bad;
  }
}

TEST(Std, DegenerateCountsGiveNanOrZero) {
  const std::vector<float> one{2.5f};
  EXPECT_TRUE(std::isnan(xcn::std(one, 1)));
  EXPECT_TRUE(std::isnan(xcn::std(one, 0)));
  EXPECT_EQ(xcn::std(one, -3), 0.0f);
}

TEST(Hpsort, SortsAscendingLikeStdSort) {
  std::mt19937 gen(4);
  std::uniform_int_distribution<int> small(-5, 5);  // plenty of ties
  std::vector<std::vector<float>> cases{
      {2, 1}, {1, 2}, {3, 3, 3}, {5, 4, 3, 2, 1}, {1, 2, 3, 4, 5}, {-0.5f, 7, -3, 7, 0, 2, -3}};
  for (int n : {10, 101, 1000}) {
    std::vector<float> v(n);
    for (auto& x : v) x = static_cast<float>(small(gen));
    cases.push_back(v);
  }
  for (auto v : cases) {
    auto want = v;
    std::sort(want.begin(), want.end());
    hpsort(static_cast<int>(v.size()), v);
    EXPECT_EQ(v, want);
  }
}

TEST(Hpsort, ShortOrOversizedListsAreLeftAlone) {
  std::vector<float> one{4.0f};
  hpsort(1, one);
  EXPECT_EQ(one, std::vector<float>{4.0f});
  std::vector<float> three{3, 1, 2};
  hpsort(0, three);
  hpsort(-2, three);
  hpsort(4, three);  // longer than the array
  EXPECT_EQ(three, (std::vector<float>{3, 1, 2}));
  hpsort(2, three);  // only the first two take part
  EXPECT_EQ(three, (std::vector<float>{1, 3, 2}));
}

TEST(Mdian, MiddleValueOrMeanOfMiddlePairAndSortsInPlace) {
  struct Row {
    std::vector<float> x;
    float median;
    std::vector<float> sorted;
  };
  for (auto r : {Row{{3, 1, 2}, 2.0f, {1, 2, 3}}, Row{{4, 1, 3, 2}, 2.5f, {1, 2, 3, 4}},
                 Row{{9}, 9.0f, {9}}, Row{{-1, 1}, 0.0f, {-1, 1}}}) {
    float m = -99.0f;
    mdian(r.x, static_cast<int>(r.x.size()), m);
    EXPECT_EQ(m, r.median);
    EXPECT_EQ(r.x, r.sorted);
  }
  std::vector<float> x{2, 1};
  float m = -99.0f;
  mdian(x, 0, m);
  mdian(x, 3, m);
  EXPECT_EQ(m, -99.0f);
  EXPECT_EQ(x, (std::vector<float>{2, 1}));
}

std::string printed(const std::vector<float>& values, int n) {
  testing::internal::CaptureStdout();
  twrit(n, values);
  return testing::internal::GetCapturedStdout();
}

TEST(Twrit, BlankRecordThenTenFieldsOfSixPerLine) {
  std::vector<float> v(12);
  for (int i = 0; i < 12; ++i) v[i] = static_cast<float>(i + 1);
  EXPECT_EQ(printed(v, 12),
            "  \n"
            "   1.0   2.0   3.0   4.0   5.0   6.0   7.0   8.0   9.0  10.0\n"
            "  11.0  12.0\n");
  EXPECT_EQ(printed(v, 10),
            "  \n"
            "   1.0   2.0   3.0   4.0   5.0   6.0   7.0   8.0   9.0  10.0\n");
}

TEST(Twrit, WideValuesPrintAsAsterisks) {
  const std::vector<float> v{9999.94f, -999.94f, 10000.0f, -1000.0f, -0.04f,
                             0.05f,    1e30f,    NAN,      INFINITY, -INFINITY};
  EXPECT_EQ(printed(v, 10),
            "  \n"
            "9999.9-999.9************  -0.0   0.1******   NaN   Inf  -Inf\n");
}

TEST(Twrit, EmptyRowPrintsEmptyLine) { EXPECT_EQ(printed({}, 0), "  \n\n"); }

}  // namespace
}  // namespace xcn
