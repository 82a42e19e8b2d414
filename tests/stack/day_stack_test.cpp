// Tests of the stacks' arithmetic: linear means, phase weights, dates of reference times.
#include "stack/day_stack.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

namespace xcn::stack {
namespace {

std::vector<float> noise(int n, unsigned seed, float rms) {
  std::mt19937 gen(seed);
  std::normal_distribution<float> dist(0.0f, rms);
  std::vector<float> v(static_cast<std::size_t>(n));
  for (float& x : v) x = dist(gen);
  return v;
}

TEST(DayStack, OneDayIsThatDayToTheBit) {
  const std::vector<float> day = noise(2000, 1, 0.3f);
  DayStack s(2000, true);
  s.add(day);
  std::vector<float> lin(2000), pw(2000);
  const int one[] = {0};
  s.linear(one, lin);
  EXPECT_EQ(std::memcmp(lin.data(), day.data(), day.size() * sizeof(float)), 0);
  s.phase_weighted(one, 2.0f, lin, pw);
  for (std::size_t k = 0; k < pw.size(); ++k) ASSERT_NEAR(pw[k], day[k], 1e-6f * 4) << k;
}

TEST(DayStack, LinearIsTheMeanOfTheChosenDaysInOrder) {
  DayStack s(3, false);
  s.add(std::vector<float>{1, 2, 3});
  s.add(std::vector<float>{3, 4, 5});
  s.add(std::vector<float>{100, 100, 100});
  std::vector<float> out(3);
  const int first_two[] = {0, 1};
  s.linear(first_two, out);
  EXPECT_EQ(out, (std::vector<float>{2, 3, 4}));
  s.linear({}, out);
  for (const float v : out) EXPECT_TRUE(std::isnan(v));
  // Without phases a phase-weighted stack has nothing to weigh with.
  std::vector<float> pw(3);
  s.phase_weighted(first_two, 2.0f, out, pw);
  for (const float v : pw) EXPECT_TRUE(std::isnan(v));
}

TEST(DayStack, PhaseWeightKeepsTheCoherentArrivalAndDampsTheRest) {
  // A wavelet at the same lag every day in noise drawn anew each day.
  constexpr int n = 2000, days = 30, lag = 1300;
  DayStack s(n, true);
  std::vector<int> all;
  for (int d = 0; d < days; ++d) {
    std::vector<float> y = noise(n, 100 + d, 0.5f);
    for (int k = -20; k <= 20; ++k) {
      const double t = k / 4.0;
      y[static_cast<std::size_t>(lag + k)] +=
          static_cast<float>((1 - 2 * t * t) * std::exp(-t * t));
    }
    s.add(y);
    all.push_back(d);
  }
  std::vector<float> lin(n), pw(n);
  s.linear(all, lin);
  s.phase_weighted(all, 2.0f, lin, pw);
  auto peak = [](const std::vector<float>& y) {
    return std::max_element(y.begin(), y.end(),
                            [](float a, float b) { return std::fabs(a) < std::fabs(b); }) -
           y.begin();
  };
  EXPECT_EQ(peak(lin), lag);
  EXPECT_EQ(peak(pw), lag);
  // Away from the arrival, the weight is about 1/days (nu 2): far below the linear stack's.
  auto rms = [&](const std::vector<float>& y) {
    double sum = 0;
    int count = 0;
    for (int k = 0; k < n; ++k) {
      if (std::abs(k - lag) < 100) continue;
      sum += static_cast<double>(y[k]) * y[k];
      ++count;
    }
    return std::sqrt(sum / count);
  };
  EXPECT_LT(rms(pw) / std::fabs(pw[lag]), 0.2 * rms(lin) / std::fabs(lin[lag]));
}

TEST(CoherencePower, WholePowersAreProducts) {
  const struct {
    float c, nu, expected;
  } cases[] = {{0.5f, 0.0f, 1.0f},  {0.5f, 1.0f, 0.5f},
               {0.5f, 2.0f, 0.25f}, {0.3f, 3.0f, 0.3f * 0.3f * 0.3f},
               {0.25f, 0.5f, 0.5f}, {1.0f, 7.5f, 1.0f}};
  for (const auto& c : cases)
    EXPECT_EQ(coherence_power(c.c, c.nu), c.expected) << c.c << "^" << c.nu;
}

}  // namespace
}  // namespace xcn::stack
