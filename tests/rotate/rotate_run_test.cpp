// Runs of the built xcn_rotate on three-component networks made by xcn_synth and correlated by
// the tool: the rotation against one of our own, the sign of a Love wave, pairs without their
// nine results, rotating before or after stacking, and what it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <numbers>
#include <string>
#include <vector>

#include "results/container.hpp"
#include "tests/common/scratch_dir.hpp"
#include "tests/e2e/process.hpp"
#include "tests/e2e/sacfile.hpp"

namespace xcn::test {
namespace {

namespace fs = std::filesystem;

constexpr double kDegree = std::numbers::pi / 180.0;

RunResult run(const std::string& program, const std::vector<std::string>& args,
              const fs::path& where) {
  return run_program(program, args, where, {"OMP_NUM_THREADS=2"});
}

// A day of a three-component network in dir/sub: records by xcn_synth, results by the tool.
void make_day(const ScratchDir& dir, const std::string& sub, std::vector<std::string> synth) {
  synth.insert(synth.begin(), {"--three", "--out", sub});
  const RunResult made = run(XCN_SYNTH, synth, dir.path());
  ASSERT_EQ(made.status, 0) << made.err;
  const RunResult day = run(XCN_TOOL, {"stations.txt", "names.txt", "B", "Y"}, dir / sub);
  ASSERT_EQ(day.status, 0) << day.err;
}

std::string text_of(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_text(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1) {
    lines.push_back(text.substr(from, end - from));
  }
  return lines;
}

// Header offsets of the fields that tell a result's records.
constexpr std::size_t kCmpaz = 228, kCmpinc = 232, kUser2 = 168, kUser3 = 172, kKuser2 = 592;

std::string name_of(int i, char a, int j, char b) {
  return "ST0" + std::to_string(i) + ".BH" + a + "_ST0" + std::to_string(j) + ".BH" + b + ".sac";
}

// Our own rotation, from the records' orientations and the results' azimuths alone: with
// orthogonal horizontals, the motion along azimuth phi is the sum over horizontals of
// d_c cos(phi - CMPAZ_c), and Z is the vertical itself.
struct Station {
  std::vector<char> letters;  // horizontals, then Z
  std::map<char, double> azimuth;
};

Station station_of(const fs::path& day, int i, bool turned) {
  Station s;
  s.letters = turned ? std::vector<char>{'1', '2', 'Z'} : std::vector<char>{'E', 'N', 'Z'};
  for (const char c : s.letters) {
    const SacBytes record((day / ("ST0" + std::to_string(i) + ".BH" + c + ".sac")).string());
    s.azimuth[c] = record.f(kCmpaz);
  }
  return s;
}

// The weight of component c in direction p (R, T or Z) of a station whose radial is `radial`.
double weight(const Station& s, char p, char c, double radial) {
  if (p == 'Z') return c == 'Z' ? 1.0 : 0.0;
  if (c == 'Z') return 0.0;
  const double phi = p == 'R' ? radial : radial + 90.0;
  return std::cos((phi - s.azimuth.at(c)) * kDegree);
}

// Every station pair of the day rotated by xcn_rotate (in day/rot) against our own rotation of
// its nine results; returns how many outputs were compared.
int compare_with_our_rotation(const fs::path& day, int stations, bool turned) {
  int compared = 0;
  for (int i = 1; i <= stations; ++i) {
    for (int j = i + 1; j <= stations; ++j) {
      const Station a = station_of(day, i, turned), b = station_of(day, j, turned);
      std::map<std::pair<char, char>, std::vector<float>> c;
      double az = 0, baz = 0;
      for (const char x : a.letters) {
        for (const char y : b.letters) {
          const SacBytes r((day / name_of(i, x, j, y)).string());
          c[{x, y}] = r.samples();
          az = r.f(204);
          baz = r.f(208);
        }
      }
      for (const char p : {'R', 'T', 'Z'}) {
        for (const char q : {'R', 'T', 'Z'}) {
          SCOPED_TRACE(name_of(i, p, j, q));
          const SacBytes out((day / "rot" / name_of(i, p, j, q)).string());
          EXPECT_EQ(out.k(kKuser2), std::string("BH") + p + "     ");
          EXPECT_EQ(out.k(600), std::string("BH") + q + "     ");
          const double want_az = p == 'R' ? az : p == 'T' ? std::fmod(az + 90.0, 360.0) : 0;
          EXPECT_NEAR(out.f(kUser2), want_az, 1e-4);
          EXPECT_EQ(out.f(kUser3), p == 'Z' ? 0.0f : 90.0f);
          const double second_az = q == 'R'   ? std::fmod(baz + 180.0, 360.0)
                                   : q == 'T' ? std::fmod(baz + 270.0, 360.0)
                                              : 0;
          EXPECT_NEAR(out.f(kCmpaz), second_az, 1e-4);
          EXPECT_EQ(out.f(kCmpinc), q == 'Z' ? 0.0f : 90.0f);
          const std::vector<float> got = out.samples();
          EXPECT_EQ(got.size(), c.begin()->second.size());
          if (got.size() != c.begin()->second.size()) continue;
          double largest = 0, worst = 0;
          for (std::size_t k = 0; k < got.size(); ++k) {
            double want = 0;
            for (const char x : a.letters) {
              for (const char y : b.letters) {
                want += weight(a, p, x, az) * weight(b, q, y, baz + 180.0) * c[{x, y}][k];
              }
            }
            largest = std::max(largest, std::fabs(want));
            worst = std::max(worst, std::fabs(want - got[k]));
          }
          EXPECT_GT(largest, 0.0);
          EXPECT_LE(worst, 1e-6 * largest);
          ++compared;
        }
      }
    }
  }
  return compared;
}

TEST(RotateRun, RotatesAsOurOwnRotationOfTheNineResultsForEastNorthAndTurnedHorizontals) {
  for (const bool turned : {false, true}) {
    SCOPED_TRACE(turned ? "1 and 2" : "E and N");
    ScratchDir dir;
    make_day(dir, "day",
             {"--stations", "3", "--samples", "12000", "--orient", turned ? "12" : "en"});
    const RunResult r = run(XCN_ROTATE, {"--out", "rot", "names.txt"}, dir / "day");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "xcn_rotate: 3 of 3 station pairs rotated: 27 results written in rot, listed in "
              "rot/names.txt\n");
    EXPECT_EQ(compare_with_our_rotation(dir / "day", 3, turned), 27);
    const std::string list = text_of(dir / "day/rot/names.txt");
    EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 27);
    EXPECT_EQ(list.substr(0, 44), "ST01.BHR_ST02.BHR.sac\nST01.BHR_ST02.BHT.sac\n");
  }
}

// The largest magnitude within 2 s of a lag, with its sign.
float near_lag(const std::vector<float>& y, double lag) {
  const auto centre = static_cast<long>(std::lround(lag)) + static_cast<long>(y.size() / 2);
  float best = 0;
  for (long k = centre - 2; k <= centre + 2; ++k) {
    const float v = y[static_cast<std::size_t>(k)];
    if (std::fabs(v) > std::fabs(best)) best = v;
  }
  return best;
}

float largest(const std::vector<float>& y) {
  float m = 0;
  for (const float v : y) m = std::max(m, std::fabs(v));
  return m;
}

// Love waves move the ground across their way: both stations' T see them alike, so TT peaks,
// positive, at plus and minus the distance over their speed, where RR and ZZ hold nothing. A
// transverse turned the other way at one station would make that peak negative; R and T
// mixed up would move it to RR.
TEST(RotateRun, ALoveWavePeaksPositiveInTTAtItsArrivalWhereRRAndZZHoldNone) {
  ScratchDir dir;
  make_day(dir, "day",
           {"--stations", "3", "--samples", "40000", "--seed", "5", "--waves", "love", "--orient",
            "12"});
  const RunResult r = run(XCN_ROTATE, {"--out", "rot", "names.txt"}, dir / "day");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const auto& [i, j] : {std::pair{1, 2}, {1, 3}, {2, 3}}) {
    const SacBytes tt((dir / "day/rot" / name_of(i, 'T', j, 'T')).string());
    const double travel = tt.f(200) / 3.5;
    const std::vector<float> t = tt.samples();
    SCOPED_TRACE(name_of(i, 'T', j, 'T') + " at " + std::to_string(travel) + " s");
    for (const double lag : {-travel, travel}) {
      EXPECT_GT(near_lag(t, lag), 0.8f * largest(t)) << lag;
      for (const char c : {'R', 'Z'}) {
        const std::vector<float> y =
            SacBytes((dir / "day/rot" / name_of(i, c, j, c)).string()).samples();
        EXPECT_LT(std::fabs(near_lag(y, lag)), 0.3f * largest(t)) << c << c << " at " << lag;
      }
    }
  }
}

// One result missing costs its station pair's rotation, reported, and nothing else; a sensor
// with two components costs all its pairs, reported once.
TEST(RotateRun, APairMissingOneOfItsNineResultsIsReportedAndNotWritten) {
  ScratchDir dir;
  make_day(dir, "day", {"--stations", "3", "--samples", "6000"});
  fs::remove(dir / "day" / name_of(1, 'N', 2, 'E'));
  RunResult r = run(XCN_ROTATE, {"--out", "rot", "names.txt"}, dir / "day");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "xcn_rotate: \"ST01.BHN_ST02.BHE.sac\" of \"names.txt\" cannot be used: the file does "
            "not exist; left out\n"
            "xcn_rotate: ST01.BH? and ST02.BH?: no result of BHN x BHE (1 of the 9); not "
            "rotated\n");
  EXPECT_EQ(r.out,
            "xcn_rotate: 2 of 3 station pairs rotated: 18 results written in rot, listed in "
            "rot/names.txt\n");
  for (const auto& e : fs::directory_iterator(dir / "day/rot")) {
    EXPECT_NE(e.path().filename().string().substr(0, 14), "ST01.BHR_ST02.") << e.path();
  }
  EXPECT_TRUE(fs::exists(dir / "day/rot" / name_of(1, 'T', 3, 'Z')));

  // Without ST03's east component anywhere, ST03 has two: its pairs go, said once.
  std::string kept;
  for (const std::string& line : lines_of(text_of(dir / "day/names.txt"))) {
    if (line.find("ST03.BHE") == std::string::npos) kept += line + "\n";
  }
  write_text(dir / "day/some.txt", kept);
  r = run(XCN_ROTATE, {"--out", "rot2", "some.txt"}, dir / "day");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("xcn_rotate: ST03.BH? has 2 components (ST03.BHN, ST03.BHZ), not three; "
                       "its pairs are not rotated\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("has 2 components", r.err.find("has 2 components") + 1), std::string::npos);
  EXPECT_NE(r.err.find("xcn_rotate: no station pair holds the nine correlations of its "
                       "components; nothing written\n"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "day/rot2"));
}

// Rotation and the linear stack are both linear: rotating each day and stacking gives the
// stack's rotation, to rounding.
TEST(RotateRun, RotatingBeforeOrAfterStackingGivesTheSame) {
  ScratchDir dir;
  for (int d = 1; d <= 3; ++d) {
    make_day(dir, "d" + std::to_string(d),
             {"--stations", "3", "--samples", "8000", "--seed", std::to_string(40 + d)});
  }
  for (int d = 1; d <= 3; ++d) {
    const std::string day = "d" + std::to_string(d);
    const RunResult r = run(XCN_ROTATE, {"--out", "r" + day, day + "/names.txt"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
  }
  RunResult r =
      run(XCN_STACK,
          {"--out", "after", "--kind", "linear", "rd1/names.txt", "rd2/names.txt", "rd3/names.txt"},
          dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  // The rotated days match by both records' fields: 27 pairs of three days each.
  EXPECT_NE(r.out.find("27 pairs over 3 runs (3 days): 81 results stacked"), std::string::npos)
      << r.out;
  r = run(XCN_STACK, {"--out", "stack", "--kind", "linear", "d1", "d2", "d3"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  r = run(XCN_ROTATE, {"--out", "before", "stack/linear.txt"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const auto names = lines_of(text_of(dir / "before/names.txt"));
  ASSERT_EQ(names.size(), 27u);
  for (const std::string& name : names) {
    const SacBytes x((dir / "before" / name).string());
    const SacBytes y((dir / "after/linear" / name).string());
    EXPECT_EQ(x.f(160), 3.0f) << name;  // USER0: days stacked
    const std::vector<float> a = x.samples(), b = y.samples();
    ASSERT_EQ(a.size(), b.size()) << name;
    double worst = 0;
    for (std::size_t k = 0; k < a.size(); ++k) {
      worst = std::max(worst, std::fabs(static_cast<double>(a[k]) - b[k]));
    }
    EXPECT_LE(worst, 1e-5 * largest(a)) << name;
  }
}

// Records listed component by component make pairs whose stations come in either order: a
// result of the second station first is the pair's correlation mirrored in lag.
TEST(RotateRun, ResultsOfAPairInEitherOrderRotateAlike) {
  ScratchDir dir;
  make_day(dir, "day", {"--stations", "2", "--samples", "6000", "--orient", "12"});
  const std::vector<std::string> records = {"ST01.BH1", "ST02.BH1", "ST01.BH2",
                                            "ST02.BH2", "ST01.BHZ", "ST02.BHZ"};
  std::string stations, names;
  for (std::size_t i = 0; i < records.size(); ++i) {
    stations += records[i] + ".sac\n";
    for (std::size_t j = i; j < records.size(); ++j) {
      names += "mixed/" + records[i] + "_" + records[j] + ".sac\n";
    }
  }
  fs::create_directory(dir / "day/mixed");
  write_text(dir / "day/mixed.txt", stations);
  write_text(dir / "day/mixed_names.txt", names);
  RunResult r = run(XCN_TOOL, {"mixed.txt", "mixed_names.txt", "B", "Y"}, dir / "day");
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_TRUE(fs::exists(dir / "day/mixed/ST02.BH1_ST01.BH2.sac"));
  r = run(XCN_ROTATE, {"--out", "rot", "names.txt"}, dir / "day");
  ASSERT_EQ(r.status, 0) << r.err;
  r = run(XCN_ROTATE, {"--out", "rot_mixed", "mixed_names.txt"}, dir / "day");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(text_of(dir / "day/rot_mixed/names.txt"), text_of(dir / "day/rot/names.txt"));
  for (const std::string& name : lines_of(text_of(dir / "day/rot/names.txt"))) {
    const std::vector<float> a = SacBytes((dir / "day/rot" / name).string()).samples();
    const std::vector<float> b = SacBytes((dir / "day/rot_mixed" / name).string()).samples();
    ASSERT_EQ(a.size(), b.size());
    // The first lag of an even length has no mirror among the results' lags.
    for (std::size_t k = 1; k < a.size(); ++k) {
      ASSERT_NEAR(a[k], b[k], 1e-6 * largest(a)) << name << " sample " << k;
    }
  }
}

// Patches a header word, as another program editing a result would.
void patch(const fs::path& p, std::size_t offset, const void* value, std::size_t n = 4) {
  std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(static_cast<const char*>(value), static_cast<std::streamsize>(n));
}
void patch_float(const fs::path& p, std::size_t offset, float v) { patch(p, offset, &v); }

TEST(RotateRun, WhatCannotBeRotatedOrWrittenIsReportedAndTheRestIsWritten) {
  ScratchDir made;
  make_day(made, "day", {"--stations", "2", "--samples", "6000", "--orient", "12"});
  const struct {
    const char* what;
    std::vector<std::string> args;
    std::function<void(const fs::path&)> spoil;
    int status;
    std::string said;
  } cases[] = {
      {"no output folder",
       {"names.txt"},
       nullptr,
       2,
       "xcn_rotate: no output folder (--out DIR); see xcn_rotate --help\n"},
      {"an unknown option",
       {"--out", "rot", "--kind", "rt", "names.txt"},
       nullptr,
       2,
       "xcn_rotate: unknown option --kind; see xcn_rotate --help\n"},
      {"an input that is not there",
       {"--out", "rot", "none.txt"},
       nullptr,
       2,
       "xcn_rotate: error: cannot read \"none.txt\": No such file or directory\n"},
      {"the name list over an input",
       {"--out", ".", "names.txt"},
       nullptr,
       3,
       "xcn_rotate: name list \"./names.txt\" could not be written: it is one of the inputs; left "
       "as it is\n"},
      {"a folder under an output's name",
       {"--out", "rot", "names.txt"},
       [](const fs::path& d) { fs::create_directories(d / "rot/ST01.BHR_ST02.BHT.sac"); },
       3,
       "xcn_rotate: \"rot/ST01.BHR_ST02.BHT.sac\" could not be written: it is a directory; left "
       "as it is\n"},
      {"a result of an earlier version",
       {"--out", "rot", "names.txt"},
       [](const fs::path& d) { patch(d / name_of(1, '1', 2, '2'), kKuser2, "-12345  ", 8); },
       1,
       "xcn_rotate: \"ST01.BH1_ST02.BH2.sac\" does not tell both records' station and component "
       "(a result of an earlier version: run xcorrnet_v3 again with N to complete it); left "
       "out\n"},
      {"an orientation nobody tells",
       {"--out", "rot", "names.txt"},
       [](const fs::path& d) {
         for (const char b : {'1', '2', 'Z'})
           patch_float(d / name_of(1, '1', 2, b), kUser2, -12345);
       },
       1,
       "xcn_rotate: ST01.BH? and ST02.BH?: the orientation of ST01.BH1 is not known (CMPAZ "
       "undefined); not rotated\n"},
      {"two orientations of one component",
       {"--out", "rot", "names.txt"},
       [](const fs::path& d) { patch_float(d / name_of(1, '2', 2, 'Z'), kCmpaz, 1.5f); },
       1,
       "xcn_rotate: ST01.BH? and ST02.BH?: \"ST01.BH2_ST02.BHZ.sac\" gives ST02.BHZ another "
       "orientation (CMPAZ 1.5, CMPINC 0) than \"ST01.BH1_ST02.BHZ.sac\" (CMPAZ 0, CMPINC 0); "
       "not rotated\n"},
      {"horizontals nearly parallel",
       {"--out", "rot", "names.txt"},
       [](const fs::path& d) {
         const float first = SacBytes((d / "ST02.BH1.sac").string()).f(kCmpaz);
         for (const char a : {'1', '2', 'Z'}) {
           patch_float(d / name_of(1, a, 2, '2'), kCmpaz, first + 2);
         }
       },
       1,
       "xcn_rotate: ST01.BH? and ST02.BH?: the components of ST02.BH? lie too near one plane to "
       "tell the ground's motion (two of them nearly parallel); not rotated\n"},
      {"samples that are not finite",
       {"--out", "rot", "names.txt"},
       [](const fs::path& d) { patch_float(d / name_of(1, 'Z', 2, 'Z'), 632 + 400, INFINITY); },
       1,
       "xcn_rotate: ST01.BH? and ST02.BH?: \"ST01.BHZ_ST02.BHZ.sac\" holds samples that are not "
       "finite; not rotated\n"},
      {"a second result of one pair of components",
       {"--out", "rot", "names.txt", "extra.txt"},
       [](const fs::path& d) {
         fs::copy_file(d / name_of(1, 'Z', 2, 'Z'), d / "copy.sac");
         write_text(d / "extra.txt", "copy.sac\n");
       },
       0,
       "xcn_rotate: \"copy.sac\" holds the same components as \"ST01.BHZ_ST02.BHZ.sac\" "
       "(ST01.BHZ x ST02.BHZ); left out\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    fs::copy(made / "day", dir.path(), fs::copy_options::recursive);
    if (c.spoil) c.spoil(dir.path());
    const RunResult r = run(XCN_ROTATE, c.args, dir.path());
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    if (c.status == 2 || c.status == 1) {
      EXPECT_FALSE(fs::exists(dir / "rot/names.txt"));
    }
  }
}

// The results' headers are read by a team of workers: a team of 100000 crashed the runtime.
TEST(RotateRun, ManyWorkersAskedForAreFourPerProcessorWithOneWarning) {
  ScratchDir dir;
  fs::create_directories(dir / "empty");
  const RunResult r =
      run_program(XCN_ROTATE, {"--out", "rot", "empty"}, dir.path(), {"OMP_NUM_THREADS=100000"});
  EXPECT_EQ(r.status, 1) << r.err;
  const std::string warning =
      "xcn_rotate: warning: OMP_NUM_THREADS asks for 100000 workers; using ";
  EXPECT_TRUE(r.err.starts_with(warning)) << r.err;
  EXPECT_EQ(r.err.find(warning, 1), std::string::npos) << r.err;
}

// A day's run container rotates into the same files as the day's SAC results.
TEST(RotateRun, ARunContainerRotatesAsItsSacResults) {
  if (!results::netcdf_built()) GTEST_SKIP() << "built without libnetcdf";
  ScratchDir dir;
  make_day(dir, "d", {"--stations", "3", "--samples", "8000", "--orient", "12"});
  RunResult r = run(XCN_TOOL, {"stations.txt", "run.nc", "B", "Y"}, dir / "d");
  ASSERT_EQ(r.status, 0) << r.err;
  r = run(XCN_ROTATE, {"--out", "sac", "d/names.txt"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  r = run(XCN_ROTATE, {"--out", "nc", "d/run.nc"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const auto names = lines_of(text_of(dir / "sac/names.txt"));
  ASSERT_EQ(names.size(), 27u);
  EXPECT_EQ(lines_of(text_of(dir / "nc/names.txt")), names);
  for (const std::string& name : names) {
    EXPECT_EQ(text_of(dir / "nc" / name), text_of(dir / "sac" / name)) << name;
  }
}

}  // namespace
}  // namespace xcn::test
