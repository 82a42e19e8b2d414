// A container's rows written a stretch at a time or one at a time, in any order, and the rows
// never written, read back through the reader.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "results/container.hpp"
#include "tests/common/scratch_dir.hpp"

namespace xcn::test {
namespace {

TEST(ContainerRows, StretchesAndSingleRowsInAnyOrderReadBackAndRowsNeverWrittenAreNaN) {
  if (!results::netcdf_built()) GTEST_SKIP() << "built without libnetcdf";
  ScratchDir dir;
  const std::string path = dir.file("rows.nc");
  constexpr std::size_t kRows = 300, kNpts = 7;
  results::ContainerRun run;
  run.interval = 1.0f;
  run.npts = static_cast<int>(kNpts);
  run.window = 4;
  run.step = 1;
  run.engine = "matrix";
  run.program = "xcorrnet_v3 1.0.0";
  const auto value = [](std::size_t row, std::size_t k) {
    return static_cast<float>(row * 100 + k) + 0.25f;
  };
  const auto rows_of = [&](std::size_t first, std::size_t count) {
    std::vector<float> y(count * kNpts);
    for (std::size_t r = 0; r < count; ++r) {
      for (std::size_t k = 0; k < kNpts; ++k) y[r * kNpts + k] = value(first + r, k);
    }
    return y;
  };
  std::string why;
  auto w = results::ContainerWriter::create(path, run, kRows, why);
  ASSERT_TRUE(w) << why;
  // Written: 150 .. 219 in one stretch, 10 .. 12 in another, then single rows backwards.
  // Never written: 0 .. 9, 13 .. 39, 220 .. 299 (longer than a stretch of the fill).
  ASSERT_TRUE(w->put_rows(150, 70, rows_of(150, 70), why)) << why;
  ASSERT_TRUE(w->put_rows(10, 3, rows_of(10, 3), why)) << why;
  for (std::size_t row = 149; row >= 40; --row) ASSERT_TRUE(w->put(row, rows_of(row, 1), why));
  // Rows past the end, or samples that do not fill the rows, are refused.
  EXPECT_FALSE(w->put_rows(299, 2, rows_of(299, 2), why));
  EXPECT_FALSE(w->put_rows(5, 2, rows_of(5, 1), why));
  std::vector<results::ContainerPair> pairs(kRows);
  for (std::size_t row = 0; row < kRows; ++row) {
    pairs[row].first = "a" + std::to_string(row) + ".sac";
    pairs[row].second = "b.sac";
  }
  ASSERT_TRUE(w->close(pairs, why)) << why;

  const auto r = results::ContainerReader::open(path, why);
  ASSERT_TRUE(r) << why;
  std::vector<float> all(kRows * kNpts);
  ASSERT_TRUE(r->read_rows(0, kRows, all, why)) << why;
  for (std::size_t row = 0; row < kRows; ++row) {
    const bool written = (row >= 10 && row <= 12) || (row >= 40 && row <= 219);
    for (std::size_t k = 0; k < kNpts; ++k) {
      const float v = all[row * kNpts + k];
      if (written) {
        ASSERT_EQ(v, value(row, k)) << "row " << row;
      } else {
        ASSERT_TRUE(std::isnan(v)) << "row " << row;
      }
    }
  }
  // One row as the stretch reads it; a stretch past the end is refused.
  std::vector<float> one(kNpts);
  ASSERT_TRUE(r->read(151, one, why)) << why;
  EXPECT_EQ(one[3], value(151, 3));
  std::vector<float> two(2 * kNpts);
  EXPECT_FALSE(r->read_rows(299, 2, two, why));
}

}  // namespace
}  // namespace xcn::test
