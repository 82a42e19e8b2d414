// Tests of the synthetic network: generator, layout, geography, wave delays, files and lists.
#include "tools/synth.hpp"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "geodesy/elpdst.hpp"
#include "sacio/ref_time.hpp"
#include "tests/tools/tools_test_util.hpp"
#include "tools/commands.hpp"
#include "xcorrnet/sacio.h"

namespace xcn::synth {
namespace {

using tools::test::Capture;
using tools::test::file_bytes;
using tools::test::ScratchDir;

double plane_distance(PlanePoint a, PlanePoint b) {
  return std::hypot(a.east_km - b.east_km, a.north_km - b.north_km);
}

TEST(SynthRandom, SameSeedSameStreamAndUniformStaysInUnitInterval) {
  Random a(42);
  Random b(42);
  Random c(43);
  int differ = 0;
  for (int k = 0; k < 1000; ++k) {
    const std::uint64_t x = a.next();
    EXPECT_EQ(x, b.next());
    differ += x != c.next();
  }
  EXPECT_GT(differ, 990);
  double sum = 0;
  double sum2 = 0;
  for (int k = 0; k < 100000; ++k) {
    const double u = a.uniform();
    ASSERT_GE(u, 0.0);
    ASSERT_LT(u, 1.0);
    const double g = b.gaussian();
    ASSERT_TRUE(std::isfinite(g));
    sum += g;
    sum2 += g * g;
  }
  EXPECT_NEAR(sum / 100000, 0.0, 0.02);
  EXPECT_NEAR(sum2 / 100000, 1.0, 0.02);
}

TEST(SynthLayout, BuiltInPairsLie20To300KmApart) {
  const auto layout = station_layout(6);
  ASSERT_EQ(layout.size(), 6u);
  for (std::size_t i = 0; i < layout.size(); ++i) {
    for (std::size_t j = i + 1; j < layout.size(); ++j) {
      const double d = plane_distance(layout[i], layout[j]);
      EXPECT_GE(d, 20.0) << i << " " << j;
      EXPECT_LE(d, 300.0) << i << " " << j;
    }
  }
}

TEST(SynthLayout, LargerNetworksKeepTheSmallerOnesAndTheirSpacing) {
  const auto small = station_layout(20);
  const auto large = station_layout(100);
  ASSERT_EQ(large.size(), 100u);
  for (std::size_t i = 0; i < small.size(); ++i) {
    EXPECT_EQ(small[i].east_km, large[i].east_km);
    EXPECT_EQ(small[i].north_km, large[i].north_km);
  }
  double closest = 1e9;
  for (std::size_t i = 0; i < large.size(); ++i) {
    for (std::size_t j = i + 1; j < large.size(); ++j) {
      closest = std::min(closest, plane_distance(large[i], large[j]));
    }
  }
  EXPECT_GE(closest, kMinSpacingKm);
  EXPECT_EQ(station_layout(kMaxStations).size(), static_cast<std::size_t>(kMaxStations));
}

// The tool measures distances on the ellipsoid; the delays come from the plane. They must agree
// far below the 1 s (3 km) the correlation peaks are allowed.
TEST(SynthGeography, EllipsoidDistancesAndAzimuthsMatchThePlane) {
  const auto layout = station_layout(20);
  for (std::size_t i = 0; i < layout.size(); ++i) {
    const GeoPoint a = to_geographic(layout[i]);
    for (std::size_t j = i + 1; j < layout.size(); ++j) {
      const GeoPoint b = to_geographic(layout[j]);
      double dist = 0;
      double az = 0;
      double baz = 0;
      elpdst(a.lat_deg, a.lon_deg, b.lat_deg, b.lon_deg, dist, az, baz);
      EXPECT_NEAR(dist, plane_distance(layout[i], layout[j]), 0.05) << i << " " << j;
    }
  }
  struct Case {
    PlanePoint p;
    double azimuth;
  };
  for (const Case c : {Case{{0, 100}, 0.0}, Case{{100, 0}, 90.0}, Case{{0, -100}, 180.0},
                       Case{{-70.7107, 70.7107}, 315.0}}) {
    const GeoPoint g = to_geographic(c.p);
    double dist = 0;
    double az = 0;
    double baz = 0;
    elpdst(kNetworkCentre.lat_deg, kNetworkCentre.lon_deg, g.lat_deg, g.lon_deg, dist, az, baz);
    EXPECT_NEAR(dist, 100.0, 1e-3);
    EXPECT_NEAR(az, c.azimuth, 1e-3);
  }
}

// Time-domain cross-correlation peak with a parabola through its top: how much later the wave
// reaches `b` than `a`, in seconds.
double measured_delay(const std::vector<float>& a, const std::vector<float>& b, double dt,
                      int max_lag) {
  const auto n = static_cast<int>(a.size());
  auto corr = [&](int lag) {
    double s = 0;
    for (int k = std::max(0, -lag); k < std::min(n, n - lag); ++k) s += a[k] * b[k + lag];
    return s;
  };
  int best = -max_lag;
  for (int lag = -max_lag; lag <= max_lag; ++lag) {
    if (corr(lag) > corr(best)) best = lag;
  }
  const double left = corr(best - 1);
  const double mid = corr(best);
  const double right = corr(best + 1);
  return (best + 0.5 * (left - right) / (left - 2 * mid + right)) * dt;
}

TEST(SynthWaves, SingleWaveCrossesTwoStationsWithThePlaneDelay) {
  NoiseModel model;
  model.local_noise_rms = 0;
  const double dt = 0.25;
  const PlanePoint a{-40.0, 10.0};
  const PlanePoint b{60.0, -35.0};
  for (const double azimuth : {0.0, 45.0, 90.0, 180.0, 250.0, 333.0}) {
    const PlaneWave wave{azimuth, 300.0, 4.0, 1.0};
    const std::vector<PlaneWave> waves{wave};
    const auto ra = station_record(waves, model, a, 2400, dt, Random(1));
    const auto rb = station_record(waves, model, b, 2400, dt, Random(2));
    const double expected = arrival_time(wave, b, 3.0) - arrival_time(wave, a, 3.0);
    EXPECT_NEAR(measured_delay(ra, rb, dt, 200), expected, 0.02) << "azimuth " << azimuth;
  }
}

// The record is summed a stretch at a time; it must hold the very bits of adding each whole
// wavelet to the whole record in turn, wavelets across stretch ends and record ends included.
TEST(SynthWaves, RecordHoldsTheBitsOfAddingWholeWaveletsInTurn) {
  const NoiseModel model;
  for (const int samples : {1, 8191, 8192, 30001}) {
    for (const double dt : {0.05, 1.0}) {
      Random rng(77);
      const double duration = samples * dt;
      const auto waves = draw_waves(rng, model, duration, 150.0);
      const PlanePoint where{-60.0, 40.0};
      std::vector<double> trace(static_cast<std::size_t>(samples), 0.0);
      for (const auto& w : waves) {
        add_wavelet(trace, dt, arrival_time(w, where, model.speed_km_s), w.period_s, w.amplitude);
      }
      Random noise(5);
      std::vector<float> plain(trace.size());
      for (std::size_t k = 0; k < trace.size(); ++k) {
        plain[k] = static_cast<float>(trace[k] + model.local_noise_rms * noise.gaussian());
      }
      const auto record = station_record(waves, model, where, samples, dt, Random(5));
      ASSERT_EQ(record.size(), plain.size());
      EXPECT_EQ(std::memcmp(record.data(), plain.data(), plain.size() * sizeof(float)), 0)
          << samples << " samples at " << dt << " s";
    }
  }
}

TEST(SynthWaves, ArrivalTimeFollowsDirectionOfTravel) {
  const PlaneWave northward{0.0, 100.0, 5.0, 1.0};
  const PlaneWave eastward{90.0, 100.0, 5.0, 1.0};
  EXPECT_DOUBLE_EQ(arrival_time(northward, {0.0, 30.0}, 3.0), 110.0);
  EXPECT_DOUBLE_EQ(arrival_time(northward, {0.0, -30.0}, 3.0), 90.0);
  EXPECT_NEAR(arrival_time(eastward, {30.0, 0.0}, 3.0), 110.0, 1e-12);
  EXPECT_NEAR(arrival_time(eastward, {0.0, 30.0}, 3.0), 100.0, 1e-12);
}

TEST(SynthWaves, DrawnWavesCoverAllDirectionsPeriodsAndTheWholeRecord) {
  Random rng(5);
  const NoiseModel model;
  const double duration = 20000;
  const auto waves = draw_waves(rng, model, duration, 150.0);
  const double margin = 150.0 / 3.0 + 1.5 * model.max_period_s;
  std::vector<int> sectors(8, 0);
  int early = 0;
  for (const auto& w : waves) {
    ASSERT_GE(w.azimuth_deg, 0.0);
    ASSERT_LT(w.azimuth_deg, 360.0);
    ASSERT_GE(w.period_s, model.min_period_s);
    ASSERT_LE(w.period_s, model.max_period_s);
    ASSERT_GE(w.centre_time_s, -margin);
    ASSERT_LE(w.centre_time_s, duration + margin);
    ++sectors[static_cast<std::size_t>(w.azimuth_deg / 45.0)];
    early += w.centre_time_s < duration / 2;
  }
  const double per_sector = static_cast<double>(waves.size()) / 8;
  for (const int count : sectors) EXPECT_NEAR(count, per_sector, 0.15 * per_sector);
  EXPECT_NEAR(early, waves.size() / 2.0, 0.05 * waves.size());
}

// xcorrnet_v3 drops windows noisier than 1.1 times the record; the noise must stay steady
// enough that nearly every window of a day is stacked.
TEST(SynthWaves, RecordIsSteadyEnoughForTheWindowRejection) {
  Random rng(20240611);
  const NoiseModel model;
  const auto waves = draw_waves(rng, model, 86400, 150.0);
  const auto record = station_record(waves, model, {10, 10}, 86400, 1.0, Random(9));
  auto std_of = [&](std::size_t first, std::size_t count) {
    double s = 0;
    double s2 = 0;
    for (std::size_t k = first; k < first + count; ++k) {
      s += record[k];
      s2 += static_cast<double>(record[k]) * record[k];
    }
    const double mean = s / count;
    return std::sqrt((s2 - mean * mean * count) / (count - 1));
  };
  const double whole = std_of(0, record.size());
  int windows = 0;
  int accepted = 0;
  for (std::size_t start = 0; start + 2000 <= record.size(); start += 200) {
    ++windows;
    accepted += std_of(start, 2000) < 1.1 * whole;
  }
  EXPECT_EQ(windows, 423);
  EXPECT_GE(accepted, 400);
}

std::vector<std::string> synth_args(const std::filesystem::path& dir, const char* seed) {
  return {"--stations", "3", "--samples", "3000", "--seed", seed, "--out", dir.string()};
}

int run(const std::vector<std::string>& args) {
  Capture out;
  Capture err;
  const int status = tools::run_synth(args, out.stream(), err.stream());
  EXPECT_EQ(err.text(), "");
  return status;
}

TEST(SynthCommand, SameSeedWritesTheSameBytesAndAnotherSeedOtherSamples) {
  ScratchDir first;
  ScratchDir second;
  ScratchDir third;
  ASSERT_EQ(run(synth_args(first.path(), "7")), 0);
  ASSERT_EQ(run(synth_args(second.path(), "7")), 0);
  ASSERT_EQ(run(synth_args(third.path(), "8")), 0);
  for (const char* file :
       {"ST01.BHZ.sac", "ST02.BHZ.sac", "ST03.BHZ.sac", "stations.txt", "names.txt"}) {
    const std::string bytes = file_bytes(first / file);
    EXPECT_GT(bytes.size(), 0u) << file;
    EXPECT_EQ(bytes, file_bytes(second / file)) << file;
  }
  EXPECT_NE(file_bytes(first / "ST02.BHZ.sac"), file_bytes(third / "ST02.BHZ.sac"));
}

TEST(SynthCommand, WritesListsInPairOrderAndRecordsWithTheirHeaders) {
  ScratchDir dir;
  ASSERT_EQ(run(synth_args(dir.path(), "7")), 0);
  EXPECT_EQ(file_bytes(dir / "stations.txt"), "ST01.BHZ.sac\nST02.BHZ.sac\nST03.BHZ.sac\n");
  EXPECT_EQ(file_bytes(dir / "names.txt"),
            "ST01.BHZ_ST01.BHZ.sac\nST01.BHZ_ST02.BHZ.sac\nST01.BHZ_ST03.BHZ.sac\n"
            "ST02.BHZ_ST02.BHZ.sac\nST02.BHZ_ST03.BHZ.sac\nST03.BHZ_ST03.BHZ.sac\n");

  const std::string path = (dir / "ST02.BHZ.sac").string();
  std::vector<float> y(4000);
  int nlen = 0;
  float beg = -1;
  float delta = 0;
  const int max = 4000;
  int nerr = -1;
  rsac1(path.c_str(), y.data(), &nlen, &beg, &delta, &max, &nerr, -1);
  ASSERT_EQ(nerr, 0);
  EXPECT_EQ(nlen, 3000);
  EXPECT_EQ(beg, 0.0f);
  EXPECT_EQ(delta, 1.0f);
  char text[9] = {};
  getkhv("KSTNM", text, &nerr, -1, 8);
  EXPECT_STREQ(text, "ST02    ");
  getkhv("KCMPNM", text, &nerr, -1, 8);
  EXPECT_STREQ(text, "BHZ     ");
  const GeoPoint where = to_geographic(station_layout(2)[1]);
  float value = 0;
  getfhv("STLA", &value, &nerr, -1);
  EXPECT_EQ(value, static_cast<float>(where.lat_deg));
  getfhv("STLO", &value, &nerr, -1);
  EXPECT_EQ(value, static_cast<float>(where.lon_deg));
  EXPECT_TRUE(std::any_of(y.begin(), y.begin() + 3000, [](float v) { return v != 0.0f; }));
}

TEST(SynthCommand, WithFoldersNamesEachResultInItsFirstRecordsFolderAndMakesThem) {
  ScratchDir flat;
  ScratchDir split;
  ASSERT_EQ(run(synth_args(flat.path(), "7")), 0);
  auto args = synth_args(split.path(), "7");
  args.insert(args.begin(), "--folders");
  ASSERT_EQ(run(args), 0);
  EXPECT_EQ(file_bytes(split / "names.txt"),
            "ST01.BHZ/ST01.BHZ_ST01.BHZ.sac\nST01.BHZ/ST01.BHZ_ST02.BHZ.sac\n"
            "ST01.BHZ/ST01.BHZ_ST03.BHZ.sac\nST02.BHZ/ST02.BHZ_ST02.BHZ.sac\n"
            "ST02.BHZ/ST02.BHZ_ST03.BHZ.sac\nST03.BHZ/ST03.BHZ_ST03.BHZ.sac\n");
  for (const char* folder : {"ST01.BHZ", "ST02.BHZ", "ST03.BHZ"}) {
    EXPECT_TRUE(std::filesystem::is_directory(split / folder)) << folder;
  }
  // The records and the station list do not change.
  for (const char* file : {"ST01.BHZ.sac", "ST02.BHZ.sac", "ST03.BHZ.sac", "stations.txt"}) {
    EXPECT_EQ(file_bytes(split / file), file_bytes(flat / file)) << file;
  }

  // A file where a folder belongs: the records are there, the name list is not.
  ScratchDir blocked;
  tools::test::write_text(blocked / "ST02.BHZ", "in the way\n");
  args = synth_args(blocked.path(), "7");
  args.push_back("--folders");
  Capture out;
  Capture err;
  EXPECT_EQ(tools::run_synth(args, out.stream(), err.stream()), 1);
  EXPECT_EQ(err.text(), "xcn_synth: cannot make the folder \"" + blocked.file("ST02.BHZ") +
                            "\": something that is not a folder has that name\n");
  EXPECT_FALSE(std::filesystem::exists(blocked / "names.txt"));
  EXPECT_FALSE(std::filesystem::exists(blocked / "ST01.BHZ"));
}

// Workers make the stations; the bytes must not depend on how many there are.
TEST(SynthCommand, RecordsDoNotDependOnTheNumberOfWorkers) {
  ScratchDir one;
  ScratchDir many;
  const int workers = omp_get_max_threads();
  omp_set_num_threads(1);
  ASSERT_EQ(
      run({"--stations", "7", "--samples", "5000", "--delta", "0.1", "--out", one.path().string()}),
      0);
  omp_set_num_threads(4);
  ASSERT_EQ(run({"--stations", "7", "--samples", "5000", "--delta", "0.1", "--out",
                 many.path().string()}),
            0);
  omp_set_num_threads(workers);
  for (const auto& file : one.entries()) {
    EXPECT_EQ(file_bytes(many / file), file_bytes(one / file)) << file;
  }
}

TEST(SynthCommand, RefusesBadOptionsInOneLineAndWritesNothing) {
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--stations", "0"}, "--stations needs a number of stations from 1 to 2000, not \"0\""},
      {{"--stations", "2001"},
       "--stations needs a number of stations from 1 to 2000, not \"2001\""},
      {{"--stations", "6x"}, "--stations needs a number of stations from 1 to 2000, not \"6x\""},
      {{"--samples", "0"}, "--samples needs a number of samples from 1 to 34560000, not \"0\""},
      {{"--samples", "34560001"},
       "--samples needs a number of samples from 1 to 34560000, not \"34560001\""},
      {{"--delta", "-1"}, "--delta needs an interval in seconds over 0, not \"-1\""},
      {{"--delta", "nan"}, "--delta needs an interval in seconds over 0, not \"nan\""},
      {{"--seed", "-3"}, "--seed needs a whole number from 0 to 2^64 - 1, not \"-3\""},
      {{"--colour", "red"}, "unknown option --colour"},
      {{"net2"}, "unexpected argument \"net2\""},
      {{"--stations"}, "--stations needs a number of stations from 1 to 2000"},
  };
  for (const auto& c : cases) {
    ScratchDir dir;
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), {"--out", (dir / "net").string()});
    Capture out;
    Capture err;
    EXPECT_EQ(tools::run_synth(args, out.stream(), err.stream()), 2) << c.says;
    EXPECT_EQ(err.text(), "xcn_synth: " + std::string(c.says) + "; see xcn_synth --help\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "net")) << c.says;
  }
  // Numbers may be written with an exponent.
  ScratchDir dir;
  Capture out;
  Capture err;
  const std::vector<std::string> args = {"--out",     dir.file("net"), "--stations", "2e0",
                                         "--samples", "1e2",           "--delta",    "5e-1"};
  ASSERT_EQ(tools::run_synth(args, out.stream(), err.stream()), 0) << err.text();
  EXPECT_EQ(out.text(), "xcn_synth: 2 stations, 100 samples at 0.5 s, seed 20240611, in " +
                            dir.file("net") + "\n");
}

// A scatterer sends each wave on from where it passes it: one wavelet more, its strength times
// as large, at the wave's arrival there plus the way on to the station at the model's speed.
TEST(SynthWaves, ScattererSendsEachWaveOnFromItsPlace) {
  NoiseModel quiet;
  quiet.local_noise_rms = 0;
  const PlaneWave wave{90.0, 200.0, 4.0, 1.0};
  const PlanePoint station{30, 0};
  const Scatterer scatterer{{0, 40}, -0.5};
  const auto plain =
      station_record(std::vector<PlaneWave>{wave}, quiet, station, 1000, 0.5, Random(1));
  const auto sent = station_record(std::vector<PlaneWave>{wave}, quiet, station, 1000, 0.5,
                                   Random(1), std::vector<Scatterer>{scatterer});
  std::vector<double> expected(1000, 0.0);
  add_wavelet(expected, 0.5, arrival_time(wave, station, 3.0), 4.0, 1.0);
  EXPECT_EQ(std::vector<float>(expected.begin(), expected.end()), plain);
  // Along the way at 3 km/s the scatterer is passed at 200 s, then 50 km on to the station.
  add_wavelet(expected, 0.5, 200.0 + 50.0 / 3.0, 4.0, -0.5);
  for (std::size_t k = 0; k < expected.size(); ++k) {
    ASSERT_NEAR(sent[k], expected[k], 1e-6) << k;
  }
}

// Dated days: a folder each with its lists, the reference time of its day, the same waves and
// noise of its own; a change makes a day's records differ, and the undated form is untouched.
TEST(SynthCommand, WritesDatedDaysWithTheirReferenceTimes) {
  ScratchDir dir;
  Capture out;
  Capture err;
  const std::vector<std::string> args = {"--stations", "2",          "--samples", "600",
                                         "--days",     "3",          "--start",   "2024-02-28",
                                         "--dvv",      "2:0,3:0.01", "--out",     dir.file("net")};
  ASSERT_EQ(tools::run_synth(args, out.stream(), err.stream()), 0) << err.text();
  const int jdays[] = {59, 60, 61};  // 2024 is a leap year
  for (int d = 0; d < 3; ++d) {
    const std::filesystem::path day = dir / "net" / ("day00" + std::to_string(d + 1));
    EXPECT_EQ(file_bytes(day / "stations.txt"), "ST01.BHZ.sac\nST02.BHZ.sac\n");
    EXPECT_EQ(file_bytes(day / "names.txt"),
              "ST01.BHZ_ST01.BHZ.sac\nST01.BHZ_ST02.BHZ.sac\nST02.BHZ_ST02.BHZ.sac\n");
    const std::string path = (day / "ST01.BHZ.sac").string();
    std::vector<float> y(600);
    int nlen = 0, nerr = 0;
    float beg = 0, delta = 0;
    const int max = 600;
    rsac1(path.c_str(), y.data(), &nlen, &beg, &delta, &max, &nerr, -1);
    ASSERT_EQ(nerr, 0) << path;
    const RefFields time = header_ref_fields();
    EXPECT_EQ(time.year, 2024);
    EXPECT_EQ(time.jday, jdays[d]);
    EXPECT_EQ(time.hour, 0);
    EXPECT_EQ(time.msec, 0);
  }
  // Days 1 and 2 have no change: the same waves under noise of their own.
  const std::string one = file_bytes(dir / "net" / "day001" / "ST02.BHZ.sac");
  EXPECT_NE(one, file_bytes(dir / "net" / "day002" / "ST02.BHZ.sac"));

  const struct {
    std::vector<std::string> args;
    const char* says;
  } bad[] = {
      {{"--dvv", "1:0.01"}, "--start and --dvv need --days"},
      {{"--days", "2", "--folders"}, "--folders and --days together"},
      {{"--days", "2", "--dvv", "2:0,1:0.01"}, "--dvv needs DAY:VALUE,..."},
      {{"--days", "2", "--dvv", "1:0.5"}, "--dvv needs DAY:VALUE,..."},
      {{"--days", "2", "--start", "2023-02-29"}, "--start needs a date such as 2024-01-05"},
      {{"--days", "0"}, "--days needs a number of days from 1 to 10000"},
  };
  for (const auto& c : bad) {
    Capture o;
    Capture e;
    std::vector<std::string> a = c.args;
    a.insert(a.end(), {"--out", dir.file("bad")});
    EXPECT_EQ(tools::run_synth(a, o.stream(), e.stream()), 2) << c.says;
    EXPECT_NE(e.text().find(c.says), std::string::npos) << e.text();
    EXPECT_FALSE(std::filesystem::exists(dir / "bad")) << c.says;
  }
}

// The usage names every option of both ways to run the generator.
TEST(SynthCommand, HelpListsEveryOption) {
  Capture out;
  Capture err;
  ASSERT_EQ(tools::run_synth(std::vector<std::string>{"--help"}, out.stream(), err.stream()), 0);
  const std::string usage = out.text();
  for (const char* option :
       {"--stations", "--samples", "--delta", "--seed", "--out", "--folders", "--sds", "--rate",
        "--day", "--three", "--orient", "--waves", "--days", "--start", "--dvv"}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
  EXPECT_EQ(err.text(), "");
}

}  // namespace
}  // namespace xcn::synth
