// Runs of the built xcn_export: a run container exported gives the very files of the same run
// into SAC files; rows never written, names taken twice, outputs in the way, and containers
// that are not the tool's.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#ifdef XCN_HAVE_NETCDF
#include <netcdf.h>
#endif

#include "results/container.hpp"
#include "tests/common/scratch_dir.hpp"
#include "tests/e2e/engine_cases.hpp"

namespace xcn::test {
namespace {

namespace fs = std::filesystem;

#define SKIP_WITHOUT_NETCDF() \
  if (!results::netcdf_built()) GTEST_SKIP() << "built without libnetcdf"

RunResult run_export(const std::vector<std::string>& args, const fs::path& dir,
                     const std::function<void()>& in_child = {}) {
  return run_program(XCN_EXPORT, args, dir, {}, in_child);
}

// Hidden files (temporaries) left in a folder.
std::vector<std::string> hidden_files(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.path().filename().string().starts_with(".")) names.push_back(e.path().string());
  }
  return names;
}

mode_t mode_of(const fs::path& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(Export, TheSyntheticNetworksContainerGivesTheFilesOfItsSacRun) {
  SKIP_WITHOUT_NETCDF();
  ScratchDir dir;
  const RunResult synth =
      run_program(XCN_SYNTH, {"--stations", "4", "--samples", "9000", "--out", "net"}, dir.path());
  ASSERT_EQ(synth.status, 0) << synth.err;
  const fs::path net = dir / "net";
  const std::vector<std::string> env = {"OMP_NUM_THREADS=2"};
  ASSERT_EQ(run_program(tool(), {"stations.txt", "names.txt", "B", "Y"}, net, env).status, 0);
  ASSERT_EQ(run_program(tool(), {"stations.txt", "run.nc", "B", "Y"}, net, env).status, 0);

  // Under a umask of 027 the files are 0640.
  const RunResult r = run_export({"net/run.nc", "out/sac"}, dir.path(), [] { ::umask(027); });
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "xcn_export: 10 results of net/run.nc written in out/sac (0 rows never written)\n");
  // The name list is the run's, in its order, and every file has the run's bytes.
  const std::string names = read_bytes(net / "names.txt");
  EXPECT_EQ(read_bytes(dir / "out/sac/names.txt"), names);
  const std::vector<std::string> lines = split_lines(names);
  ASSERT_EQ(lines.size(), 10u);
  for (const std::string& name : lines) {
    SCOPED_TRACE(name);
    EXPECT_EQ(read_bytes(dir / "out/sac" / name), read_bytes(net / name));
    EXPECT_EQ(mode_of(dir / "out/sac" / name), 0640u);
  }
  EXPECT_TRUE(hidden_files(dir / "out/sac").empty());
}

TEST(Export, DatedRecordsWithCodesAndAContainerCompletedWithNGiveTheSacRunsFiles) {
  SKIP_WITHOUT_NETCDF();
  Network net;
  dated_network(net, 3);
  ASSERT_EQ(net.run("B", "Y", 2).status, 0);
  const std::vector<std::string> env = {"OMP_NUM_THREADS=2"};
  // The auto-correlations first, the rest added to the same container by a rerun with N.
  ASSERT_EQ(run_program(tool(), {"stations", "run.nc", "A", "Y"}, net.dir(), env).status, 0);
  ASSERT_EQ(run_program(tool(), {"stations", "run.nc", "B", "N"}, net.dir(), env).status, 0);
  const RunResult r = run_export({"run.nc", "out"}, net.dir());
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> exported;
  for (int i = 1; i <= 3; ++i) {
    for (int j = i; j <= 3; ++j) {
      const std::string name = "st" + std::to_string(i) + "_st" + std::to_string(j) + ".sac";
      SCOPED_TRACE(name);
      EXPECT_EQ(read_bytes(net.file("out/" + name)),
                read_bytes(net.file(Network::pair_name(i, j))));
    }
  }
  // Rows in the container's order: the auto-correlations, then the others.
  EXPECT_EQ(read_bytes(net.file("out/names.txt")),
            "st1_st1.sac\nst2_st2.sac\nst3_st3.sac\nst1_st2.sac\nst1_st3.sac\nst2_st3.sac\n");
}

// A container of three rows written through the library: row 1 never written, rows 2 and 3
// under one file name (records of one name in two folders).
void write_small_container(const std::string& path) {
  results::ContainerRun run;
  run.interval = 0.5f;
  run.npts = 8;
  run.window = 4;
  run.step = 0.4f;
  run.engine = "plain";
  run.program = "xcorrnet_v3 1.0.0";
  std::string why;
  auto w = results::ContainerWriter::create(path, run, 3, why);
  ASSERT_TRUE(w) << why;
  std::vector<results::ContainerPair> pairs(3);
  const char* folders[] = {"x", "a", "c"};
  for (std::size_t k = 0; k < 3; ++k) {
    results::ContainerPair& p = pairs[k];
    p.first = std::string(folders[k]) + "/ST01.sac";
    p.second = "b/ST02.sac";
    p.a.station = "ST01";
    p.b.station = "ST02";
    p.a.component = p.b.component = "BHZ";
    p.evla = 10;
    p.evlo = 20;
    p.stla = 10.5f;
    p.stlo = 20.5f;
    p.dist = 70.0f;
    p.az = 40.0f;
    p.baz = 220.0f;
    if (k == 0) continue;  // never written
    p.stacked = static_cast<int>(k);
    std::vector<float> y(8);
    for (std::size_t s = 0; s < 8; ++s)
      y[s] = static_cast<float>(k) + 0.125f * static_cast<float>(s);
    p.depmin = y.front();
    p.depmax = y.back();
    p.depmen = static_cast<float>(k) + 0.4375f;
    ASSERT_TRUE(w->put(k, y, why)) << why;
  }
  ASSERT_TRUE(w->close(pairs, why)) << why;
}

TEST(Export, RowsNeverWrittenArePassedOverAndANameTakenTwiceIsWrittenOnce) {
  SKIP_WITHOUT_NETCDF();
  ScratchDir dir;
  write_small_container(dir.file("small.nc"));
  const RunResult r = run_export({"small.nc", "out"}, dir.path());
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "xcn_export: 1 results of small.nc written in out (1 rows never written)\n");
  EXPECT_EQ(r.err,
            "xcn_export: row 3 (\"c/ST01.sac\" x \"b/ST02.sac\") of \"small.nc\" has the file "
            "name \"ST01_ST02.sac\" of row 2; not written\n"
            "xcn_export: 1 of 3 files and name lists could not be written\n");
  EXPECT_EQ(read_bytes(dir / "out/names.txt"), "ST01_ST02.sac\n");
  // Row 2's samples and header, as a result of the tool holds them.
  const SacBytes f(dir.file("out/ST01_ST02.sac"));
  ASSERT_EQ(f.bytes.size(), 632u + 8 * 4);
  for (int s = 0; s < 8; ++s) {
    float v;
    std::memcpy(&v, f.bytes.data() + 632 + 4 * s, 4);
    EXPECT_EQ(v, 1.0f + 0.125f * static_cast<float>(s));
  }
  EXPECT_EQ(f.f(off::kDelta), 0.5f);
  EXPECT_EQ(f.f(off::kB), -2.0f);  // -(8/2) x 0.5
  EXPECT_EQ(f.f(off::kE), -12345.0f);
  EXPECT_EQ(f.f(off::kDepmin), 1.0f);
  EXPECT_EQ(f.f(off::kStla), 10.5f);
  EXPECT_EQ(f.k(off::kKevnm, 16), "ST01-ST02       ");
  EXPECT_EQ(f.k(off::kKcmpnm), "BHZ     ");
  EXPECT_EQ(f.k(off::kKuser2), "BHZ     ");
}

TEST(Export, OutputsInTheWayAreLeftAsTheyAreAndAnOldNameListIsReplaced) {
  SKIP_WITHOUT_NETCDF();
  ScratchDir dir;
  Network net;
  dated_network(net, 3);
  ASSERT_EQ(run_program(tool(), {"stations", "run.nc", "B", "Y"}, net.dir(), {"OMP_NUM_THREADS=2"})
                .status,
            0);
  fs::create_directories(dir / "out");
  write_bytes(dir / "out/names.txt", "old\n");
  write_bytes(dir / "elsewhere.sac", "theirs");
  fs::create_symlink(dir / "elsewhere.sac", dir / "out/st1_st2.sac");
  fs::create_directory(dir / "out/st1_st3.sac");
  write_bytes(dir / "out/st2_st3.sac", "read-only");
  fs::permissions(dir / "out/st2_st3.sac", fs::perms::owner_read);
  // The container under a result's name through a hard link is an input, never replaced.
  fs::create_hard_link(net.file("run.nc"), dir / "out/st2_st2.sac");
  const RunResult r = run_export({net.file("run.nc").string(), "out"}, dir.path());
  EXPECT_EQ(r.status, 3);
  for (const char* says : {"\"out/st1_st2.sac\" could not be written: it is a symbolic link",
                           "\"out/st1_st3.sac\" could not be written: it is a directory",
                           "\"out/st2_st3.sac\" could not be written: it is read-only",
                           "\"out/st2_st2.sac\" could not be written: it is one of the inputs",
                           "4 of 7 files and name lists could not be written"}) {
    EXPECT_NE(r.err.find(says), std::string::npos) << says << "\n" << r.err;
  }
  EXPECT_EQ(read_bytes(dir / "elsewhere.sac"), "theirs");
  EXPECT_TRUE(fs::is_symlink(dir / "out/st1_st2.sac"));
  EXPECT_TRUE(fs::is_directory(dir / "out/st1_st3.sac"));
  EXPECT_EQ(read_bytes(dir / "out/st2_st3.sac"), "read-only");
  EXPECT_EQ(read_bytes(dir / "out/names.txt"), "st1_st1.sac\nst3_st3.sac\n");
  EXPECT_TRUE(hidden_files(dir / "out").empty());
}

TEST(Export, WhatIsNoContainerOfTheToolIsRefusedAndNothingWritten) {
  SKIP_WITHOUT_NETCDF();
  Network net;
  dated_network(net, 3);
  ASSERT_EQ(run_program(tool(), {"stations", "run.nc", "B", "Y"}, net.dir(), {"OMP_NUM_THREADS=2"})
                .status,
            0);
  const std::string whole = read_bytes(net.file("run.nc"));
  struct Case {
    const char* label;
    std::string bytes;
  };
  std::vector<Case> cases = {
      {"truncated container", whole.substr(0, whole.size() / 2)},
      {"HDF5 signature only", std::string("\x89HDF\r\n\x1a\n", 8) + std::string(40, '\0')},
      {"classic NetCDF header only", std::string("CDF\x01", 4) + std::string(4, '\0')},
      {"a text file", "p1_p2.sac\n"},
      {"empty", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    write_bytes(net.file("x.nc"), c.bytes);
    const RunResult r = run_export({"x.nc", "out"}, net.dir());
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(
        r.err.starts_with("xcn_export: error: cannot read \"x.nc\": it is no run container"))
        << r.err;
    EXPECT_EQ(split_lines(r.err).size(), 1u) << r.err;
    EXPECT_FALSE(fs::exists(net.file("out")));
  }
  // A pipe or a folder is not opened.
  ASSERT_EQ(::mkfifo(net.file("fifo.nc").c_str(), 0600), 0);
  EXPECT_EQ(run_export({"fifo.nc", "out"}, net.dir()).status, 2);
  EXPECT_EQ(run_export({".", "out"}, net.dir()).status, 2);
  EXPECT_FALSE(fs::exists(net.file("out")));
#ifdef XCN_HAVE_NETCDF
  // NetCDF-4 files of another program, or of ours with dimensions that disagree.
  for (const bool ours : {false, true}) {
    SCOPED_TRACE(ours ? "ccf over (lag, pair)" : "another program's");
    const std::string path = net.file("y.nc").string();
    int ncid = 0, pair = 0, lag = 0, var = 0;
    ASSERT_EQ(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &ncid), NC_NOERR);
    nc_def_dim(ncid, "pair", 3, &pair);
    nc_def_dim(ncid, "lag", 2000, &lag);
    const int dims[] = {ours ? lag : pair, ours ? pair : lag};
    nc_def_var(ncid, "ccf", NC_FLOAT, 2, dims, &var);
    if (ours) {
      const double one = 1;
      nc_put_att_text(ncid, NC_GLOBAL, "program", 17, "xcorrnet_v3 1.0.0");
      for (const char* a : {"interval", "window", "step"}) {
        nc_put_att_double(ncid, NC_GLOBAL, a, NC_DOUBLE, 1, &one);
      }
    }
    ASSERT_EQ(nc_close(ncid), NC_NOERR);
    const RunResult r = run_export({"y.nc", "out"}, net.dir());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("\"y.nc\": it is no run container of xcorrnet_v3"), std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(net.file("out")));
  }
#endif
}

TEST(Export, TheCommandLineAndABuildWithoutNetcdf) {
  ScratchDir dir;
  const RunResult help = run_export({"--help"}, dir.path());
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.starts_with("usage: xcn_export FILE.nc DIR\n")) << help.out;
  const RunResult one = run_export({"run.nc"}, dir.path());
  EXPECT_EQ(one.status, 2);
  EXPECT_EQ(one.err, "xcn_export: expected a run container and a folder; see xcn_export --help\n");
  EXPECT_EQ(run_export({"run.nc", "out", "--force"}, dir.path()).status, 2);
  if (results::netcdf_built()) {
    const RunResult missing = run_export({"run.nc", "out"}, dir.path());
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err,
              "xcn_export: error: cannot read \"run.nc\": No such file or directory\n");
  } else {
    write_bytes(dir / "run.nc", std::string("\x89HDF\r\n\x1a\n", 8));
    const RunResult r = run_export({"run.nc", "out"}, dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, std::string("xcn_export: error: \"run.nc\" names a run container, and ") +
                         results::kNoNetcdf + "\n");
  }
  EXPECT_FALSE(fs::exists(dir / "out"));
}

}  // namespace
}  // namespace xcn::test
