// Runs of the built xcn_stack on day results written through our library: stacking, ordering by
// date, sub-stacks, what is left out and why, and the files it will not replace.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#ifdef XCN_HAVE_NETCDF
#include <netcdf.h>
#endif

#include "results/container.hpp"
#include "results/identity.hpp"
#include "sacio/header_model.hpp"
#include "sacio/read.hpp"
#include "tests/common/scratch_dir.hpp"
#include "tests/e2e/process.hpp"
#include "tests/e2e/sacfile.hpp"
#include "xcorrnet/sacio.h"

namespace xcn::test {
namespace {

RunResult run_stack(const std::vector<std::string>& args, const ScratchDir& dir,
                    const std::vector<std::string>& env = {}) {
  std::vector<std::string> e = {"OMP_NUM_THREADS=2"};
  e.insert(e.end(), env.begin(), env.end());
  return run_program(XCN_STACK, args, dir.path(), e);
}

// A day result as the tool writes it: NPTS samples at DELTA from -(NPTS/2) x DELTA.
struct DayResult {
  std::string kevnm = "ST01-ST02";
  std::string kcmpnm = "BHZ";
  float evla = 36.0f, evlo = -117.5f, stla = 36.1f, stlo = -117.4f;
  float delta = 1.0f;
  std::vector<float> samples = std::vector<float>(2000, 0.0f);
  std::optional<int> year, jday;  // reference time: that day at the given time
  int hour = 0, minute = 0, second = 0;
  // The first record's station and component (KUSER1, KUSER2); empty, as results of earlier
  // versions, undefined.
  std::string first_station = {}, first_component = {};
};

void write_day(const std::string& path, const DayResult& r) {
  int nerr = 0;
  newhdr();
  const int npts = static_cast<int>(r.samples.size());
  const float b = static_cast<float>(-(npts / 2)) * r.delta;
  setnhv("NPTS", &npts, &nerr, -1);
  setfhv("DELTA", &r.delta, &nerr, -1);
  setfhv("B", &b, &nerr, -1);
  setkhv("KEVNM", r.kevnm.c_str(), &nerr, -1, -1);
  setkhv("KCMPNM", r.kcmpnm.c_str(), &nerr, -1, -1);
  setfhv("EVLA", &r.evla, &nerr, -1);
  setfhv("EVLO", &r.evlo, &nerr, -1);
  setfhv("STLA", &r.stla, &nerr, -1);
  setfhv("STLO", &r.stlo, &nerr, -1);
  if (!r.first_station.empty()) setkhv("KUSER1", r.first_station.c_str(), &nerr, -1, -1);
  if (!r.first_component.empty()) setkhv("KUSER2", r.first_component.c_str(), &nerr, -1, -1);
  if (r.year) {
    const int zero = 0;
    setnhv("NZYEAR", &*r.year, &nerr, -1);
    setnhv("NZJDAY", &*r.jday, &nerr, -1);
    setnhv("NZHOUR", &r.hour, &nerr, -1);
    setnhv("NZMIN", &r.minute, &nerr, -1);
    setnhv("NZSEC", &r.second, &nerr, -1);
    setnhv("NZMSEC", &zero, &nerr, -1);
  }
  std::vector<float> y = r.samples;
  float x = 0;
  wsac0(path.c_str(), &x, y.data(), &nerr, -1);
  ASSERT_EQ(nerr, 0) << path;
}

void write_text(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path) << text;
}

std::string file_text(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

[[maybe_unused]] std::vector<float> constant(float v, int n = 2000) {
  return std::vector<float>(n, v);
}

// Header words by offset (host order: the tests write in the host's order).
constexpr std::size_t kNzyear = 280, kNzjday = 284, kUser0 = 160, kUser1 = 164, kKuser0 = 576;

TEST(StackRun, OneDayIsThatDayExactly) {
  ScratchDir dir;
  std::filesystem::create_directory(dir / "d1");
  DayResult r;
  for (int k = 0; k < 2000; ++k) r.samples[k] = std::sin(0.37f * k) * 0.01f + 1e-7f * k;
  write_day(dir.file("d1/a.sac"), r);
  write_text(dir / "d1/names.txt", "a.sac\n");
  const RunResult run = run_stack({"--out", "out", "d1/names.txt"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const SacBytes day(dir.file("d1/a.sac"));
  const SacBytes lin(dir.file("out/linear/a.sac"));
  EXPECT_EQ(std::memcmp(day.bytes.data() + 632, lin.bytes.data() + 632, 2000 * 4), 0);
  // The day's header, but for what tells the stack.
  for (std::size_t at = 0; at < 632; at += 4) {
    if (at == kUser0 || at == kUser1 || at == kKuser0 || at == kKuser0 + 4) continue;
    EXPECT_EQ(day.word(at), lin.word(at)) << "header byte " << at;
  }
  EXPECT_EQ(lin.f(kUser0), 1.0f);
  EXPECT_EQ(lin.k(kKuser0), "LINEAR  ");
  const SacBytes pws(dir.file("out/pws/a.sac"));
  EXPECT_EQ(pws.k(kKuser0), "PWS     ");
  EXPECT_EQ(pws.f(kUser1), 2.0f);
  EXPECT_EQ(file_text(dir / "out/linear.txt"), "linear/a.sac\n");
  EXPECT_EQ(file_text(dir / "out/pws.txt"), "pws/a.sac\n");
  // A list through a pipe names results relative to where the program runs.
  const RunResult piped = run_program(
      "/bin/bash", {"-c", std::string(XCN_STACK) + " --out piped <(echo d1/a.sac)"}, dir.path());
  ASSERT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(file_text(dir / "piped/linear/a.sac"), file_text(dir / "out/linear/a.sac"));
}

// Results longer than any record row (200000 samples, 2000 s at 100 Hz) are stacked whole.
TEST(StackRun, ResultsOfAnyLengthAreStackedWhole) {
  ScratchDir dir;
  DayResult r;
  r.delta = 0.01f;
  for (int d = 1; d <= 2; ++d) {
    std::filesystem::create_directory(dir / ("d" + std::to_string(d)));
    r.samples.assign(200000, static_cast<float>(2 * d));
    r.samples.back() = static_cast<float>(10 * d);
    write_day(dir.file("d" + std::to_string(d) + "/a.sac"), r);
    write_text(dir / ("d" + std::to_string(d) + "/names.txt"), "a.sac\n");
  }
  const RunResult run = run_stack({"--out", "out", "d1/names.txt", "d2/names.txt"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.find("left out"), std::string::npos) << run.err;
  const SacBytes lin(dir.file("out/linear/a.sac"));
  ASSERT_EQ(lin.npts(), 200000);
  const std::vector<float> y = lin.samples();
  EXPECT_EQ(y.front(), 3.0f);  // (2 + 4) / 2
  EXPECT_EQ(y[172800], 3.0f);
  EXPECT_EQ(y.back(), 15.0f);  // (10 + 20) / 2
}

// Days made by the tool itself: xcn_synth with a seed per day, xcorrnet_v3 on each. The noise
// waves cross at 3 km/s, so each day's correlations peak at +/- distance / 3 km/s and differ
// elsewhere.
class SyntheticDays : public testing::Test {
 protected:
  static constexpr int kDays = 5;
  static void SetUpTestSuite() {
    dir_ = new ScratchDir;
    for (int d = 1; d <= kDays; ++d) {
      const std::string day = "day" + std::to_string(d);
      const RunResult synth = run_program(
          XCN_SYNTH, {"--samples", "20000", "--seed", std::to_string(7000 + d), "--out", day},
          dir_->path());
      ASSERT_EQ(synth.status, 0) << synth.err;
      const RunResult run =
          run_program(tool(), {"stations.txt", "names.txt", "B", "Y"}, *dir_ / day);
      ASSERT_EQ(run.status, 0) << run.err;
      // The same day into a run container, where this build writes them.
      const RunResult nc = run_program(tool(), {"stations.txt", "run.nc", "B", "Y"}, *dir_ / day);
      containers_ = nc.status == 0;
    }
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static std::vector<std::string> day_lists() {
    std::vector<std::string> lists;
    for (int d = 1; d <= kDays; ++d) lists.push_back("day" + std::to_string(d) + "/names.txt");
    return lists;
  }
  static ScratchDir* dir_;
  static bool containers_;
};
ScratchDir* SyntheticDays::dir_ = nullptr;
bool SyntheticDays::containers_ = false;

// Lag of the largest |sample| on one side of zero.
float peak_lag(const SacBytes& s, bool positive) {
  const std::vector<float> y = s.samples();
  const float b = s.f(off::kB), dt = s.f(off::kDelta);
  float best = -1, lag = 0;
  for (std::size_t k = 0; k < y.size(); ++k) {
    const float t = b + static_cast<float>(k) * dt;
    if ((positive ? t <= 0 : t >= 0) || std::fabs(y[k]) <= best) continue;
    best = std::fabs(y[k]);
    lag = t;
  }
  return lag;
}

// Root mean square away from the arrivals (more than 15 s from +/- distance / 3 km/s), over the
// largest magnitude at them.
double noise_to_peak(const SacBytes& s) {
  const std::vector<float> y = s.samples();
  const double travel = s.f(off::kDist) / 3.0;
  double sum = 0, peak = 0;
  int count = 0;
  for (std::size_t k = 0; k < y.size(); ++k) {
    const double t = s.f(off::kB) + static_cast<double>(k) * s.f(off::kDelta);
    if (std::fabs(std::fabs(t) - travel) <= 15) {
      peak = std::max(peak, static_cast<double>(std::fabs(y[k])));
    } else {
      sum += static_cast<double>(y[k]) * y[k];
      ++count;
    }
  }
  return std::sqrt(sum / count) / peak;
}

TEST_F(SyntheticDays, StacksPeakAtTheTravelTimeAndPhaseWeightsDampTheNoise) {
  std::vector<std::string> args = {"--out", "stack"};
  for (const auto& l : day_lists()) args.push_back(l);
  const RunResult run = run_stack(args, *dir_);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(
      run.out.find("xcn_stack: 21 pairs over 5 runs (5 days): 105 results stacked, 0 without a "
                   "window, 0 days missing (0 results left out)\n"),
      std::string::npos)
      << run.out;
  std::vector<double> factors;
  std::ifstream names(*dir_ / "day1/names.txt");
  for (std::string name; std::getline(names, name);) {
    const SacBytes lin(dir_->file("stack/linear/" + name));
    const SacBytes pws(dir_->file("stack/pws/" + name));
    ASSERT_TRUE(lin.valid() && pws.valid()) << name;
    EXPECT_EQ(lin.f(kUser0), 5.0f);
    const float dist = lin.f(off::kDist);
    if (!(dist > 1)) continue;  // an auto-correlation (DIST 0 or a rounding of it)
    for (const SacBytes* s : {&lin, &pws}) {
      EXPECT_NEAR(peak_lag(*s, true), dist / 3, 2.0) << name;
      EXPECT_NEAR(peak_lag(*s, false), -dist / 3, 2.0) << name;
    }
    factors.push_back(noise_to_peak(lin) / noise_to_peak(pws));
  }
  ASSERT_EQ(factors.size(), 15u);
  std::sort(factors.begin(), factors.end());
  const double median = factors[factors.size() / 2];
  std::printf("phase-weighted noise reduction over 5 days: median %.2f, least %.2f\n", median,
              factors.front());
  // Measured: median 2.48, least 2.38.
  EXPECT_GT(factors.front(), 2.0);
  EXPECT_GT(median, 2.2);

  // The same bytes from one worker as from two.
  args[1] = "one";
  const RunResult one = run_stack(args, *dir_, {"OMP_NUM_THREADS=1"});
  ASSERT_EQ(one.status, 0) << one.err;
  std::ifstream again(*dir_ / "day1/names.txt");
  for (std::string name; std::getline(again, name);) {
    for (const char* kind : {"linear/", "pws/"}) {
      EXPECT_EQ(file_text(*dir_ / ("one/" + std::string(kind) + name)),
                file_text(*dir_ / ("stack/" + std::string(kind) + name)))
          << kind << name;
    }
  }
}

// A folder's stacks by their pair (event name and both positions): their samples' bytes.
std::map<std::string, std::string> stacks_by_pair(const std::filesystem::path& folder) {
  std::map<std::string, std::string> stacks;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    const std::string text = file_text(e.path());
    if (text.size() < 632) continue;
    stacks[text.substr(off::kKevnm, 16) + text.substr(off::kStla, 8) + text.substr(off::kEvla, 8)] =
        text.substr(632);
  }
  return stacks;
}

TEST_F(SyntheticDays, ContainersAreStackedAsTheSacResultsOfTheirDays) {
  if (!containers_) GTEST_SKIP() << "built without libnetcdf";
  std::vector<std::string> sac = {"--out", "from_sac"};
  std::vector<std::string> nc = {"--out", "from_nc"};
  for (int d = 1; d <= kDays; ++d) {
    sac.push_back("day" + std::to_string(d) + "/names.txt");
    nc.push_back("day" + std::to_string(d) + "/run.nc");
  }
  ASSERT_EQ(run_stack(sac, *dir_).status, 0);
  const RunResult run = run_stack(nc, *dir_);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("21 pairs over 5 runs (5 days): 105 results stacked"), std::string::npos)
      << run.out;
  for (const char* kind : {"linear", "pws"}) {
    const auto want = stacks_by_pair(*dir_ / "from_sac" / kind);
    ASSERT_EQ(want.size(), 21u);
    EXPECT_EQ(stacks_by_pair(*dir_ / "from_nc" / kind), want) << kind;
  }
  // A container that is not the tool's is refused with its name.
  std::ofstream(*dir_ / "bad.nc", std::ios::binary)
      << std::string("\x89HDF\r\n\x1a\n", 8) << std::string(100, '\0');
  const RunResult bad = run_stack({"--out", "bad", "day1/run.nc", "bad.nc"}, *dir_);
  EXPECT_NE(bad.status, 0);
  EXPECT_NE(bad.err.find("\"bad.nc\""), std::string::npos) << bad.err;
  EXPECT_NE(bad.err.find("no run container"), std::string::npos) << bad.err;
  // Nor is a container of the tool's cut short.
  std::ifstream in(*dir_ / "day1" / "run.nc", std::ios::binary);
  const std::string whole{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::ofstream(*dir_ / "cut.nc", std::ios::binary) << whole.substr(0, whole.size() / 2);
  const RunResult cut = run_stack({"--out", "cut", "day2/run.nc", "cut.nc"}, *dir_);
  EXPECT_NE(cut.status, 0);
  EXPECT_NE(cut.err.find("\"cut.nc\""), std::string::npos) << cut.err;
  EXPECT_FALSE(std::filesystem::exists(*dir_ / "cut" / "linear.txt"));
}

}  // namespace
}  // namespace xcn::test

namespace xcn::test {
namespace {

// One result per day folder, dated at midnight of its day of 2026 and holding the value v.
void write_dated(const ScratchDir& dir, int jday, float v) {
  const std::string folder = "j" + std::to_string(jday);
  std::filesystem::create_directory(dir / folder);
  DayResult r;
  r.samples = constant(v);
  r.year = 2026;
  r.jday = jday;
  write_day(dir.file(folder + "/a.sac"), r);
}

TEST(StackRun, DatedRunsAreOrderedByTimeAndSubStacksCountTheirDays) {
  ScratchDir dir;
  // Days 100 to 106 but 103, each holding its day number less 99; given out of order.
  const struct {
    int jday;
    float value;
  } days[] = {{105, 6}, {100, 1}, {102, 3}, {106, 7}, {101, 2}, {104, 5}};
  std::vector<std::string> args = {"--out", "out", "--substack", "3", "--step", "2"};
  for (const auto& d : days) {
    write_dated(dir, d.jday, d.value);
    args.push_back("j" + std::to_string(d.jday));
  }
  const RunResult run = run_stack(args, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("xcn_stack: 6 runs, stacked by reference time:\n"
                         "  run  day  reference time            results  input\n"
                         "    1    1  2026-04-10T00:00:00.000         1  j100\n"
                         "    2    2  2026-04-11T00:00:00.000         1  j101\n"
                         "    3    3  2026-04-12T00:00:00.000         1  j102\n"
                         "    4    5  2026-04-14T00:00:00.000         1  j104\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("xcn_stack: 1 pairs over 6 runs (7 days): 6 results stacked, 0 without "
                         "a window, 1 days missing (0 results left out)\n"),
            std::string::npos)
      << run.out;
  const struct {
    const char* file;
    int jday;
    float days, mean;
  } stacks[] = {
      {"out/linear/a.sac", 100, 6, 4},        {"out/sub001/linear/a.sac", 100, 3, 2},
      {"out/sub002/linear/a.sac", 102, 2, 4}, {"out/sub003/linear/a.sac", 104, 3, 6},
      {"out/sub003/pws/a.sac", 104, 3, 6},
  };
  for (const auto& s : stacks) {
    SCOPED_TRACE(s.file);
    const SacBytes b(dir.file(s.file));
    ASSERT_TRUE(b.valid());
    EXPECT_EQ(b.i(kNzyear), 2026);
    EXPECT_EQ(b.i(kNzjday), s.jday);
    EXPECT_EQ(b.f(kUser0), s.days);
    for (const float v : b.samples()) ASSERT_FLOAT_EQ(v, s.mean);
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "out/sub004"));

  // One run without a reference time: every run is stacked in the order given.
  std::filesystem::create_directory(dir / "undated");
  DayResult undated;
  undated.samples = constant(10);
  write_day(dir.file("undated/a.sac"), undated);
  const RunResult mixed = run_stack({"--out", "mixed", "j105", "undated", "j100"}, dir);
  ASSERT_EQ(mixed.status, 0) << mixed.err;
  EXPECT_NE(mixed.err.find("xcn_stack: warning: 1 of 3 runs carry no reference time; the runs "
                           "are stacked in the order given\n"),
            std::string::npos)
      << mixed.err;
  EXPECT_NE(mixed.out.find("    1    1  2026-04-15T00:00:00.000         1  j105\n"
                           "    2    2  (none)                          1  undated\n"),
            std::string::npos)
      << mixed.out;
  const SacBytes m(dir.file("mixed/linear/a.sac"));
  EXPECT_EQ(m.i(kNzyear), -12345);
  EXPECT_EQ(m.f(kUser0), 3.0f);

  const RunResult too_long = run_stack({"--out", "long", "--substack", "9", "j100", "j101"}, dir);
  EXPECT_EQ(too_long.status, 0);
  EXPECT_NE(too_long.err.find("xcn_stack: warning: the runs span 2 days, fewer than a sub-stack "
                              "of 9; no sub-stack is written\n"),
            std::string::npos)
      << too_long.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "long/sub001"));

  // Records of a day that begin a moment before midnight belong to the day that follows.
  std::filesystem::create_directory(dir / "early");
  DayResult early;
  early.year = 2026;
  early.jday = 100;
  early.hour = 23;
  early.minute = 59;
  early.second = 58;
  write_day(dir.file("early/a.sac"), early);
  const RunResult jitter = run_stack({"--out", "jitter", "j100", "early", "j102"}, dir);
  ASSERT_EQ(jitter.status, 0) << jitter.err;
  EXPECT_NE(jitter.out.find("    2    2  2026-04-10T23:59:58.000         1  early\n"
                            "    3    3  2026-04-12T00:00:00.000         1  j102\n"),
            std::string::npos)
      << jitter.out;
}

// What a folder holds, by name.
std::vector<std::string> entries_of(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A copy of a day's folder, or the day given twice, would weigh that day twice.
TEST(StackRun, RunsOfOneReferenceTimeAreOneDayTheFirstGivenKept) {
  ScratchDir dir;
  write_dated(dir, 100, 1);
  write_dated(dir, 101, 3);
  std::filesystem::copy(dir / "j100", dir / "copy");
  // Another network's run of the same day: its own pair stays, the one it shares goes.
  std::filesystem::create_directory(dir / "net2");
  DayResult shared, own;
  shared.year = own.year = 2026;
  shared.jday = own.jday = 100;
  shared.samples = constant(5);
  own.kevnm = "ST03-ST04";
  own.samples = constant(7);
  write_day(dir.file("net2/a.sac"), shared);
  write_day(dir.file("net2/b.sac"), own);
  const RunResult run = run_stack({"--out", "out", "j100", "copy", "j101", "net2"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* line : {
           "xcn_stack: \"copy\" is the run \"j100\" again (reference time "
           "2026-04-10T00:00:00.000); left out\n",
           "xcn_stack: \"net2\" has the reference time of \"j100\" (2026-04-10T00:00:00.000): its "
           "1 results of pairs that \"j100\" holds too are left out\n",
       }) {
    EXPECT_NE(run.err.find(line), std::string::npos) << line << run.err;
  }
  EXPECT_NE(run.out.find("xcn_stack: 2 pairs over 3 runs (2 days): 3 results stacked, 0 without "
                         "a window, 1 days missing (2 results left out)\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("copy"), std::string::npos) << run.out;
  const SacBytes a(dir.file("out/linear/a.sac"));
  EXPECT_EQ(a.f(kUser0), 2.0f);
  for (const float v : a.samples()) ASSERT_EQ(v, 2.0f);  // (1 + 3) / 2
  const SacBytes b(dir.file("out/linear/b.sac"));
  EXPECT_EQ(b.f(kUser0), 1.0f);
  for (const float v : b.samples()) ASSERT_EQ(v, 7.0f);

  // The first given is the one kept, whichever it is.
  const RunResult swapped = run_stack({"--out", "swapped", "copy", "j100"}, dir);
  ASSERT_EQ(swapped.status, 0) << swapped.err;
  EXPECT_NE(swapped.err.find("xcn_stack: \"j100\" is the run \"copy\" again (reference time "
                             "2026-04-10T00:00:00.000); left out\n"),
            std::string::npos)
      << swapped.err;
  EXPECT_EQ(SacBytes(dir.file("swapped/linear/a.sac")).f(kUser0), 1.0f);
}

// Runs 200 years apart made a folder for each of 73 048 sub-stacks, all but two empty.
TEST(StackRun, OnlySubStacksThatHoldARunAreWrittenNumberedByTheirPlace) {
  ScratchDir dir;
  write_dated(dir, 100, 1);
  std::filesystem::create_directory(dir / "far");
  DayResult far;
  far.year = 2226;
  far.jday = 100;
  far.samples = constant(9);
  write_day(dir.file("far/a.sac"), far);
  const RunResult run = run_stack({"--out", "out", "--substack", "2", "j100", "far"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string warning =
      "xcn_stack: warning: 2 runs span 73049 days; only the 2 of 73048 sub-stacks that hold a "
      "run are written\n";
  ASSERT_NE(run.err.find(warning), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find(warning), run.err.rfind(warning));
  EXPECT_EQ(entries_of(dir / "out"), (std::vector<std::string>{"linear", "linear.txt", "pws",
                                                               "pws.txt", "sub00001", "sub73048"}));
  const SacBytes last(dir.file("out/sub73048/linear/a.sac"));
  EXPECT_EQ(last.f(kUser0), 1.0f);
  EXPECT_EQ(last.i(kNzyear), 2226);
  EXPECT_EQ(last.i(kNzjday), 99);  // the position's first day, the day before the run
  EXPECT_NE(run.out.find("xcn_stack: 2 sub-stacks of 2 days, every 1 days:\n"), std::string::npos)
      << run.out;

  // Days with a gap: the folders keep the numbers of their places, and nothing is said.
  for (const int jday : {101, 102, 110, 111}) write_dated(dir, jday, static_cast<float>(jday));
  const RunResult gap =
      run_stack({"--out", "gap", "--substack", "2", "j100", "j101", "j102", "j110", "j111"}, dir);
  ASSERT_EQ(gap.status, 0) << gap.err;
  EXPECT_EQ(gap.err.find("warning"), std::string::npos) << gap.err;
  EXPECT_EQ(entries_of(dir / "gap"),
            (std::vector<std::string>{"linear", "linear.txt", "pws", "pws.txt", "sub001", "sub002",
                                      "sub003", "sub010", "sub011"}));
  EXPECT_EQ(SacBytes(dir.file("gap/sub010/linear/a.sac")).f(kUser0), 1.0f);
  EXPECT_EQ(SacBytes(dir.file("gap/sub011/linear/a.sac")).f(kUser0), 2.0f);
  EXPECT_NE(gap.out.find("  sub010         10  2026-04-19T00:00:00.000      1\n"),
            std::string::npos)
      << gap.out;
}

// The parallel runtime crashed when asked for a team of 100000.
TEST(StackRun, ManyWorkersAskedForAreFourPerProcessorWithOneWarning) {
  ScratchDir dir;
  write_dated(dir, 100, 1);
  write_dated(dir, 101, 3);
  const RunResult many =
      run_stack({"--out", "many", "j100", "j101"}, dir, {"OMP_NUM_THREADS=100000"});
  ASSERT_EQ(many.status, 0) << many.err;
  const std::string warning = "xcn_stack: warning: OMP_NUM_THREADS asks for 100000 workers; using ";
  ASSERT_TRUE(many.err.starts_with(warning)) << many.err;
  EXPECT_EQ(many.err.find(warning, 1), std::string::npos) << many.err;
  const RunResult one = run_stack({"--out", "one", "j100", "j101"}, dir, {"OMP_NUM_THREADS=1"});
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(file_text(dir / "many/pws/a.sac"), file_text(dir / "one/pws/a.sac"));
}

// Two components of one station pair share the event name, the second component and both
// positions: the first record's component tells them apart. A result of an earlier version,
// without it, joins the pair of its name; one of a third component under that name is another
// pair's.
TEST(StackRun, ResultsAreMatchedByBothRecords) {
  ScratchDir dir;
  const auto day = [&](int d, const std::string& file, const std::string& first, float value) {
    const std::string folder = "d" + std::to_string(d);
    std::filesystem::create_directories(dir / folder);
    DayResult r;
    r.kcmpnm = "BHN";
    if (!first.empty()) r.first_station = "ST01";
    r.first_component = first;
    r.samples = constant(value);
    write_day(dir.file(folder + "/" + file), r);
  };
  day(0, "zn.sac", "", 4);  // an earlier version's
  for (int d = 1; d <= 3; ++d) {
    day(d, "zn.sac", "BHZ", static_cast<float>(d));
    day(d, "en.sac", "BHE", static_cast<float>(10 * d));
  }
  day(4, "zn.sac", "BH1", 100);
  const RunResult run = run_stack({"--out", "out", "d0", "d1", "d2", "d3", "d4"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("xcn_stack: \"d4/zn.sac\" holds the pair ST01-ST02 (the first record's "
                         "component BH1), not ST01-ST02 (the first record's component BHZ) of "
                         "\"d0/zn.sac\"; left out\n"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("holds the same pair"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("xcn_stack: 2 pairs over 5 runs (5 days): 7 results stacked"),
            std::string::npos)
      << run.out;
  const SacBytes zn(dir.file("out/linear/zn.sac"));
  EXPECT_EQ(zn.f(kUser0), 4.0f);
  for (const float v : zn.samples()) ASSERT_EQ(v, 2.5f);  // (4 + 1 + 2 + 3) / 4
  const SacBytes en(dir.file("out/linear/en.sac"));
  EXPECT_EQ(en.f(kUser0), 3.0f);
  for (const float v : en.samples()) ASSERT_EQ(v, 20.0f);
  // A stack keeps both records' fields of its first day.
  EXPECT_EQ(en.k(584), "ST01    ");
  EXPECT_EQ(en.k(592), "BHE     ");
}

TEST(StackRun, MismatchedUnreadableAndEmptyResultsAreReportedAndCounted) {
  ScratchDir dir;
  for (const char* d : {"d1", "d2", "d3", "d4"}) std::filesystem::create_directory(dir / d);
  DayResult a, b, c;
  b.kevnm = "ST01-ST03";
  b.stla = 36.3f;
  c.kevnm = "ST02-ST03";
  c.evla = 36.1f;
  a.samples = constant(1);
  write_day(dir.file("d1/a.sac"), a);
  write_day(dir.file("d1/b.sac"), b);
  write_day(dir.file("d1/c.sac"), c);
  DayResult short_a = a;
  short_a.samples = constant(9, 1000);
  write_day(dir.file("d2/a.sac"), short_a);
  DayResult nan_b = b;
  nan_b.samples = constant(std::numeric_limits<float>::quiet_NaN());
  write_day(dir.file("d2/b.sac"), nan_b);
  write_day(dir.file("d2/c.sac"), c);
  a.samples = constant(3);
  write_day(dir.file("d3/a.sac"), a);
  DayResult other = b;
  other.kevnm = "ST04-ST05";
  write_day(dir.file("d3/b.sac"), other);
  a.samples = constant(5);
  write_day(dir.file("d4/a.sac"), a);
  write_day(dir.file("d4/a2.sac"), a);
  // Headers that promise more samples than their files hold (begin times to match).
  for (const auto& [file, npts] : {std::pair{"d1/huge.sac", 2000000000}, {"d1/short.sac", 4000}}) {
    write_day(dir.file(file), c);
    std::fstream f(dir / file, std::ios::in | std::ios::out | std::ios::binary);
    const std::int32_t n = npts;
    const float b = static_cast<float>(-(npts / 2));
    f.seekp(316);
    f.write(reinterpret_cast<const char*>(&n), 4);
    f.seekp(20);
    f.write(reinterpret_cast<const char*>(&b), 4);
  }
  // One too short for any header.
  write_text(dir / "d1/cut.sac", file_text(dir / "d1/a.sac").substr(0, 600));
  write_text(dir / "d1/names.txt", "a.sac\nb.sac\nc.sac\nhuge.sac\nshort.sac\ncut.sac\n");
  write_text(dir / "d2/names.txt", "a.sac\nb.sac\nc.sac\n");
  write_text(dir / "d3/names.txt", "a.sac\nb.sac\nc.sac\n");
  write_text(dir / "d4/names.txt", "a.sac\na2.sac\n\n./a.sac\n");
  const RunResult run = run_stack(
      {"--out", "out", "d1/names.txt", "d2/names.txt", "d3/names.txt", "d4/names.txt"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* line : {
           "xcn_stack: \"d3/c.sac\" of \"d3/names.txt\" cannot be used: the file does not exist; "
           "left out\n",
           "xcn_stack: \"d4/./a.sac\" is the file \"d4/a.sac\" again; left out\n",
           "xcn_stack: \"d1/huge.sac\" of \"d1/names.txt\" cannot be used: the file is shorter "
           "than its header says; left out\n",
           "xcn_stack: \"d1/short.sac\" of \"d1/names.txt\" cannot be used: the file is shorter "
           "than its header says; left out\n",
           "xcn_stack: \"d1/cut.sac\" of \"d1/names.txt\" cannot be used: it is not a SAC file "
           "(too short to hold a header); left out\n",
           "xcn_stack: \"d3/b.sac\" holds the pair ST04-ST05, not ST01-ST03 of \"d1/b.sac\"; left "
           "out\n",
           "xcn_stack: \"d4/a2.sac\" holds the same pair as \"d4/a.sac\" (ST01-ST02); left out\n",
           "xcn_stack: \"d2/a.sac\" has 1000 samples at 1 s, not the 2000 at 1 s of the other "
           "results of ST01-ST02; left out\n",
           // Standard error is no terminal here: the progress comes as plain lines.
           "xcn_stack: 30% of 3 pairs stacked\n",
           "xcn_stack: 100% of 3 pairs stacked\n",
       }) {
    EXPECT_NE(run.err.find(line), std::string::npos) << line << run.err;
  }
  EXPECT_NE(run.out.find("xcn_stack: 3 pairs over 4 runs (4 days): 6 results stacked, 1 without "
                         "a window, 5 days missing (8 results left out)\n"),
            std::string::npos)
      << run.out;
  const SacBytes lin(dir.file("out/linear/a.sac"));
  EXPECT_EQ(lin.f(kUser0), 3.0f);
  for (const float v : lin.samples()) ASSERT_EQ(v, 3.0f);  // (1 + 3 + 5) / 3
  EXPECT_EQ(file_text(dir / "out/linear.txt"), "linear/a.sac\nlinear/b.sac\nlinear/c.sac\n");
}

}  // namespace
}  // namespace xcn::test

namespace xcn::test {
namespace {

TEST(StackRun, OutputsNeverReplaceInputsOrWhatIsNotAWritableFile) {
  ScratchDir dir;
  // The day's folder is where a stack would go: out/linear holds the run's results.
  std::filesystem::create_directories(dir / "out/linear");
  std::filesystem::create_directories(dir / "out/pws/b.sac");  // a directory under a name
  DayResult a, b, c;
  b.kevnm = "ST01-ST03";
  c.kevnm = "ST02-ST03";
  write_day(dir.file("out/linear/a.sac"), a);
  write_day(dir.file("out/linear/b.sac"), b);
  write_day(dir.file("out/linear/c.sac"), c);
  write_text(dir / "out/linear/names.txt", "a.sac\nb.sac\nc.sac\n");
  const std::string before = file_text(dir / "out/linear/a.sac");
  // A read-only stack of an earlier run.
  write_text(dir / "out/pws/c.sac", "old");
  std::filesystem::permissions(dir / "out/pws/c.sac", std::filesystem::perms::owner_read);
  const RunResult run = run_program(XCN_STACK, {"--out", "out", "out/linear/names.txt"}, dir.path(),
                                    {}, [] { umask(027); });
  EXPECT_EQ(run.status, 3) << run.err;
  for (const char* line : {
           "xcn_stack: stack \"out/linear/a.sac\" could not be written: it is one of the inputs; "
           "left as it is\n",
           "xcn_stack: stack \"out/pws/b.sac\" could not be written: it is a directory; left as it "
           "is\n",
           "xcn_stack: stack \"out/pws/c.sac\" could not be written: it is read-only; left as it "
           "is\n",
           "xcn_stack: 5 of 8 stacks and name lists could not be written\n",
       }) {
    EXPECT_NE(run.err.find(line), std::string::npos) << line << run.err;
  }
  EXPECT_EQ(file_text(dir / "out/linear/a.sac"), before);
  EXPECT_EQ(file_text(dir / "out/pws/c.sac"), "old");
  // Written under the umask: no one else may read or write.
  struct stat st;
  ASSERT_EQ(stat(dir.file("out/pws/a.sac").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  ASSERT_EQ(stat(dir.file("out/pws.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(file_text(dir / "out/pws.txt"), "pws/a.sac\n");
}

// Row "a folder for the stacks that is a link of another user": in a shared output folder,
// another user's `out/linear -> victim` would put the stacks among the victim's files.
TEST(StackRun, AnotherUsersLinkForAStackFolderIsNotFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "links of another user are planted by root";
  for (const uid_t owner : {uid_t{65533}, geteuid()}) {
    SCOPED_TRACE(owner);
    ScratchDir dir;
    std::filesystem::create_directory(dir / "d1");
    std::filesystem::create_directory(dir / "victim");
    std::filesystem::create_directory(dir / "out");
    std::filesystem::permissions(dir / "out",
                                 std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
    ASSERT_EQ(symlink(dir.file("victim").c_str(), dir.file("out/linear").c_str()), 0);
    ASSERT_EQ(lchown(dir.file("out/linear").c_str(), owner, owner), 0);
    write_day(dir.file("d1/a.sac"), DayResult{});
    write_text(dir / "d1/names.txt", "a.sac\n");
    const RunResult run = run_stack({"--out", "out", "--kind", "linear", "d1/names.txt"}, dir);
    if (owner == geteuid()) {
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_TRUE(std::filesystem::exists(dir / "victim/a.sac"));
      continue;
    }
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_NE(run.err.find("xcn_stack: cannot make the folder \"out/linear\": the symbolic link "
                           "\"out/linear\" is another user's, in a folder others can write; it "
                           "is not followed; its stacks are not written\n"),
              std::string::npos)
        << run.err;
    EXPECT_TRUE(std::filesystem::is_empty(dir / "victim"));
  }
}

TEST(StackRun, BadArgumentsEndBeforeAnythingIsWrittenWithOneLine) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"day"}, "xcn_stack: no output folder (--out DIR); see xcn_stack --help\n"},
      {{"--out", "out"},
       "xcn_stack: no input (a name list or a folder of results per run); see xcn_stack --help\n"},
      {{"--out", "out", "--kind", "mean", "day"},
       "xcn_stack: --kind needs both, linear or pws, not \"mean\"; see xcn_stack --help\n"},
      {{"--out", "out", "--nu", "-1", "day"},
       "xcn_stack: --nu needs a power of 0 or more, not \"-1\"; see xcn_stack --help\n"},
      {{"--out", "out", "--nu", "nan", "day"},
       "xcn_stack: --nu needs a power of 0 or more, not \"nan\"; see xcn_stack --help\n"},
      {{"--out", "out", "--substack", "0", "day"},
       "xcn_stack: --substack needs a whole number of days, 1 or more, not \"0\"; see xcn_stack "
       "--help\n"},
      {{"--out", "out", "--substack", "2", "--step", "1.5", "day"},
       "xcn_stack: --step needs a whole number of days, 1 or more, not \"1.5\"; see xcn_stack "
       "--help\n"},
      {{"--out", "out", "--step", "2", "day"},
       "xcn_stack: --step needs --substack; see xcn_stack --help\n"},
      {{"--out", "out", "--median", "1", "day"},
       "xcn_stack: unknown option --median; see xcn_stack --help\n"},
      {{"--out", "out", "day", "--nu"},
       "xcn_stack: --nu needs a power of 0 or more; see xcn_stack --help\n"},
      {{"--out", "out", "none"},
       "xcn_stack: error: cannot read \"none\": No such file or directory\n"},
      {{"--out", "out", "/dev/null"},
       "xcn_stack: error: cannot read \"/dev/null\": it is neither a name list nor a folder\n"},
  };
  ScratchDir dir;
  std::filesystem::create_directory(dir / "day");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const RunResult run = run_stack(c.args, dir);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, c.message);
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));
  }
  // Help wherever it is asked for: the usage on standard output, and nothing else.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"--out", "out", "day", "-h"}, {"--out", "--help"}}) {
    const RunResult help = run_stack(args, dir);
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.starts_with("usage: xcn_stack --out DIR")) << help.out;
    EXPECT_EQ(help.err, "");
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));
  }
}

}  // namespace
}  // namespace xcn::test

namespace xcn::test {
namespace {

TEST(StackRun, ABuildWithoutNetcdfRefusesAContainerBeforeAnythingIsRead) {
  if (results::netcdf_built()) GTEST_SKIP() << "this build writes containers";
  ScratchDir dir;
  const RunResult run = run_stack({"--out", "s.nc", "none"}, dir);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, std::string("xcn_stack: error: \"s.nc\" names a container, and ") +
                         results::kNoNetcdf + "\n");
  EXPECT_EQ(run.out, "");
}

}  // namespace
}  // namespace xcn::test

// Stacks written into containers (--out FILE.nc): the samples and the values of the SAC stacks
// of the same days, read back by the programs that read runs; names that cannot take one.
#ifdef XCN_HAVE_NETCDF
namespace xcn::test {
namespace {

// A container opened with the library itself, for what the tool's reader does not read.
struct NcFile {
  int id = -1;
  explicit NcFile(const std::string& path) {
    EXPECT_EQ(nc_open(path.c_str(), NC_NOWRITE, &id), NC_NOERR) << path;
  }
  ~NcFile() {
    if (id >= 0) nc_close(id);
  }
  bool has(const char* var) const {
    int v = -1;
    return nc_inq_varid(id, var, &v) == NC_NOERR;
  }
  std::vector<int> ints(const char* var, std::size_t n) const {
    std::vector<int> values(n, -99);
    int v = -1;
    EXPECT_EQ(nc_inq_varid(id, var, &v), NC_NOERR) << var;
    if (n > 0) {
      EXPECT_EQ(nc_get_var_int(id, v, values.data()), NC_NOERR);
    }
    return values;
  }
  std::vector<float> row(const char* var, std::size_t row, std::size_t npts) const {
    std::vector<float> y(npts);
    int v = -1;
    EXPECT_EQ(nc_inq_varid(id, var, &v), NC_NOERR) << var;
    const std::size_t start[] = {row, 0}, count[] = {1, npts};
    EXPECT_EQ(nc_get_vara_float(id, v, start, count, y.data()), NC_NOERR);
    return y;
  }
  std::string text(const char* att) const {
    std::size_t len = 0;
    if (nc_inq_attlen(id, NC_GLOBAL, att, &len) != NC_NOERR) return "(none)";
    std::string s(len, '\0');
    nc_get_att_text(id, NC_GLOBAL, att, s.data());
    return s;
  }
  double number(const char* att) const {
    double v = -1;
    if (nc_get_att_double(id, NC_GLOBAL, att, &v) != NC_NOERR) return -999;
    return v;
  }
};

std::string stem(const std::string& path) {
  std::string s = std::filesystem::path(path).filename().string();
  return s.ends_with(".sac") ? s.substr(0, s.size() - 4) : s;
}

bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), 4 * a.size()) == 0;
}

// Files whose names begin with a dot: hidden files a write left behind.
std::vector<std::string> hidden_files(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    if (e.path().filename().string().starts_with('.')) names.push_back(e.path().string());
  }
  return names;
}

// Every row of the container against the SAC stacks in `folder`: the samples of linear/ (and
// pws/ in the variable pws) bit for bit, and each value its header states.
void expect_container_holds(const std::filesystem::path& nc, const std::filesystem::path& folder) {
  SCOPED_TRACE(nc.string());
  std::string why;
  const auto c = results::ContainerReader::open(nc.string(), why);
  ASSERT_TRUE(c) << why;
  const std::size_t rows = c->pairs().size();
  ASSERT_EQ(rows, static_cast<std::size_t>(
                      std::distance(std::filesystem::directory_iterator(folder / "linear"), {})));
  const NcFile file(nc.string());
  const std::vector<int> days = file.ints("days", rows);
  const auto npts = static_cast<std::size_t>(c->run().npts);
  for (std::size_t k = 0; k < rows; ++k) {
    const results::ContainerPair& p = c->pairs()[k];
    // The row is named as the stack's file: a reader finds the same name.
    const std::string name = stem(p.first) + "_" + stem(p.second) + ".sac";
    SCOPED_TRACE(name);
    const SacBytes lin((folder / "linear" / name).string());
    ASSERT_TRUE(lin.valid());
    std::vector<float> y(npts);
    ASSERT_TRUE(c->read(k, y, why)) << why;
    EXPECT_TRUE(same_bits(y, lin.samples()));
    EXPECT_TRUE(
        same_bits(file.row("pws", k, npts), SacBytes((folder / "pws" / name).string()).samples()));
    const SacReader sac((folder / "linear" / name).string());
    const SacHeader& h = sac.header();
    const results::Identity id = results::read_identity(h);
    EXPECT_EQ(p.a, id.first);
    EXPECT_EQ(p.b, id.second);
    const std::pair<float, int> reals[] = {
        {p.evla, kEvla},     {p.evlo, kEvlo},    {p.stla, kStla}, {p.stlo, kStlo},
        {p.dist, kDist},     {p.az, kAz},        {p.baz, kBaz},   {p.depmin, kDepmin},
        {p.depmax, kDepmax}, {p.depmen, kDepmen}};
    for (const auto& [value, field] : reals) {
      EXPECT_EQ(std::memcmp(&value, &h.words.fhdr[field - 1], 4), 0) << "field " << field;
    }
    EXPECT_EQ(p.time, to_ms(h.reference()));
    EXPECT_EQ(static_cast<float>(days[k]), lin.f(kUser0));
    EXPECT_EQ(p.stacked, days[k]);
    EXPECT_EQ(c->run().interval, h.real(kDelta));
    EXPECT_EQ(c->run().npts, h.integer(kNpts));
  }
  EXPECT_EQ(file.text("made_by"), "xcn_stack");
  EXPECT_EQ(file.text("kind"), "linear");
  EXPECT_EQ(file.number("nu"), 2.0);
}

TEST_F(SyntheticDays, StacksInContainersAreTheSacStacksBitForBitAndReadBackAsRuns) {
  if (!containers_) GTEST_SKIP() << "built without libnetcdf";
  std::vector<std::string> sac = {"--out", "st_sac", "--substack", "3", "--step", "2"};
  std::vector<std::string> nc = {"--out", "st.nc", "--substack", "3", "--step", "2"};
  for (const std::string& list : day_lists()) {
    sac.push_back(list);
    nc.push_back(list);
  }
  ASSERT_EQ(run_stack(sac, *dir_).status, 0);
  const RunResult run = run_stack(nc, *dir_);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(
      run.out.find("xcn_stack: 126 stacks written in st.nc (linear and phase-weighted, nu 2)"),
      std::string::npos)
      << run.out;
  expect_container_holds(*dir_ / "st.nc", *dir_ / "st_sac");
  expect_container_holds(*dir_ / "st.sub001.nc", *dir_ / "st_sac/sub001");
  expect_container_holds(*dir_ / "st.sub002.nc", *dir_ / "st_sac/sub002");
  EXPECT_FALSE(std::filesystem::exists(*dir_ / "st.sub003.nc"));
  EXPECT_FALSE(std::filesystem::exists(*dir_ / "st"));
  EXPECT_EQ(hidden_files(dir_->path()), std::vector<std::string>{});
  {
    const NcFile all((*dir_ / "st.nc").string());
    EXPECT_EQ(all.number("length"), 5.0);
    const NcFile second((*dir_ / "st.sub002.nc").string());
    EXPECT_EQ(second.number("first_day"), 3.0);
    EXPECT_EQ(second.number("length"), 3.0);
  }

  // The container is a run to xcn_stack: a stack of one run is that run, under the SAC
  // stack's name.
  const RunResult again = run_stack({"--out", "again", "--kind", "linear", "st.nc"}, *dir_);
  ASSERT_EQ(again.status, 0) << again.err;
  std::size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(*dir_ / "again/linear")) {
    SCOPED_TRACE(e.path().string());
    ++files;
    const SacBytes back(e.path().string());
    const SacBytes first((*dir_ / "st_sac/linear" / e.path().filename()).string());
    ASSERT_TRUE(first.valid());
    EXPECT_TRUE(same_bits(back.samples(), first.samples()));
  }
  EXPECT_EQ(files, 21u);

  // Phase-weighted alone: ccf holds them, and the kind says so; rows of stacked containers
  // keep the records' paths of the days' rows.
  std::vector<std::string> from_runs = {"--out", "pws.nc", "--kind", "pws"};
  for (int d = 1; d <= kDays; ++d) from_runs.push_back("day" + std::to_string(d) + "/run.nc");
  const RunResult pws = run_stack(from_runs, *dir_);
  ASSERT_EQ(pws.status, 0) << pws.err;
  std::string why;
  const auto day = results::ContainerReader::open((*dir_ / "day1/run.nc").string(), why);
  const auto both = results::ContainerReader::open((*dir_ / "st.nc").string(), why);
  const auto only = results::ContainerReader::open((*dir_ / "pws.nc").string(), why);
  ASSERT_TRUE(day && both && only) << why;
  const NcFile only_file((*dir_ / "pws.nc").string());
  const NcFile both_file((*dir_ / "st.nc").string());
  EXPECT_EQ(only_file.text("kind"), "pws");
  EXPECT_FALSE(only_file.has("pws"));
  std::set<std::pair<std::string, std::string>> day_rows, stack_rows;
  for (const auto& p : day->pairs()) day_rows.insert({p.first, p.second});
  for (const auto& p : only->pairs()) stack_rows.insert({p.first, p.second});
  EXPECT_EQ(stack_rows, day_rows);
  const auto npts = static_cast<std::size_t>(only->run().npts);
  std::size_t matched = 0;
  for (std::size_t k = 0; k < only->pairs().size(); ++k) {
    for (std::size_t m = 0; m < both->pairs().size(); ++m) {
      const auto& a = only->pairs()[k];
      const auto& b = both->pairs()[m];
      if (a.a != b.a || a.b != b.b) continue;
      std::vector<float> y(npts);
      ASSERT_TRUE(only->read(k, y, why)) << why;
      EXPECT_TRUE(same_bits(y, both_file.row("pws", m, npts))) << a.first << " " << a.second;
      ++matched;
    }
  }
  EXPECT_EQ(matched, 21u);
}

// Names that cannot take a container are reported with the file and leave what stands there
// as it was, with no hidden file left beside it.
TEST(StackRun, AContainerReplacesOnlyAContainerAndARefusedNameIsReportedWithIt) {
  ScratchDir dir;
  std::filesystem::create_directory(dir / "d1");
  DayResult a, b;
  b.kevnm = "ST01-ST03";
  b.stla = 37.0f;  // a container tells pairs by their codes and positions
  for (int k = 0; k < 2000; ++k) a.samples[k] = std::sin(0.1f * k);
  write_day(dir.file("d1/a.sac"), a);
  write_day(dir.file("d1/b.sac"), b);
  write_text(dir / "d1/names.txt", "a.sac\nb.sac\n");
  // Written under the umask; an earlier container of ours is replaced.
  for (int time = 0; time < 2; ++time) {
    const RunResult run = run_program(XCN_STACK, {"--out", "s.nc", "d1/names.txt"}, dir.path(), {},
                                      [] { umask(027); });
    ASSERT_EQ(run.status, 0) << run.err;
  }
  struct stat st;
  ASSERT_EQ(stat(dir.file("s.nc").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  const std::string stacks = file_text(dir / "s.nc");

  std::filesystem::create_directory(dir / "folder.nc");
  write_text(dir / "text.nc", "not a container\n");
  const struct {
    std::vector<std::string> args;
    const char* line;
  } refused[] = {
      {{"--out", "s.nc", "s.nc"},
       "xcn_stack: container \"s.nc\" could not be written: it is one of the inputs; left as it "
       "is; its stacks are not written\n"},
      {{"--out", "folder.nc", "d1/names.txt"},
       "xcn_stack: the container \"folder.nc\" is a directory; left as it is; its stacks are not "
       "written\n"},
      {{"--out", "text.nc", "d1/names.txt"},
       "xcn_stack: container \"text.nc\" could not be written: it is no run container of "
       "xcorrnet_v3 (it is not a NetCDF-4 file); left as it is; its stacks are not written\n"},
      {{"--out", "none/x.nc", "d1/names.txt"},
       "xcn_stack: container \"none/x.nc\" could not be written: cannot begin it beside it: No "
       "such file or directory; its stacks are not written\n"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.line);
    const RunResult run = run_stack(c.args, dir);
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find(c.line), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("xcn_stack: 4 of 4 stacks and name lists could not be written\n"),
              std::string::npos)
        << run.err;
  }
  EXPECT_EQ(file_text(dir / "s.nc"), stacks);
  EXPECT_EQ(file_text(dir / "text.nc"), "not a container\n");
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.nc"));

  EXPECT_EQ(hidden_files(dir.path()), std::vector<std::string>{});
  EXPECT_EQ(hidden_files(dir / "d1"), std::vector<std::string>{});
}

}  // namespace
}  // namespace xcn::test
#endif
