// Tests of what a measurement is set up with: the default lag window, the settings and
// references prepare() refuses, and the stretching error against a hand computation.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "dvv/measure.hpp"
#include "tests/dvv/coda.hpp"

namespace xcn::dvv {
namespace {

TEST(DefaultLagWindow, KeepsDirectWavesOutAndStaysOnTheTrace) {
  const double none = -1;
  const struct {
    double dist, low;
    int npts;
    double delta, min, max;
  } cases[] = {
      {0, 0.1, 2000, 1, 20, 120},
      {30, 0.1, 2000, 1, 20, 120},    // 2 * 30 / 3 = 20 s: the floor
      {300, 0.1, 2000, 1, 200, 300},  // twice the direct arrival
      {0, 0.05, 2000, 1, 20, 220},    // ten periods of 20 s
      {1200, 0.1, 2000, 1, 800, 900},
      {1400, 0.1, 2000, 1, 1400 * 2.0 / 3, 997 / 1.01},  // cut: 999 s of lags less 2 samples
      {1500, 0.1, 2000, 1, none, none},                  // nothing left after the direct wave
      {0, 0.1, 200, 1, 20, 97 / 1.01},                   // 99 s of positive lags
      {0, 0.1, 40000, 0.05, 20, 120},
      {-1, 0.1, 2000, 1, none, none},
      {std::nan(""), 0.1, 2000, 1, none, none},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.dist << " km, " << c.low << " Hz, " << c.npts << " x " << c.delta << " s");
    const auto w = default_lag_window(c.dist, c.low, c.npts, c.delta, 0.01);
    if (c.min == none) {
      EXPECT_FALSE(w.has_value());
      continue;
    }
    ASSERT_TRUE(w.has_value());
    EXPECT_NEAR(w->min, c.min, 1e-9);
    EXPECT_NEAR(w->max, c.max, 1e-9);
  }
}

// Everything prepare() refuses, and why.
TEST(Prepare, RefusesWhatItCannotMeasure) {
  const test::Coda coda = test::make_coda(3, 0.14, 0.26);
  const std::vector<float> good = test::sample(coda, 2000, 1.0);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::vector<float> one_nan = good;
  one_nan[1400] = nan;
  const std::vector<float> all_nan(2000, nan), zeros(2000, 0.0f);
  const struct {
    const char* what;
    void (*change)(Settings&);
    const std::vector<float>* trace;
    double delta;
    std::string error;
  } cases[] = {
      {"band above Nyquist", [](Settings& s) { s.band.high = 0.6; }, &good, 1.0,
       "the band must run from a low corner above 0 Hz to a higher corner at most at the "
       "Nyquist frequency of 0.5 Hz"},
      {"band upside down",
       [](Settings& s) {
         s.band = {0.3, 0.1};
       },
       &good, 1.0,
       "the band must run from a low corner above 0 Hz to a higher corner at most at the "
       "Nyquist frequency of 0.5 Hz"},
      {"no interval", [](Settings&) {}, &good, 0.0,
       "the sampling interval must be longer than 0 s"},
      {"no method", [](Settings& s) { s.stretching = s.mwcs = false; }, &good, 1.0,
       "no method is asked for"},
      {"no search", [](Settings& s) { s.max_dvv = 0; }, &good, 1.0,
       "the largest dv/v searched must lie between 0 and 0.5"},
      {"coherence above 1", [](Settings& s) { s.min_coherence = 1.5; }, &good, 1.0,
       "the coherence threshold must lie between 0 and 1"},
      {"empty window",
       [](Settings& s) {
         s.window = {50, 50};
       },
       &good, 1.0, "the lag window must run from a lag of 0 s or more to a larger one"},
      {"window off the trace",
       [](Settings& s) {
         s.window = {20, 990};
       },
       &good, 1.0, "the lag window ends at 990 s; the trace allows at most 987 s"},
      {"window between samples",
       [](Settings& s) {
         s.window = {20.2, 20.7};
       },
       &good, 1.0, "the lag window from 20.2 s to 20.7 s holds no sample"},
      {"MWCS window too long", [](Settings& s) { s.mwcs_length = 200; }, &good, 1.0,
       "the MWCS window of 200 s is longer than the lag window (101 s)"},
      {"MWCS window too short", [](Settings& s) { s.mwcs_length = 3; }, &good, 1.0,
       "the MWCS window of 3 s holds fewer than 4 samples"},
      {"MWCS window too coarse",
       [](Settings& s) {
         s.band = {0.1, 0.15}, s.mwcs_length = 10;
       },
       &good, 1.0,
       "an MWCS window of 10 s resolves 1 frequency in the band, fewer than the 3 a delay needs; "
       "lengthen the window"},
      {"no MWCS step", [](Settings& s) { s.mwcs_step = 0; }, &good, 1.0,
       "the MWCS window and its step must be longer than 0 s"},
      {"reference with a NaN", [](Settings&) {}, &one_nan, 1.0,
       "the reference holds samples that are not finite"},
      {"reference all NaN", [](Settings&) {}, &all_nan, 1.0, "the reference is all not-a-number"},
      {"reference zero", [](Settings&) {}, &zeros, 1.0,
       "the reference is zero over the lag window after the band-pass"},
  };
  for (const auto& c : cases) {
    Settings s;
    s.band = {0.1, 0.3};
    s.window = {20, 120};
    c.change(s);
    Reference ref;
    Workspace work;
    std::string error;
    EXPECT_FALSE(prepare(*c.trace, c.delta, s, ref, work, error)) << c.what;
    EXPECT_EQ(error, c.error) << c.what;
  }
}

// The window's end is allowed up to the last lag the stretched reference can be read at.
TEST(Prepare, TakesTheLongestWindowItAllows) {
  const test::Coda coda = test::make_coda(3, 0.14, 0.26);
  Settings s;
  s.band = {0.1, 0.3};
  s.window = {20, 987};
  Reference ref;
  Workspace work;
  std::string error;
  EXPECT_TRUE(prepare(test::sample(coda, 2000, 1.0), 1.0, s, ref, work, error)) << error;
}

// By hand for cc = 0.8, 0.1-0.3 Hz, 20-120 s: T = 5 s, w_c = 0.4 pi rad/s,
// 6 sqrt(pi/2) T / (w_c^2 (120^3 - 20^3)) = 37.599424 / 2716115.13 = 1.3843089e-5,
// sqrt(1 - 0.64) / 1.6 = 0.375; 0.375 * sqrt(1.3843089e-5) = 1.3952363e-3.
TEST(WeaverError, MatchesTheHandComputation) {
  const Band band{0.1, 0.3};
  const LagWindow window{20, 120};
  EXPECT_NEAR(weaver_error(0.8, band, window, 1), 1.3952363e-3, 1e-9);
  EXPECT_NEAR(weaver_error(0.8, band, window, 2), 1.3952363e-3 / std::sqrt(2.0), 1e-9);
  EXPECT_EQ(weaver_error(1.0, band, window, 1), 0.0);
  EXPECT_TRUE(std::isinf(weaver_error(0.0, band, window, 1)));
  EXPECT_TRUE(std::isinf(weaver_error(-0.3, band, window, 1)));
  // A poorer fit, a narrower band or a shorter window: a larger error.
  EXPECT_GT(weaver_error(0.7, band, window, 1), weaver_error(0.8, band, window, 1));
  EXPECT_GT(weaver_error(0.8, {0.1, 0.2}, window, 1), weaver_error(0.8, band, window, 1));
  EXPECT_GT(weaver_error(0.8, band, {20, 80}, 1), weaver_error(0.8, band, window, 1));
}

}  // namespace
}  // namespace xcn::dvv
