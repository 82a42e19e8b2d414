// Dealing pairs to ranks: every pair to exactly one rank, balanced, and each rank holding the
// records of its own pairs.
#include "driver/rank_share.hpp"

#include <gtest/gtest.h>

#include <algorithm>

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

}  // namespace
}  // namespace xcn
