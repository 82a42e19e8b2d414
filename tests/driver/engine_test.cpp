// Tiles of the pair engine, pair numbers and window offsets.
#include "driver/engine.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

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

TEST(Stack, WithoutAWindowIsNotANumber) {
  Stack stack;
  stack.reset(3);
  stack.finish();
  EXPECT_EQ(stack.counter, 0);
  for (float v : stack.yall) EXPECT_TRUE(std::isnan(v));
}

}  // namespace
}  // namespace xcn
