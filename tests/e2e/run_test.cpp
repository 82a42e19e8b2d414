// End-to-end runs of xcorrnet_v3 on small networks: console blocks, modes, replace flag,
// window counts, result headers, and the handling of bad stations and lists.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "driver/console.hpp"
#include "geodesy/elpdst.hpp"
#include "tests/e2e/network.hpp"

namespace xcn::test {
namespace {

namespace fs = std::filesystem;

// Three stations of 2400 samples at 1 s; the third sits where the first does.
void three_stations(Network& net, int samples = 2400) {
  Noise noise(7);
  net.add({"ST1", "BHZ", 35.0f, -117.0f, 1.0f, noise.series(samples)});
  net.add({"ST2", "BHN", 35.5f, -117.25f, 1.0f, noise.series(samples)});
  net.add({"ST3", "BHE", 35.0f, -117.0f, 1.0f, noise.series(samples)});
  net.write_lists();
}

std::string station_line(int i, const std::string& entry, const char* lat, const char* lon) {
  return " " + pad(std::string(11 - std::to_string(i).size(), ' ') + std::to_string(i), 11) + " " +
         pad(entry, 100) + " " + lat + " " + lon;
}

std::string int11(long v) {
  const std::string s = std::to_string(v);
  return std::string(11 - s.size(), ' ') + s;
}

std::string progress_line(int pct, const std::string& name, float dist, int count, int i,
                          float lon_i, int j, float lon_j) {
  return " " + int11(pct) + " %       " + pad(name, 50) + "Dist:  " + format_real(dist) +
         " (km) Time Window:   2000.00000     # of stacking: " + int11(count) + " " + int11(i) +
         " " + format_real(lon_i) + " " + int11(j) + " " + format_real(lon_j);
}

bool computed(const std::vector<std::string>& lines, const std::string& name) {
  for (const auto& l : lines) {
    if (l.find("%       " + pad(name, 50) + "Dist:") != std::string::npos) return true;
  }
  return false;
}

bool skipped(const std::vector<std::string>& lines, const std::string& name) {
  for (const auto& l : lines) {
    if (l == kSkip + pad(name, 50)) return true;
  }
  return false;
}

TEST(Run, ThreeStationsPrintTheBlocksByteForByte) {
  Network net;
  three_stations(net);
  // One worker of the exact engine prints the progress lines in pair order.
  const RunResult r = net.run("B", "Y", 1, {"XCN_ENGINE=exact"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const auto lines = split_lines(r.out);
  ASSERT_EQ(lines.size(), 19u) << r.out;
  EXPECT_EQ(lines[0], "           Input:");
  EXPECT_EQ(lines[1], station_line(1, "st1.sac", "  35.0000000    ", " -117.000000    "));
  EXPECT_EQ(lines[2], station_line(2, "st2.sac", "  35.5000000    ", " -117.250000    "));
  EXPECT_EQ(lines[3], station_line(3, "st3.sac", "  35.0000000    ", " -117.000000    "));
  EXPECT_EQ(lines[1].size(), 147u);
  EXPECT_EQ(lines[4], "  ");
  EXPECT_EQ(lines[5], "           Output:");
  const int pairs[6][2] = {{1, 1}, {1, 2}, {1, 3}, {2, 2}, {2, 3}, {3, 3}};
  for (int ij = 1; ij <= 6; ++ij) {
    const auto [i, j] = pairs[ij - 1];
    EXPECT_EQ(lines[5 + ij], " " + int11(ij) + " " + int11(i) + " " + int11(i) + " " + int11(j) +
                                 " " + int11(j) + " " + pad(Network::pair_name(i, j), 50));
    EXPECT_EQ(lines[5 + ij].size(), 111u);
  }
  EXPECT_EQ(lines[12], "  ");
  double d12 = 0, d23 = 0, az, baz;
  elpdst(35.0, -117.0, 35.5, -117.25, d12, az, baz);
  elpdst(35.5, -117.25, 35.0, -117.0, d23, az, baz);
  const float dists[6] = {0.0f, static_cast<float>(d12), 0.0f, 0.0f, static_cast<float>(d23), 0.0f};
  const float lons[4] = {0.0f, -117.0f, -117.25f, -117.0f};
  for (int ij = 1; ij <= 6; ++ij) {
    const auto [i, j] = pairs[ij - 1];
    const int pct = static_cast<int>(static_cast<float>(ij) / 6.0f * 100.0f);
    EXPECT_EQ(lines[12 + ij], progress_line(pct, Network::pair_name(i, j), dists[ij - 1], 3, i,
                                            lons[i], j, lons[j]));
    EXPECT_EQ(lines[12 + ij].size(), 214u);
  }
}

TEST(Run, ModesSelectTheirPairsAndSkipTheRest) {
  const struct {
    const char* mode;
    std::vector<std::pair<int, int>> computed;
  } cases[] = {
      {"A", {{1, 1}, {2, 2}, {3, 3}}},
      {"ACF", {{1, 1}, {2, 2}, {3, 3}}},
      {"C", {{1, 2}, {1, 3}, {2, 3}}},
      {"B", {{1, 1}, {1, 2}, {1, 3}, {2, 2}, {2, 3}, {3, 3}}},
      {"Both", {{1, 1}, {1, 2}, {1, 3}, {2, 2}, {2, 3}, {3, 3}}},
      {"b", {}},
      {"c", {}},
  };
  for (const auto& c : cases) {
    Network net;
    three_stations(net);
    const RunResult r = net.run(c.mode, "Y");
    ASSERT_EQ(r.status, 0) << c.mode << r.err;
    const auto lines = split_lines(r.out);
    for (int i = 1; i <= 3; ++i) {
      for (int j = i; j <= 3; ++j) {
        const bool want = std::find(c.computed.begin(), c.computed.end(), std::make_pair(i, j)) !=
                          c.computed.end();
        const std::string name = Network::pair_name(i, j);
        EXPECT_EQ(computed(lines, name), want) << c.mode << " " << name;
        EXPECT_EQ(skipped(lines, name), !want) << c.mode << " " << name;
        EXPECT_EQ(fs::exists(net.file(name)), want) << c.mode << " " << name;
      }
    }
  }
}

TEST(Run, ExistingResultsAreSkippedUnlessReplaceIsYButStillGetTheirFinalHeader) {
  Network net;
  three_stations(net);
  ASSERT_EQ(net.run("B", "Y").status, 0);
  const SacBytes first(net.file("p1_2.sac").string());
  // Spoil the event name of one result; the header pass of any later run restores it.
  {
    std::fstream f(net.file("p1_2.sac"), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(off::kKevnm);
    f.write("SPOILED ", 8);
  }
  for (const char* replace : {"N", "y", "no"}) {
    const RunResult r = net.run("B", replace);
    ASSERT_EQ(r.status, 0);
    const auto lines = split_lines(r.out);
    for (const char* name : {"p1_1.sac", "p1_2.sac", "p2_3.sac", "p3_3.sac"}) {
      EXPECT_TRUE(skipped(lines, name)) << replace << name;
      EXPECT_FALSE(computed(lines, name)) << replace << name;
    }
    EXPECT_EQ(SacBytes(net.file("p1_2.sac").string()).bytes, first.bytes) << replace;
  }
  // A lower-case mode computes nothing, yet the header pass visits every listed file.
  {
    std::fstream f(net.file("p2_3.sac"), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(off::kKevnm);
    f.write("SPOILED ", 8);
  }
  ASSERT_EQ(net.run("b", "Y").status, 0);
  EXPECT_EQ(SacBytes(net.file("p2_3.sac").string()).k(off::kKevnm, 16), "ST2-ST3         ");
  const RunResult again = net.run("C", "Y");
  EXPECT_TRUE(computed(split_lines(again.out), "p1_2.sac"));
}

TEST(Run, OneStationIsOnePair) {
  Network net;
  Noise noise(3);
  net.add({"ONE", "BHZ", 10.0f, 20.0f, 1.0f, noise.series(2400)});
  net.write_lists();
  const auto a = split_lines(net.run("A", "Y").out);
  EXPECT_TRUE(computed(a, "p1_1.sac"));
  fs::remove(net.file("p1_1.sac"));
  const auto c = split_lines(net.run("C", "Y").out);
  EXPECT_TRUE(skipped(c, "p1_1.sac"));
  EXPECT_FALSE(fs::exists(net.file("p1_1.sac")));
}

TEST(Run, ResultsCarryTheFinalHeader) {
  Network net;
  three_stations(net);
  ASSERT_EQ(net.run("B", "Y").status, 0);
  const SacBytes p12(net.file("p1_2.sac").string());
  ASSERT_TRUE(p12.valid());
  EXPECT_EQ(p12.npts(), 2000);
  EXPECT_EQ(p12.bytes.size(), 632u + 4u * 2000u);
  EXPECT_EQ(p12.f(off::kDelta), 1.0f);
  EXPECT_EQ(p12.f(off::kB), -1000.0f);
  EXPECT_EQ(p12.f(off::kE), -12345.0f);
  EXPECT_EQ(p12.k(off::kKstnm), "ST2     ");  // the second station, as KCMPNM its component
  EXPECT_EQ(p12.k(off::kKevnm, 16), "ST1-ST2         ");
  EXPECT_EQ(p12.k(off::kKcmpnm), "BHN     ");
  EXPECT_EQ(p12.f(off::kStla), 35.5f);
  EXPECT_EQ(p12.f(off::kStlo), -117.25f);
  EXPECT_EQ(p12.f(off::kEvla), 35.0f);
  EXPECT_EQ(p12.f(off::kEvlo), -117.0f);
  EXPECT_EQ(p12.f(off::kGcarc), -12345.0f);
  // The writer's own distance: a spherical estimate agrees to a fraction of a percent.
  const double r = M_PI / 180.0;
  const double arc = std::acos(std::sin(35.0 * r) * std::sin(35.5 * r) +
                               std::cos(35.0 * r) * std::cos(35.5 * r) * std::cos(0.25 * r));
  EXPECT_NEAR(p12.f(off::kDist), 6371.0 * arc, 0.005 * 6371.0 * arc);
  EXPECT_NEAR(p12.f(off::kAz), 337.7, 1.0);   // north-north-west
  EXPECT_NEAR(p12.f(off::kBaz), 157.6, 1.0);  // back toward south-south-east
  // Coincident stations, and a station with itself: distance 0, azimuths 0.
  for (const char* name : {"p1_3.sac", "p1_1.sac"}) {
    const SacBytes s(net.file(name).string());
    EXPECT_NEAR(s.f(off::kDist), 0.0f, 1e-3f) << name;
    EXPECT_EQ(s.f(off::kAz), 0.0f) << name;
    EXPECT_EQ(s.f(off::kBaz), 0.0f) << name;
  }
  EXPECT_EQ(SacBytes(net.file("p1_3.sac").string()).k(off::kKevnm, 16), "ST1-ST3         ");
}

TEST(Run, RecordLengthDecidesTheWindowCount) {
  const struct {
    int samples;
    int windows;
  } cases[] = {{2000, 1}, {1999, 0}, {2199, 1}, {2200, 2}, {2400, 3}};
  for (const auto& c : cases) {
    Network net;
    Noise noise(11);
    net.add({"W", "BHZ", 0.0f, 0.0f, 1.0f, noise.series(static_cast<std::size_t>(c.samples))});
    net.write_lists();
    const RunResult r = net.run("A", "Y");
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("# of stacking: " + int11(c.windows)), std::string::npos) << r.out;
    const auto y = SacBytes(net.file("p1_1.sac").string()).samples();
    ASSERT_EQ(y.size(), 2000u);
    EXPECT_EQ(std::isnan(y[1000]), c.windows == 0) << c.samples;
    EXPECT_EQ(std::all_of(y.begin(), y.end(), [](float v) { return std::isnan(v); }),
              c.windows == 0);
  }
}

// The deviation as the tool takes it: from the mean, in double precision, rounded to single.
float deviation(const float* v, int n) {
  double mean = 0.0;
  for (int k = 0; k < n; ++k) mean += v[k];
  mean /= n;
  double sq = 0.0;
  for (int k = 0; k < n; ++k) sq += (v[k] - mean) * (v[k] - mean);
  return static_cast<float>(std::sqrt(sq / (n - 1)));
}

TEST(Run, AWindowAtExactlyTheRejectionBoundIsRejected) {
  // 2420 samples: windows start at 0, 200 and 400. The last window holds only the loud part,
  // and the quiet ends' amplitude q is chosen so that its deviation is exactly 1.1 times the
  // record's (in single precision); the first two are quieter and accepted.
  auto record = [](float q) {
    std::vector<float> y(2420);
    for (std::size_t k = 0; k < y.size(); ++k) {
      const float sign = k % 2 == 0 ? 1.0f : -1.0f;
      y[k] = sign * (k >= 400 && k < 2400 ? 12.0f : q);
    }
    return y;
  };
  const float loud = deviation(record(0.0f).data() + 400, 2000);
  auto excess = [&](float q) {
    const std::vector<float> y = record(q);
    return 1.1f * deviation(y.data(), 2420) - loud;
  };
  // Where 1.1 times the record's deviation crosses the window's, then the float there that
  // meets it exactly.
  float lo = 0.0f, hi = 1.0f;
  for (int k = 0; k < 60; ++k) {
    const float mid = 0.5f * (lo + hi);
    (excess(mid) < 0.0f ? lo : hi) = mid;
  }
  float q = lo;
  for (int k = 0; k < 4000 && excess(q) != 0.0f; ++k) q = std::nextafter(q, 2.0f);
  const std::vector<float> y = record(q);
  ASSERT_EQ(deviation(y.data() + 400, 2000), 1.1f * deviation(y.data(), 2420))
      << "boundary case drifted";
  ASSERT_LT(deviation(y.data() + 200, 2000), 1.1f * deviation(y.data(), 2420));
  Network net;
  net.add({"EDGE", "BHZ", 0.0f, 0.0f, 1.0f, y});
  net.write_lists();
  const RunResult r = net.run("A", "Y");
  EXPECT_NE(r.out.find("# of stacking: " + int11(2)), std::string::npos) << r.out;
}

}  // namespace
}  // namespace xcn::test
