// The pair engine against the plain pair loop (XCN_ENGINE=plain): the same result files byte
// for byte and the same console lines, for odd and even windows, rejected windows, pairs
// without any window, a station listed twice, records of different lengths, any number of
// workers, memory tiles of several shapes, and every cross-spectrum path.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>

#include "tests/e2e/engine_cases.hpp"

namespace xcn::test {
namespace {

struct Reference {
  Files files;
  std::vector<std::string> lines;
  std::string out;
};

Reference plain_run(const Network& net) {
  const RunResult r = net.run("B", "Y", 1, {"XCN_ENGINE=plain"});
  EXPECT_EQ(r.status, 0) << r.err;
  return {take_results(net), sorted_lines(r.out), r.out};
}

// Runs the exact engine and expects exactly the reference's files and lines; returns its
// stderr.
std::string expect_as_plain(const Network& net, const Reference& ref, int workers,
                            std::vector<std::string> env, const std::string& label) {
  env.push_back("XCN_ENGINE=exact");
  env.push_back("XCN_TIMING=1");
  const RunResult r = net.run("B", "Y", workers, env);
  EXPECT_EQ(r.status, 0) << label << "\n" << r.err;
  EXPECT_EQ(sorted_lines(r.out), ref.lines) << label;
  const Files files = take_results(net);
  EXPECT_EQ(files.size(), ref.files.size()) << label;
  for (const auto& [name, bytes] : ref.files) {
    const auto it = files.find(name);
    EXPECT_TRUE(it != files.end() && it->second == bytes) << label << ": " << name << " differs";
  }
  return r.err;
}

TEST(Engine, GivesThePlainLoopsBytesForOddAndEvenWindows) {
  const struct {
    const char* label;
    float delta;
    std::size_t samples;
    int stations;
  } cases[] = {
      {"dt 3 s: 667-sample windows, odd", 3.0f, 3000, 4},
      {"dt 0.5 s: 4000-sample windows", 0.5f, 6000, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Network net;
    Noise noise(5);
    for (int k = 0; k < c.stations; ++k) {
      net.add({"S" + std::to_string(k), "BHZ", 40.0f + 0.3f * static_cast<float>(k),
               10.0f + 0.2f * static_cast<float>(k), c.delta,
               noise_with_burst(noise, c.samples, 500 * static_cast<std::size_t>(k),
                                500 * static_cast<std::size_t>(k) + 300)});
    }
    net.write_lists();
    const Reference ref = plain_run(net);
    ASSERT_EQ(ref.files.size(), static_cast<std::size_t>(c.stations * (c.stations + 1) / 2));
    expect_as_plain(net, ref, 1, {}, "1 worker");
    expect_as_plain(net, ref, 2, {}, "2 workers");
  }
}

TEST(Engine, GivesThePlainLoopsBytesForUnevenRecordsAndAnyWorkers) {
  Network net;
  uneven_network(net);
  const Reference ref = plain_run(net);
  ASSERT_EQ(ref.files.size(), 21u);
  // The network has what it is meant to have: pairs without a window (NaN results) and pairs
  // that lost windows to the loud stretches.
  std::set<int> counts;
  for (const auto& l : split_lines(ref.out)) {
    if (l.find("# of stacking:") != std::string::npos) counts.insert(stacked(l));
  }
  EXPECT_TRUE(counts.count(0));
  EXPECT_GE(counts.size(), 4u);

  for (int workers : {1, 2, 3}) {
    expect_as_plain(net, ref, workers, {}, std::to_string(workers) + " workers");
  }
  expect_as_plain(net, ref, 2, {"XCN_SPECTRUM_ISA=portable"}, "portable cross-spectrum");
  expect_as_plain(net, ref, 2, {"XCN_SPECTRUM_ISA=avx2"}, "AVX2 cross-spectrum");
}

TEST(Engine, GivesThePlainLoopsBytesInMemoryTilesOfEveryShape) {
  Network net;
  uneven_network(net);
  const Reference ref = plain_run(net);
  // From nothing kept at all, through some stations kept and tiles of one to three stations,
  // to everything at once.
  const std::regex report(
      R"((\d+) tiles? of up to (\d+) stations; spectra ([0-9.]+) MiB, held at most ([0-9.]+) MiB)");
  std::set<std::string> shapes;
  // The records (0.0996 MiB) count against the budget too: at 0.1 MiB they do not fit it and are
  // read again where used, at 0.3 MiB nothing is kept, then tiles of two and three stations.
  for (const char* budget : {"0.1", "0.3", "0.6", "0.65", "0.9", "1000"}) {
    for (int workers : {1, 2}) {
      const std::string label =
          std::string("budget ") + budget + " MiB, " + std::to_string(workers) + " workers";
      const std::string err =
          expect_as_plain(net, ref, workers, {std::string("XCN_MEMORY_BUDGET=") + budget}, label);
      std::smatch m;
      ASSERT_TRUE(std::regex_search(err, m, report)) << err;
      const double held = std::stod(m[4]);
      EXPECT_LE(held, std::stod(budget)) << label;
      shapes.insert(held == 0.0 ? "none kept" : m[1].str() + " tiles");
    }
  }
  EXPECT_TRUE(shapes.count("none kept"));
  EXPECT_TRUE(shapes.count("1 tiles"));
  EXPECT_GE(shapes.size(), 4u) << "too few tilings tried";
}

TEST(Engine, ReportsUnreadableSettingsAndRunsWithTheDefaults) {
  Network net;
  uneven_network(net);
  const Reference ref = plain_run(net);
  const struct {
    const char* setting;
    const char* warning;
  } cases[] = {
      {"XCN_MEMORY_BUDGET=lots",
       "xcorrnet_v3: warning: XCN_MEMORY_BUDGET=\"lots\" is not a positive number of "
       "megabytes; using half the physical memory\n"},
      {"XCN_MEMORY_BUDGET=-5", "XCN_MEMORY_BUDGET=\"-5\" is not a positive number"},
  };
  for (const auto& c : cases) {
    const std::string err = expect_as_plain(net, ref, 2, {c.setting}, c.setting);
    EXPECT_NE(err.find(c.warning), std::string::npos) << err;
    EXPECT_NE(err.find("exact engine"), std::string::npos) << err;
  }
  // An unknown engine runs the build's default one: the same files as with the variable unset.
  const char* engine = kMatrixEngineBuilt ? "matrix" : "exact";
  const RunResult unset = net.run("B", "Y", 2, {"XCN_TIMING=1"});
  ASSERT_EQ(unset.status, 0) << unset.err;
  EXPECT_NE(unset.err.find(std::string("; ") + engine + " engine, 2 workers"), std::string::npos)
      << unset.err;
  const Files by_default = take_results(net);
  const RunResult quick = net.run("B", "Y", 2, {"XCN_ENGINE=quick", "XCN_TIMING=1"});
  ASSERT_EQ(quick.status, 0) << quick.err;
  EXPECT_NE(quick.err.find(std::string("xcorrnet_v3: warning: XCN_ENGINE=\"quick\" is not plain, "
                                       "exact (or fast) or matrix; using the ") +
                           engine + " engine\n"),
            std::string::npos)
      << quick.err;
  EXPECT_EQ(take_results(net), by_default);
  EXPECT_EQ(sorted_lines(quick.out), sorted_lines(unset.out));
}

}  // namespace
}  // namespace xcn::test
