// Tiles of both engines, pair numbers, window offsets and the stack.
#include "driver/engine.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "driver/matrix_grid.hpp"

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

// Tiles that hold their windows in time chunks: one block each, as many stations as leave
// chunks of 64 windows beside the block, else one station with what fits; within the limit
// whenever a chunk of one window fits.
TEST(PlanMatrix, HoldsTimeChunksWhenNoStationFitsWithEveryWindow) {
  const struct {
    int stations, windows;
    std::size_t column_bytes, pair_bytes, limit;
    int tile, columns;
  } cases[] = {
      {4, 7491, 8200, 8200, 8350000, 4, 125},  // (limit - 16 pairs) / (2 tiles x 4 x 8200)
      {4, 7491, 8200, 8200, 2090000, 1, 126},  // two stations would leave 62 windows
      {3, 40, 10, 1, 2409, 3, 40},             // never more than the windows there are
      {5, 1000, 10, 1, 15, 1, 1},              // one window, above the limit: the least
  };
  for (const auto& c : cases) {
    const MatrixPlan p =
        plan_matrix_chunks(c.stations, c.windows, c.column_bytes, c.pair_bytes, c.limit);
    EXPECT_EQ(p.tile, c.tile) << c.limit;
    EXPECT_EQ(p.block, c.tile) << c.limit;
    EXPECT_EQ(p.columns, c.columns) << c.limit;
    if (c.limit > 100) {
      EXPECT_LE(p.bytes, c.limit) << c.limit;
    }
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
