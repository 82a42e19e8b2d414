// Run containers: the same samples, bit for bit, and the same per-pair values as the SAC results
// of the same network, for every engine; replace N completing a container; a killed run leaving
// the earlier container whole; containers that are not the tool's refused.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <set>
#include <thread>

#ifdef XCN_HAVE_NETCDF
#include <netcdf.h>
#endif

#include "results/container.hpp"
#include "sacio/header_model.hpp"
#include "sacio/read.hpp"
#include "sacio/ref_time.hpp"
#include "tests/e2e/engine_cases.hpp"

namespace xcn::test {
namespace {

#define SKIP_WITHOUT_NETCDF() \
  if (!results::netcdf_built()) GTEST_SKIP() << "built without libnetcdf"

RunResult run_into(const Network& net, const std::string& out, const std::string& mode,
                   const std::string& replace, std::vector<std::string> env = {}) {
  env.push_back("OMP_NUM_THREADS=2");
  return run_program(tool(), {"stations", out, mode, replace}, net.dir(), env);
}

std::map<std::string, int> stacking_by_name(const std::string& out) {
  std::map<std::string, int> counts;
  for (const std::string& line : split_lines(out)) {
    const auto at = line.find("# of stacking:");
    if (at == std::string::npos) continue;
    const auto name = line.find("p");
    counts[line.substr(name, line.find(' ', name) - name)] = stacked(line);
  }
  return counts;
}

// Every row of the container at `path` against the SAC results of the same pairs, in pair order.
void expect_container_is_sac(const Network& net, const std::string& path, const Files& sac,
                             const std::map<std::string, int>& stacking) {
  std::string why;
  const auto c = results::ContainerReader::open(path, why);
  ASSERT_TRUE(c) << why;
  ASSERT_EQ(c->pairs().size(), sac.size());
  const std::vector<std::string> entries = split_lines(read_bytes(net.file("stations")));
  std::size_t row = 0;
  for (int i = 1; i <= net.size(); ++i) {
    for (int j = i; j <= net.size(); ++j, ++row) {
      const std::string name = Network::pair_name(i, j);
      SCOPED_TRACE(name);
      const results::ContainerPair& p = c->pairs()[row];
      EXPECT_EQ(p.first, entries[static_cast<std::size_t>(i - 1)]);
      EXPECT_EQ(p.second, entries[static_cast<std::size_t>(j - 1)]);
      const std::string file = net.file(name).string();
      std::filesystem::path saved = net.dir() / ("sac_" + name);
      write_bytes(saved, std::string(sac.at(name).begin(), sac.at(name).end()));
      SacReader r(saved.string());
      ASSERT_EQ(r.nerr(), 0);
      const SacHeader& h = r.header();
      std::vector<float> y;
      ASSERT_EQ(r.read_samples(y), 0);
      std::vector<float> row_y(static_cast<std::size_t>(c->run().npts));
      ASSERT_TRUE(c->read(row, row_y, why)) << why;
      ASSERT_EQ(y.size(), row_y.size());
      EXPECT_EQ(std::memcmp(y.data(), row_y.data(), y.size() * sizeof(float)), 0);
      EXPECT_EQ(c->run().interval, h.real(xcn::kDelta));
      const results::Identity id = results::read_identity(h);
      EXPECT_EQ(p.a, id.first);
      EXPECT_EQ(p.b, id.second);
      const struct {
        const char* what;
        float container;
        int field;
      } reals[] = {{"dist", p.dist, xcn::kDist},       {"az", p.az, xcn::kAz},
                   {"baz", p.baz, xcn::kBaz},          {"evla", p.evla, xcn::kEvla},
                   {"evlo", p.evlo, xcn::kEvlo},       {"stla", p.stla, xcn::kStla},
                   {"stlo", p.stlo, xcn::kStlo},       {"depmin", p.depmin, xcn::kDepmin},
                   {"depmax", p.depmax, xcn::kDepmax}, {"depmen", p.depmen, xcn::kDepmen}};
      for (const auto& v : reals) {
        const float theirs = h.real(v.field);
        EXPECT_TRUE(std::memcmp(&theirs, &v.container, sizeof(float)) == 0)
            << v.what << ": " << theirs << " in SAC, " << v.container << " in the container";
      }
      EXPECT_EQ(p.time, to_ms(h.reference()));
      EXPECT_EQ(p.stacked, stacking.at(name));
      std::filesystem::remove(saved);
    }
  }
}

TEST(Container, HoldsTheSacResultsBitForBitForEveryEngine) {
  SKIP_WITHOUT_NETCDF();
  std::vector<std::string> engines = {"plain", "exact"};
  if (kMatrixEngineBuilt) engines.push_back("matrix");
  for (const std::string& engine : engines) {
    SCOPED_TRACE(engine);
    for (const bool dated : {true, false}) {
      Network net;
      if (dated) {
        dated_network(net, 5);
      } else {
        uneven_network(net);
      }
      const RunResult s = run_into(net, "names", "B", "Y", {"XCN_ENGINE=" + engine});
      ASSERT_EQ(s.status, 0) << s.err;
      const Files sac = take_results(net);
      const RunResult c = run_into(net, "run.nc", "B", "N", {"XCN_ENGINE=" + engine});
      ASSERT_EQ(c.status, 0) << c.err;
      expect_container_is_sac(net, net.file("run.nc").string(), sac, stacking_by_name(s.out));
      // Nothing beside it: no hidden file, no SAC result.
      int files = 0;
      for (const auto& e : std::filesystem::directory_iterator(net.dir())) {
        const std::string name = e.path().filename().string();
        files += name.starts_with(".") || name.starts_with("p");
      }
      EXPECT_EQ(files, 0);
    }
  }
}

TEST(Container, ReplaceNCompletesAContainerWithoutComputingItsPairsAgain) {
  SKIP_WITHOUT_NETCDF();
  Network net;
  dated_network(net, 4);
  const RunResult s = run_into(net, "names", "B", "Y");
  ASSERT_EQ(s.status, 0) << s.err;
  const Files sac = take_results(net);
  const RunResult autos = run_into(net, "run.nc", "A", "N");
  ASSERT_EQ(autos.status, 0) << autos.err;
  const RunResult rest = run_into(net, "run.nc", "B", "N");
  ASSERT_EQ(rest.status, 0) << rest.err;
  // Only the cross-correlations were computed the second time.
  EXPECT_EQ(count_of(rest.out, "# of stacking:"), 6);
  std::string why;
  const auto c = results::ContainerReader::open(net.file("run.nc").string(), why);
  ASSERT_TRUE(c) << why;
  ASSERT_EQ(c->pairs().size(), 10u);
  // Each pair once, with the SAC run's samples.
  std::vector<float> y(static_cast<std::size_t>(c->run().npts));
  std::set<std::pair<std::string, std::string>> seen;
  for (std::size_t k = 0; k < c->pairs().size(); ++k) {
    const results::ContainerPair& p = c->pairs()[k];
    EXPECT_TRUE(seen.emplace(p.first, p.second).second) << p.first << " " << p.second;
    const int i = std::stoi(p.first.substr(2)), j = std::stoi(p.second.substr(2));
    const auto& bytes = sac.at(Network::pair_name(i, j));
    ASSERT_TRUE(c->read(k, y, why)) << why;
    EXPECT_EQ(std::memcmp(bytes.data() + 632, y.data(), y.size() * sizeof(float)), 0);
  }
  // A third run finds nothing to do and leaves the file as it is.
  const std::string before = read_bytes(net.file("run.nc"));
  const RunResult again = run_into(net, "run.nc", "B", "N");
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(read_bytes(net.file("run.nc")), before);
}

TEST(Container, AKilledRunLeavesTheEarlierContainerWholeAndNoPartialFile) {
  SKIP_WITHOUT_NETCDF();
  Network net;
  dated_network(net, 12);
  ASSERT_EQ(run_into(net, "run.nc", "A", "N").status, 0);
  const std::string before = read_bytes(net.file("run.nc"));
  for (const int ms : {5, 40, 150}) {
    SCOPED_TRACE(ms);
    Started s = start_program(tool(), {"stations", "run.nc", "B", "N"}, net.dir(),
                              {"OMP_NUM_THREADS=2", "XCN_ENGINE=exact"});
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    ::kill(s.pid, SIGKILL);
    finish_program(s);
    // The earlier container as it was, or (a run that ended first) the completed one.
    const std::string now = read_bytes(net.file("run.nc"));
    if (now != before) {
      std::string why;
      const auto c = results::ContainerReader::open(net.file("run.nc").string(), why);
      ASSERT_TRUE(c) << why;
      EXPECT_EQ(c->pairs().size(), 78u);
      break;
    }
    for (const auto& e : std::filesystem::directory_iterator(net.dir())) {
      // A hidden file a killed run could not remove is never under the name.
      if (e.path().filename().string().starts_with(".run.nc.")) std::filesystem::remove(e.path());
    }
  }
  // And a run to its end completes it.
  ASSERT_EQ(run_into(net, "run.nc", "B", "N").status, 0);
  std::string why;
  const auto c = results::ContainerReader::open(net.file("run.nc").string(), why);
  ASSERT_TRUE(c) << why;
  EXPECT_EQ(c->pairs().size(), 78u);
}

TEST(Container, AFullFileSystemEndsTheRunWithItsStatusAndLeavesTheEarlierContainer) {
  SKIP_WITHOUT_NETCDF();
  Network net;
  dated_network(net, 20);
  ASSERT_EQ(run_into(net, "run.nc", "A", "N").status, 0);
  const std::string before = read_bytes(net.file("run.nc"));
  // No file may grow past 600 KiB: the new container (1.5 MB) cannot be written whole. (A
  // sanitizer's runtime maps a file of 512 KiB, which must still fit.)
  const std::string call = tool() + " stations run.nc B N";
  const RunResult r = run_program("/bin/sh", {"-c", "trap '' XFSZ; ulimit -f 1200; exec " + call},
                                  net.dir(), {"OMP_NUM_THREADS=2"});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(r.err,
            "xcorrnet_v3: container \"run.nc\" could not be written: samples: NetCDF: HDF error "
            "(File too large); the earlier one is left as it is\n"
            "xcorrnet_v3: 190 of 190 results could not be written or completed\n");
  EXPECT_EQ(read_bytes(net.file("run.nc")), before);
  for (const auto& e : std::filesystem::directory_iterator(net.dir())) {
    EXPECT_FALSE(e.path().filename().string().starts_with(".run.nc.")) << e.path();
  }
}

TEST(Container, WhatIsNoContainerOfTheRunIsLeftAsItIs) {
  SKIP_WITHOUT_NETCDF();
  Network net;
  dated_network(net, 3);
  const struct {
    const char* label;
    std::string bytes;
    const char* says;
  } cases[] = {
      {"truncated HDF5", std::string("\x89HDF\r\n\x1a\n", 8) + std::string(40, '\0'),
       "no run container"},
      {"classic NetCDF header only", std::string("CDF\x01", 4) + std::string(4, '\0'),
       "not a NetCDF-4 container"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    write_bytes(net.file("x.nc"), c.bytes);
    const RunResult r = run_into(net, "x.nc", "B", "Y");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("\"x.nc\""), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(read_bytes(net.file("x.nc")), c.bytes);
  }
#ifdef XCN_HAVE_NETCDF
  // NetCDF-4 files of another program, or of ours with dimensions that disagree.
  const struct {
    const char* label;
    bool ours;
    bool swapped;
    const char* says;
  } made[] = {
      {"another program's", false, false, "no run of xcorrnet_v3"},
      {"ccf over (lag, pair)", true, true, "not of the layout's type and dimensions"},
      {"more pairs than the file holds", true, false, "beyond what a run writes"},
  };
  for (const auto& m : made) {
    SCOPED_TRACE(m.label);
    const std::string path = net.file("y.nc").string();
    int ncid = 0, pair = 0, lag = 0, var = 0;
    ASSERT_EQ(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &ncid), NC_NOERR);
    nc_def_dim(ncid, "pair", m.swapped || !m.ours ? 3 : 100000000, &pair);
    nc_def_dim(ncid, "lag", 2000, &lag);
    const int dims[] = {m.swapped ? lag : pair, m.swapped ? pair : lag};
    nc_def_var(ncid, "ccf", NC_FLOAT, 2, dims, &var);
    if (m.ours) {
      const double one = 1;
      nc_put_att_text(ncid, NC_GLOBAL, "program", 17, "xcorrnet_v3 1.0.0");
      for (const char* a : {"interval", "window", "step"}) {
        nc_put_att_double(ncid, NC_GLOBAL, a, NC_DOUBLE, 1, &one);
      }
    }
    ASSERT_EQ(nc_close(ncid), NC_NOERR);
    const std::string bytes = read_bytes(path);
    const RunResult r = run_into(net, "y.nc", "B", "Y");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("\"y.nc\""), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(m.says), std::string::npos) << r.err;
    EXPECT_EQ(read_bytes(path), bytes);
  }
#endif
  // A container of another run (another interval) is not completed with N.
  ASSERT_EQ(run_into(net, "run.nc", "A", "N").status, 0);
  Network other;
  Noise noise(3);
  for (int k = 0; k < 2; ++k)
    other.add({"O" + std::to_string(k), "BHZ", 1, 2, 0.5f, noise.series(9000)});
  other.write_lists();
  std::filesystem::copy_file(net.file("run.nc"), other.file("run.nc"));
  const RunResult r = run_into(other, "run.nc", "B", "N");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("holds another run"), std::string::npos) << r.err;
  // A text file named .nc is a name list, as before.
  std::filesystem::copy_file(net.file("names"), net.file("names.nc"));
  const RunResult listed = run_into(net, "names.nc", "A", "Y");
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_TRUE(std::filesystem::exists(net.file(Network::pair_name(1, 1))));
}

#ifdef XCN_HAVE_NETCDF
TEST(Container, TheFirstLayoutsStringTextsAreStillRead) {
  // The first containers held their texts as strings of their own length.
  const Network dir;
  const std::string path = dir.file("old.nc").string();
  int ncid = 0, pair = 0, lag = 0, var = 0;
  ASSERT_EQ(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &ncid), NC_NOERR);
  nc_def_dim(ncid, "pair", 2, &pair);
  nc_def_dim(ncid, "lag", 4, &lag);
  const int both[] = {pair, lag};
  nc_def_var(ncid, "ccf", NC_FLOAT, 2, both, &var);
  nc_def_var(ncid, "lag", NC_DOUBLE, 1, &lag, &var);
  const char* firsts[] = {"a/ST01.sac", "ST02.sac"};
  const char* codes[] = {"XX", ""};
  for (const char* name :
       {"first", "second", "first_network", "first_station", "first_location", "first_component",
        "second_network", "second_station", "second_location", "second_component"}) {
    nc_def_var(ncid, name, NC_STRING, 1, &pair, &var);
    nc_put_var_string(ncid, var, std::strcmp(name, "first_network") == 0 ? codes : firsts);
  }
  for (const char* name :
       {"first_cmpaz", "first_cmpinc", "second_cmpaz", "second_cmpinc", "evla", "evlo", "stla",
        "stlo", "dist", "az", "baz", "depmin", "depmax", "depmen"}) {
    const float v[] = {1.5f, 2.5f};
    nc_def_var(ncid, name, NC_FLOAT, 1, &pair, &var);
    nc_put_var_float(ncid, var, v);
  }
  const int stacked[] = {7, -1};
  nc_def_var(ncid, "stacked", NC_INT, 1, &pair, &var);
  nc_put_var_int(ncid, var, stacked);
  const double times[] = {86400.0, 0.0};
  nc_def_var(ncid, "time", NC_DOUBLE, 1, &pair, &var);
  nc_put_var_double(ncid, var, times);
  const double one = 1;
  nc_put_att_text(ncid, NC_GLOBAL, "program", 17, "xcorrnet_v3 1.0.0");
  for (const char* a : {"interval", "window", "step"}) {
    nc_put_att_double(ncid, NC_GLOBAL, a, NC_DOUBLE, 1, &one);
  }
  ASSERT_EQ(nc_close(ncid), NC_NOERR);
  std::string why;
  const auto c = results::ContainerReader::open(path, why);
  ASSERT_NE(c, nullptr) << why;
  ASSERT_EQ(c->pairs().size(), 2u);
  EXPECT_EQ(c->pairs()[0].first, "a/ST01.sac");
  EXPECT_EQ(c->pairs()[1].second, "ST02.sac");
  EXPECT_EQ(c->pairs()[0].a.network, "XX");
  EXPECT_EQ(c->pairs()[1].a.network, "");
  EXPECT_EQ(c->pairs()[1].b.cmpaz, 2.5f);
  EXPECT_EQ(c->pairs()[0].stacked, 7);
  EXPECT_EQ(c->pairs()[0].time, 86400000);
}
#endif

TEST(Container, ABuildWithoutNetcdfRefusesAContainerInOneLine) {
  if (results::netcdf_built()) GTEST_SKIP() << "built with libnetcdf";
  Network net;
  dated_network(net, 2);
  const RunResult r = run_into(net, "run.nc", "B", "Y");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, std::string("xcorrnet_v3: error: \"run.nc\" names a run container, and ") +
                       results::kNoNetcdf + "\n");
  EXPECT_FALSE(std::filesystem::exists(net.file("run.nc")));
}

}  // namespace
}  // namespace xcn::test
