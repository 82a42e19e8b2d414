// Tests of the metadata reader: values that cannot be true, epochs that disagree, fields not
// given, text that could grow without bound, and large inventories.
#include "prep/metadata.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "prep/time.hpp"
#include "tests/tools/tools_test_util.hpp"

namespace xcn::prep {
namespace {

using tools::test::ScratchDir;
using tools::test::write_text;

const Micros kJan5 = day_start(2024, 5);
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kTimed = false;
#else
constexpr bool kTimed = true;
#endif
const ChannelId kZ{"XC", "AAA", "00", "BHZ"};

constexpr const char* kHeader =
    "#Network|Station|Location|Channel|Latitude|Longitude|Elevation|Depth|Azimuth|Dip|"
    "SensorDescription|Scale|ScaleFreq|ScaleUnits|SampleRate|StartTime|EndTime\n";

std::string line(const std::string& codes, const std::string& values,
                 const std::string& times = "2020-01-01|") {
  return codes + "|" + values + "|sensor|1|1|M/S|20|" + times + "\n";
}

struct Loaded {
  Inventory inventory;
  std::vector<std::string> problems;
  bool ok = false;
};

Loaded load(const ScratchDir& dir, const std::string& name, const std::string& text) {
  write_text(dir / name, text);
  Loaded l;
  l.ok = l.inventory.load(dir.file(name), l.problems);
  return l;
}

TEST(Metadata, LeavesOutWhatCannotBeTrueAndSaysWhere) {
  ScratchDir dir;
  const std::string good = line("XC|AAA|00|BHZ", "10|20|100|0|0|-90");
  const struct {
    const char* what;
    std::string line;
    std::string says;  // after "PATH line 3: "
  } cases[] = {
      {"latitude past a pole", line("XC|BBB|00|BHZ", "91|20|100|0|0|-90"),
       "XC.BBB.00.BHZ: latitude 91 is not within -90 to 90; left out"},
      {"longitude", line("XC|BBB|00|BHZ", "10|400|100|0|0|-90"),
       "XC.BBB.00.BHZ: longitude 400 is not within -180 to 180; left out"},
      {"elevation", line("XC|BBB|00|BHZ", "10|20|1e300|0|0|-90"),
       "XC.BBB.00.BHZ: elevation 1e+300 m is not within -12000 to 9000 m; left out"},
      {"dip", line("XC|BBB|00|BHZ", "10|20|100|0|0|-95"),
       "XC.BBB.00.BHZ: dip -95 is not within -90 to 90; left out"},
      {"end before start", line("XC|BBB|00|BHZ", "10|20|100|0|0|-90", "2024-02-01|2024-01-01"),
       "XC.BBB.00.BHZ: its end 2024-01-01T00:00:00.000 precedes its start "
       "2024-02-01T00:00:00.000; left out"},
      {"empty station code", line("XC||00|BHZ", "10|20|100|0|0|-90"),
       "XC..00.BHZ: its station code is empty; left out"},
      {"empty channel code", line("XC|BBB|00|", "10|20|100|0|0|-90"),
       "XC.BBB.00.: its channel code is empty; left out"},
      {"a path in a code, shown without its control character",
       line("XC|../B\x1b|00|BHZ", "10|20|100|0|0|-90"),
       "XC...?B?.00.BHZ: its station code holds other characters than letters, digits, - and _; "
       "left out"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Loaded l = load(dir, "meta.txt", kHeader + good + c.line);
    EXPECT_TRUE(l.ok);
    EXPECT_EQ(l.problems, std::vector<std::string>{dir.file("meta.txt") + " line 3: " + c.says});
    EXPECT_EQ(l.inventory.size(), 1u);
    EXPECT_NE(l.inventory.find(kZ, kJan5, kDay), nullptr);
  }
}

TEST(Metadata, ReadsTheFirstLineAfterAByteOrderMarkAndCrLineEnds) {
  ScratchDir dir;
  // No header: the channel line is the first, behind the mark.
  Loaded l = load(dir, "meta.txt",
                  "\xEF\xBB\xBF"
                  "XC|AAA|00|BHZ|10|20|100|0|0|-90\r\n");
  EXPECT_TRUE(l.ok);
  EXPECT_EQ(l.problems, std::vector<std::string>{});
  const ChannelEpoch* e = l.inventory.find(kZ, kJan5, kDay);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->dip, -90.0);
}

TEST(Metadata, FieldsNotGivenStayEmpty) {
  ScratchDir dir;
  Loaded text = load(dir, "meta.txt", std::string(kHeader) + line("XC|AAA|00|BHZ", "10|20|||90|"));
  ASSERT_TRUE(text.ok);
  const ChannelEpoch* e = text.inventory.find(kZ, kJan5, kDay);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->elevation, std::nullopt);
  EXPECT_EQ(e->depth, std::nullopt);
  EXPECT_EQ(e->azimuth, 90.0);
  EXPECT_EQ(e->dip, std::nullopt);

  Loaded xml = load(dir, "meta.xml",
                    "<FDSNStationXML><Network code=\"XC\"><Station code=\"AAA\">"
                    "<Channel code=\"BHZ\" locationCode=\"00\" startDate=\"2020-01-01T00:00:00\">"
                    "<Latitude>10</Latitude><Longitude>20</Longitude><Depth>3</Depth>"
                    "</Channel></Station></Network></FDSNStationXML>");
  ASSERT_TRUE(xml.ok);
  e = xml.inventory.find(kZ, kJan5, kDay);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->depth, 3.0);
  EXPECT_EQ(e->elevation, std::nullopt);
  EXPECT_EQ(e->azimuth, std::nullopt);
  EXPECT_EQ(e->dip, std::nullopt);
}

TEST(Metadata, EpochsThatDisagreeAreUsedForNoTimeTheyShare) {
  ScratchDir dir;
  // The first epoch runs on; the second, from February, puts the station elsewhere. A third
  // repeats the first's values and disagrees with nothing.
  Loaded l = load(dir, "meta.txt",
                  std::string(kHeader) + line("XC|AAA|00|BHZ", "10|20|100|0|0|-90", "2020-01-01|") +
                      line("XC|AAA|00|BHZ", "11|20|100|0|0|-90", "2024-02-01|2024-03-01") +
                      line("XC|AAA|00|BHZ", "10|20|100|0|0|-90", "2024-01-01|2024-01-10"));
  EXPECT_TRUE(l.ok);
  EXPECT_EQ(l.problems, std::vector<std::string>{
                            dir.file("meta.txt") +
                            " line 3: two epochs of XC.AAA.00.BHZ give other coordinates or "
                            "orientation from 2024-02-01T00:00:00.000 to 2024-03-01T00:00:00.000; "
                            "neither is used for that time"});
  ASSERT_NE(l.inventory.find(kZ, kJan5, kDay), nullptr);
  EXPECT_EQ(l.inventory.find(kZ, kJan5, kDay)->latitude, 10.0);
  EXPECT_EQ(l.inventory.find(kZ, day_start(2024, 40), kDay), nullptr);
  // Nor a day that reaches into that time.
  EXPECT_EQ(l.inventory.find(kZ, day_start(2024, 31) + kDay / 2, kDay), nullptr);
  EXPECT_NE(l.inventory.find(kZ, day_start(2024, 70), kDay), nullptr);
}

TEST(Metadata, ShowsTenLinesAboutEpochsAndCountsTheRest) {
  ScratchDir dir;
  std::string text = kHeader;
  for (int i = 0; i < 15; ++i) {
    text += line("XC|S" + std::to_string(i) + "|00|BHZ", "95|20|100|0|0|-90");
  }
  const Loaded l = load(dir, "meta.txt", text);
  ASSERT_EQ(l.problems.size(), 11u);
  EXPECT_EQ(l.problems.back(),
            dir.file("meta.txt") + ": 5 more channel epochs are left out or in conflict, as above");
}

TEST(Metadata, RefusesEntityReferencesInValuesWithoutExpandingThem) {
  ScratchDir dir;
  // 20 000 references to a 10 KB entity would be 200 MB of latitude.
  std::string refs;
  for (int i = 0; i < 20000; ++i) refs += "&e;";
  const std::string xml = "<?xml version=\"1.0\"?>\n<!DOCTYPE FDSNStationXML [<!ENTITY e \"" +
                          std::string(10000, '1') +
                          "\">]>\n<FDSNStationXML><Network code=\"XC\"><Station code=\"AAA\">"
                          "<Channel code=\"BHZ\" locationCode=\"00\"><Latitude>" +
                          refs +
                          "</Latitude><Longitude>20</Longitude></Channel>"
                          "<Channel code=\"&e;\" locationCode=\"00\"><Latitude>1</Latitude>"
                          "<Longitude>20</Longitude></Channel>"
                          "<Channel code=\"BHN\" locationCode=\"00\"><Latitude>1</Latitude>"
                          "<Longitude>20</Longitude></Channel>"
                          "</Station></Network></FDSNStationXML>";
  const auto begun = std::chrono::steady_clock::now();
  const Loaded l = load(dir, "meta.xml", xml);
  EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(10));
  EXPECT_TRUE(l.ok);
  EXPECT_EQ(l.problems,
            std::vector<std::string>{
                dir.file("meta.xml") +
                ": 2 channel epochs without readable coordinates or dates are left out"});
  EXPECT_EQ(l.inventory.size(), 1u);
}

TEST(Metadata, LoadsAndFindsAmongTensOfThousandsOfChannelsQuickly) {
  ScratchDir dir;
  std::string text = kHeader;
  constexpr int kStations = 30000;
  for (int i = 0; i < kStations; ++i) {
    const std::string sta = "S" + std::to_string(i);
    for (const char* cha : {"BHZ", "BHN"}) {
      text += line("XC|" + sta + "|00|" + cha, "10|20|100|0|0|-90");
    }
  }
  const auto begun = std::chrono::steady_clock::now();
  const Loaded l = load(dir, "meta.txt", text);
  for (int i = 0; i < kStations; i += 7) {
    ASSERT_NE(l.inventory.find({"XC", "S" + std::to_string(i), "00", "BHN"}, kJan5, kDay), nullptr);
  }
  // Quadratic work took 37 s here; an unoptimised sanitizer's build is not timed.
  const auto bound = kTimed ? std::chrono::seconds(5) : std::chrono::seconds(600);
  EXPECT_LT(std::chrono::steady_clock::now() - begun, bound);
  EXPECT_EQ(l.inventory.size(), 2u * kStations);
}

}  // namespace
}  // namespace xcn::prep
