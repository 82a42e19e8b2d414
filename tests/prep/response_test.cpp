// Instrument responses read from StationXML and evaluated: against hand computations, and
// hostile responses refused with their reason.
#include "prep/response.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <vector>

#include "prep/archive_writer.hpp"
#include "prep/metadata.hpp"
#include "tests/e2e/process.hpp"
#include "tests/e2e/sacfile.hpp"
#include "tests/prep/full_epoch.hpp"
#include "tests/prep/stderr_lines.hpp"
#include "tests/tools/tools_test_util.hpp"

namespace xcn::prep {
namespace {

using tools::test::ScratchDir;
using tools::test::write_text;

constexpr double kPi = std::numbers::pi;
const std::complex<double> kI{0, 1};
const ChannelId kId{"XC", "AAA", "00", "HHZ"};

std::string units(const char* in, const char* out) {
  return std::string("<InputUnits><Name>") + in + "</Name></InputUnits><OutputUnits><Name>" + out +
         "</Name></OutputUnits>";
}

std::string exact(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

std::string gain(double value, double f) {
  return "<StageGain><Value>" + std::to_string(value) + "</Value><Frequency>" + std::to_string(f) +
         "</Frequency></StageGain>";
}

std::string decimation(double rate, int factor, double correction) {
  return "<Decimation><InputSampleRate>" + std::to_string(rate) + "</InputSampleRate><Factor>" +
         std::to_string(factor) + "</Factor><Offset>0</Offset><Delay>" +
         std::to_string(correction) + "</Delay><Correction>" + std::to_string(correction) +
         "</Correction></Decimation>";
}

std::string root(const char* element, double re, double im) {
  char text[160];
  std::snprintf(text, sizeof text, "<%s><Real>%.17g</Real><Imaginary>%.17g</Imaginary></%s>",
                element, re, im, element);
  return text;
}

std::string sensitivity(double value, double f, const char* in = "M/S") {
  return "<InstrumentSensitivity><Value>" + std::to_string(value) + "</Value><Frequency>" +
         std::to_string(f) + "</Frequency>" + units(in, "COUNTS") + "</InstrumentSensitivity>";
}

// A StationXML document with one channel holding `response` (the inside of <Response>).
std::string document(const std::string& response) {
  return "<?xml version=\"1.0\"?><FDSNStationXML><Network code=\"XC\"><Station code=\"AAA\">"
         "<Channel code=\"HHZ\" locationCode=\"00\" startDate=\"2020-01-01T00:00:00\">"
         "<Latitude>10</Latitude><Longitude>20</Longitude><Response>" +
         response + "</Response></Channel></Station></Network></FDSNStationXML>";
}

// The response as the reader takes it from a file.
Response read(const std::string& response) {
  ScratchDir dir;
  write_text(dir / "meta.xml", document(response));
  Inventory inventory;
  std::vector<std::string> problems;
  EXPECT_TRUE(inventory.load((dir / "meta.xml").string(), problems));
  const ChannelEpoch* e = inventory.find(kId, day_start(2024, 5), kDay);
  EXPECT_NE(e, nullptr);
  return e != nullptr ? e->response : Response{};
}

// A 4.5 Hz geophone, damping 0.7, 28.8 V per m/s, into a 400000 counts/V digitiser at 100 Hz.
constexpr double kW0 = 2 * kPi * 4.5;
constexpr double kH = 0.7;
std::string geophone(double a0) {
  const double im = kW0 * std::sqrt(1 - kH * kH);
  return "<Stage number=\"1\"><PolesZeros>" + units("M/S", "V") +
         "<PzTransferFunctionType>LAPLACE (RADIANS/SECOND)</PzTransferFunctionType>"
         "<NormalizationFactor>" +
         exact(a0) + "</NormalizationFactor><NormalizationFrequency>10</NormalizationFrequency>" +
         root("Zero", 0, 0) + root("Zero", 0, 0) + root("Pole", -kH * kW0, im) +
         root("Pole", -kH * kW0, -im) + "</PolesZeros>" + gain(28.8, 10) +
         "</Stage><Stage number=\"2\"><Coefficients>" + units("V", "COUNTS") +
         "<CfTransferFunctionType>DIGITAL</CfTransferFunctionType><Numerator>1</Numerator>"
         "</Coefficients>" +
         decimation(100, 1, 0) + gain(400000, 10) + "</Stage>";
}

// The textbook geophone: G s^2 / (s^2 + 2 h w0 s + w0^2), A0 making it 1 at 10 Hz.
std::complex<double> geophone_by_hand(double f, double* a0 = nullptr) {
  auto t = [](double f) {
    const std::complex<double> s = kI * (2 * kPi * f);
    return s * s / (s * s + 2 * kH * kW0 * s + kW0 * kW0);
  };
  const double norm = 1 / std::abs(t(10));
  if (a0 != nullptr) *a0 = norm;
  return 28.8 * 400000 * norm * t(f);
}

TEST(Response, GeophoneMatchesTheTextbookFormula) {
  double a0 = 0;
  geophone_by_hand(1, &a0);
  const double total = 28.8 * 400000;
  const Response r = read(sensitivity(total, 10) + geophone(a0));
  ASSERT_EQ(unusable(r, Removal::kVelocity), std::nullopt);
  ASSERT_EQ(r.stages.size(), 2u);
  for (const double f : {0.01, 0.5, 1.0, 4.5, 10.0, 30.0}) {
    const auto want = geophone_by_hand(f);
    const auto got = evaluate(r, f);
    EXPECT_NEAR(std::abs(got - want) / std::abs(want), 0, 1e-9) << f << " Hz";
  }
  // The same geophone without A0: normalised at its frequency.
  std::string no_a0 = geophone(a0);
  no_a0.replace(no_a0.find("<NormalizationFactor>"),
                no_a0.find("</NormalizationFactor>") + 22 - no_a0.find("<NormalizationFactor>"),
                "");
  const Response r2 = read(sensitivity(total, 10) + no_a0);
  ASSERT_EQ(unusable(r2, Removal::kDisplacement), std::nullopt);
  EXPECT_NEAR(std::abs(evaluate(r2, 2.0) - geophone_by_hand(2.0)), 0,
              1e-9 * std::abs(geophone_by_hand(2.0)));
}

// A 120 s broadband (poles in Hz) at 1500 V s/m, a 200 Hz digitiser, a symmetric FIR that
// decimates to 100 Hz with its delay corrected, and a short FIR of odd symmetry at 100 Hz.
TEST(Response, BroadbandWithFirStagesMatchesHandComputation) {
  const double pole = 1 / 120.0 / std::sqrt(2.0);  // Hz
  const std::string xml =
      sensitivity(1500.0 * 419430 * 1.0, 1.0) + "<Stage number=\"1\"><PolesZeros>" +
      units("M/S", "V") +
      "<PzTransferFunctionType>LAPLACE (HERTZ)</PzTransferFunctionType>"
      "<NormalizationFactor>1</NormalizationFactor>"
      "<NormalizationFrequency>1</NormalizationFrequency>" +
      root("Zero", 0, 0) + root("Zero", 0, 0) + root("Pole", -pole, pole) +
      root("Pole", -pole, -pole) + "</PolesZeros>" + gain(1500, 1) +
      "</Stage><Stage number=\"2\"><Coefficients>" + units("V", "COUNTS") +
      "<CfTransferFunctionType>DIGITAL</CfTransferFunctionType></Coefficients>" +
      decimation(200, 1, 0) + gain(419430, 0) + "</Stage><Stage number=\"3\"><FIR>" +
      units("COUNTS", "COUNTS") +
      "<Symmetry>EVEN</Symmetry><NumeratorCoefficient i=\"1\">0.1</NumeratorCoefficient>"
      "<NumeratorCoefficient i=\"2\">0.15</NumeratorCoefficient>"
      "<NumeratorCoefficient i=\"3\">0.25</NumeratorCoefficient></FIR>" +
      decimation(200, 2, 2.5 / 200) + gain(1, 0) + "</Stage><Stage number=\"4\"><FIR>" +
      units("COUNTS", "COUNTS") +
      "<Symmetry>ODD</Symmetry><NumeratorCoefficient>-0.05</NumeratorCoefficient>"
      "<NumeratorCoefficient>0.3</NumeratorCoefficient>"
      "<NumeratorCoefficient>0.5</NumeratorCoefficient></FIR>" +
      decimation(100, 1, 0) + gain(1, 0) + "</Stage>";
  const Response r = read(xml);
  ASSERT_EQ(r.unreadable, "");
  ASSERT_EQ(unusable(r, Removal::kVelocity), std::nullopt);
  auto fir = [](const std::vector<double>& taps, double rate, double f) {
    std::complex<double> sum = 0;
    for (std::size_t n = 0; n < taps.size(); ++n) {
      sum += taps[n] * std::exp(-kI * (2 * kPi * f * static_cast<double>(n) / rate));
    }
    return sum;
  };
  const std::vector<double> even = {0.1, 0.15, 0.25, 0.25, 0.15, 0.1};  // sums to 1
  const std::vector<double> odd = {-0.05, 0.3, 0.5, 0.3, -0.05};        // sums to 1
  for (const double f : {0.001, 0.01, 0.1, 1.0, 10.0, 40.0}) {
    const std::complex<double> s = kI * f;
    const std::complex<double> p1(-pole, pole);
    const std::complex<double> p2(-pole, -pole);
    const std::complex<double> sensor = 1500.0 * s * s / ((s - p1) * (s - p2));
    // The correction (2.5 samples of 200 Hz, the FIR's centre) is put back as a phase advance.
    const std::complex<double> want = sensor * 419430.0 * fir(even, 200, f) *
                                      std::exp(kI * (2 * kPi * f * 2.5 / 200)) * fir(odd, 100, f);
    const auto got = evaluate(r, f);
    EXPECT_NEAR(std::abs(got - want) / std::abs(want), 0, 1e-9) << f << " Hz";
  }
  // Removed from a 10 Hz sine at 100 Hz, where the FIR stages act: their values between the
  // tabled frequencies are good to far better than 1 %.
  const std::complex<double> h = evaluate(r, 10.0);
  std::vector<double> x(60000);
  for (std::size_t i = 0; i < x.size(); ++i) {
    x[i] =
        1e-6 * std::abs(h) * std::sin(2 * kPi * 10.0 * static_cast<double>(i) / 100 + std::arg(h));
  }
  ASSERT_EQ(remove_response(x, 100, r, Removal::kVelocity, {0.05, 0.1, 30, 40}), "");
  double worst = 0;
  for (std::size_t i = 20000; i < 40000; ++i) {
    worst = std::max(
        worst, std::fabs(x[i] - 1e-6 * std::sin(2 * kPi * 10.0 * static_cast<double>(i) / 100)));
  }
  EXPECT_LT(worst, 0.01 * 1e-6);
}

TEST(Response, ReadsGroundUnitsInTheirSpellings) {
  const struct {
    const char* text;
    Ground kind;
    double metres;
  } cases[] = {
      {"M", Ground::kDisplacement, 1},     {"m/s", Ground::kVelocity, 1},
      {"M/SEC", Ground::kVelocity, 1},     {"M/S**2", Ground::kAcceleration, 1},
      {"m/s^2", Ground::kAcceleration, 1}, {"M/S/S", Ground::kAcceleration, 1},
      {"nm/s", Ground::kVelocity, 1e-9},   {"METERS", Ground::kDisplacement, 1},
      {"COUNTS", Ground::kNone, 1},        {"PA", Ground::kNone, 1},
      {"M/S**3", Ground::kNone, 1},        {"", Ground::kNone, 1},
  };
  for (const auto& c : cases) {
    const GroundUnit u = ground_unit(c.text);
    EXPECT_EQ(u.kind, c.kind) << c.text;
    EXPECT_EQ(u.metres, c.metres) << c.text;
  }
}

TEST(Response, RefusesResponsesThatCannotBeEvaluated) {
  double a0 = 0;
  geophone_by_hand(1, &a0);
  const std::string good = geophone(a0);
  const std::string sens = sensitivity(28.8 * 400000, 10);
  auto edit = [&](std::string from, const std::string& to) {
    std::string s = good;
    const auto at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return sens + s;
  };
  std::string many_poles;
  for (int k = 0; k < 100; ++k) many_poles += root("Pole", -1 - k, 0);
  std::string huge_fir =
      "<Stage number=\"3\"><FIR>" + units("COUNTS", "COUNTS") + "<Symmetry>NONE</Symmetry>";
  for (int k = 0; k < 3000; ++k) huge_fir += "<NumeratorCoefficient>0.001</NumeratorCoefficient>";
  huge_fir += "</FIR>" + decimation(100, 1, 0) + gain(1, 0) + "</Stage>";
  const struct {
    const char* what;
    std::string xml;
    Removal removal;
    const char* reason;
  } cases[] = {
      {"an empty response", "", Removal::kVelocity, "gives no overall sensitivity"},
      {"no stages", sens, Removal::kVelocity, "its response has no stages"},
      {"no sensitivity", good, Removal::kVelocity, "gives no overall sensitivity"},
      {"no sensitivity, sens", good, Removal::kSensitivity, "gives no overall sensitivity"},
      {"zero sensitivity", sensitivity(0, 10) + good, Removal::kSensitivity,
       "its sensitivity is zero"},
      {"unknown units", edit("<Name>M/S</Name>", "<Name>FURLONGS/FORTNIGHT</Name>"),
       Removal::kVelocity, "its sensor's units \"FURLONGS/FORTNIGHT\" are no ground motion"},
      {"units that do not chain",
       edit("<Name>V</Name></InputUnits>", "<Name>A</Name></InputUnits>"), Removal::kVelocity,
       "stage 2 takes in \"A\" but stage 1 puts out \"V\""},
      {"no counts at the end", edit("<Name>COUNTS</Name>", "<Name>V</Name>"), Removal::kVelocity,
       "its last stage puts out \"V\", not counts"},
      {"stages without units",
       sens + "<Stage number=\"1\">" + gain(28.8, 10) + "</Stage><Stage number=\"2\">" +
           gain(400000, 10) + "</Stage>",
       Removal::kVelocity, "its stages name no units"},
      {"zero gain", edit("<Value>400000", "<Value>0"), Removal::kVelocity,
       "stage 2's gain is zero"},
      {"no gain", edit(gain(28.8, 10), ""), Removal::kVelocity, "stage 1 gives no gain"},
      {"pole on the axis",
       edit(root("Pole", -kH * kW0, kW0 * std::sqrt(1 - kH * kH)), root("Pole", 0, 6.28)),
       Removal::kVelocity, "stage 1 has a pole at 0+6.28i, on the imaginary axis"},
      {"absurd number of poles", edit("</PolesZeros>", many_poles + "</PolesZeros>"),
       Removal::kVelocity, "102 poles, more than 64"},
      {"huge FIR", sens + good + huge_fir, Removal::kVelocity,
       "3000 FIR coefficients, more than 2048"},
      {"digital without rate", edit(decimation(100, 1, 0), ""), Removal::kVelocity,
       "stage 2 is digital but gives no input sample rate"},
      {"stages against the sensitivity", sensitivity(1e6, 10) + good, Removal::kVelocity,
       "they disagree by over 5 %"},
      {"a value that is no number", edit("<Value>28.8", "<Value>lots"), Removal::kVelocity,
       "its response cannot be read: stage 1's gain is not a number"},
  };
  for (const auto& c : cases) {
    const Response r = read(c.xml);
    const auto why = unusable(r, c.removal);
    ASSERT_NE(why, std::nullopt) << c.what;
    EXPECT_NE(why->find(c.reason), std::string::npos) << c.what << ": " << *why;
  }
}

TEST(Response, ElementsNotHandledAreNamed) {
  const Response r = read(sensitivity(1, 1) + "<Stage number=\"1\"><ResponseList>" +
                          units("M/S", "COUNTS") + "</ResponseList>" + gain(1, 1) + "</Stage>");
  EXPECT_EQ(unusable(r, Removal::kVelocity), "stage 1 is a ResponseList, which is not handled");
  // The sensitivity alone still serves.
  EXPECT_EQ(unusable(r, Removal::kSensitivity), std::nullopt);
}

// A sine through the response, as remove_response sees it (no file): out comes the velocity.
TEST(Response, RemovesAResponseFromASineInAmplitudeAndPhase) {
  double a0 = 0;
  geophone_by_hand(1, &a0);
  const Response r = read(sensitivity(28.8 * 400000, 10) + geophone(a0));
  const double rate = 100;
  const double f0 = 2.0;
  const std::complex<double> h = geophone_by_hand(f0);
  std::vector<double> x(60000);
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double t = static_cast<double>(i) / rate;
    x[i] = 1e-6 * std::abs(h) * std::sin(2 * kPi * f0 * t + std::arg(h));
  }
  ASSERT_EQ(remove_response(x, rate, r, Removal::kVelocity, {0.05, 0.1, 20, 30}), "");
  double worst = 0;
  for (std::size_t i = 20000; i < 40000; ++i) {
    const double t = static_cast<double>(i) / rate;
    worst = std::max(worst, std::fabs(x[i] - 1e-6 * std::sin(2 * kPi * f0 * t)));
  }
  EXPECT_LT(worst, 0.01 * 1e-6);
  // Into displacement: the integral, -cos / w.
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double t = static_cast<double>(i) / rate;
    x[i] = 1e-6 * std::abs(h) * std::sin(2 * kPi * f0 * t + std::arg(h));
  }
  ASSERT_EQ(remove_response(x, rate, r, Removal::kDisplacement, {0.05, 0.1, 20, 30}), "");
  worst = 0;
  const double amplitude = 1e-6 / (2 * kPi * f0);
  for (std::size_t i = 20000; i < 40000; ++i) {
    const double t = static_cast<double>(i) / rate;
    worst = std::max(worst, std::fabs(x[i] + amplitude * std::cos(2 * kPi * f0 * t)));
  }
  EXPECT_LT(worst, 0.01 * amplitude);
}

TEST(Response, FdsnTextGivesTheSensitivityOnly) {
  ScratchDir dir;
  write_text(dir / "meta.txt",
             "#Network|Station|Location|Channel|Latitude|Longitude|Elevation|Depth|Azimuth|Dip|"
             "SensorDescription|Scale|ScaleFreq|ScaleUnits|SampleRate|StartTime|EndTime\n"
             "XC|AAA|00|HHZ|10|20|0|0|0|-90|geophone|1.152E+07|10|M/S|100|2020-01-01T00:00:00|\n");
  Inventory inventory;
  std::vector<std::string> problems;
  ASSERT_TRUE(inventory.load((dir / "meta.txt").string(), problems));
  const ChannelEpoch* e = inventory.find(kId, day_start(2024, 5), kDay);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->response.sensitivity, 1.152e7);
  EXPECT_EQ(unusable(e->response, Removal::kSensitivity), std::nullopt);
  EXPECT_NE(unusable(e->response, Removal::kVelocity)->find("only --resp sens"), std::string::npos);
  std::vector<double> x = {1.152e7, -2.304e7};
  ASSERT_EQ(remove_response(x, 100, e->response, Removal::kSensitivity, {}), "");
  EXPECT_EQ(x, (std::vector<double>{1.0, -2.0}));
}

// xcn_prep end to end: a sine of ground velocity recorded in counts through the geophone, on a
// miniSEED file, comes out as the ground velocity; channels whose response cannot be removed
// are said and skipped.
class PrepResponse : public ::testing::Test {
 protected:
  // Writes meta.xml (the channels with their responses) and data.mseed (each channel's sine).
  void write_inputs(const std::vector<std::pair<ChannelId, std::string>>& channels) {
    std::vector<ChannelEpoch> epochs;
    std::string data;
    for (const auto& [id, response] : channels) {
      epochs.push_back(test::full_epoch(id, day_start(2020, 1)));
      const auto bytes = pack_records(id, kStart, kRate, counts(), Encoding::kFloat32, 4096);
      data.append(bytes.begin(), bytes.end());
    }
    std::string xml = station_xml(epochs);
    // Each channel's response inside its element, in the order written (by station).
    std::size_t at = 0;
    for (const auto& [id, response] : channels) {
      at = xml.find("</Channel>", at);
      const std::string inside = "<Response>" + response + "</Response>";
      xml.insert(at, inside);
      at += inside.size() + 1;
    }
    write_text(dir_ / "meta.xml", xml);
    write_text(dir_ / "data.mseed", data);
  }
  test::RunResult prep(std::vector<std::string> args) {
    if (std::find(args.begin(), args.end(), "--out") == args.end()) {
      args.insert(args.begin(), {"--out", "out"});
    }
    args.push_back("data.mseed");
    return test::run_program(XCN_PREP, args, dir_.path());
  }
  // Counts of a 1 um/s ground velocity sine at kF0 through the geophone.
  static std::vector<double> counts() {
    const std::complex<double> h = geophone_by_hand(kF0);
    std::vector<double> x(static_cast<std::size_t>(kRate * 3600));
    for (std::size_t i = 0; i < x.size(); ++i) {
      const double t = static_cast<double>(i) / kRate;
      x[i] = 1e-6 * std::abs(h) * std::sin(2 * kPi * kF0 * t + std::arg(h));
    }
    return x;
  }
  static constexpr double kRate = 100;  // the geophone's digitiser's
  static constexpr double kF0 = 0.5;
  const Micros kStart = day_start(2024, 5) + 3600 * kSecond;
  ScratchDir dir_;
};

TEST_F(PrepResponse, ASineInCountsComesOutAsTheGroundVelocity) {
  double a0 = 0;
  geophone_by_hand(1, &a0);
  const std::string good = sensitivity(28.8 * 400000, 10) + geophone(a0);
  std::string zero_gain = good;
  zero_gain.replace(zero_gain.find("<Value>400000"), 13, "<Value>0");
  const ChannelId a{"XC", "AAA", "00", "HHZ"};
  const ChannelId b{"XC", "BBB", "00", "HHZ"};
  const ChannelId c{"XC", "CCC", "00", "HHZ"};
  write_inputs({{a, good}, {b, zero_gain}, {c, sensitivity(1e6, 1)}});
  const test::RunResult r = prep({"--meta", "meta.xml", "--resp", "vel", "--delta", "0.1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::problem_lines(r.err),
            (std::vector<std::string>{
                "xcn_prep: XC.BBB.00.HHZ: the response cannot be removed for 2024.005: stage 2's "
                "gain is zero; skipped",
                "xcn_prep: XC.CCC.00.HHZ: the response cannot be removed for 2024.005: its "
                "response has no stages; skipped"}));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out/2024.005/XC.BBB.00.HHZ.sac"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out/2024.005/XC.CCC.00.HHZ.sac"));
  const test::SacBytes sac((dir_ / "out/2024.005/XC.AAA.00.HHZ.sac").string());
  ASSERT_TRUE(sac.valid());
  EXPECT_EQ(sac.i(344), 7);  // IDEP: IVEL
  // Sample times from the day's start: the reference time (hour, minute, second, ms) plus B.
  const double first =
      sac.i(288) * 3600.0 + sac.i(292) * 60.0 + sac.i(296) + sac.i(300) / 1e3 + sac.f(20) - 3600.0;
  const std::vector<float> y = sac.samples();
  ASSERT_GT(y.size(), 30000u);
  // The middle half, a whole number of periods: its sine and cosine parts.
  double s = 0;
  double co = 0;
  const std::size_t from = y.size() / 4;
  const std::size_t n = 9000;
  for (std::size_t i = from; i < from + n; ++i) {
    const double t = first + static_cast<double>(i) * 0.1;
    s += y[i] * std::sin(2 * kPi * kF0 * t);
    co += y[i] * std::cos(2 * kPi * kF0 * t);
  }
  s *= 2.0 / n;
  co *= 2.0 / n;
  EXPECT_NEAR(std::hypot(s, co) / 1e-6, 1.0, 0.01);
  EXPECT_NEAR(std::atan2(co, s), 0.0, 0.01);  // radians
}

TEST_F(PrepResponse, FdsnTextServesTheSensitivityOnly) {
  write_inputs({{{"XC", "AAA", "00", "HHZ"}, ""}, {{"XC", "AAA", "00", "HDF"}, ""}});
  write_text(dir_ / "meta.txt",
             "XC|AAA|00|HHZ|10|20|0|0|0|-90|geophone|2E+06|1|nm/s|100|2020-01-01T00:00:00|\n"
             "XC|AAA|00|HDF|10|20|0|0|0|-90|barometer|1E+03|1|PA|100|2020-01-01T00:00:00|\n");
  const test::RunResult raw = prep({"--meta", "meta.txt", "--out", "raw"});
  ASSERT_EQ(raw.status, 0) << raw.err;
  const test::RunResult sens = prep({"--meta", "meta.txt", "--resp", "sens"});
  ASSERT_EQ(sens.status, 0) << sens.err;
  // A sensor of no ground motion: divided all the same, said once, its unit unknown.
  EXPECT_EQ(test::problem_lines(sens.err),
            (std::vector<std::string>{
                "xcn_prep: XC.AAA.00.HDF: its sensor's units \"PA\" are no ground motion; its "
                "records are divided by the sensitivity and their IDEP is IUNKN"}));
  EXPECT_EQ(test::SacBytes((dir_ / "out/2024.005/XC.AAA.00.HDF.sac").string()).i(344), 5);
  const test::SacBytes a((dir_ / "raw/2024.005/XC.AAA.00.HHZ.sac").string());
  const test::SacBytes b((dir_ / "out/2024.005/XC.AAA.00.HHZ.sac").string());
  ASSERT_EQ(a.npts(), b.npts());
  EXPECT_EQ(b.i(344), 7);
  const std::vector<float> x = a.samples();
  const std::vector<float> y = b.samples();
  for (std::size_t i = 0; i < x.size(); i += 97) {
    // Counts over 2e6 counts per nm/s, in m/s.
    EXPECT_NEAR(y[i], x[i] / 2e6 * 1e-9, 1e-5 * std::fabs(x[i] / 2e6 * 1e-9) + 1e-20) << i;
  }
  const test::RunResult vel = prep({"--meta", "meta.txt", "--resp", "vel", "--out", "vel"});
  EXPECT_EQ(vel.status, 1);
  EXPECT_EQ(test::problem_lines(vel.err).at(1),
            "xcn_prep: XC.AAA.00.HHZ: the response cannot be removed for 2024.005: the metadata "
            "give only its sensitivity (FDSN station text), which only --resp sens can use; "
            "skipped");
}

}  // namespace
}  // namespace xcn::prep
