// Tests of the signal path: merging records, detrend, resampling onto the grid, band-pass.
#include "prep/process.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "prep/channel_day.hpp"
#include "prep/merge.hpp"
#include "prep/time.hpp"

namespace xcn::prep {
namespace {

constexpr double kPi = std::numbers::pi;

std::vector<double> ramp(std::size_t n, double first) {
  std::vector<double> x(n);
  for (std::size_t i = 0; i < n; ++i) x[i] = first + static_cast<double>(i);
  return x;
}

TEST(Time, ParsesDatesAndDaysOfYear) {
  struct Case {
    const char* text;
    std::optional<Micros> value;
  };
  const Micros jan5 = day_start(2024, 5);
  const std::vector<Case> cases = {
      {"2024-01-05", jan5},
      {"2024,005", jan5},
      {"2024-01-05T01:02:03.5Z", jan5 + 3723 * kSecond + 500000},
      {"2024-01-05T01:02:03.0000015", jan5 + 3723 * kSecond + 1},
      {"2024-02-30", std::nullopt},
      {"2023,366", std::nullopt},
      {"2024,366", day_start(2024, 366)},
      {"2024-01-05x", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_time(c.text), c.value) << c.text;
  EXPECT_EQ(day_label(day_start(2024, 60) + kDay - 1), "2024.060");
  EXPECT_EQ(day_label(0), "1970.001");
}

TEST(Merge, JoinsOrdersAndKeepsRepeatedSamplesOnce) {
  // 10 Hz: a sample every 100 000 us.
  const Micros t0 = day_start(2024, 5);
  struct Case {
    const char* what;
    std::vector<Piece> pieces;
    std::vector<std::size_t> lengths;  // of the segments
    int duplicates;
    int conflicts;
  };
  const std::vector<Case> cases = {
      {"consecutive", {{t0, 10, ramp(10, 0)}, {t0 + 1000000, 10, ramp(10, 10)}}, {20}, 0, 0},
      {"out of order", {{t0 + 1000000, 10, ramp(10, 10)}, {t0, 10, ramp(10, 0)}}, {20}, 0, 0},
      {"stored twice",
       {{t0, 10, ramp(10, 0)},
        {t0 + 1000000, 10, ramp(10, 10)},
        {t0, 10, ramp(10, 0)},
        {t0 + 1000000, 10, ramp(10, 10)}},
       {20},
       2,
       0},
      {"shared boundary sample",
       {{t0, 10, ramp(10, 0)}, {t0 + 900000, 10, ramp(10, 9)}},
       {19},
       0,
       0},
      {"conflicting overlap",
       {{t0, 10, ramp(10, 0)}, {t0 + 500000, 10, ramp(10, 100)}},
       {15},
       0,
       1},
      {"gap", {{t0, 10, ramp(10, 0)}, {t0 + 2000000, 10, ramp(10, 20)}}, {10, 10}, 0, 0},
      {"a few ms late is still contiguous",
       {{t0, 10, ramp(10, 0)}, {t0 + 1004000, 10, ramp(10, 10)}},
       {20},
       0,
       0},
      {"another rate", {{t0, 10, ramp(10, 0)}, {t0 + 1000000, 20, ramp(10, 10)}}, {10, 10}, 0, 0},
  };
  for (const auto& c : cases) {
    MergeTally tally;
    const auto segments = merge_pieces(c.pieces, tally);
    std::vector<std::size_t> lengths;
    for (const auto& s : segments) lengths.push_back(s.samples.size());
    EXPECT_EQ(lengths, c.lengths) << c.what;
    EXPECT_EQ(tally.duplicates, c.duplicates) << c.what;
    EXPECT_EQ(tally.conflicts, c.conflicts) << c.what;
    if (!segments.empty() && c.conflicts == 0 && segments.size() == 1) {
      // The samples run on without a repeat.
      for (std::size_t i = 0; i < segments[0].samples.size(); ++i) {
        EXPECT_EQ(segments[0].samples[i], static_cast<double>(i)) << c.what;
      }
    }
  }
}

TEST(Merge, KeepsTheEarlierSamplesOfAConflictingOverlap) {
  const Micros t0 = 0;
  MergeTally tally;
  const auto s = merge_pieces({{t0, 10, ramp(10, 0)}, {t0 + 500000, 10, ramp(10, 100)}}, tally);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].samples[9], 9.0);
  EXPECT_EQ(s[0].samples[10], 105.0);
}

TEST(Detrend, RemovesLineAndMean) {
  std::vector<double> x(101);
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = 5.0 + 0.25 * static_cast<double>(i);
  detrend(x);
  for (const double v : x) EXPECT_NEAR(v, 0.0, 1e-12);
}

// Samples of a sine of frequency f (Hz) at rate r starting at `start` seconds.
std::vector<double> sine(double f, double rate, double start, std::size_t n, double phase = 0) {
  std::vector<double> x(n);
  for (std::size_t i = 0; i < n; ++i) {
    x[i] = std::sin(2 * kPi * f * (start + static_cast<double>(i) / rate) + phase);
  }
  return x;
}

TEST(ResampleOntoGrid, KeepsAmplitudeAndPhaseBelowTheNewNyquistAndRemovesAbove) {
  // Inputs that start at sub-sample offsets from the grid; the output must be the sine at the
  // grid times themselves.
  struct Case {
    double rate;
    double delta;
    double start;  // seconds from the grid's origin
    double frequency;
    bool kept;
  };
  const std::vector<Case> cases = {
      {100, 1, 0.0043, 0.2, true},      {100, 1, -3.7071, 0.1, true},
      {20, 1, 0.0137, 0.35, true},      {100, 0.05, 0.0021, 4.0, true},
      {40, 1, 0.011, 0.03, true},       {20, 0.05, 0.013, 6.0, true},
      {100, 1, 0.0043, 0.7, false},     {20, 1, 0.0137, 3.0, false},
      {100, 0.05, 0.0021, 14.0, false},
  };
  for (const auto& c : cases) {
    const auto n = static_cast<std::size_t>(2000 * c.rate);
    std::vector<double> x = sine(c.frequency, c.rate, c.start, n, 0.3);
    std::string error;
    const GridPiece p = resample_onto_grid(x, c.start, c.rate, c.delta, error);
    ASSERT_TRUE(error.empty()) << error;
    EXPECT_EQ(p.first, static_cast<std::int64_t>(std::ceil(c.start / c.delta)));
    const double last = c.start + static_cast<double>(n - 1) / c.rate;
    EXPECT_NEAR(static_cast<double>(p.first + static_cast<std::int64_t>(p.values.size()) - 1),
                std::floor(last / c.delta), 1.0);
    // Away from the ends, where the filters see zeros beyond the data.
    double worst = 0;
    double largest = 0;
    const std::size_t edge = static_cast<std::size_t>(200 / c.delta);
    for (std::size_t j = edge; j + edge < p.values.size(); ++j) {
      const double t = static_cast<double>(p.first + static_cast<std::int64_t>(j)) * c.delta;
      const double expected = c.kept ? std::sin(2 * kPi * c.frequency * t + 0.3) : 0.0;
      worst = std::max(worst, std::fabs(p.values[j] - expected));
      largest = std::max(largest, std::fabs(p.values[j]));
    }
    EXPECT_LT(worst, c.kept ? 2e-3 : 1e-4)
        << "rate " << c.rate << " delta " << c.delta << " f " << c.frequency;
    if (c.kept) {
      EXPECT_GT(largest, 0.99);
    }
  }
}

TEST(ResampleOntoGrid, StatesItsBands) {
  const ResamplerBands b = resampler_bands();
  EXPECT_NEAR(b.passband_end, 0.913, 1e-3);
  EXPECT_EQ(b.stopband_begin, 1.0);
  EXPECT_GT(b.attenuation_db, 119.0);
}

TEST(BandPass, KeepsTheBandAndRemovesTheRestWithoutPhaseShift) {
  struct Case {
    double frequency;
    double gain;
  };
  const std::vector<Case> cases = {{0.1, 1.0}, {0.04, 1.0}, {0.005, 0.0}, {0.3, 0.0}};
  for (const auto& c : cases) {
    std::vector<double> x = sine(c.frequency, 1.0, 0.0, 20000, 0.7);
    band_pass(x, 1.0, 0.02, 0.2);
    double worst = 0;
    for (std::size_t i = 5000; i < 15000; ++i) {
      const double expected =
          c.gain * std::sin(2 * kPi * c.frequency * static_cast<double>(i) + 0.7);
      worst = std::max(worst, std::fabs(x[i] - expected));
    }
    EXPECT_LT(worst, 2e-3) << c.frequency;
  }
}

TEST(Normalisation, OneBitAndRunningMeanLeaveZerosAlone) {
  std::vector<double> x{3, -2, 0, 0.5, -7};
  one_bit(x);
  EXPECT_EQ(x, (std::vector<double>{1, -1, 0, 1, -1}));
  std::vector<double> y(100, 0.0);
  for (std::size_t i = 50; i < 100; ++i) y[i] = (i % 2 == 0 ? 4.0 : -4.0);
  running_absolute_mean(y, 1.0, 10.0);
  EXPECT_EQ(y[10], 0.0);
  EXPECT_NEAR(y[80], 1.0, 1e-12);
  EXPECT_NEAR(y[81], -1.0, 1e-12);
}

// The options of a 1 s grid with a taper of `taper` seconds.
Options one_second_grid(double taper) {
  Options o;
  o.delta = 1.0;
  o.taper = taper;
  return o;
}

TEST(ProcessDay, FillsGapsWithZerosCountsThemAndPutsSamplesOnTheGrid) {
  const Options o = one_second_grid(10);
  const Micros day = day_start(2024, 5);
  // Two stretches at 20 Hz, 4.3 ms after the second, with a gap from 3000 s to 3600 s.
  const double offset = 0.0043;
  const Piece a{day + 4300, 20, sine(0.1, 20, offset, 3000 * 20)};
  const Piece b{day + 3600 * kSecond + 4300, 20, sine(0.1, 20, 3600 + offset, 3000 * 20)};
  const DayOutcome out = process_day({a, b}, day, o);
  ASSERT_EQ(out.records.size(), 1u);
  const SpanRecord& r = out.records[0];
  EXPECT_EQ(r.first, 1);  // the first grid time at or after the first sample
  EXPECT_EQ(r.gaps, 1);
  // The grid times 3000 to 3600 s: the last sample before is at 2999.9543 s, the next at 3600.0043.
  EXPECT_EQ(r.gap_samples, 601);
  EXPECT_EQ(r.samples.size(), 6599u);
  for (std::size_t k = 3000; k <= 3600; ++k) EXPECT_EQ(r.samples[k - 1], 0.0f) << k;
  for (std::size_t k = 500; k < 2500; k += 37) {
    // Detrending a finite sine takes off a line of a few thousandths.
    EXPECT_NEAR(r.samples[k - 1], std::sin(2 * kPi * 0.1 * static_cast<double>(k)), 5e-3) << k;
  }
}

TEST(ProcessDay, RunsToTheLastGridTimeWithData) {
  const Options o = one_second_grid(10);
  const Micros day = day_start(2024, 5);
  const struct {
    const char* what;
    std::vector<Piece> pieces;
    std::size_t samples;
    std::int64_t gap_samples;
  } cases[] = {
      // 0 to 08:00:00.000 inclusive: 28 801 grid times.
      {"data ending on a grid time", {{day, 20, sine(0.1, 20, 0, 28800 * 20 + 1)}}, 28801, 0},
      {"the same at 1 Hz", {{day, 1, sine(0.1, 1, 0, 28801)}}, 28801, 0},
      // Data to 3000.000 and again from 3600.000: zeros at 3001 to 3599 only.
      {"a gap between grid times with data",
       {{day, 20, sine(0.1, 20, 0, 3000 * 20 + 1)},
        {day + 3600 * kSecond, 20, sine(0.1, 20, 3600, 1000 * 20 + 1)}},
       4601,
       599},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const DayOutcome out = process_day(c.pieces, day, o);
    ASSERT_EQ(out.records.size(), 1u);
    EXPECT_EQ(out.records[0].first, 0);
    EXPECT_EQ(out.records[0].samples.size(), c.samples);
    EXPECT_EQ(out.records[0].gap_samples, c.gap_samples);
    EXPECT_NE(out.records[0].samples.back(), 0.0f);
  }
}

TEST(ProcessDay, BridgesBreaksOfAFewSamplesAndCountsLongerOnesAsGaps) {
  const Options o = one_second_grid(30);
  const Micros day = day_start(2024, 5);
  const struct {
    int missing;  // 20 Hz samples left out after the one at 1000 s
    int bridged;
    int gaps;
    std::int64_t gap_samples;  // grid times inside the break
  } cases[] = {{1, 1, 0, 0}, {10, 1, 0, 0}, {11, 0, 1, 0}, {40, 0, 1, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.missing);
    std::vector<double> x = sine(0.1, 20, 0, 2000 * 20);
    const auto cut = x.begin() + 1000 * 20 + 1;
    std::vector<double> after(cut + c.missing, x.end());
    x.erase(cut, x.end());
    const Micros resume = day + 1000 * kSecond + (1 + c.missing) * 50000;
    const DayOutcome out = process_day({{day, 20, x}, {resume, 20, after}}, day, o);
    EXPECT_EQ(out.bridged, c.bridged);
    ASSERT_EQ(out.records.size(), 1u);
    const SpanRecord& r = out.records[0];
    EXPECT_EQ(r.gaps, c.gaps);
    EXPECT_EQ(r.gap_samples, c.gap_samples);
    // Bridged, the data near the break are the sine itself; at a gap they are tapered.
    const double near = r.samples[997];
    const double sine_there = std::sin(2 * kPi * 0.1 * 997);
    if (c.bridged > 0) {
      EXPECT_NEAR(near, sine_there, 5e-3);
    } else {
      EXPECT_LT(std::fabs(near), 0.5 * std::fabs(sine_there));
    }
  }
}

TEST(ProcessDay, SaysWhyADayGivesNoRecord) {
  Options o;
  o.delta = 1.0;
  const Micros day = day_start(2024, 5);
  // Half a second between two grid times.
  DayOutcome out =
      process_day({{day + 36000 * kSecond + 200000, 20, sine(0.1, 20, 0, 10)}}, day, o);
  EXPECT_TRUE(out.records.empty());
  EXPECT_EQ(
      out.skipped,
      "its 0.5 s of data from 2024-01-05T10:00:00.200 hold no time of the grid of --delta 1 s");
  // Samples farther apart than the grid's: refused before a day at that interval is held.
  o.delta = 0.0001;
  out = process_day({{day, 1, sine(0.1, 1, 0, 3600)}}, day, o);
  EXPECT_TRUE(out.records.empty());
  EXPECT_EQ(out.skipped, "its samples come every 1 s, farther apart than --delta 0.0001 s");
}

TEST(ProcessDay, CutsSpansAndTakesSamplesAcrossMidnight) {
  Options o;
  o.delta = 1.0;
  o.span = 6 * 3600 * kSecond;
  const Micros day = day_start(2024, 5);
  // One record from 23:00 the day before to 01:00 the day after: the whole day.
  const Piece p{day - 3600 * kSecond, 10, sine(0.05, 10, -3600, 26 * 3600 * 10)};
  const DayOutcome out = process_day({p}, day, o);
  ASSERT_EQ(out.records.size(), 4u);
  for (std::size_t s = 0; s < 4; ++s) {
    EXPECT_EQ(out.records[s].span_start, day + static_cast<Micros>(s) * o.span);
    EXPECT_EQ(out.records[s].first, 0);
    EXPECT_EQ(out.records[s].samples.size(), 21600u);
    EXPECT_EQ(out.records[s].gaps, 0);
  }
  // At midnight the data run on: no taper there.
  EXPECT_NEAR(out.records[0].samples[5], std::sin(2 * kPi * 0.05 * 5), 2e-3);
}

}  // namespace
}  // namespace xcn::prep
