// Tiles of both engines, pair numbers, window offsets and the stack.
#include "driver/engines/engine.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "driver/engines/matrix_grid.hpp"
#include "signal/window_products.hpp"

namespace xcn {
namespace {

TEST(PlanTiles, HoldsAnyTwoTilesWithinTheLimit) {
  const struct {
    std::vector<std::size_t> bytes;
    std::size_t limit;
    std::vector<std::pair<int, int>> tiles;
  } cases[] = {
      {{}, 100, {}},
      {{30, 30, 40}, 100, {{1, 3}}},  // everything fits: one tile
      {{30, 30, 41}, 100, {{1, 1}, {2, 2}, {3, 3}}},
      {{10, 20, 20, 0, 10, 25}, 80, {{1, 2}, {3, 5}, {6, 6}}},
      {{0, 0, 0}, 0, {{1, 3}}},  // nothing kept at all
      {{5, 0, 0, 5, 5}, 12, {{1, 3}, {4, 4}, {5, 5}}},
  };
  for (const auto& c : cases) {
    const std::vector<Tile> got = plan_tiles(c.bytes, c.limit);
    ASSERT_EQ(got.size(), c.tiles.size()) << c.limit;
    for (std::size_t t = 0; t < got.size(); ++t) {
      EXPECT_EQ(got[t].first, c.tiles[t].first);
      EXPECT_EQ(got[t].last, c.tiles[t].second);
    }
  }
}

TEST(PairNumber, FollowsThePairTable) {
  for (int n : {1, 2, 7, 30}) {
    const PairTable pairs(n);
    for (int ij = 1; ij <= pairs.size(); ++ij) {
      ASSERT_EQ(pair_number(n, pairs.ni(ij), pairs.nj(ij)), ij) << n;
    }
  }
  EXPECT_EQ(pair_number(65535, 65535, 65535), 2147450880);
}

TEST(WindowOffsets, StepByTheOverlapAndShorterRecordsTakeAPrefix) {
  const WindowSettings w = window_settings(1.0f);
  const auto day = window_offsets(w, 86400);
  ASSERT_EQ(day.size(), 423u);
  EXPECT_EQ(day[1], 200u);
  EXPECT_EQ(day.back(), 84400u);
  EXPECT_EQ(window_offsets(w, 2000).size(), 1u);
  EXPECT_EQ(window_offsets(w, 1999).size(), 0u);
  const auto part = window_offsets(w, 5000);
  ASSERT_EQ(part.size(), 16u);
  EXPECT_TRUE(std::equal(part.begin(), part.end(), day.begin()));
}

// One tile with a block of at most 128 stations when everything fits; else two tiles as large
// as fit beside the block they make; never less than one station.
TEST(PlanMatrix, HoldsTwoTilesAndABlockWithinTheLimit) {
  const struct {
    int stations;
    std::size_t station_bytes, pair_bytes, limit;
    int tile, block;
    std::size_t bytes;
  } cases[] = {
      {0, 10, 1, 100, 0, 0, 0},
      {4, 10, 1, 56, 4, 4, 56},  // 40 + 16: one tile
      {4, 10, 1, 55, 2, 2, 44},  // two tiles of 2: 40 + 4
      {7, 10, 2, 80, 3, 3, 78},  // 60 + 18
      {7, 10, 2, 20, 1, 1, 22},  // the least, above the limit
      {1000, 100, 1, 1000 * 100 + 128 * 128, 1000, 128, 1000 * 100 + 128 * 128},
      {1000, 100, 1, 2 * 400 * 100 + 128 * 128, 400, 128, 2 * 400 * 100 + 128 * 128},
  };
  for (const auto& c : cases) {
    const MatrixPlan p = plan_matrix(c.stations, c.station_bytes, c.pair_bytes, c.limit);
    EXPECT_EQ(p.tile, c.tile) << c.stations << " " << c.limit;
    EXPECT_EQ(p.block, c.block) << c.stations << " " << c.limit;
    EXPECT_EQ(p.bytes, c.bytes) << c.stations << " " << c.limit;
  }
}

// Row a of tiles builds tile a and every later one.
TEST(PlanMatrix, CountsTheStationsEachTileBuilds) {
  EXPECT_EQ(plan_matrix(4, 10, 1, 56).builds, 4);
  EXPECT_EQ(plan_matrix(4, 10, 1, 55).builds, 2 + 2 * 2);
  EXPECT_EQ(plan_matrix(7, 10, 2, 80).builds, 3 + 3 * 2 + 1 * 3);
}

// A block with itself keeps its pairs r < c, row by row.
TEST(PlanSweeps, PacksABlockWithItselfAndNumbersBlockPairsRowByRow) {
  EXPECT_EQ(product_elements(1, 1, true), 0u);
  EXPECT_EQ(product_elements(4, 4, true), 6u);
  EXPECT_EQ(product_elements(5, 5, true), 10u);
  EXPECT_EQ(product_elements(3, 2, false), 6u);
  const std::pair<int, int> pairs5[] = {{0, 1}, {0, 2}, {0, 3}, {0, 4}, {1, 2},
                                        {1, 3}, {1, 4}, {2, 3}, {2, 4}, {3, 4}};
  for (std::size_t e = 0; e < std::size(pairs5); ++e) {
    EXPECT_EQ(triangle_element(5, pairs5[e].first, pairs5[e].second), e);
  }
  const std::pair<int, int> pairs[] = {{0, 0}, {0, 1}, {0, 2}, {1, 1}, {1, 2}, {2, 2}};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(block_pair(3, k), pairs[k]) << k;
}

// The block pairs go into sweeps in row order while they fit with chunks of 16 windows; of the
// block sizes, the one that transforms the fewest windows (the larger of equals), then chunks
// as wide as every sweep allows.
TEST(PlanSweeps, HoldsAsManyBlockPairsAsFitAndTheWidestChunks) {
  const SweepBytes one{1, 1, 0, 0, 0};
  const struct {
    int stations, windows;
    SweepBytes bytes;
    std::size_t limit;
    int block, columns;
    std::vector<int> sweeps;
    long long builds;
    std::size_t held;
  } cases[] = {
      // One block: 6 elements and 4 stations x 16 windows.
      {4, 100, one, 70, 4, 16, {0, 1}, 4, 70},
      {4, 100, one, 1000, 4, 100, {0, 1}, 4, 406},
      // Blocks of 2: (0,0) and (0,1) with 4 stations, then (1,1) with 2; blocks of one station
      // build as many, and the larger blocks are kept.
      {4, 100, one, 69, 2, 16, {0, 2, 3}, 6, 69},
      // Stretches of records read forward: 10 bytes and 2 more per window after the first.
      {1, 50, {1, 1, 0, 10, 2}, 100, 1, 30, {0, 1}, 1, 98},
      // Nothing fits: one block pair of single stations at a time, one window wide.
      {3, 20, one, 0, 1, 1, {0, 1, 2, 3, 4, 5, 6}, 9, 3},
  };
  // Ten thousand stations: blocks of five at the least, not 50 million block pairs to plan.
  const MatrixPlan many = plan_sweeps(10000, 10, one, 0);
  EXPECT_EQ(many.block, 5);
  EXPECT_EQ(many.columns, 1);
  EXPECT_EQ(many.sweeps.size(), 2000u * 2001 / 2 + 1);
  for (const auto& c : cases) {
    const MatrixPlan p = plan_sweeps(c.stations, c.windows, c.bytes, c.limit);
    EXPECT_EQ(p.tile, c.stations) << c.limit;
    EXPECT_EQ(p.block, c.block) << c.limit;
    EXPECT_EQ(p.columns, c.columns) << c.limit;
    EXPECT_EQ(p.sweeps, c.sweeps) << c.limit;
    EXPECT_EQ(p.builds, c.builds) << c.limit;
    EXPECT_EQ(p.bytes, c.held) << c.limit;
  }
}

TEST(Stack, DividesBySumOrAddedWindowsAndWithoutAWindowIsNotANumber) {
  Stack stack;
  stack.reset(3);
  stack.finish();
  EXPECT_EQ(stack.counter, 0);
  for (float v : stack.yall) EXPECT_TRUE(std::isnan(v));

  Stack added;
  added.reset(2);
  for (const std::vector<float>& y : {std::vector<float>{1.0f, -2.0f}, {2.0f, 0.5f}}) added.add(y);
  added.finish();
  Stack taken;
  taken.reset(2);
  taken.set_sum(std::vector<float>{3.0f, -1.5f}, 2);
  taken.finish();
  EXPECT_EQ(taken.yall, added.yall);
  EXPECT_EQ(taken.counter, 2);
  taken.set_sum(std::vector<float>{0.0f, -0.0f}, 0);
  taken.finish();
  EXPECT_EQ(taken.counter, 0);
  for (float v : taken.yall) EXPECT_TRUE(std::isnan(v));
}

}  // namespace
}  // namespace xcn
