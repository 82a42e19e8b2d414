// Dealing pairs to ranks: every pair to exactly one rank, balanced, and each rank holding the
// records of its own pairs.
#include "driver/rank_share.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "driver/engines/matrix_grid.hpp"

namespace xcn {
namespace {

TEST(RankShare, DealsEveryPairToOneRankBalancedAndHoldsItsStations) {
  for (const int stations : {1, 2, 3, 7, 40, 401}) {
    for (const int ranks : {1, 2, 3, 5, 8}) {
      std::vector<RankShare> shares;
      for (int r = 0; r < ranks; ++r) shares.emplace_back(stations, ranks, r);
      std::vector<std::int64_t> counted(static_cast<std::size_t>(ranks), 0);
      for (int i = 1; i <= stations; ++i) {
        for (int j = i; j <= stations; ++j) {
          int owners = 0;
          for (int r = 0; r < ranks; ++r) {
            const RankShare& s = shares[static_cast<std::size_t>(r)];
            if (!s.mine(i, j)) continue;
            ++owners;
            ++counted[static_cast<std::size_t>(r)];
            EXPECT_TRUE(s.holds(i) && s.holds(j)) << stations << " stations, rank " << r;
          }
          ASSERT_EQ(owners, 1) << stations << " stations, " << ranks << " ranks, pair " << i << ","
                               << j;
        }
      }
      const std::int64_t total = static_cast<std::int64_t>(stations) * (stations + 1) / 2;
      for (int r = 0; r < ranks; ++r) {
        EXPECT_EQ(counted[static_cast<std::size_t>(r)], shares[0].pairs_of(r));
      }
      // Enough pairs to go round: no rank gets more than a third above its even share.
      if (total >= 20 * ranks) {
        const auto most = *std::max_element(counted.begin(), counted.end());
        EXPECT_LE(most * ranks, total * 4 / 3) << stations << " stations, " << ranks << " ranks";
      }
    }
  }
}

TEST(RankShare, SparesRanksRecordsTheirPairsDoNotNeed) {
  // Two ranks cannot both avoid a group; from three on, a rank reads a tenth fewer on average.
  const int stations = 400;
  for (const int ranks : {3, 4, 8}) {
    int held = 0;
    for (int r = 0; r < ranks; ++r) {
      const RankShare s(stations, ranks, r);
      for (int i = 1; i <= stations; ++i) held += s.holds(i);
    }
    EXPECT_LT(held * 10, 9 * ranks * stations) << ranks << " ranks";
  }
}

MatrixPlan tiles_of(int tile, int block) {
  MatrixPlan plan;
  plan.tile = tile;
  plan.block = block;
  return plan;
}

TEST(MatrixGrid, CutsEachTileIntoEvenBlocks) {
  std::vector<int> members(300);
  for (int k = 0; k < 300; ++k) members[static_cast<std::size_t>(k)] = k + 1;
  const MatrixGrid one = cut_grid(members, 5, tiles_of(300, 128));
  EXPECT_EQ(one.tiles, (std::vector<int>{0, 300}));
  EXPECT_EQ(one.blocks, (std::vector<int>{0, 100, 200, 300}));
  // Tiles of 130, 130 and 40: the first two in halves, never a block across a tile's edge.
  const MatrixGrid three = cut_grid(members, 5, tiles_of(130, 128));
  EXPECT_EQ(three.tiles, (std::vector<int>{0, 130, 260, 300}));
  EXPECT_EQ(three.blocks, (std::vector<int>{0, 65, 130, 195, 260, 300}));
  EXPECT_EQ(three.block_count(), 5);
  EXPECT_EQ(cut_grid({}, 5, MatrixPlan{}).block_count(), 0);
}

// The matrix engine's groups: its blocks of members, then the other stations. Pairs of one
// block pair stay together, whatever the order of the groups.
TEST(RankShare, DealsTheGridsBlocksWholeAndHoldsTheirStations) {
  const int stations = 14;
  const MatrixGrid grid = cut_grid({2, 3, 4, 6, 7, 9, 10, 11, 13}, 5, tiles_of(4, 2));
  const std::vector<int> groups = grid_groups(grid, stations);
  // Blocks {2,3} {4,6} | {7,9} {10,11} | {13}; the others {1,5} {8,12} {14}.
  EXPECT_EQ(groups, (std::vector<int>{5, 0, 0, 1, 5, 1, 2, 6, 2, 3, 3, 6, 4, 7}));
  for (const int ranks : {1, 2, 3, 4}) {
    std::vector<RankShare> shares;
    for (int r = 0; r < ranks; ++r) shares.emplace_back(groups, ranks, r);
    std::int64_t dealt = 0;
    for (int i = 1; i <= stations; ++i) {
      for (int j = i; j <= stations; ++j) {
        int owner = -1;
        for (int r = 0; r < ranks; ++r) {
          const RankShare& s = shares[static_cast<std::size_t>(r)];
          if (!s.mine(i, j)) continue;
          ASSERT_EQ(owner, -1) << "pair " << i << "," << j << " on two ranks";
          owner = r;
          EXPECT_TRUE(s.holds(i) && s.holds(j)) << ranks << " ranks, rank " << r;
        }
        ASSERT_GE(owner, 0) << "pair " << i << "," << j << " on no rank";
        ++dealt;
        // Every pair of the same two groups has the same owner.
        for (int k = 1; k <= stations; ++k) {
          for (int l = k; l <= stations; ++l) {
            const auto g = [&](int s) { return groups[static_cast<std::size_t>(s - 1)]; };
            if (std::minmax(g(i), g(j)) == std::minmax(g(k), g(l))) {
              EXPECT_EQ(shares[0].owner(k, l), owner);
            }
          }
        }
      }
    }
    std::int64_t loads = 0;
    for (int r = 0; r < ranks; ++r) loads += shares[0].pairs_of(r);
    EXPECT_EQ(loads, dealt);
  }
}

}  // namespace
}  // namespace xcn
