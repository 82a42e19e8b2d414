// The whole chain through the built programs: dated synthetic days with a velocity change,
// xcorrnet_v3 per day, xcn_stack, xcn_dvv, which must find the change within its errors.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "results/container.hpp"
#include "tests/common/scratch_dir.hpp"
#include "tests/e2e/process.hpp"

namespace xcn::test {
namespace {

RunResult run(const char* program, const std::vector<std::string>& args,
              const std::filesystem::path& dir) {
  return run_program(program, args, dir, {"OMP_NUM_THREADS=2"});
}

// network.csv as (method, time) -> (dvv, error, pairs).
struct Point {
  double dvv = 0, error = 0;
  int pairs = 0;
};
std::map<std::pair<std::string, std::string>, Point> network(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::map<std::pair<std::string, std::string>, Point> points;
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "time,method,dvv,error,pairs,input");
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream s(line);
    for (std::string x; std::getline(s, x, ',');) f.push_back(x);
    EXPECT_EQ(f.size(), 6u) << line;
    if (f.size() != 6 || f[2].empty()) continue;
    points[{f[1], f[0]}] = {std::stod(f[2]), std::stod(f[3]), std::stoi(f[4])};
  }
  return points;
}

// Days 1 and 2 without change, then rising to 0.003 on day 4 (four stations: six pairs and
// four autocorrelations). Against the stack of all days, each day's dv/v less day 1's is the
// injected change, within four errors of the two.
TEST(DvvChain, RecoversTheInjectedChangeOfSyntheticDays) {
  ScratchDir dir;
  const std::vector<double> change = {0.0, 0.0, 0.0015, 0.003};
  RunResult r = run(XCN_SYNTH,
                    {"--stations", "4", "--samples", "12000", "--days", "4", "--start",
                     "2024-03-01", "--dvv", "2:0,4:0.003", "--out", "net"},
                    dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> days;
  for (int d = 1; d <= 4; ++d) {
    const std::filesystem::path day = dir.path() / "net" / ("day00" + std::to_string(d));
    r = run(XCN_TOOL, {"stations.txt", "names.txt", "B", "N"}, day);
    ASSERT_EQ(r.status, 0) << r.err;
    days.push_back("net/day00" + std::to_string(d) + "/names.txt");
  }
  std::vector<std::string> args = {"--out", "st", "--kind", "linear", "--substack", "2"};
  args.insert(args.end(), days.begin(), days.end());
  r = run(XCN_STACK, args, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;

  args = {"--ref", "st/linear.txt", "--band", "0.1-0.3", "--out", "dvv"};
  args.insert(args.end(), days.begin(), days.end());
  r = run(XCN_DVV, args, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("xcn_dvv: 10 pairs over 4 inputs: 40 measured"), std::string::npos) << r.out;
  const auto points = network(dir.path() / "dvv" / "network.csv");
  const char* times[] = {"2024-03-01T00:00:00.000Z", "2024-03-02T00:00:00.000Z",
                         "2024-03-03T00:00:00.000Z", "2024-03-04T00:00:00.000Z"};
  for (const char* method : {"stretching", "mwcs"}) {
    ASSERT_TRUE(points.count({method, times[0]})) << method;
    const Point first = points.at({method, times[0]});
    for (std::size_t d = 1; d < 4; ++d) {
      ASSERT_TRUE(points.count({method, times[d]})) << method << " " << times[d];
      const Point p = points.at({method, times[d]});
      EXPECT_GE(p.pairs, 4) << method << " " << times[d];
      const double within = 4 * std::hypot(p.error, first.error) + 5e-5;
      EXPECT_NEAR(p.dvv - first.dvv, change[d] - change[0], within) << method << " " << times[d];
    }
  }

  // The sub-stacks as inputs: two days each, dated by their first.
  r = run(XCN_DVV,
          {"--ref", "st/linear.txt", "--band", "0.1-0.3", "--out", "sub", "--method", "stretching",
           "st/sub001/linear.txt", "st/sub002/linear.txt", "st/sub003/linear.txt"},
          dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const auto subs = network(dir.path() / "sub" / "network.csv");
  ASSERT_EQ(subs.size(), 3u);
  EXPECT_LT(subs.begin()->second.dvv, subs.rbegin()->second.dvv);
  std::ifstream png(dir.path() / "sub" / "dvv.png", std::ios::binary);
  char magic[4] = {};
  png.read(magic, 4);
  EXPECT_EQ(std::string(magic + 1, 3), "PNG");

  // The days' run containers measure as their SAC results: the same rows but for the input.
  if (!results::netcdf_built()) return;
  std::vector<std::string> containers;
  for (int d = 1; d <= 4; ++d) {
    const std::filesystem::path day = dir.path() / "net" / ("day00" + std::to_string(d));
    r = run(XCN_TOOL, {"stations.txt", "run.nc", "B", "N"}, day);
    ASSERT_EQ(r.status, 0) << r.err;
    containers.push_back("net/day00" + std::to_string(d) + "/run.nc");
  }
  args = {"--ref", "st/linear.txt", "--band", "0.1-0.3", "--out", "nc"};
  args.insert(args.end(), containers.begin(), containers.end());
  r = run(XCN_DVV, args, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  // Every column before the last, the input.
  const auto without_input = [](const std::filesystem::path& path) {
    std::ifstream in(path);
    std::vector<std::string> rows;
    for (std::string line; std::getline(in, line);) rows.push_back(line.substr(0, line.rfind(',')));
    return rows;
  };
  for (const char* table : {"dvv.csv", "network.csv"}) {
    const auto sac = without_input(dir.path() / "dvv" / table);
    EXPECT_GT(sac.size(), 8u) << table;
    EXPECT_EQ(without_input(dir.path() / "nc" / table), sac) << table;
  }
}

}  // namespace
}  // namespace xcn::test
