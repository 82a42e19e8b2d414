// End-to-end runs with bad inputs: unreadable stations, mixed sampling, short records and lists,
// intervals that cannot be run, unreadable results; nothing else may be lost.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/e2e/network.hpp"

namespace xcn::test {
namespace {

namespace fs = std::filesystem;

std::vector<unsigned char> bytes_of(const fs::path& p) { return SacBytes(p.string()).bytes; }

TEST(BadInput, UnreadableStationsAreReportedAndTheirPairsLeftAlone) {
  Network net;
  Noise noise(5);
  net.add({"GOOD", "BHZ", 1.0f, 2.0f, 1.0f, noise.series(2400)});
  net.add_entry("missing.sac");
  net.add_entry("text.sac");
  net.add({"UNEVEN", "BHZ", 1.5f, 2.5f, 1.0f, noise.series(2400)});
  net.add({"LAST", "BHZ", 2.0f, 3.0f, 1.0f, noise.series(2400)});
  write_bytes(net.file("text.sac"), std::string(700, 'x'));
  {  // LEVEN false: the logical word at byte 420 set to 0.
    std::fstream f(net.file("st4.sac"), std::ios::in | std::ios::out | std::ios::binary);
    const char zero[4] = {0, 0, 0, 0};
    f.seekp(420);
    f.write(zero, 4);
  }
  net.write_lists();
  // Results of pairs with a bad station that exist already must survive untouched.
  write_bytes(net.file("p1_2.sac"), "an old result");
  write_bytes(net.file("p3_5.sac"), "another old result");
  const RunResult r = net.run("B", "Y");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* bad : {"missing.sac", "text.sac", "st4.sac"}) {
    EXPECT_EQ(count_of(r.err, std::string("\"") + bad + "\""), 1) << r.err;
  }
  EXPECT_EQ(count_of(r.err, "\n"), 3) << r.err;
  const std::string undefined = " -12345.0000    ";
  EXPECT_NE(r.out.find(pad("missing.sac", 100) + " " + undefined + " " + undefined),
            std::string::npos);
  EXPECT_NE(r.out.find(pad("st4.sac", 100) + " " + undefined + " " + undefined), std::string::npos);
  for (int i = 1; i <= 5; ++i) {
    for (int j = i; j <= 5; ++j) {
      const bool bad = i == 2 || i == 3 || i == 4 || j == 2 || j == 3 || j == 4;
      const std::string name = Network::pair_name(i, j);
      EXPECT_EQ(has_line(r.out, kSkip + pad(name, 50)), bad) << name;
      if (bad && name != "p1_2.sac" && name != "p3_5.sac") {
        EXPECT_FALSE(fs::exists(net.file(name))) << name;
      }
      if (!bad) {
        EXPECT_EQ(SacBytes(net.file(name).string()).npts(), 2000) << name;
      }
    }
  }
  const auto old = bytes_of(net.file("p1_2.sac"));
  EXPECT_EQ(std::string(old.begin(), old.end()), "an old result");
  EXPECT_EQ(fs::file_size(net.file("p3_5.sac")), std::string("another old result").size());
}

TEST(BadInput, RecordsAtAnotherSamplingIntervalAreSkipped) {
  Network net;
  Noise noise(6);
  net.add({"A", "BHZ", 1.0f, 2.0f, 1.0f, noise.series(2400)});
  net.add({"FAST", "BHZ", 1.5f, 2.5f, 0.5f, noise.series(4800)});
  net.add({"C", "BHZ", 2.0f, 3.0f, 1.0f, noise.series(2400)});
  net.write_lists();
  const RunResult r = net.run("B", "Y");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(count_of(r.err, "\n"), 1) << r.err;
  EXPECT_NE(r.err.find("\"st2.sac\""), std::string::npos) << r.err;
  for (const char* name : {"p1_2.sac", "p2_2.sac", "p2_3.sac"}) {
    EXPECT_TRUE(has_line(r.out, kSkip + pad(name, 50))) << name;
    EXPECT_FALSE(fs::exists(net.file(name))) << name;
  }
  EXPECT_TRUE(fs::exists(net.file("p1_3.sac")));
}

TEST(BadInput, AShorterRecordLimitsItsPairsToTheSamplesBothHold) {
  Network net;
  Noise noise(8);
  net.add({"LONG", "BHZ", 1.0f, 2.0f, 1.0f, noise.series(2400)});
  net.add({"SHORT", "BHZ", 1.5f, 2.5f, 1.0f, noise.series(2200)});
  net.add({"LAST", "BHZ", 2.0f, 3.0f, 1.0f, noise.series(2400)});
  net.write_lists();
  const RunResult r = net.run("B", "Y");
  ASSERT_EQ(r.status, 0) << r.err;
  auto stacking_of = [&](const std::string& name) {
    for (const auto& l : split_lines(r.out)) {
      if (l.find(pad(name, 50) + "Dist:") != std::string::npos) {
        return std::stoi(l.substr(l.find("# of stacking:") + 14, 12));
      }
    }
    return -1;
  };
  EXPECT_EQ(stacking_of("p1_2.sac"), 2);
  EXPECT_EQ(stacking_of("p2_2.sac"), 2);
  EXPECT_EQ(stacking_of("p1_3.sac"), 3);
}

TEST(BadInput, AShortNameListWarnsOnceAndSkipsThePairsWithoutName) {
  Network net;
  Noise noise(9);
  for (int k = 0; k < 3; ++k) {
    net.add(
        {"S" + std::to_string(k), "BHZ", static_cast<float>(k), 0.0f, 1.0f, noise.series(2400)});
  }
  net.write_lists(4);
  const RunResult r = net.run("B", "Y");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(count_of(r.err, "\n"), 1) << r.err;
  EXPECT_NE(r.err.find("name list"), std::string::npos);
  EXPECT_EQ(count_of(r.out, kSkip + std::string(50, ' ')), 2) << r.out;
  EXPECT_TRUE(fs::exists(net.file("p2_2.sac")));
  EXPECT_FALSE(fs::exists(net.file("p2_3.sac")));
  // Percentages use the names there are: pair 4 of 4 names is 100 %.
  EXPECT_NE(r.out.find("        100 %       " + pad("p2_2.sac", 50)), std::string::npos) << r.out;
}

TEST(BadInput, SamplingIntervalsThatCannotBeRunEndTheRunBeforeAnyPair) {
  // 1e-7 s: a window of 2e10 samples, beyond any memory.
  for (float dt : {0.0f, -1.0f, 500.0f, 1e-7f}) {
    Network net;
    Noise noise(10);
    net.add({"A", "BHZ", 1.0f, 2.0f, dt, noise.series(2400)});
    net.add({"B", "BHZ", 1.5f, 2.5f, dt, noise.series(2400)});
    net.write_lists();
    const RunResult r = net.run("B", "Y");
    EXPECT_EQ(r.status, 2) << dt;
    EXPECT_EQ(count_of(r.err, "\n"), 1) << r.err;
    EXPECT_NE(r.err.find("sampling interval"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Output:"), std::string::npos) << dt;
    EXPECT_FALSE(fs::exists(net.file("p1_1.sac"))) << dt;
  }
}

TEST(BadInput, AnEmptyOrMissingStationListRunsNoPair) {
  Network net;
  const RunResult r = net.run("B", "Y");  // neither list exists
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "           Input:\n  \n           Output:\n  \n");
  EXPECT_TRUE(fs::exists(net.file("stations")));
  EXPECT_TRUE(fs::exists(net.file("names")));
  EXPECT_EQ(fs::file_size(net.file("stations")), 0u);
}

TEST(BadInput, AnUnreadableResultIsReportedAndLeftAlone) {
  Network net;
  Noise noise(12);
  net.add({"A", "BHZ", 1.0f, 2.0f, 1.0f, noise.series(2400)});
  net.add({"B", "BHZ", 1.5f, 2.5f, 1.0f, noise.series(2400)});
  net.write_lists();
  write_bytes(net.file("p1_2.sac"), std::string(640, '\0'));
  const RunResult r = net.run("A", "Y");
  // The header pass cannot complete it: the run says so in its status and last line.
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err,
            "xcorrnet_v3: result \"p1_2.sac\" cannot be read back: it is not a SAC file; left as "
            "it is\n"
            "xcorrnet_v3: 1 of 3 results could not be written or completed\n");
  EXPECT_EQ(bytes_of(net.file("p1_2.sac")), std::vector<unsigned char>(640, 0));
  EXPECT_EQ(SacBytes(net.file("p2_2.sac").string()).k(448, 16), "B-B             ");
}

}  // namespace
}  // namespace xcn::test
