// Tests of the measurements on stretched analytic codas: both methods recover the stretch,
// the sign convention, the sides, noise and its errors, and traces that cannot be measured.
#include "dvv/measure.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "tests/dvv/coda.hpp"

namespace xcn::dvv {
namespace {

constexpr int kNpts = 2000;
constexpr double kDelta = 1.0;

// Arrivals at lags t (1 + x)^-1: dv/v = x / (1 + x) by the convention.
double truth(double x) { return x / (1 + x); }

Settings settings(Side side = Side::both) {
  Settings s;
  s.band = {0.1, 0.3};
  s.window = {20, 120};
  s.side = side;
  return s;
}

// A prepared reference of a coda with its own workspace.
struct Pair {
  test::Coda coda;
  Reference ref;
  Workspace work;

  explicit Pair(const Settings& s, unsigned seed = 11, double negative = 0.6)
      : coda(test::make_coda(seed, 0.14, 0.26, negative)) {
    std::string error;
    if (!prepare(test::sample(coda, kNpts, kDelta), kDelta, s, ref, work, error)) {
      ADD_FAILURE() << error;
    }
  }
  Measurements measure(const std::vector<float>& current) {
    return dvv::measure(ref, current, work);
  }
};

// Noise-free: stretching to 1e-6 (the interpolation's error), MWCS to 5e-5 (the windows'
// own bias, about 0.5 % of dv/v); both well within 1e-4 of x.
TEST(Measure, BothMethodsRecoverTheStretchOfACoda) {
  for (double negative : {1.0, 0.6}) {
    Pair pair(settings(), 11, negative);
    for (double x : {-0.005, -0.0025, -0.001, 0.0, 0.0005, 0.002, 0.005}) {
      SCOPED_TRACE(testing::Message() << "x " << x << ", negative side x" << negative);
      const Measurements m = pair.measure(test::sample(pair.coda, kNpts, kDelta, 1 + x));
      ASSERT_EQ(m.stretching.status, Status::ok);
      ASSERT_EQ(m.mwcs.status, Status::ok);
      EXPECT_NEAR(m.stretching.dvv, truth(x), 1e-6);
      EXPECT_NEAR(m.mwcs.dvv, truth(x), 5e-5);
      EXPECT_NEAR(m.stretching.dvv, x, 1e-4);
      EXPECT_NEAR(m.mwcs.dvv, x, 1e-4);
      EXPECT_GT(m.stretching.cc, 0.9999);
      EXPECT_GT(m.mwcs.cc, 0.999);
      EXPECT_EQ(m.mwcs.windows, 18);
    }
  }
}

// Other sampling and band: 0.5 s, 0.2-0.8 Hz (its taper runs into the Nyquist frequency).
TEST(Measure, RecoversTheStretchAtAnotherSamplingAndBand) {
  Settings s = settings();
  s.band = {0.2, 0.8};
  s.mwcs_length = 10;
  s.mwcs_step = 5;
  const test::Coda coda = test::make_coda(5, 0.28, 0.72);
  Reference ref;
  Workspace work;
  std::string error;
  ASSERT_TRUE(prepare(test::sample(coda, 4001, 0.5), 0.5, s, ref, work, error)) << error;
  for (double x : {-0.004, 0.003}) {
    const Measurements m = measure(ref, test::sample(coda, 4001, 0.5, 1 + x), work);
    EXPECT_NEAR(m.stretching.dvv, truth(x), 1e-6) << x;
    EXPECT_NEAR(m.mwcs.dvv, truth(x), 5e-5) << x;
  }
}

// Arrivals earlier by the fraction x (the coda read at t / (1 - x)): the velocity rose, and
// dv/v is +x; later arrivals give a negative dv/v.
TEST(Measure, EarlierArrivalsGivePositiveDvv) {
  Pair pair(settings());
  for (double x : {0.004, -0.004}) {
    const Measurements m = pair.measure(test::sample(pair.coda, kNpts, kDelta, 1 / (1 - x)));
    EXPECT_NEAR(m.stretching.dvv, x, 1e-6) << x;
    EXPECT_NEAR(m.mwcs.dvv, x, 5e-5) << x;
  }
}

// Each side reads its own lags (the negative ones time reversed), the mean folds them about
// zero lag: an equal change is found on every side; two different ones apart, and together
// or averaged something between them.
TEST(Measure, SidesReadTheirOwnLags) {
  const double xp = 0.004, xn = -0.002;
  const struct {
    Side side;
    double low, high;  // the range dv/v must fall in when the sides differ
  } cases[] = {
      {Side::positive, truth(xp) - 5e-5, truth(xp) + 5e-5},
      {Side::negative, truth(xn) - 5e-5, truth(xn) + 5e-5},
      {Side::both, truth(xn) + 1e-4, truth(xp) - 1e-4},
      {Side::mean, truth(xn) + 1e-4, truth(xp) - 1e-4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "side " << static_cast<int>(c.side));
    Pair pair(settings(c.side));
    const Measurements same = pair.measure(test::sample(pair.coda, kNpts, kDelta, 1.003));
    EXPECT_NEAR(same.stretching.dvv, truth(0.003), 1e-6);
    EXPECT_NEAR(same.mwcs.dvv, truth(0.003), 5e-5);
    const Measurements apart = pair.measure(test::sample(pair.coda, kNpts, kDelta, 1 + xp, 1 + xn));
    for (const Measurement& m : {apart.stretching, apart.mwcs}) {
      EXPECT_GE(m.dvv, c.low);
      EXPECT_LE(m.dvv, c.high);
    }
    EXPECT_EQ(same.mwcs.windows, c.side == Side::both ? 18 : 9);
  }
}

// White noise added to the current, its standard deviation a fraction of the coda's rms over
// the positive lag window, 20 draws per level: the estimates scatter about the truth within
// the stated rms, the errors grow with the noise, and they describe the scatter: the median
// of |deviation| / error is that of a normal variable, 0.67, within [0.4, 1.1].
TEST(Measure, ErrorsGrowWithNoiseAndDescribeTheScatter) {
  Pair pair(settings());
  const double x = 0.003;
  const std::vector<float> clean = test::sample(pair.coda, kNpts, kDelta, 1 + x);
  double rms = 0;
  for (int k = 1020; k <= 1120; ++k) rms += clean[k] * clean[k];
  rms = std::sqrt(rms / 101);
  const struct {
    double level, stretching_rms, mwcs_rms;
  } cases[] = {{0.05, 1e-4, 1.5e-4}, {0.2, 4e-4, 6e-4}, {0.5, 1e-3, 1.5e-3}};
  double previous[2] = {0, 0};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "noise " << c.level);
    std::vector<double> z[2];
    double square[2] = {0, 0}, error[2] = {0, 0};
    constexpr int kDraws = 20;
    for (unsigned seed = 1; seed <= kDraws; ++seed) {
      std::vector<float> current = clean;
      test::add_noise(current, c.level * rms, seed);
      const Measurements m = pair.measure(current);
      ASSERT_EQ(m.stretching.status, Status::ok) << seed;
      ASSERT_EQ(m.mwcs.status, Status::ok) << seed;
      const Measurement* both[2] = {&m.stretching, &m.mwcs};
      for (int i = 0; i < 2; ++i) {
        const double deviation = both[i]->dvv - truth(x);
        square[i] += deviation * deviation;
        error[i] += both[i]->error;
        z[i].push_back(std::fabs(deviation) / both[i]->error);
      }
    }
    const double bound[2] = {c.stretching_rms, c.mwcs_rms};
    for (int i = 0; i < 2; ++i) {
      SCOPED_TRACE(i == 0 ? "stretching" : "mwcs");
      EXPECT_LT(std::sqrt(square[i] / kDraws), bound[i]);
      EXPECT_GT(error[i] / kDraws, previous[i]);
      previous[i] = error[i] / kDraws;
      std::sort(z[i].begin(), z[i].end());
      const double median = 0.5 * (z[i][kDraws / 2 - 1] + z[i][kDraws / 2]);
      EXPECT_GT(median, 0.4);
      EXPECT_LT(median, 1.1);
    }
  }
}

TEST(Measure, TracesThatCannotBeMeasuredSaySo) {
  Pair pair(settings());
  const std::vector<float> good = test::sample(pair.coda, kNpts, kDelta, 1.002);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  auto with = [&](int k, float v) {
    std::vector<float> x = good;
    x[k] = v;
    return x;
  };
  const struct {
    const char* what;
    std::vector<float> trace;
    Status status;
  } cases[] = {
      {"all NaN", std::vector<float>(kNpts, nan), Status::empty},
      {"one NaN", with(17, nan), Status::not_finite},
      {"one infinity", with(1500, -inf), Status::not_finite},
      {"all zero", std::vector<float>(kNpts, 0.0f), Status::silent},
      {"shorter", std::vector<float>(good.begin(), good.end() - 1), Status::wrong_length},
  };
  for (const auto& c : cases) {
    const Measurements m = pair.measure(c.trace);
    EXPECT_EQ(m.stretching.status, c.status) << c.what;
    EXPECT_EQ(m.mwcs.status, c.status) << c.what;
    EXPECT_TRUE(std::isnan(m.stretching.dvv) && std::isnan(m.mwcs.dvv)) << c.what;
  }
}

// Beyond the search: stretching reports its limit; MWCS, which has none, still measures.
TEST(Measure, StretchBeyondTheSearchIsAtTheLimit) {
  Settings s = settings();
  s.max_dvv = 0.004;
  Pair pair(s);
  for (double x : {0.006, -0.006}) {
    const Measurements m = pair.measure(test::sample(pair.coda, kNpts, kDelta, 1 + x));
    EXPECT_EQ(m.stretching.status, Status::at_limit) << x;
    EXPECT_DOUBLE_EQ(m.stretching.dvv, truth(std::copysign(0.004, x))) << x;
    EXPECT_EQ(m.mwcs.status, Status::ok) << x;
    EXPECT_NEAR(m.mwcs.dvv, truth(x), 1e-4) << x;
  }
}

// The coherence tells related traces from unrelated ones (noise): with windows of the
// default length, a threshold of 0.8 keeps every window of a stretched copy and none of the
// noise's; the stretching coefficient of the noise is low too.
TEST(Measure, UnrelatedTraceIsIncoherent) {
  Settings s = settings();
  s.mwcs_length = default_mwcs_length(s.band);
  s.mwcs_step = s.mwcs_length / 2;
  s.min_coherence = 0.8;
  Pair pair(s);
  const Measurements related = pair.measure(test::sample(pair.coda, kNpts, kDelta, 1.002));
  EXPECT_EQ(related.mwcs.status, Status::ok);
  EXPECT_EQ(related.mwcs.windows, 8);
  EXPECT_GT(related.mwcs.cc, 0.99);
  for (unsigned seed : {7u, 8u}) {
    std::vector<float> noise(kNpts, 0.0f);
    test::add_noise(noise, 1.0, seed);
    const Measurements m = pair.measure(noise);
    EXPECT_EQ(m.mwcs.status, Status::no_windows) << seed;
    EXPECT_EQ(m.mwcs.windows, 0) << seed;
    EXPECT_LT(m.mwcs.cc, 0.6) << seed;
    EXPECT_LT(std::fabs(m.stretching.cc), 0.3) << seed;
  }
}

// Many currents at once, two to a transform, give what one at a time gives, whatever the
// scale of the partner; methods not asked for stay unmeasured.
TEST(Measure, BatchAgreesWithOneByOne) {
  Settings s = settings();
  s.mwcs = false;
  Pair pair(s);
  std::vector<std::vector<float>> traces;
  for (double x : {0.001, -0.002, 0.0035}) {
    traces.push_back(test::sample(pair.coda, kNpts, kDelta, 1 + x));
  }
  traces.push_back(std::vector<float>(kNpts, std::numeric_limits<float>::quiet_NaN()));
  traces.push_back(traces[0]);
  for (float& v : traces.back()) v *= 1e6f;
  const std::vector<std::span<const float>> spans(traces.begin(), traces.end());
  std::vector<Measurements> batch(traces.size());
  measure(pair.ref, spans, batch, pair.work);
  for (std::size_t i = 0; i < traces.size(); ++i) {
    const Measurements one = pair.measure(traces[i]);
    EXPECT_EQ(batch[i].stretching.status, one.stretching.status) << i;
    if (one.stretching.status == Status::ok) {
      EXPECT_NEAR(batch[i].stretching.dvv, one.stretching.dvv, 1e-8) << i;
    }
    EXPECT_EQ(batch[i].mwcs.status, Status::not_measured) << i;
  }
  EXPECT_NEAR(batch[4].stretching.dvv, batch[0].stretching.dvv, 1e-8);
}

// One workspace carried from pair to pair of other sizes measures each as a fresh one does.
TEST(Measure, WorkspaceServesPairsOfAnySize) {
  const test::Coda coda = test::make_coda(5, 0.14, 0.26);
  const struct {
    int npts;
    double delta;
    Side side;
  } pairs[] = {{2000, 1.0, Side::both}, {4001, 0.5, Side::mean}, {801, 1.0, Side::negative},
               {2000, 1.0, Side::positive}};
  Workspace shared;
  for (const auto& p : pairs) {
    SCOPED_TRACE(testing::Message() << p.npts << " x " << p.delta << " s");
    Settings s = settings(p.side);
    s.window = {20, 100};
    const std::vector<float> reference = test::sample(coda, p.npts, p.delta);
    const std::vector<float> current = test::sample(coda, p.npts, p.delta, 1.0025);
    Reference a, b;
    Workspace fresh;
    std::string error;
    ASSERT_TRUE(prepare(reference, p.delta, s, a, shared, error)) << error;
    ASSERT_TRUE(prepare(reference, p.delta, s, b, fresh, error)) << error;
    const Measurements one = measure(a, current, shared);
    const Measurements other = measure(b, current, fresh);
    EXPECT_EQ(one.stretching.dvv, other.stretching.dvv);
    EXPECT_EQ(one.mwcs.dvv, other.mwcs.dvv);
    EXPECT_EQ(one.mwcs.error, other.mwcs.error);
    EXPECT_NEAR(one.stretching.dvv, truth(0.0025), 1e-6);
  }
}

// Long lag windows at a high rate make a grid too large to hold (here 35 000 lags by 175
// factors): it is stretched anew for each current, with the same result.
TEST(Measure, GridTooLargeToHoldIsStretchedAnew) {
  Settings s = settings();
  s.band = {0.5, 2.0};
  s.window = {20, 900};
  s.mwcs = false;
  const test::Coda coda = test::make_coda(8, 0.7, 1.8, 0.6, 1000, 2);
  Reference ref;
  Workspace work;
  std::string error;
  ASSERT_TRUE(prepare(test::sample(coda, 40001, 0.05), 0.05, s, ref, work, error)) << error;
  EXPECT_TRUE(ref.grid.rows.empty());
  EXPECT_GT(ref.grid.factors.size() * static_cast<std::size_t>(ref.lags.taps()), 4u << 20);
  const Measurements m = measure(ref, test::sample(coda, 40001, 0.05, 1.0015), work);
  EXPECT_EQ(m.stretching.status, Status::ok);
  EXPECT_NEAR(m.stretching.dvv, truth(0.0015), 1e-6);
}

}  // namespace
}  // namespace xcn::dvv
