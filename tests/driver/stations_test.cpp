// The rows of a divided run read again: a record that cannot be read now is reported once and
// costs only its own pairs.
#include "driver/stations.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/lists.hpp"
#include "tests/common/scratch_dir.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {
namespace {

void write_record(const std::string& path, int npts) {
  std::vector<float> y(static_cast<std::size_t>(npts), 1.0f);
  int nerr = 0;
  const float delta = 1.0f, b = 0.0f;
  newhdr();
  setnhv("NPTS", &npts, &nerr, -1);
  setfhv("DELTA", &delta, &nerr, -1);
  setfhv("B", &b, &nerr, -1);
  setkhv("KSTNM", "STA", &nerr, -1, -1);
  float x = 0.0f;
  wsac0(path.c_str(), &x, y.data(), &nerr, -1);
  ASSERT_EQ(nerr, 0);
}

std::string text_of(std::FILE* f) {
  std::rewind(f);
  std::string s;
  for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
  return s;
}

TEST(ReadRows, ARecordGoneOrChangedSinceTheLoadIsReportedOnceAndLeftOut) {
  test::ScratchDir dir;
  std::vector<ListLine> lines;
  for (int k = 1; k <= 3; ++k) {
    const std::string path = (dir.path() / ("st" + std::to_string(k) + ".sac")).string();
    write_record(path, 3000);
    lines.push_back({path, path.size()});
  }
  StationTable table(3);
  std::FILE* quiet = std::tmpfile();
  load_stations(lines, table, quiet, false);
  std::fclose(quiet);
  ASSERT_TRUE(table.station(2).usable && table.station(3).usable);

  std::filesystem::remove(lines[1].text);  // gone
  write_record(lines[2].text, 2500);       // another length
  std::FILE* err = std::tmpfile();
  read_rows(table, RankShare(), err);
  const std::string said = text_of(err);
  std::fclose(err);
  EXPECT_TRUE(table.station(1).usable);
  EXPECT_EQ(table.row(1)[10], 1.0f);
  EXPECT_FALSE(table.station(2).usable);
  EXPECT_FALSE(table.station(3).usable);
  EXPECT_EQ(said,
            "xcorrnet_v3: station 2 \"" + lines[1].text +
                "\" cannot be read: the file does not exist; its pairs are skipped\n"
                "xcorrnet_v3: station 3 \"" +
                lines[2].text +
                "\" cannot be read: it changed while the run read it; its pairs are skipped\n");
}

}  // namespace
}  // namespace xcn
