// Records of any length and sampling interval: a record longer than 172800 samples is used
// whole, 20 Hz and 100 Hz networks run on every engine with the same decisions, and an interval
// whose window cannot fit the memory budget is refused by name.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/e2e/engine_cases.hpp"

namespace xcn::test {
namespace {

// A station or file name: the prefix and the number (appended, not concatenated to a literal).
std::string labelled(const char* prefix, int k) {
  std::string name = prefix;
  name += std::to_string(k);
  return name;
}

struct EngineRun {
  Files files;
  std::vector<std::string> lines;
  std::string out;
};

EngineRun run_with(const Network& net, const std::string& engine, int workers = 2,
                   const std::string& budget = "") {
  std::vector<std::string> env = {"XCN_ENGINE=" + engine};
  if (!budget.empty()) env.push_back("XCN_MEMORY_BUDGET=" + budget);
  const RunResult r = net.run("B", "Y", workers, env);
  EXPECT_EQ(r.status, 0) << engine << "\n" << r.err;
  EXPECT_EQ(r.err, "") << engine;
  return {take_results(net), sorted_lines(r.out), r.out};
}

std::vector<float> samples_of(const std::vector<unsigned char>& bytes) {
  std::vector<float> y((bytes.size() - 632) / 4);
  std::memcpy(y.data(), bytes.data() + 632, y.size() * 4);
  return y;
}

// The matrix engine's result within the engines' agreement: 1e-5 of the largest value.
[[maybe_unused]] void expect_within_agreement(const std::vector<unsigned char>& exact,
                                              const std::vector<unsigned char>& matrix,
                                              const std::string& name) {
  const std::vector<float> want = samples_of(exact);
  const std::vector<float> got = samples_of(matrix);
  ASSERT_EQ(got.size(), want.size()) << name;
  double peak = 0.0, dev = 0.0;
  for (const float v : want) peak = std::max(peak, std::fabs(double{v}));
  for (std::size_t k = 0; k < want.size(); ++k) {
    dev = std::max(dev, std::fabs(double{got[k]} - double{want[k]}));
  }
  EXPECT_LE(dev, 1e-5 * peak) << name;
}

// Every engine on the network: the exact engine gives the plain loop's bytes, the matrix
// engine its lines and values within 1e-5 of each result's largest magnitude, with the default
// budget and with each of `budgets` (MiB). Returns the plain loop's run.
EngineRun expect_engines_agree(const Network& net, const std::vector<std::string>& budgets = {}) {
  const EngineRun plain = run_with(net, "plain");
  const EngineRun exact = run_with(net, "exact");
  EXPECT_EQ(exact.lines, plain.lines);
  EXPECT_TRUE(exact.files == plain.files) << "the exact engine's bytes differ";
#ifdef XCN_HAVE_BLAS
  std::vector<std::string> runs = {""};
  runs.insert(runs.end(), budgets.begin(), budgets.end());
  for (const std::string& budget : runs) {
    SCOPED_TRACE("budget " + budget);
    const EngineRun matrix = run_with(net, "matrix", 2, budget);
    EXPECT_EQ(matrix.lines, plain.lines);
    EXPECT_EQ(matrix.files.size(), plain.files.size());
    for (const auto& [name, bytes] : plain.files) {
      const auto it = matrix.files.find(name);
      const bool found = it != matrix.files.end() && it->second.size() == bytes.size();
      EXPECT_TRUE(found) << name;
      if (!found) continue;
      expect_within_agreement(bytes, it->second, name);
    }
  }
#endif
  return plain;
}

int stacking_of(const std::string& out, const std::string& name) {
  for (const auto& l : split_lines(out)) {
    if (l.find(pad(name, 50) + "Dist:") != std::string::npos) return stacked(l);
  }
  return -1;
}

// Three records of 230000 samples at 1 s: independent noise up to sample 174000, then one
// noise seen by all three, 5 and 9 samples later at the second and third. Only windows after
// sample 172800 find the delay.
TEST(Capacity, ARecordLongerThan172800SamplesIsUsedWhole) {
  Network net;
  Noise noise(41);
  const std::size_t n = 230000, from = 174000;
  const std::vector<float> common = noise.series(n);
  for (int k = 0; k < 3; ++k) {
    std::vector<float> y = noise.series(n);
    const std::size_t delay = k == 0 ? 0 : k == 1 ? 5 : 9;
    for (std::size_t t = from; t < n; ++t) y[t] = common[t - delay];
    net.add({labelled("L", k), "BHZ", 30.0f, 20.0f + 0.1f * static_cast<float>(k), 1.0f, y});
  }
  net.write_lists();
  const EngineRun plain = expect_engines_agree(net);
  // Windows every 200 samples up to the one starting at 228000: 1141 of them.
  for (const char* name : {"p1_1.sac", "p1_2.sac", "p2_3.sac"}) {
    EXPECT_EQ(stacking_of(plain.out, name), 1141) << name;
  }
  // Lag 0 is value 1000 of 2000; a positive lag is a later arrival at the second station.
  const auto peak_at = [&](const std::string& name) {
    const std::vector<float> y = samples_of(plain.files.at(name));
    return std::max_element(y.begin(), y.end()) - y.begin();
  };
  EXPECT_EQ(peak_at("p1_2.sac"), 1005);
  EXPECT_EQ(peak_at("p1_3.sac"), 1009);
  EXPECT_EQ(peak_at("p2_3.sac"), 1004);

  // Within 4 MiB the records (2.6 MiB) are not all held: each is read again where it is used,
  // and the files are the same bytes.
  for (const char* engine : {"plain", "exact"}) {
    const EngineRun small = run_with(net, engine, 2, "4");
    EXPECT_EQ(small.lines, plain.lines) << engine;
    EXPECT_TRUE(small.files == plain.files) << engine << ": the bytes differ";
  }
#ifdef XCN_HAVE_BLAS
  // A station's unit spectra of every window (18 MiB) are beyond the matrix engine's share of
  // that budget: its tiles hold their windows in time chunks, the products adding up chunk by
  // chunk, the same bytes for any number of workers.
  const EngineRun one = run_with(net, "matrix", 1, "4");
  const EngineRun two = run_with(net, "matrix", 2, "4");
  EXPECT_EQ(one.lines, plain.lines);
  EXPECT_TRUE(one.files == two.files) << "the worker count changed the bytes";
  for (const auto& [name, bytes] : plain.files) {
    expect_within_agreement(bytes, one.files.at(name), name);
  }
#endif
}

// Writes `count` records of `samples` noise samples at 1 s and both lists into `dir`, keeping
// none of them here: the peak of a child counts what it shares of this process before it
// starts the tool.
void write_quiet_network(const std::filesystem::path& dir, int count, std::size_t samples) {
  Noise noise(77);
  std::ofstream stations(dir / "stations");
  for (int k = 1; k <= count; ++k) {
    const std::string name = labelled("st", k) + ".sac";
    ASSERT_EQ(write_record((dir / name).string(),
                           {labelled("M", k), "BHZ", 30.0f, 20.0f + 0.1f * static_cast<float>(k),
                            1.0f, noise.series(samples)}),
              0);
    stations << name << '\n';
  }
  std::ofstream names(dir / "names");
  for (int i = 1; i <= count; ++i) {
    for (int j = i; j <= count; ++j) names << 'p' << i << '_' << j << ".sac\n";
  }
}

// Peak memory of a run whose records (four of 1.5 million samples, 23 MiB) are far beyond its
// budget of 16 MiB stays within the budget and a tenth, plus what the program takes of itself:
// the peak of a run of two short records, and 4 MiB for what differs between the two runs
// besides the budget (the allocator's caches, the larger console and file buffers).
// A sanitizer's shadow memory and its quarantine of freed blocks are no part of the tool's peak.

TEST(Capacity, APeakWithinTheBudgetWhateverTheRecords) {
  if (kSanitized) GTEST_SKIP() << "built with a sanitizer: its own memory swamps the peak";
  const std::vector<std::string> args = {"stations", "names", "B", "Y"};
  const ScratchDir tiny;
  write_quiet_network(tiny.path(), 2, 3000);
  const ScratchDir big;
  write_quiet_network(big.path(), 4, 1500000);
  std::vector<std::string> engines = {"exact"};
#ifdef XCN_HAVE_BLAS
  engines.push_back("matrix");
#endif
  for (const std::string& engine : engines) {
    const std::vector<std::string> env = {"XCN_ENGINE=" + engine, "XCN_MEMORY_BUDGET=16",
                                          "OMP_NUM_THREADS=1"};
    const RunResult base = run_program(tool(), args, tiny.path(), env);
    ASSERT_EQ(base.status, 0) << base.err;
    const long allowance_kib = base.max_rss_kib + 4096;
    const RunResult r = run_program(tool(), args, big.path(), env);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(stacking_of(r.out, "p1_2.sac"), 7491) << engine;
    const long budget_kib = 16 * 1024;
    EXPECT_LE(r.max_rss_kib, budget_kib + budget_kib / 10 + allowance_kib)
        << engine << ": the program alone " << base.max_rss_kib << " KiB";
  }
}

// Three stations at 20 Hz and at 100 Hz, each with a loud stretch that rejects some of its
// windows; the records are longer than 172800 samples. Under small budgets the matrix engine
// sweeps the windows in time chunks (at 20 Hz: one sweep, the records held, at 20 MiB; sweeps of
// single stations, the records read forward, at 4 MiB) or holds tiles of one station (100 Hz,
// 30 MiB; at 9 MiB sweeps of one window).
TEST(Capacity, TwentyAndHundredHertzRunOnEveryEngine) {
  const struct {
    float delta;
    std::size_t samples;
    int windows;  // of the whole record: (samples - window) / step + 1
    std::vector<std::string> budgets;
  } cases[] = {{0.05f, 216000, 45, {"20", "4"}}, {0.01f, 300000, 6, {"30", "9"}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.delta);
    Network net;
    Noise noise(57);
    const std::size_t window = static_cast<std::size_t>(std::lround(2000.0f / c.delta));
    const std::size_t step = window / 10;
    for (int k = 0; k < 3; ++k) {
      // Station k is loud over its window k + 1 only (and what overlaps it).
      const std::size_t at = step * static_cast<std::size_t>(k + 1) * (c.windows > 10 ? 4 : 1);
      net.add({labelled("F", k), "HHZ", 30.0f, 20.0f + 0.1f * static_cast<float>(k), c.delta,
               noise_with_burst(noise, c.samples, at, at + step / 2)});
    }
    net.write_lists();
    const EngineRun plain = expect_engines_agree(net, c.budgets);
    EXPECT_EQ(plain.files.size(), 6u);
    const auto first = samples_of(plain.files.at("p1_1.sac"));
    EXPECT_EQ(first.size(), window);
    // Each record rejects the windows over its loud stretch: fewer than all, more than none.
    for (const char* name : {"p1_1.sac", "p1_2.sac", "p2_3.sac"}) {
      const int count = stacking_of(plain.out, name);
      EXPECT_GT(count, 0) << name;
      EXPECT_LT(count, c.windows) << name;
    }
  }
}

TEST(Capacity, AnIntervalWhoseWindowCannotFitTheBudgetIsRefusedByName) {
  Network net;
  Noise noise(3);
  for (int k = 0; k < 2; ++k) {
    net.add({labelled("R", k), "HHZ", 30.0f, 20.0f, 0.01f, noise.series(1000)});
  }
  net.write_lists();
  const RunResult r = net.run("B", "Y", 1, {"XCN_MEMORY_BUDGET=1"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "xcorrnet_v3: error: the sampling interval 0.01 s cannot be run: its 2000 s window of "
            "200000 samples needs about 3 MiB per worker, more than XCN_MEMORY_BUDGET allows (1 "
            "MiB)\n");
  EXPECT_FALSE(std::filesystem::exists(net.file("p1_2.sac")));
  // The same records within a budget that holds the window: each is shorter than one window.
  const RunResult fits = net.run("B", "Y", 1, {"XCN_MEMORY_BUDGET=4"});
  EXPECT_EQ(fits.status, 0) << fits.err;
  EXPECT_EQ(count_of(fits.err, "fewer than one 2000 s window"), 2) << fits.err;
}

}  // namespace
}  // namespace xcn::test
