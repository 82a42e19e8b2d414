// Tests of the demo report: peak lags on each side and the verdict on a pair's peaks.
#include "tools/report.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "tests/tools/tools_test_util.hpp"
#include "tools/commands.hpp"
#include "xcorrnet/sacio.h"

namespace xcn::tools {
namespace {

using test::Capture;
using test::ScratchDir;
using test::write_text;

TEST(SidePeaks, LagsFollowBeginAndIntervalAndSkipZeroLagAndNaN) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // Lags -2, -1.5, ..., 2 at 0.5 s.
  std::vector<float> y{0.1f, 0.7f, 0.2f, nan, 9.0f, 0.3f, 0.6f, 0.6f, 0.2f};
  SidePeaks p = side_peaks(y, -2.0, 0.5);
  ASSERT_TRUE(p.negative_lag && p.positive_lag);
  EXPECT_DOUBLE_EQ(*p.negative_lag, -1.5);
  EXPECT_DOUBLE_EQ(*p.positive_lag, 1.0);  // the first of two equal tops

  y = {nan, nan, 5.0f, 1.0f, nan};
  p = side_peaks(y, -2.0, 1.0);
  EXPECT_FALSE(p.negative_lag);
  EXPECT_DOUBLE_EQ(*p.positive_lag, 1.0);
}

// A cross-correlation result with DIST 30 km (travel 10 s) and peaks at the given lags.
void write_result(const std::string& path, int negative_peak, int positive_peak) {
  std::vector<float> y(2000, 0.01f);
  y[static_cast<std::size_t>(1000 + negative_peak)] = 0.5f;
  y[static_cast<std::size_t>(1000 + positive_peak)] = 0.4f;
  int nerr = 0;
  newhdr();
  int npts = 2000;
  float delta = 1;
  float begin = -1000;
  float dist = 30;
  setnhv("NPTS", &npts, &nerr, -1);
  setfhv("DELTA", &delta, &nerr, -1);
  setfhv("B", &begin, &nerr, -1);
  setfhv("DIST", &dist, &nerr, -1);
  setkhv("KEVNM", "AAA-BBB", &nerr, -1, -1);
  float xdummy = 0;
  wsac0(path.c_str(), &xdummy, y.data(), &nerr, -1);
  ASSERT_EQ(nerr, 0);
}

TEST(DemoReport, PassesOnlyWhenBothPeaksLieWithinTwoSecondsOfTheTravelTime) {
  struct Case {
    int negative_peak;
    int positive_peak;
    int status;
  };
  for (const Case c :
       {Case{-10, 10, 0}, Case{-12, 8, 0}, Case{-13, 10, 1}, Case{-10, 7, 1}, Case{-3, 10, 1}}) {
    ScratchDir dir;
    write_text(dir / "stations.txt", "a.sac\nb.sac\n");
    const std::string names = (dir / "names.txt").string();
    write_text(names, (dir / "aa.sac").string() + "\n" + (dir / "ab.sac").string() + "\n" +
                          (dir / "bb.sac").string() + "\n");
    write_result((dir / "ab.sac").string(), c.negative_peak, c.positive_peak);
    Capture out;
    Capture err;
    const std::vector<std::string> args{(dir / "stations.txt").string(), names};
    EXPECT_EQ(run_report(args, out.stream(), err.stream()), c.status) << c.negative_peak;
    const std::string table = out.text();
    char row[128];
    std::snprintf(row, sizeof row, "AAA-BBB                   30.00        10.00 %12.1f %12.1f",
                  static_cast<double>(c.negative_peak), static_cast<double>(c.positive_peak));
    EXPECT_NE(table.find(row), std::string::npos) << table;
    EXPECT_NE(table.find(c.status == 0 ? "All 1 station pairs" : "FAILED: 1 of 1"),
              std::string::npos)
        << table;
  }
}

TEST(DemoReport, MissingResultFails) {
  ScratchDir dir;
  write_text(dir / "stations.txt", "a.sac\nb.sac\n");
  write_text(dir / "names.txt", "aa.sac\n" + (dir / "none.sac").string() + "\nbb.sac\n");
  Capture out;
  Capture err;
  const std::vector<std::string> args{(dir / "stations.txt").string(),
                                      (dir / "names.txt").string()};
  EXPECT_EQ(run_report(args, out.stream(), err.stream()), 1);
  EXPECT_NE(out.text().find("FAILED: 1 of 1"), std::string::npos) << out.text();
}

}  // namespace
}  // namespace xcn::tools
