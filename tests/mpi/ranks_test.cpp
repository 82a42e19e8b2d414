// Runs divided among MPI ranks (mpirun): the same files as one process, each pair on exactly
// one line, the filters, the exit status of all ranks, and a killed rank followed by a rerun.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "tests/e2e/network.hpp"
#include "tests/mpi/mpirun.hpp"

namespace xcn::test {
namespace {

namespace fs = std::filesystem;

using Files = std::map<std::string, std::vector<unsigned char>>;

// Under mpirun alone, as a user runs it: its output and status.
RunResult run_merged(const Network& net, int ranks, const std::string& mode,
                     const std::string& replace) {
  std::vector<std::string> args = launcher(ranks, with_defaults({}), true);
  args.push_back(mode);
  args.push_back(replace);
  return run_program(XCN_MPIEXEC, args, net.dir(), kMpiEnv);
}

Started start_ranks(const Network& net, int ranks, const std::vector<std::string>& env = {}) {
  std::vector<std::string> args = launcher(ranks, with_defaults(env));
  args.push_back("B");
  args.push_back("Y");
  return start_program(XCN_MPIEXEC, args, net.dir(), kMpiEnv);
}

void noisy_network(Network& net, int stations, int samples) {
  Noise noise(57);
  for (int k = 0; k < stations; ++k) {
    net.add({"M" + std::to_string(k), "BHZ", 40.0f + 0.3f * static_cast<float>(k),
             10.0f - 0.4f * static_cast<float>(k % 4), 1.0f,
             noise.series(static_cast<std::size_t>(samples))});
  }
  net.write_lists();
}

Files results_of(const Network& net) {
  Files files;
  for (const auto& e : fs::directory_iterator(net.dir())) {
    const std::string name = e.path().filename().string();
    if (name.rfind("p", 0) == 0) files[name] = SacBytes(e.path().string()).bytes;
  }
  return files;
}

// The tool's own lines of standard error (mpirun adds its notes when a rank's status is not 0).
std::string own_errors(const std::string& err) {
  std::string own;
  for (const auto& line : split_lines(err)) {
    if (line.rfind("xcorrnet_v3", 0) == 0) own += line + "\n";
  }
  return own;
}

bool is_pair_line(const std::string& l) {
  return l.rfind(kSkip, 0) == 0 || l.find("# of stacking:") != std::string::npos;
}

// The skip and progress lines, sorted (ranks print them in no fixed order), and the rest as
// printed.
struct Lines {
  std::multiset<std::string> pairs;
  std::vector<std::string> rest;
};
Lines lines_of(const std::string& out) {
  Lines l;
  for (const auto& line : split_lines(out)) {
    if (is_pair_line(line)) {
      l.pairs.insert(line);
    } else {
      l.rest.push_back(line);
    }
  }
  return l;
}

// How many skip or progress lines name each pair.
std::map<std::string, int> pair_line_counts(const Network& net, const std::string& out) {
  std::map<std::string, int> counts;
  for (int i = 1; i <= net.size(); ++i) {
    for (int j = i; j <= net.size(); ++j) counts[Network::pair_name(i, j)] = 0;
  }
  for (const auto& line : split_lines(out)) {
    if (!is_pair_line(line)) continue;
    for (auto& [name, count] : counts) count += line.find(" " + name + " ") != std::string::npos;
  }
  return counts;
}

void expect_each_pair_once(const Network& net, const std::string& out, const std::string& what) {
  for (const auto& [name, count] : pair_line_counts(net, out)) {
    EXPECT_EQ(count, 1) << what << ": " << name;
  }
}

// Each engine with what it needs set. The matrix engine's budget (0.4 MiB beside the 0.103 MiB
// of records) cuts the network into three tiles of three stations, six products to deal among
// the ranks; at 0.1 MiB the records do not fit and each rank reads its own again where used (the
// matrix engine forward, in sweeps of single stations).
std::vector<std::vector<std::string>> engines() {
  std::vector<std::vector<std::string>> e = {
      {"XCN_ENGINE=fast"}, {"XCN_ENGINE=plain"}, {"XCN_ENGINE=fast", "XCN_MEMORY_BUDGET=0.1"}};
#ifdef XCN_HAVE_BLAS
  e.push_back({"XCN_ENGINE=matrix", "XCN_MEMORY_BUDGET=0.503"});
  e.push_back({"XCN_ENGINE=matrix", "XCN_MEMORY_BUDGET=0.1"});
  e.push_back({"XCN_ENGINE=matrix"});
#endif
  // Each rank tells how many results it wrote.
  for (auto& engine : e) engine.push_back("XCN_TIMING=1");
  return e;
}

// The results rank k of `ranks` wrote, from its timing line.
int results_on_rank(const std::string& err, int k, int ranks) {
  const std::string tag = " on rank " + std::to_string(k) + " of " + std::to_string(ranks) + " (";
  const auto at = err.find(tag);
  return at == std::string::npos ? -1 : std::atoi(err.c_str() + at + tag.size());
}

// The tool's own lines of standard error without the timing lines, which differ by rank.
std::string errors_without_timing(const std::string& err) {
  std::string kept;
  for (const auto& line : split_lines(err)) {
    if (line.rfind("xcorrnet_v3: timing:", 0) != 0) kept += line + "\n";
  }
  return kept;
}

TEST(Ranks, WriteTheBytesAndLinesOfOneProcessForOneTwoAndThreeRanks) {
  for (const auto& engine : engines()) {
    std::string label;
    for (const auto& e : engine) label += e + " ";
    Network single;
    noisy_network(single, 9, 3000);
    const RunResult one = single.run("B", "Y", 1, engine);
    ASSERT_EQ(one.status, 0) << label << one.err;
    const Files want = results_of(single);
    ASSERT_EQ(want.size(), 45u);
    const Lines want_lines = lines_of(one.out);
    for (const int ranks : {1, 2, 3}) {
      const std::string what = label + std::to_string(ranks) + " ranks";
      Network net;
      noisy_network(net, 9, 3000);
      const RunResult r = run_ranks(net, ranks, "B", "Y", engine);
      ASSERT_EQ(r.status, 0) << what << "\n" << r.err;
      EXPECT_EQ(errors_without_timing(r.err), errors_without_timing(one.err)) << what;
      EXPECT_TRUE(results_of(net) == want) << what << ": files differ from one process's";
      const Lines got = lines_of(r.out);
      // The Input and Output blocks once, in place; every pair line as one process prints it.
      EXPECT_EQ(got.rest, want_lines.rest) << what;
      EXPECT_EQ(got.pairs, want_lines.pairs) << what;
      expect_each_pair_once(net, r.out, what);
      if (label.find("matrix XCN_MEMORY_BUDGET=0.503") != std::string::npos) {
        EXPECT_EQ(count_of(r.err, "3 tiles of up to 3 stations, blocks of 3"), ranks) << r.err;
      }
      if (label.find("matrix XCN_MEMORY_BUDGET=0.1") != std::string::npos) {
        EXPECT_EQ(count_of(r.err, "45 sweeps in time chunks of 1 window, blocks of 1"), ranks)
            << r.err;
      }
      // The work was dealt: every rank wrote results (the matrix engine's single block of nine
      // stations aside: its pairs are one product), 45 in all.
      if (ranks > 1) {
        int total = 0;
        for (int k = 0; k < ranks; ++k) {
          const int written = results_on_rank(r.err, k, ranks);
          total += written;
          if (label != "XCN_ENGINE=matrix XCN_TIMING=1 ") {
            EXPECT_GT(written, 0) << what << ", rank " << k;
          }
        }
        EXPECT_EQ(total, 45) << what;
      }
    }
  }
}

// Nine records of different starts, lengths and two days, one with a gap of zeros and one
// shorter than a window.
void timed_network(Network& net) {
  Noise noise(77);
  const struct {
    std::size_t samples;
    float b;
    int jday;
  } records[] = {{3000, 0.0f, 10},   {2600, 300.0f, 10}, {3400, 100.0f, 10},
                 {1500, 0.0f, 10},   {3000, 0.0f, 11},   {3000, 0.0f, 10},
                 {2800, 200.0f, 10}, {3000, 0.0f, 10},   {3200, 400.0f, 10}};
  for (int k = 0; k < 9; ++k) {
    const auto& r = records[k];
    Record rec{"T" + std::to_string(k),
               "BHZ",
               40.0f + 0.3f * static_cast<float>(k),
               10.0f - 0.4f * static_cast<float>(k % 4),
               1.0f,
               noise.series(r.samples),
               r.b};
    rec.reference = {2024, r.jday, 0, 0, 0, 0};
    if (k == 2) std::fill(rec.samples.begin() + 600, rec.samples.begin() + 3000, 0.0f);
    net.add(rec);
  }
  net.write_lists();
}

// Standard error's own lines without the timing lines, sorted: each rank lists its own pairs.
std::multiset<std::string> sorted_errors(const std::string& err) {
  std::multiset<std::string> lines;
  for (const auto& line : split_lines(errors_without_timing(own_errors(err)))) lines.insert(line);
  return lines;
}

TEST(Ranks, WriteOneProcessesBytesForRecordsOfDifferentTimes) {
  for (const auto& engine : engines()) {
    std::string label;
    for (const auto& e : engine) label += e + " ";
    Network single;
    timed_network(single);
    const RunResult one = single.run("B", "Y", 1, engine);
    ASSERT_EQ(one.status, 0) << label << one.err;
    const Files want = results_of(single);
    ASSERT_EQ(want.size(), 45u);
    EXPECT_NE(one.err.find("pairs share no window in time"), std::string::npos) << one.err;
    for (const int ranks : {2, 3}) {
      const std::string what = label + std::to_string(ranks) + " ranks";
      Network net;
      timed_network(net);
      const RunResult r = run_ranks(net, ranks, "B", "Y", engine);
      ASSERT_EQ(r.status, 0) << what << "\n" << r.err;
      EXPECT_EQ(sorted_errors(r.err), sorted_errors(one.err)) << what << "\n" << r.err;
      EXPECT_TRUE(results_of(net) == want) << what << ": files differ from one process's";
      EXPECT_EQ(lines_of(r.out).pairs, lines_of(one.out).pairs) << what;
    }
  }
}

// mpirun forwards each rank's output in pieces of its own size; a burst of lines from several
// ranks (a rerun that skips every pair) would come out with lines cut by another rank's.
TEST(Ranks, PrintEveryLineWholeUnderMpirunAlone) {
  Network single, net;
  noisy_network(single, 150, 3000);
  noisy_network(net, 150, 3000);
  for (const std::string replace : {"Y", "N"}) {
    const RunResult one = single.run("B", replace, 2);
    ASSERT_EQ(one.status, 0) << one.err;
    const RunResult r = run_merged(net, 3, "B", replace);
    ASSERT_EQ(r.status, 0) << r.err;
    const Lines want = lines_of(one.out), got = lines_of(r.out);
    EXPECT_EQ(got.rest, want.rest) << replace;
    EXPECT_TRUE(got.pairs == want.pairs) << replace << ": pair lines differ from one process's";
    EXPECT_EQ(got.pairs.size(), 150u * 151u / 2u) << replace;
  }
}

TEST(Ranks, KeepTheModeAndReplaceFilters) {
  for (const std::string mode : {"A", "B", "C"}) {
    Network single, net;
    noisy_network(single, 7, 3000);
    noisy_network(net, 7, 3000);
    // Results of an earlier run stand under some names; with N they are kept and completed.
    for (Network* n : {&single, &net}) {
      for (const auto& [i, j] : {std::pair{1, 1}, {2, 5}, {6, 7}, {7, 7}}) {
        ASSERT_EQ(
            write_record(n->file(Network::pair_name(i, j)).string(),
                         {"OLD", "BHZ", 1.0f, 2.0f, 1.0f, std::vector<float>(10, 3.0f), -5.0f}),
            0);
      }
    }
    const RunResult one = single.run(mode, "N", 1);
    ASSERT_EQ(one.status, 0) << mode << one.err;
    const RunResult r = run_ranks(net, 3, mode, "N");
    ASSERT_EQ(r.status, 0) << mode << r.err;
    EXPECT_EQ(lines_of(r.out).pairs, lines_of(one.out).pairs) << mode;
    expect_each_pair_once(net, r.out, "mode " + mode);
    EXPECT_TRUE(results_of(net) == results_of(single)) << mode;
  }
}

TEST(Ranks, ExitWithTheWorstStatusAndOneSummary) {
  Network single, net;
  noisy_network(single, 6, 3000);
  noisy_network(net, 6, 3000);
  // A directory under the name of a pair in the middle of the table: its rank fails it.
  for (Network* n : {&single, &net}) fs::create_directory(n->file(Network::pair_name(3, 4)));
  const RunResult one = single.run("B", "Y", 1);
  ASSERT_EQ(one.status, 3);
  const RunResult r = run_ranks(net, 3, "B", "Y");
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(own_errors(r.err), one.err);
  EXPECT_EQ(count_of(r.err, "1 of 21 results could not be written or completed"), 1) << r.err;
}

TEST(Ranks, EndTogetherOnAFaultOfTheLists) {
  Network net;
  noisy_network(net, 4, 3000);
  fs::remove(net.file("names"));
  fs::create_directory(net.file("names"));
  const RunResult r = run_ranks(net, 3, "B", "Y");
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(count_of(own_errors(r.err), "xcorrnet_v3: error:"), 1) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST(Ranks, AKilledRankLeavesWholeFilesAndARerunCompletesTheRest) {
  constexpr int kStations = 12;
  constexpr int kPairs = kStations * (kStations + 1) / 2;
  Network killed;
  noisy_network(killed, kStations, 40000);
  // The plain loop: slow enough per pair to be caught between them.
  Started s = start_ranks(killed, 3, {"XCN_ENGINE=plain"});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  std::vector<pid_t> rank_pids;
  while (std::chrono::steady_clock::now() < deadline) {
    if (rank_pids.size() < 3) rank_pids = children_named(s.pid, "xcorrnet_v3");
    if (rank_pids.size() == 3 && count_of(output_so_far(s), "# of stacking:") >= 3) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_EQ(rank_pids.size(), 3u) << "no ranks found under mpirun";
  kill(rank_pids.back(), SIGKILL);
  const RunResult first = finish_program(s);
  ASSERT_NE(first.status, 0) << "the run ended before a rank could be killed";

  int complete = 0;
  for (const auto& [name, bytes] : results_of(killed)) {
    ASSERT_EQ(name.substr(name.size() - 4), ".sac") << "a partial file: " << name;
    EXPECT_EQ(bytes.size(), 632u + 4u * 2000u) << name << " is not whole";
    ++complete;
  }
  ASSERT_LT(complete, kPairs) << "every pair was done before the kill";
  // The killed rank could not remove a temporary it was writing; the ranks that mpirun ended
  // with a signal of their own removed theirs.
  const std::string killed_own = ".wsac0." + std::to_string(rank_pids.back()) + ".";
  for (const auto& e : fs::directory_iterator(killed.dir())) {
    const std::string name = e.path().filename().string();
    if (name.rfind(".wsac0.", 0) == 0) {
      EXPECT_EQ(name.rfind(killed_own, 0), 0u) << "a temporary left behind: " << name;
    }
  }

  // The exact engine completes the rest: the plain loop's bytes.
  const RunResult rerun = run_ranks(killed, 3, "B", "N", {"XCN_ENGINE=exact"});
  ASSERT_EQ(rerun.status, 0) << rerun.err;
  EXPECT_EQ(count_of(rerun.out, "# of stacking:"), kPairs - complete);
  expect_each_pair_once(killed, rerun.out, "rerun");

  Network clean;
  noisy_network(clean, kStations, 40000);
  ASSERT_EQ(clean.run("B", "Y", 2, {"XCN_ENGINE=exact"}).status, 0);
  EXPECT_TRUE(results_of(killed) == results_of(clean));
}

}  // namespace
}  // namespace xcn::test
