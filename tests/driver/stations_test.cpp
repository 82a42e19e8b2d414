// The rows of a divided run read again: a record that cannot be read now is reported once and
// costs only its own pairs.
#include "driver/input/stations.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "driver/input/lists.hpp"
#include "tests/common/scratch_dir.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {
namespace {

// A record of ones, or with `ramp` of its sample numbers.
void write_record(const std::string& path, int npts, bool ramp = false) {
  std::vector<float> y(static_cast<std::size_t>(npts), 1.0f);
  if (ramp) std::iota(y.begin(), y.end(), 0.0f);
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

// Records st1.sac, st2.sac, ... of the given lengths in `dir`, and their list lines.
std::vector<ListLine> write_records(const test::ScratchDir& dir, const std::vector<int>& lengths,
                                    bool ramp = false) {
  std::vector<ListLine> lines;
  for (std::size_t k = 0; k < lengths.size(); ++k) {
    const std::string path = (dir.path() / ("st" + std::to_string(k + 1) + ".sac")).string();
    write_record(path, lengths[k], ramp);
    lines.push_back({path, path.size()});
  }
  return lines;
}

std::string text_of(std::FILE* f) {
  std::rewind(f);
  std::string s;
  for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
  return s;
}

// Sets the NPTS word of a written file, in the byte order the file has.
void set_npts_in_file(const std::string& path, std::int32_t was, std::int32_t npts) {
  std::FILE* f = std::fopen(path.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  unsigned char word[4];
  std::fseek(f, 79 * 4, SEEK_SET);
  ASSERT_EQ(std::fread(word, 1, 4, f), 4u);
  std::int32_t held = 0;
  std::memcpy(&held, word, 4);
  const bool swapped = held != was;
  std::memcpy(word, &npts, 4);
  if (swapped) std::reverse(word, word + 4);
  std::fseek(f, 79 * 4, SEEK_SET);
  std::fwrite(word, 1, 4, f);
  std::fclose(f);
}

TEST(LoadStations, ReadsEachRecordWholeAndSizesNothingByAHeaderTheFileBelies) {
  test::ScratchDir dir;
  const std::vector<ListLine> lines = write_records(dir, {250000, 3000, 4000});
  // Station 2 promises the most samples NPTS can say, from a file of 3000.
  set_npts_in_file(lines[1].text, 3000, 2147483647);
  StationTable table(3);
  std::FILE* err = std::tmpfile();
  load_stations(lines, table, err);
  const std::string said = text_of(err);
  std::fclose(err);
  ASSERT_TRUE(table.station(1).usable);
  EXPECT_EQ(table.station(1).npts, 250000);
  ASSERT_EQ(table.record(1).size(), 250000u);
  EXPECT_EQ(table.record(1).back(), 1.0f);
  EXPECT_FALSE(table.station(2).usable);
  EXPECT_EQ(table.row(2), nullptr);
  EXPECT_EQ(table.record(3).size(), 4000u);
  // (Besides the lines on the records' undefined coordinates.)
  EXPECT_NE(said.find("xcorrnet_v3: station 2 \"" + lines[1].text +
                      "\" cannot be read: the file is shorter than its header says; its pairs are "
                      "skipped\n"),
            std::string::npos)
      << said;
  EXPECT_EQ(said.find("used"), std::string::npos) << said;
}

// A streamed table reads each record again where it is used: a record changed since the load
// (the same length and header, other samples) is reported once and lost, the others read on.
TEST(HeldRows, EachKeepsItsOwnSamplesAcrossStretchesAndAfterOthersAreGivenBack) {
  // Rows of a few samples and of several MiB, so that they span stretches of memory.
  const std::vector<int> lengths = {100, 600000, 1, 3000000, 5, 700000};
  const int n = static_cast<int>(lengths.size());
  StationTable table(n);
  const auto fill = [&](int i) {
    float* r = table.row(i);
    for (int k = 0; k < lengths[static_cast<std::size_t>(i - 1)]; ++k) {
      r[k] = static_cast<float>(i * 10000000 + k % 1000000);
    }
  };
  const auto intact = [&](int i) {
    const float* r = table.row(i);
    for (int k = 0; k < lengths[static_cast<std::size_t>(i - 1)]; ++k) {
      if (r[k] != static_cast<float>(i * 10000000 + k % 1000000)) return false;
    }
    return true;
  };
  for (int round = 0; round < 2; ++round) {
    for (int i = 1; i <= n; ++i) {
      float* r = table.hold(i, lengths[static_cast<std::size_t>(i - 1)]);
      ASSERT_NE(r, nullptr);
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(r) % 16, 0u);
    }
    for (int i = 1; i <= n; ++i) fill(i);
    for (int i = 1; i <= n; ++i) EXPECT_TRUE(intact(i)) << "row " << i << ", round " << round;
    // A row held again, larger, takes new memory and leaves the others as they are.
    table.drop(2);
    EXPECT_EQ(table.row(2), nullptr);
    EXPECT_EQ(table.hold(3, 0), nullptr);
    table.hold(2, lengths[1]);
    fill(2);
    for (const int i : {1, 2, 4, 5, 6}) EXPECT_TRUE(intact(i)) << "row " << i;
    // Every row given back, and the table holds rows again from nothing.
    for (int i = 1; i <= n; ++i) table.drop(i);
  }
}

TEST(StreamedTable, ARecordThatReadsOtherwiseIsLostAndReportedOnce) {
  test::ScratchDir dir;
  const std::vector<ListLine> lines = write_records(dir, std::vector<int>(2, 5000));
  StationTable table(2);
  std::FILE* quiet = std::tmpfile();
  // 30000 bytes of budget: the two records (40000 bytes) do not fit half of it.
  load_stations(lines, table, quiet, true, 30000);
  std::fclose(quiet);
  ASSERT_TRUE(table.station(1).usable && table.station(2).usable);
  EXPECT_FALSE(records_fit(table, 30000));
  EXPECT_TRUE(records_fit(table, 80000));
  EXPECT_EQ(table.row(1), nullptr);
  std::FILE* err = std::tmpfile();
  table.stream(err);
  {
    const HeldRecord first(table, 1);
    ASSERT_NE(first.data(), nullptr);
    EXPECT_EQ(first.data()[4999], 1.0f);
  }
  // One sample changed: the same NPTS, DELTA and B.
  std::FILE* f = std::fopen(lines[1].text.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  const float other = 2.0f;
  std::fseek(f, 632 + 4 * 100, SEEK_SET);
  std::fwrite(&other, 4, 1, f);
  std::fclose(f);
  EXPECT_EQ(HeldRecord(table, 2).data(), nullptr);
  EXPECT_EQ(HeldRecord(table, 2).data(), nullptr);
  EXPECT_TRUE(table.lost(2));
  EXPECT_FALSE(table.lost(1));
  EXPECT_NE(HeldRecord(table, 1).data(), nullptr);
  EXPECT_EQ(text_of(err), "xcorrnet_v3: station 2 \"" + lines[1].text +
                              "\" cannot be read: it changed while the run read it; its pairs "
                              "from here on are skipped\n");
  std::fclose(err);
}

// Read forward, a record gives each stretch asked for, overlapping the last or past a gap, and
// is checked whole once read to its end: a sample changed where no stretch reached, or a header
// changed between stretches, loses the station, reported once.
TEST(StreamedTable, ARecordReadForwardGivesItsStretchesAndIsCheckedWhole) {
  test::ScratchDir dir;
  const std::vector<ListLine> lines = write_records(dir, std::vector<int>(3, 5000), true);
  StationTable table(3);
  std::FILE* quiet = std::tmpfile();
  load_stations(lines, table, quiet, true);
  std::fclose(quiet);
  {
    // Held: the row itself.
    RecordStream held(table, 1);
    EXPECT_EQ(held.stretch(100, 200), table.row(1) + 100);
    EXPECT_TRUE(held.finish());
  }
  std::FILE* err = std::tmpfile();
  table.stream(err);
  RecordStream one(table, 1);
  const struct {
    std::size_t first, end;
  } stretches[] = {{0, 1000}, {500, 2500}, {2500, 2600}, {3000, 4000}, {3500, 3600}};
  for (const auto& s : stretches) {
    const float* y = one.stretch(s.first, s.end);
    ASSERT_NE(y, nullptr);
    for (std::size_t k = s.first; k < s.end; ++k) {
      ASSERT_EQ(y[k - s.first], static_cast<float>(k)) << s.first << " " << s.end;
    }
  }
  EXPECT_TRUE(one.finish());

  const auto change = [&](int i, long at, float value) {
    std::FILE* f = std::fopen(lines[static_cast<std::size_t>(i - 1)].text.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, at, SEEK_SET);
    std::fwrite(&value, 4, 1, f);
    std::fclose(f);
  };
  RecordStream two(table, 2);
  ASSERT_NE(two.stretch(0, 1000), nullptr);
  change(2, 632 + 4 * 4000, -1.0f);
  ASSERT_NE(two.stretch(500, 1500), nullptr);
  EXPECT_FALSE(two.finish());
  EXPECT_TRUE(table.lost(2));
  EXPECT_EQ(two.stretch(1500, 2000), nullptr);
  EXPECT_FALSE(two.finish());

  RecordStream three(table, 3);
  ASSERT_NE(three.stretch(0, 1000), nullptr);
  change(3, 4 * 0, 2.0f);  // DELTA
  EXPECT_EQ(three.stretch(500, 1500), nullptr);
  EXPECT_TRUE(table.lost(3));
  EXPECT_FALSE(table.lost(1));
  const std::string said = text_of(err);
  std::fclose(err);
  EXPECT_EQ(said, "xcorrnet_v3: station 2 \"" + lines[1].text +
                      "\" cannot be read: it changed while the run read it; its pairs from here "
                      "on are skipped\n"
                      "xcorrnet_v3: station 3 \"" +
                      lines[2].text +
                      "\" cannot be read: it changed while the run read it; its pairs from here "
                      "on are skipped\n");
}

TEST(ReadRows, ARecordGoneOrChangedSinceTheLoadIsReportedOnceAndLeftOut) {
  test::ScratchDir dir;
  const std::vector<ListLine> lines = write_records(dir, std::vector<int>(3, 3000));
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
