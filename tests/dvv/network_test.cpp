// Tests of the network's weighted mean against hand computations, and what it leaves out.
#include "dvv/network.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace xcn::dvv {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Measurement pair(double dvv, double error, double cc, Status status = Status::ok) {
  Measurement m;
  m.status = status;
  m.dvv = dvv;
  m.error = error;
  m.cc = cc;
  return m;
}

// Weights 1e6, 2.5e5 and 6.25e4: sum 1.3125e6; weighted sum 1000 + 750 - 62.5 = 1687.5.
// Above cc 0.75 the first two: sum 1.25e6, weighted sum 1750.
TEST(NetworkMean, MatchesTheHandComputation) {
  const std::vector<Measurement> pairs = {pair(0.001, 0.001, 0.9), pair(0.003, 0.002, 0.8),
                                          pair(-0.001, 0.004, 0.7)};
  const struct {
    double min_cc, dvv, error;
    int pairs;
  } cases[] = {
      {0.0, 1687.5 / 1.3125e6, 1 / std::sqrt(1.3125e6), 3},
      {0.7, 1687.5 / 1.3125e6, 1 / std::sqrt(1.3125e6), 3},  // at the threshold: kept
      {0.75, 1750 / 1.25e6, 1 / std::sqrt(1.25e6), 2},
      {0.85, 0.001, 0.001, 1},
      {0.95, kNaN, kNaN, 0},
  };
  for (const auto& c : cases) {
    const NetworkPoint p = network_mean(pairs, c.min_cc);
    EXPECT_EQ(p.pairs, c.pairs) << c.min_cc;
    if (c.pairs == 0) {
      EXPECT_TRUE(std::isnan(p.dvv) && std::isnan(p.error)) << c.min_cc;
      continue;
    }
    EXPECT_NEAR(p.dvv, c.dvv, 1e-15) << c.min_cc;
    EXPECT_NEAR(p.error, c.error, 1e-15) << c.min_cc;
  }
}

TEST(NetworkMean, LeavesOutWhatCannotBeWeighed) {
  const Measurement good = pair(0.002, 0.001, 0.9);
  const struct {
    const char* what;
    Measurement m;
  } cases[] = {
      {"dvv NaN", pair(kNaN, 0.001, 0.9)},
      {"error NaN", pair(0.01, kNaN, 0.9)},
      {"cc NaN", pair(0.01, 0.001, kNaN)},
      {"error infinite", pair(0.01, std::numeric_limits<double>::infinity(), 0.9)},
      {"error negative", pair(0.01, -0.001, 0.9)},
      {"at the search's limit", pair(0.01, 0.001, 0.9, Status::at_limit)},
      {"no coherent window", pair(0.01, 0.001, 0.9, Status::no_windows)},
      {"not measured", Measurement{}},
  };
  for (const auto& c : cases) {
    const std::vector<Measurement> pairs = {good, c.m};
    const NetworkPoint p = network_mean(pairs, 0.5);
    EXPECT_EQ(p.pairs, 1) << c.what;
    EXPECT_EQ(p.dvv, 0.002) << c.what;
    EXPECT_EQ(p.error, 0.001) << c.what;
  }
}

// An error of 0 weighs infinitely: such pairs decide alone, with an error of 0.
TEST(NetworkMean, ExactPairsDecideAlone) {
  const std::vector<Measurement> pairs = {pair(0.004, 0.0, 0.9), pair(0.002, 0.0, 0.95),
                                          pair(-0.05, 1e-4, 0.99), pair(0.1, 1e-200, 0.9)};
  const NetworkPoint p = network_mean(pairs, 0.5);
  EXPECT_EQ(p.pairs, 3);
  EXPECT_NEAR(p.dvv, (0.004 + 0.002 + 0.1) / 3, 1e-15);
  EXPECT_EQ(p.error, 0.0);
}

}  // namespace
}  // namespace xcn::dvv
