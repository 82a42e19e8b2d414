// Run containers written under several ranks: the values of one process, bit for bit, for one,
// two and three ranks and every engine; replace N under ranks; a part that cannot be written, a
// join that cannot be, and a signal, each leaving the earlier container and no hidden file.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <set>
#include <thread>

#include "results/container.hpp"
#include "tests/e2e/network.hpp"
#include "tests/mpi/mpirun.hpp"

namespace xcn::test {
namespace {

namespace fs = std::filesystem;

#define SKIP_WITHOUT_NETCDF() \
  if (!results::netcdf_built()) GTEST_SKIP() << "built without libnetcdf"

// Dated records with codes and orientations, of different starts and lengths: one shorter than a
// window, one of the next day (pairs that share no window in time).
void dated_network(Network& net, int stations, std::size_t samples = 3000) {
  Noise noise(31);
  for (int k = 0; k < stations; ++k) {
    const std::size_t n = k == 3 ? 1500 : samples + 100 * static_cast<std::size_t>(k % 3);
    Record r{"D" + std::to_string(k),
             k % 2 ? "HHN" : "HHZ",
             40.0f + 0.3f * static_cast<float>(k),
             10.0f - 0.4f * static_cast<float>(k % 4),
             1.0f,
             noise.series(n),
             100.0f * static_cast<float>(k % 4)};
    r.reference = {2024, k == 5 ? 11 : 10, 0, 0, 0, 0};
    r.knetwk = "XX";
    r.khole = k % 3 ? "00" : "";
    r.cmpaz = k % 2 ? 0.0f : 90.0f;
    r.cmpinc = 90.0f;
    net.add(r);
  }
  net.write_lists();
}

RunResult run_one(const Network& net, const std::string& mode, const std::string& replace,
                  std::vector<std::string> env = {}) {
  env.push_back("OMP_NUM_THREADS=1");
  return run_program(tool(), {"stations", "run.nc", mode, replace}, net.dir(), env);
}

RunResult run_divided(const Network& net, int ranks, const std::string& mode,
                      const std::string& replace, const std::vector<std::string>& env = {}) {
  return run_ranks(net, ranks, mode, replace, env, "run.nc");
}

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Every value of the two containers: the run's attributes, each pair's values and each row.
void expect_same_container(const fs::path& got_path, const fs::path& want_path) {
  std::string why;
  const auto got = results::ContainerReader::open(got_path.string(), why);
  ASSERT_TRUE(got) << why;
  const auto want = results::ContainerReader::open(want_path.string(), why);
  ASSERT_TRUE(want) << why;
  const results::ContainerRun &g = got->run(), &w = want->run();
  EXPECT_EQ(g.npts, w.npts);
  EXPECT_TRUE(same_bits(g.interval, w.interval) && same_bits(g.window, w.window) &&
              same_bits(g.step, w.step));
  EXPECT_EQ(g.grid_start, w.grid_start);
  EXPECT_EQ(g.engine, w.engine);
  EXPECT_EQ(g.program, w.program);
  ASSERT_EQ(got->pairs().size(), want->pairs().size());
  std::vector<float> gy(static_cast<std::size_t>(g.npts)), wy(gy.size());
  for (std::size_t k = 0; k < want->pairs().size(); ++k) {
    const results::ContainerPair &a = got->pairs()[k], &b = want->pairs()[k];
    SCOPED_TRACE("row " + std::to_string(k) + " " + b.first + " " + b.second);
    EXPECT_EQ(a.first, b.first);
    EXPECT_EQ(a.second, b.second);
    EXPECT_EQ(a.a, b.a);
    EXPECT_EQ(a.b, b.b);
    const float results::ContainerPair::*reals[] = {
        &results::ContainerPair::evla,   &results::ContainerPair::evlo,
        &results::ContainerPair::stla,   &results::ContainerPair::stlo,
        &results::ContainerPair::dist,   &results::ContainerPair::az,
        &results::ContainerPair::baz,    &results::ContainerPair::depmin,
        &results::ContainerPair::depmax, &results::ContainerPair::depmen};
    for (const auto field : reals) EXPECT_TRUE(same_bits(a.*field, b.*field));
    EXPECT_EQ(a.stacked, b.stacked);
    EXPECT_EQ(a.time, b.time);
    ASSERT_TRUE(got->read(k, gy, why)) << why;
    ASSERT_TRUE(want->read(k, wy, why)) << why;
    EXPECT_EQ(std::memcmp(gy.data(), wy.data(), gy.size() * sizeof(float)), 0);
  }
}

// Whatever a run left under a hidden name (its container's or a part).
std::vector<std::string> hidden_files(const Network& net) {
  std::vector<std::string> found;
  for (const auto& e : fs::directory_iterator(net.dir())) {
    const std::string name = e.path().filename().string();
    if (name.starts_with(".")) found.push_back(name);
  }
  return found;
}

// The tool's own lines of standard error without the timing lines, sorted.
std::multiset<std::string> own_errors(const std::string& err) {
  std::multiset<std::string> lines;
  for (const auto& line : split_lines(err)) {
    if (line.starts_with("xcorrnet_v3") && !line.starts_with("xcorrnet_v3: timing:")) {
      lines.insert(line);
    }
  }
  return lines;
}

std::multiset<std::string> progress_lines(const std::string& out) {
  std::multiset<std::string> lines;
  for (const auto& line : split_lines(out)) {
    if (line.find("# of stacking:") != std::string::npos) lines.insert(line);
  }
  return lines;
}

std::vector<std::vector<std::string>> engines() {
  std::vector<std::vector<std::string>> e = {{"XCN_ENGINE=exact"}, {"XCN_ENGINE=plain"}};
#ifdef XCN_HAVE_BLAS
  // Three tiles of three stations: six products dealt among the ranks.
  e.push_back({"XCN_ENGINE=matrix", "XCN_MEMORY_BUDGET=0.503"});
#endif
  return e;
}

TEST(ContainerRanks, HoldTheValuesOfOneProcessForOneTwoAndThreeRanks) {
  SKIP_WITHOUT_NETCDF();
  for (const auto& engine : engines()) {
    std::string label;
    for (const auto& e : engine) label += e + " ";
    Network single;
    dated_network(single, 9);
    const RunResult one = run_one(single, "B", "Y", engine);
    ASSERT_EQ(one.status, 0) << label << one.err;
    for (const int ranks : {1, 2, 3}) {
      const std::string what = label + std::to_string(ranks) + " ranks";
      SCOPED_TRACE(what);
      Network net;
      dated_network(net, 9);
      const RunResult r = run_divided(net, ranks, "B", "Y", engine);
      ASSERT_EQ(r.status, 0) << r.err;
      expect_same_container(net.file("run.nc"), single.file("run.nc"));
      EXPECT_EQ(own_errors(r.err), own_errors(one.err)) << r.err;
      EXPECT_EQ(progress_lines(r.out), progress_lines(one.out));
      EXPECT_EQ(hidden_files(net), std::vector<std::string>{});
      // The container is the only thing the run wrote.
      EXPECT_FALSE(fs::exists(net.file(Network::pair_name(1, 2))));
    }
  }
}

TEST(ContainerRanks, ReplaceNCompletesAContainerAsOneProcessDoes) {
  SKIP_WITHOUT_NETCDF();
  Network single, net;
  dated_network(single, 7);
  dated_network(net, 7);
  // The autocorrelations first, then the rest.
  ASSERT_EQ(run_one(single, "A", "N").status, 0);
  ASSERT_EQ(run_one(single, "B", "N").status, 0);
  const RunResult autos = run_divided(net, 3, "A", "N");
  ASSERT_EQ(autos.status, 0) << autos.err;
  const RunResult rest = run_divided(net, 2, "B", "N");
  ASSERT_EQ(rest.status, 0) << rest.err;
  // The pairs it held were not computed again.
  EXPECT_EQ(count_of(rest.out, "# of stacking:"), 21);
  expect_same_container(net.file("run.nc"), single.file("run.nc"));
  EXPECT_EQ(hidden_files(net), std::vector<std::string>{});
  // Every pair held: nothing to do, the file as it was.
  const std::string before = read_bytes(net.file("run.nc"));
  const RunResult again = run_divided(net, 3, "B", "N");
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(count_of(again.out, "# of stacking:"), 0);
  EXPECT_EQ(read_bytes(net.file("run.nc")), before);
  // Y computes every pair anew into a new container: one process's again.
  ASSERT_EQ(run_one(single, "B", "Y").status, 0);
  const RunResult replaced = run_divided(net, 3, "B", "Y");
  ASSERT_EQ(replaced.status, 0) << replaced.err;
  EXPECT_EQ(count_of(replaced.out, "# of stacking:"), 28);
  expect_same_container(net.file("run.nc"), single.file("run.nc"));
}

// Three ranks, rank `limited` writing no file beyond `kib` KiB (the signal of a file too large
// ignored, so that a write fails as on a full disk). The ranks talk over TCP: the limit would
// also refuse the file behind MPI's shared memory.
RunResult run_with_limit(const Network& net, int limited, int kib, const std::string& mode,
                         const std::string& replace) {
  const std::vector<std::string> env = with_defaults({"XCN_ENGINE=exact"});
  std::vector<std::string> args = mpirun_options(1, env);
  args.insert(args.begin(), {"--mca", "btl", "self,tcp"});
  for (int rank = 0; rank < 3; ++rank) {
    // Each program of the launcher's list takes its own environment.
    if (rank > 0) {
      for (const char* a : {":", "-np", "1"}) args.push_back(a);
      for (const auto& e : env) args.insert(args.end(), {"-x", e});
    }
    const std::string call = tool() + " stations run.nc " + mode + " " + replace;
    if (rank == limited) {
      const std::string blocks = std::to_string(2 * kib);  // of 512 bytes
      args.insert(args.end(),
                  {"/bin/sh", "-c", "trap '' XFSZ; ulimit -f " + blocks + "; exec " + call});
    } else {
      args.insert(args.end(), {tool(), "stations", "run.nc", mode, replace});
    }
  }
  return run_launcher(net, 3, args);
}

TEST(ContainerRanks, APartOrAJoinThatCannotBeWrittenNamesNoContainer) {
  SKIP_WITHOUT_NETCDF();
  Network net;
  dated_network(net, 12);
  ASSERT_EQ(run_one(net, "A", "N").status, 0);
  const std::string before = read_bytes(net.file("run.nc"));
  ASSERT_GT(before.size(), 60000u);
  const struct {
    const char* label;
    int rank;
    int kib;
    const char* says;
  } cases[] = {
      // A part of rank 1 cannot grow past a few rows.
      {"rank 1's part", 1, 24, "rank 1's part: "},
      // Rank 0's part fits (a third of the rows), the container it joins does not.
      {"the join", 0, 520, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const RunResult r = run_with_limit(net, c.rank, c.kib, "B", "N");
    EXPECT_EQ(r.status, 3) << r.err;
    const std::string line = "xcorrnet_v3: container \"run.nc\" could not be written: ";
    EXPECT_EQ(count_of(r.err, line), 1) << r.err;
    if (c.says != nullptr) {
      EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    } else {
      EXPECT_EQ(r.err.find("'s part"), std::string::npos) << r.err;
    }
    EXPECT_NE(r.err.find("; the earlier one is left as it is\n"), std::string::npos) << r.err;
    EXPECT_EQ(count_of(r.err, "xcorrnet_v3: 66 of 66 results could not be written or completed"), 1)
        << r.err;
    EXPECT_EQ(read_bytes(net.file("run.nc")), before);
    EXPECT_EQ(hidden_files(net), std::vector<std::string>{});
  }
  // Without the limit the same run completes it.
  const RunResult r = run_divided(net, 3, "B", "N");
  ASSERT_EQ(r.status, 0) << r.err;
  std::string why;
  const auto done = results::ContainerReader::open(net.file("run.nc").string(), why);
  ASSERT_TRUE(done) << why;
  EXPECT_EQ(done->pairs().size(), 78u);
}

TEST(ContainerRanks, ASignalRemovesEveryPartAndLeavesTheEarlierContainer) {
  SKIP_WITHOUT_NETCDF();
  Network net;
  dated_network(net, 12, 40000);
  ASSERT_EQ(run_one(net, "A", "N").status, 0);
  const std::string before = read_bytes(net.file("run.nc"));
  // The plain loop: slow enough per pair to be caught while the parts are written.
  std::vector<std::string> args = launcher(3, with_defaults({"XCN_ENGINE=plain"}), false, "run.nc");
  args.push_back("B");
  args.push_back("N");
  Started s = start_program(XCN_MPIEXEC, args, net.dir(), kMpiEnv);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  std::vector<pid_t> rank_pids;
  std::size_t parts = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    if (rank_pids.size() < 3) rank_pids = children_named(s.pid, "xcorrnet_v3");
    parts = 0;
    for (const auto& name : hidden_files(net)) parts += name.find(".rank") != std::string::npos;
    if (rank_pids.size() == 3 && parts == 3) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_EQ(rank_pids.size(), 3u) << "no ranks found under mpirun";
  ASSERT_EQ(parts, 3u) << "the parts were not seen";
  // The rank itself, as a batch system's time limit reaches it.
  kill(rank_pids[1], SIGTERM);
  const RunResult ended = finish_program(s);
  EXPECT_NE(ended.status, 0);
  EXPECT_EQ(read_bytes(net.file("run.nc")), before);
  EXPECT_EQ(hidden_files(net), std::vector<std::string>{});
}

}  // namespace
}  // namespace xcn::test
