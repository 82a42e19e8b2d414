// The matrix engine (XCN_ENGINE=matrix) against the exact engine: every pair within 1e-5 of
// the exact result's largest value, NaN in the same places, the same console lines (so the
// same windows stacked), and the same files for 1, 2 and 3 workers; for odd and even windows,
// rejected windows, pairs without a common window, windows of zeros, records of different
// lengths, a station listed twice, and budgets that force tiles.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <regex>
#include <set>

#include "tests/e2e/engine_cases.hpp"

namespace xcn::test {
namespace {

struct Outcome {
  Files files;
  std::vector<std::string> lines;
  std::string out;
  std::string err;
};

Outcome run_engine(const Network& net, int workers, std::vector<std::string> env) {
  env.push_back("XCN_TIMING=1");
  const RunResult r = net.run("B", "Y", workers, env);
  EXPECT_EQ(r.status, 0) << r.err;
  return {take_results(net), sorted_lines(r.out), r.out, r.err};
}

Outcome exact_run(const Network& net) { return run_engine(net, 1, {"XCN_ENGINE=exact"}); }

std::vector<float> samples_of(const std::vector<unsigned char>& bytes) {
  std::vector<float> y((bytes.size() - 632) / 4);
  std::memcpy(y.data(), bytes.data() + 632, y.size() * 4);
  return y;
}

// The header without the sample extrema and mean, which follow the values.
std::vector<unsigned char> header_of(std::vector<unsigned char> bytes) {
  bytes.resize(632);
  for (const std::size_t at : {off::kDepmin, off::kDepmax, off::kDepmen}) {
    std::memset(bytes.data() + at, 0, 4);
  }
  return bytes;
}

// Every result of `got` against `want`: the same header but for the values' extrema and mean,
// NaN in the same places, elsewhere within 1e-5 of the largest magnitude of `want`. Returns the
// largest deviation relative to that magnitude.
double expect_close(const Files& want, const Files& got, const std::string& label) {
  EXPECT_EQ(got.size(), want.size()) << label;
  double worst = 0.0;
  for (const auto& [name, bytes] : want) {
    const auto it = got.find(name);
    if (it == got.end()) {
      ADD_FAILURE() << label << ": " << name << " missing";
      continue;
    }
    if (bytes.size() < 632 || it->second.size() != bytes.size()) {
      ADD_FAILURE() << label << ": " << name << " of " << it->second.size() << " bytes, not "
                    << bytes.size();
      continue;
    }
    EXPECT_EQ(header_of(it->second), header_of(bytes)) << label << ": " << name;
    const std::vector<float> e = samples_of(bytes);
    const std::vector<float> m = samples_of(it->second);
    double peak = 0.0;
    for (const float v : e) peak = std::isnan(v) ? peak : std::max(peak, std::fabs(double{v}));
    double dev = 0.0;
    int nan_places = 0;
    for (std::size_t k = 0; k < e.size(); ++k) {
      if (std::isnan(e[k]) || std::isnan(m[k])) {
        nan_places += std::isnan(e[k]) != std::isnan(m[k]);
        continue;
      }
      dev = std::max(dev, std::fabs(double{m[k]} - double{e[k]}));
    }
    EXPECT_EQ(nan_places, 0) << label << ": " << name << " has NaN elsewhere";
    EXPECT_LE(dev, 1e-5 * peak) << label << ": " << name << " largest value " << peak;
    if (peak > 0.0) worst = std::max(worst, dev / peak);
  }
  return worst;
}

// Runs the matrix engine with 1, 2 and 3 workers: the exact engine's lines, its values within
// the tolerance, and the same bytes for every worker count. Returns the run's standard error.
std::string expect_matrix_agrees(const Network& net, const Outcome& exact,
                                 std::vector<std::string> env, const std::string& label) {
  env.push_back("XCN_ENGINE=matrix");
  Files first;
  std::string err;
  for (const int workers : {1, 2, 3}) {
    const std::string what = label + ", " + std::to_string(workers) + " workers";
    const Outcome m = run_engine(net, workers, env);
    EXPECT_EQ(m.lines, exact.lines) << what;
    expect_close(exact.files, m.files, what);
    if (workers == 1) {
      first = m.files;
      err = m.err;
    } else {
      EXPECT_TRUE(m.files == first) << what << ": files differ from 1 worker's";
    }
  }
  return err;
}

// The count of pair (i, j) from a run's lines.
int count_of_pair(const std::string& out, int i, int j) {
  for (const auto& l : split_lines(out)) {
    if (l.find(" " + Network::pair_name(i, j) + " ") != std::string::npos &&
        l.find("# of stacking:") != std::string::npos) {
      return stacked(l);
    }
  }
  return -1;
}

long exact_path_pairs(const std::string& err) {
  std::smatch m;
  const std::regex re(R"(exact path [0-9.]+ s for (\d+) pairs)");
  return std::regex_search(err, m, re) ? std::stol(m[1]) : -1;
}

#ifdef XCN_HAVE_BLAS
#define SKIP_WITHOUT_BLAS()
#else
#define SKIP_WITHOUT_BLAS() GTEST_SKIP() << "built without BLAS: no matrix engine"
#endif

TEST(MatrixEngine, AgreesWithTheExactEngineOnOddAndEvenWindows) {
  SKIP_WITHOUT_BLAS();
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
      const std::size_t from = 500 * static_cast<std::size_t>(k);
      net.add({"S" + std::to_string(k), "BHZ", 40.0f + 0.3f * static_cast<float>(k),
               10.0f + 0.2f * static_cast<float>(k), c.delta,
               noise_with_burst(noise, c.samples, from, from + 300)});
    }
    net.write_lists();
    const Outcome exact = exact_run(net);
    ASSERT_EQ(exact.files.size(), static_cast<std::size_t>(c.stations * (c.stations + 1) / 2));
    expect_matrix_agrees(net, exact, {}, c.label);
  }
}

// Seven records of 3000 samples (six windows): a burst rejects windows 0-2 of the first and
// 3-5 of the second, so their pair has none; the fourth is the third delayed by 7 s; the fifth
// and sixth are silent from 2200 s on (a gap: the four windows that reach it are not accepted);
// the seventh holds a NaN, so none of its windows is accepted.
void decisions_network(Network& net) {
  Noise noise(21);
  const std::size_t n = 3000;
  auto burst = [&](std::size_t from) {
    auto y = noise.series(n);
    for (std::size_t t = from; t < from + 50; ++t) y[t] *= 30.0f;
    return y;
  };
  std::vector<std::vector<float>> records = {burst(550), burst(2400), noise.series(n)};
  std::vector<float> delayed(n);
  for (std::size_t t = 0; t < n; ++t) {
    delayed[t] = (t >= 7 ? records[2][t - 7] : 0.0f) + 0.3f * noise.next();
  }
  records.push_back(delayed);
  for (int k = 0; k < 2; ++k) {
    auto y = noise.series(n);
    std::fill(y.begin() + 2200, y.end(), 0.0f);
    records.push_back(y);
  }
  records.push_back(noise.series(n));
  records.back()[1234] = std::numeric_limits<float>::quiet_NaN();
  for (std::size_t k = 0; k < records.size(); ++k) {
    net.add({"D" + std::to_string(k), "BHZ", 30.0f + 0.1f * static_cast<float>(k),
             20.0f - 0.2f * static_cast<float>(k), 1.0f, records[k]});
  }
  net.write_lists();
}

TEST(MatrixEngine, StacksTheWindowsTheExactEngineStacks) {
  SKIP_WITHOUT_BLAS();
  Network net;
  decisions_network(net);
  const Outcome exact = exact_run(net);
  // The network is what it is meant to be.
  EXPECT_EQ(count_of_pair(exact.out, 1, 1), 3);
  EXPECT_EQ(count_of_pair(exact.out, 2, 2), 3);
  EXPECT_EQ(count_of_pair(exact.out, 1, 2), 0);
  // The four windows that reach the gap are not accepted; the first two, judged against the
  // deviation of the live samples alone, are.
  EXPECT_EQ(count_of_pair(exact.out, 5, 6), 2);
  EXPECT_EQ(count_of_pair(exact.out, 7, 7), 0);
  const std::string err = expect_matrix_agrees(net, exact, {}, "decisions");
  EXPECT_EQ(exact_path_pairs(err), 0) << err;

  // A positive lag is a later arrival at the second station, at sample 1000 + 7 of 2000.
  const Outcome m = run_engine(net, 2, {"XCN_ENGINE=matrix"});
  const std::vector<float> y = samples_of(m.files.at(Network::pair_name(3, 4)));
  const auto peak = std::max_element(y.begin(), y.end());
  EXPECT_EQ(peak - y.begin(), 1007);
  EXPECT_GT(*peak, 0.5f);
  for (const float v : samples_of(m.files.at(Network::pair_name(1, 2)))) ASSERT_TRUE(std::isnan(v));
}

TEST(MatrixEngine, GivesNaNWhereNoRecordHoldsAWindow) {
  SKIP_WITHOUT_BLAS();
  Network net;
  Noise noise(3);
  for (int k = 0; k < 3; ++k) {
    net.add({"R" + std::to_string(k), "BHZ", 10.0f, 20.0f + static_cast<float>(k), 1.0f,
             noise.series(1999)});
  }
  net.write_lists();
  const Outcome exact = exact_run(net);
  EXPECT_EQ(count_of_pair(exact.out, 1, 2), 0);
  expect_matrix_agrees(net, exact, {}, "1999 samples");
}

TEST(MatrixEngine, TakesEveryLengthAndSendsOnlyARepeatedRecordToTheExactPath) {
  SKIP_WITHOUT_BLAS();
  Network net;
  uneven_network(net);
  const Outcome exact = exact_run(net);
  ASSERT_EQ(exact.files.size(), 21u);
  const std::string err = expect_matrix_agrees(net, exact, {}, "uneven");
  // Records of every length are rows of the product; only stations 1 and 6, one record listed
  // twice, go the exact way.
  EXPECT_EQ(exact_path_pairs(err), 1) << err;
}

TEST(MatrixEngine, AgreesInTilesOfEveryShape) {
  SKIP_WITHOUT_BLAS();
  Network net;
  decisions_network(net);
  const Outcome exact = exact_run(net);
  const std::regex shape(R"((\d+) tiles? of up to (\d+) stations|sweeps in time chunks)");
  std::set<int> tiles;
  // Seven stations of 48 KiB unit spectra and 8 KiB of stacked spectra per pair of a block:
  // tiles of 1, 2, 3, 4 and 7 stations. The records (0.0801 MiB) count against the budget:
  // the budgets leave the engine 0.2, 0.3, 0.4 and 0.55 MiB; at 0.15 MiB the records do not
  // fit, and sweeps that read them forward transform fewer windows than any tiles.
  for (const char* budget : {"0.15", "0.28011", "0.38011", "0.48011", "0.63011", "1000"}) {
    const std::string label = std::string("budget ") + budget + " MiB";
    const std::string err =
        expect_matrix_agrees(net, exact, {std::string("XCN_MEMORY_BUDGET=") + budget}, label);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(err, m, shape)) << err;
    // The least budget reads the records forward in sweeps of single stations.
    if (m[1].matched) tiles.insert(std::stoi(m[1]));
  }
  EXPECT_EQ(tiles, (std::set<int>{1, 2, 3, 4, 7}));
}

// Records of 91 windows and fewer, loud stretches, and the first record listed again: sweeps
// of one block of seven stations (its pairs r < c), of blocks of two and three (products of
// two, three and four rows), and of single stations, with the records held and read forward.
TEST(MatrixEngine, AgreesInSweepsOfEveryShape) {
  SKIP_WITHOUT_BLAS();
  Network net;
  Noise noise(31);
  const std::size_t lengths[] = {20000, 16000, 20000, 9000, 20000, 14000};
  for (std::size_t k = 0; k < std::size(lengths); ++k) {
    const std::size_t from = 2500 * k;
    net.add({"W" + std::to_string(k), "BHZ", 35.0f + 0.4f * static_cast<float>(k),
             -110.0f + 0.3f * static_cast<float>(k), 1.0f,
             noise_with_burst(noise, lengths[k], from, from + 400)});
  }
  net.add_entry("st1.sac");
  net.write_lists();
  const Outcome exact = exact_run(net);
  const std::regex shape(
      R"(; (\d+ (tiles? of up to \d+ stations|sweeps? in time chunks of \d+ windows), blocks of \d+);)");
  const struct {
    const char* budget;
    const char* shape;
  } cases[] = {
      {"0.3", "28 sweeps in time chunks of 13 windows, blocks of 1"},
      {"0.7", "6 sweeps in time chunks of 16 windows, blocks of 2"},
      {"0.85", "5 sweeps in time chunks of 16 windows, blocks of 3"},
      {"1.2", "2 sweeps in time chunks of 16 windows, blocks of 3"},
      {"1.4", "1 sweep in time chunks of 18 windows, blocks of 7"},
      {"1000", "1 tile of up to 7 stations, blocks of 7"},
  };
  for (const auto& c : cases) {
    const std::string label = std::string("budget ") + c.budget + " MiB";
    const std::string err =
        expect_matrix_agrees(net, exact, {std::string("XCN_MEMORY_BUDGET=") + c.budget}, label);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(err, m, shape)) << err;
    EXPECT_EQ(m[1], c.shape) << label;
    // The record listed twice: found across sweeps, its pair taken the exact way.
    EXPECT_EQ(exact_path_pairs(err), 1) << label;
  }
}

// The products are blocked by the whole network, not by the pairs a run still has to compute:
// a rerun with N that computes a few missing pairs writes the bytes a full run wrote (blocked
// by the stations of the missing pairs alone, their sums would round otherwise), and measures
// and transforms the windows of those pairs' stations only. So does the exact engine.
TEST(MatrixEngine, ARerunWithNWritesTheBytesOfAFullRunFromTheStationsItNeeds) {
  SKIP_WITHOUT_BLAS();
  for (const char* engine : {"matrix", "exact"}) {
    SCOPED_TRACE(engine);
    Network net;
    Noise noise(11);
    for (int k = 0; k < 20; ++k) {
      net.add({"R" + std::to_string(k), "BHZ", 40.0f + 0.1f * static_cast<float>(k),
               10.0f + 0.2f * static_cast<float>(k % 5), 1.0f, noise.series(3000)});
    }
    net.write_lists();
    const std::vector<std::string> env = {std::string("XCN_ENGINE=") + engine, "XCN_TIMING=1"};
    const RunResult first = net.run("B", "Y", 2, env);
    ASSERT_EQ(first.status, 0);
    EXPECT_NE(first.err.find(" s of 20 stations, "), std::string::npos) << first.err;
    const Files full = take_results(net);
    // The full run's files back but five.
    Files kept = full;
    for (const auto& [i, j] : {std::pair{2, 5}, {5, 9}, {11, 17}, {3, 12}, {4, 4}}) {
      ASSERT_EQ(kept.erase(Network::pair_name(i, j)), 1u);
    }
    for (const auto& [name, bytes] : kept) {
      write_bytes(net.file(name), std::string(bytes.begin(), bytes.end()));
    }
    const RunResult rerun = net.run("B", "N", 2, env);
    ASSERT_EQ(rerun.status, 0) << rerun.err;
    EXPECT_EQ(count_of(rerun.out, "# of stacking:"), 5);
    EXPECT_EQ(count_of(rerun.out, " skip "), 210 - 5);
    // Stations 2, 3, 4, 5, 9, 11, 12 and 17.
    EXPECT_NE(rerun.err.find(" s of 8 stations, "), std::string::npos) << rerun.err;
    EXPECT_TRUE(take_results(net) == full) << "the rerun's files differ from the full run's";
    // Nothing missing: no station is measured.
    for (const auto& [name, bytes] : full) {
      write_bytes(net.file(name), std::string(bytes.begin(), bytes.end()));
    }
    const RunResult again = net.run("B", "N", 2, env);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.err.find(" s of 0 stations, "), std::string::npos) << again.err;
    EXPECT_TRUE(take_results(net) == full);
  }
}

TEST(MatrixEngine, WithoutBlasWarnsAndRunsTheExactEngine) {
#ifdef XCN_HAVE_BLAS
  GTEST_SKIP() << "this build has the matrix engine";
#else
  Network net;
  uneven_network(net);
  const Outcome exact = exact_run(net);
  const Outcome m = run_engine(net, 2, {"XCN_ENGINE=matrix"});
  EXPECT_NE(m.err.find("XCN_ENGINE=matrix: this build has no BLAS library; using the exact "
                       "engine"),
            std::string::npos)
      << m.err;
  EXPECT_TRUE(m.files == exact.files);
  EXPECT_EQ(m.lines, exact.lines);
#endif
}

}  // namespace
}  // namespace xcn::test
