// Tests of the synthetic three-component stations: how each kind of wave moves each component,
// the stations' own turned horizontals, and the records and lists xcn_synth --three writes.
#include "tools/synth_three.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "tests/tools/tools_test_util.hpp"
#include "tools/commands.hpp"
#include "xcorrnet/sacio.h"

namespace xcn::synth {
namespace {

using tools::test::Capture;
using tools::test::file_bytes;
using tools::test::ScratchDir;

// One wave of amplitude 1 and period 6 s whose peak crosses the centre at 100 s, recorded at the
// centre without noise: a Love wave moves the ground to the right of its way, a Rayleigh wave
// up with the wavelet and along its way with the quarter-period wavelet, 0.8 times as large.
TEST(SynthThree, OneWaveMovesEachComponentAsItsKindMovesTheGround) {
  const double s30 = 0.5, c30 = std::sqrt(3.0) / 2;
  const std::array<Component, 3> en = {Component{'E', 90, 90}, Component{'N', 0, 90},
                                       Component{'Z', 0, 0}};
  const std::array<Component, 3> turned = {Component{'1', 30, 90}, Component{'2', 120, 90},
                                           Component{'Z', 0, 0}};
  const struct {
    const char* what;
    WaveKind kind;
    double azimuth;
    std::array<Component, 3> components;
    std::array<double, 3> wavelet;     // of each component: times ricker()
    std::array<double, 3> quadrature;  // times ricker_quadrature()
  } cases[] = {
      {"Love going north", WaveKind::kLove, 0, en, {1, 0, 0}, {0, 0, 0}},
      {"Love going east", WaveKind::kLove, 90, en, {0, -1, 0}, {0, 0, 0}},
      {"Love going north, turned", WaveKind::kLove, 0, turned, {s30, c30, 0}, {0, 0, 0}},
      {"Rayleigh going east", WaveKind::kRayleigh, 90, en, {0, 0, 1}, {0.8, 0, 0}},
      {"Rayleigh going south, turned",
       WaveKind::kRayleigh,
       180,
       turned,
       {0, 0, 1},
       {-0.8 * c30, 0.8 * s30, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ThreeComponentModel model;
    model.noise.local_noise_rms = 0;
    const PlaneWave wave{c.azimuth, 100, 6, 1};
    const WaveKind kind = c.kind;
    const auto records = three_component_records({&wave, 1}, {&kind, 1}, model, {0, 0},
                                                 c.components, 200, 0.5, Random(1));
    for (std::size_t k = 0; k < 3; ++k) {
      double energy = 0;
      for (std::size_t i = 0; i < 200; ++i) {
        const double t = 0.5 * static_cast<double>(i) - 100;
        const double want = c.wavelet[k] * ricker(t, 6) + c.quadrature[k] * ricker_quadrature(t, 6);
        ASSERT_NEAR(records[k][i], want, 1e-6) << "component " << k << " sample " << i;
        energy += want * want;
      }
      // The cases hold something on the components they name.
      EXPECT_EQ(energy > 0, c.wavelet[k] != 0 || c.quadrature[k] != 0) << k;
    }
  }
}

TEST(SynthThree, TheQuadratureWaveletIsAQuarterPeriodOutOfPhase) {
  // Odd, zero at the peak, and the wavelet's derivative times period / 2 pi.
  for (const double t : {0.3, 1.0, 2.5}) {
    EXPECT_DOUBLE_EQ(ricker_quadrature(-t, 6), -ricker_quadrature(t, 6));
    const double h = 1e-5;
    const double slope = (ricker(t + h, 6) - ricker(t - h, 6)) / (2 * h);
    EXPECT_NEAR(ricker_quadrature(t, 6), slope * 6 / (2 * std::numbers::pi), 1e-8) << t;
  }
  EXPECT_EQ(ricker_quadrature(0, 6), 0.0);
}

TEST(SynthThree, TurnedHorizontalsAreEachStationsOwnInEveryNetwork) {
  const auto en = station_components(4, false);
  EXPECT_EQ(en[0].letter, 'E');
  EXPECT_EQ(en[0].azimuth_deg, 90);
  EXPECT_EQ(en[1].letter, 'N');
  EXPECT_EQ(en[1].azimuth_deg, 0);
  EXPECT_EQ(en[2].letter, 'Z');
  EXPECT_EQ(en[2].incidence_deg, 0);
  std::vector<double> firsts;
  for (int station = 1; station <= 6; ++station) {
    const auto c = station_components(station, true);
    EXPECT_EQ(c[0].letter, '1');
    EXPECT_EQ(c[1].letter, '2');
    EXPECT_EQ(c[0].azimuth_deg, std::floor(c[0].azimuth_deg));  // whole degrees
    EXPECT_EQ(c[1].azimuth_deg, std::fmod(c[0].azimuth_deg + 90, 360));
    EXPECT_EQ(c[0].incidence_deg, 90);
    EXPECT_EQ(station_components(station, true)[0].azimuth_deg, c[0].azimuth_deg);
    firsts.push_back(c[0].azimuth_deg);
  }
  std::sort(firsts.begin(), firsts.end());
  EXPECT_EQ(std::unique(firsts.begin(), firsts.end()), firsts.end());
}

int run_three(std::vector<std::string> args, std::string* err_text = nullptr) {
  args.insert(args.begin(), "--three");
  Capture out;
  Capture err;
  const int status = tools::run_synth_three(args, out.stream(), err.stream());
  if (err_text != nullptr) *err_text = err.text();
  return status;
}

// A record's samples, its header left as the library's current one.
std::vector<float> read_record(const std::string& path) {
  std::vector<float> y(4000);
  int nlen = 0, nerr = 0;
  float b = 0, dt = 0;
  const int max = 4000;
  rsac1(path.c_str(), y.data(), &nlen, &b, &dt, &max, &nerr, -1);
  y.resize(static_cast<std::size_t>(nerr == 0 ? nlen : 0));
  return y;
}

float header_real(const std::string& path, const char* field) {
  read_record(path);
  int nerr = 0;
  float v = 0;
  getfhv(field, &v, &nerr, -1);
  return v;
}

double rms(const std::string& path) {
  const std::vector<float> y = read_record(path);
  double sum = 0;
  for (const float v : y) sum += static_cast<double>(v) * v;
  return std::sqrt(sum / static_cast<double>(y.size()));
}

TEST(SynthThreeCommand, WritesThreeRecordsAStationWithTheirOrientationAndTheListsOfTheirPairs) {
  ScratchDir dir, again;
  const std::vector<std::string> args = {"--stations", "2", "--samples", "3000", "--orient", "12"};
  auto in = [&](const ScratchDir& d) {
    auto a = args;
    a.insert(a.end(), {"--out", d.path().string()});
    return a;
  };
  ASSERT_EQ(run_three(in(dir)), 0);
  ASSERT_EQ(run_three(in(again)), 0);
  EXPECT_EQ(file_bytes(dir / "stations.txt"),
            "ST01.BH1.sac\nST01.BH2.sac\nST01.BHZ.sac\nST02.BH1.sac\nST02.BH2.sac\nST02.BHZ.sac\n");
  const std::string names = file_bytes(dir / "names.txt");
  EXPECT_EQ(std::count(names.begin(), names.end(), '\n'), 21);
  EXPECT_EQ(names.substr(0, 44), "ST01.BH1_ST01.BH1.sac\nST01.BH1_ST01.BH2.sac\n");
  for (int station = 1; station <= 2; ++station) {
    const auto c = station_components(station, true);
    for (std::size_t k = 0; k < 3; ++k) {
      const std::string file =
          "ST0" + std::to_string(station) + ".BH" + std::string(1, c[k].letter) + ".sac";
      SCOPED_TRACE(file);
      EXPECT_EQ(header_real(dir.file(file), "CMPAZ"), static_cast<float>(c[k].azimuth_deg));
      EXPECT_EQ(header_real(dir.file(file), "CMPINC"), static_cast<float>(c[k].incidence_deg));
      EXPECT_EQ(file_bytes(dir / file), file_bytes(again / file));
    }
  }
}

// With Love waves alone the vertical records its own noise only; the horizontals hold waves.
TEST(SynthThreeCommand, LoveWavesAloneLeaveTheVerticalToItsNoise) {
  ScratchDir dir;
  ASSERT_EQ(run_three({"--stations", "1", "--samples", "3000", "--waves", "love", "--out",
                       dir.path().string()}),
            0);
  EXPECT_NEAR(rms(dir.file("ST01.BHZ.sac")), 0.3, 0.03);
  EXPECT_GT(rms(dir.file("ST01.BHE.sac")), 0.5);
  EXPECT_GT(rms(dir.file("ST01.BHN.sac")), 0.5);
}

TEST(SynthThreeCommand, RefusesBadOptionsInOneLine) {
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--orient", "ne"}, "--orient needs en or 12, not \"ne\""},
      {{"--waves", "body"}, "--waves needs both, rayleigh or love, not \"body\""},
      {{"--folders"}, "unknown option --folders"},
  };
  for (const auto& c : cases) {
    ScratchDir dir;
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), {"--out", (dir / "net").string()});
    std::string err;
    EXPECT_EQ(run_three(args, &err), 2) << c.says;
    EXPECT_EQ(err, "xcn_synth: " + std::string(c.says) + "; see xcn_synth --help\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "net"));
  }
}

}  // namespace
}  // namespace xcn::synth
