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

TEST(Std, SampleDeviationInSinglePrecision) {
  const std::vector<float> ramp{1, 2, 3, 4};
  EXPECT_EQ(xcn::std(ramp, 4), std::sqrt(5.0f / 3.0f));
  EXPECT_NEAR(xcn::std(ramp, 4), 1.2909944f, 1e-7f);
  EXPECT_EQ(xcn::std(ramp, 2), std::sqrt(0.5f));  // only the first nptlen samples count

  for (int n : {2, 3, 1000}) EXPECT_EQ(xcn::std(std::vector<float>(n, 0.0f), n), 0.0f) << n;

  // Single-precision sums leave a trace on a constant run: a small positive value, or a
  // negative difference that the square root turns into NaN. Window rejection sees exactly these.
  EXPECT_EQ(xcn::std(std::vector<float>(10, 0.3f), 10), 0.000162760422f);
  EXPECT_TRUE(std::isnan(xcn::std(std::vector<float>(10, 0.1f), 10)));
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
