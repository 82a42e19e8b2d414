// Pair table order, worker blocks and window settings.
#include "driver/pairs.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "driver/engines/windows.hpp"

namespace xcn {
namespace {

TEST(PairTable, ListsEveryStationWithItselfAndEachLaterStation) {
  PairTable pairs(3);
  ASSERT_EQ(pairs.size(), 6);
  const int expected[6][2] = {{1, 1}, {1, 2}, {1, 3}, {2, 2}, {2, 3}, {3, 3}};
  for (int ij = 1; ij <= 6; ++ij) {
    EXPECT_EQ(pairs.ni(ij), expected[ij - 1][0]);
    EXPECT_EQ(pairs.nj(ij), expected[ij - 1][1]);
  }
  EXPECT_EQ(PairTable(0).size(), 0);
}

TEST(WorkerBlocks, AreStaticContiguousWithTheRemainderOnTheFirstWorkers) {
  const Block four_of_ten[] = {{1, 3}, {4, 6}, {7, 8}, {9, 10}};
  for (int t = 0; t < 4; ++t) {
    const Block b = worker_block(10, 4, t);
    EXPECT_EQ(b.first, four_of_ten[t].first) << t;
    EXPECT_EQ(b.last, four_of_ten[t].last) << t;
  }
  // Every pair exactly once, in increasing order, for any group size.
  for (int nij : {0, 1, 5, 21, 2016}) {
    for (int workers : {1, 2, 3, 7, 64}) {
      int next = 1;
      for (int t = 0; t < workers; ++t) {
        const Block b = worker_block(nij, workers, t);
        EXPECT_EQ(b.first, next);
        next = b.last + 1;
      }
      EXPECT_EQ(next, nij + 1);
    }
  }
}

TEST(WindowSettings, FollowTheSamplingInterval) {
  EXPECT_EQ(kTimelen * (1.0f - kOvlp), 200.0000457763671875f);
  const struct {
    float dt;
    int nptlen;
    float overlap;
  } cases[] = {{1.0f, 2000, 200.0f}, {0.5f, 4000, 400.0f}, {0.025f, 80000, 8000.0f},
               {3.0f, 667, 67.0f},   {400.0f, 5, 1.0f},    {0.1f, 20000, 2000.0f}};
  for (const auto& c : cases) {
    const WindowSettings w = window_settings(c.dt);
    EXPECT_EQ(w.nptlen, c.nptlen) << c.dt;
    EXPECT_EQ(w.overlap, c.overlap) << c.dt;
  }
}

TEST(WindowSettings, RefuseIntervalsThatCannotBeRun) {
  constexpr std::size_t kGiB = std::size_t{1} << 30;
  for (float dt : {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(),
                   std::numeric_limits<float>::infinity(), 500.0f, 1e-30f}) {
    EXPECT_FALSE(refuse_sampling(dt, kGiB).empty()) << dt;
  }
  // Any interval whose window fits the budget, 100 Hz and finer included.
  for (float dt : {0.001f, 0.01f, 0.0116f, 0.05f, 1.0f, 40.0f, 400.0f}) {
    EXPECT_EQ(refuse_sampling(dt, kGiB), "") << dt;
  }
  // 100 Hz: a window of 200000 samples, a transform of 262144 points, 2.8 MiB.
  EXPECT_EQ(window_bytes(200000), 200000u * 4u + 262144u * 8u);
  EXPECT_EQ(refuse_sampling(0.01f, 2u << 20),
            "its 2000 s window of 200000 samples needs about 3 MiB per worker, more than "
            "XCN_MEMORY_BUDGET allows (2 MiB)");
  EXPECT_EQ(refuse_sampling(0.01f, 3u << 20), "");
  EXPECT_EQ(refuse_sampling(0.0001f, kGiB / 4),
            "its 2000 s window of 20000000 samples needs about 333 MiB per worker, more than "
            "XCN_MEMORY_BUDGET allows (256 MiB)");
}

}  // namespace
}  // namespace xcn
