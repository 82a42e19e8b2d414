// The run's window grid: where each record lies on it, the run's sampling interval, the bound
// of a record with gaps of zeros, and dates.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/input/stations.hpp"
#include "driver/engines/windows.hpp"
#include "signal/stats.hpp"

namespace xcn {
namespace {

struct Rec {
  bool dated;
  long long reference_ms;
  double begin;
  int npts;
  float delta = 1.0f;
};

void fill_table(StationTable& table, const std::vector<Rec>& recs) {
  for (int i = 1; i <= table.size(); ++i) {
    const Rec& r = recs[static_cast<std::size_t>(i - 1)];
    Station& s = table.station(i);
    s.entry.fill(' ');
    const std::string name = "st" + std::to_string(i) + ".sac";
    std::copy(name.begin(), name.end(), s.entry.begin());
    s.usable = true;
    s.dated = r.dated;
    s.reference_ms = r.reference_ms;
    s.begin = r.begin;
    s.npts = r.npts;
    s.delta = r.delta;
  }
}

// What lay_out_grid reports, from a temporary stream.
std::string reports_of(const StationTable& table, float dt, TimeGrid& grid) {
  std::FILE* err = std::tmpfile();
  grid = lay_out_grid(table, dt, err);
  std::rewind(err);
  std::string text;
  for (int c; (c = std::fgetc(err)) != EOF;) text += static_cast<char>(c);
  std::fclose(err);
  return text;
}

TEST(TimeGrid, PlacesEachRecordByItsStartFromTheEarliest) {
  const long long day = 86400000;
  const struct {
    const char* label;
    std::vector<Rec> recs;
    float dt;
    std::vector<GridPlace> places;  // shift, first, windows
    std::string reports;
  } cases[] = {
      {"together",
       {{false, 0, 0.0, 6000}, {false, 0, 0.0, 6000}},
       1.0f,
       {{0, 0, 21}, {0, 0, 21}},
       ""},
      {"one 300 s later and longer",
       {{false, 0, 0.0, 6000}, {false, 0, 300.0, 7000}},
       1.0f,
       {{0, 0, 21}, {300, 2, 25}},
       ""},
      {"grid from the earliest, not the first listed",
       {{true, day, 100.0, 4000}, {true, day, -100.0, 4000}},
       1.0f,
       {{200, 1, 11}, {0, 0, 11}},
       ""},
      {"two days",
       {{true, day, 0.0, 4000}, {true, 2 * day, 0.0, 4000}},
       1.0f,
       {{0, 0, 11}, {86400, 432, 11}},
       ""},
      {"half a second at 0.5 s: one sample",
       {{false, 0, 0.5, 8000}, {false, 0, 0.0, 8000}},
       0.5f,
       {{1, 1, 10}, {0, 0, 11}},
       ""},
      {"off the grid and shorter than a window",
       {{false, 0, 0.0, 6000}, {false, 0, 0.25, 1999}},
       1.0f,
       {{0, 0, 21}, {0, 0, 0}},
       "xcorrnet_v3: warning: station 2 \"st2.sac\" starts 0.25 samples off the run's window "
       "grid; its samples are taken at the nearest whole sample\n"
       "xcorrnet_v3: warning: station 2 \"st2.sac\" holds 1999 samples (1999 s), fewer than one "
       "2000 s window; its pairs stack nothing\n"},
      {"undated placed from the earliest dated start",
       {{true, day, 50.0, 4000}, {false, 0, -50.0, 4000}, {true, day, 0.0, 4000}},
       1.0f,
       {{100, 1, 10}, {0, 0, 11}, {50, 1, 10}},
       "xcorrnet_v3: warning: 1 of 3 records have no reference time (NZYEAR undefined); they "
       "are placed by their begin time B from the earliest start of the others\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    StationTable table(static_cast<int>(c.recs.size()));
    fill_table(table, c.recs);
    TimeGrid grid;
    EXPECT_EQ(reports_of(table, c.dt, grid), c.reports);
    for (int i = 1; i <= table.size(); ++i) {
      const GridPlace& want = c.places[static_cast<std::size_t>(i - 1)];
      EXPECT_EQ(grid.place(i).shift, want.shift) << i;
      EXPECT_EQ(grid.place(i).first, want.first) << i;
      EXPECT_EQ(grid.place(i).windows, want.windows) << i;
    }
  }
}

TEST(TimeGrid, PlacesRecordsHoursApartOnTheGridOfTheirDecimalInterval) {
  // Starts on one 0.01 s (or 0.05 s, 0.005 s) grid up to 23 hours apart: whole samples apart,
  // though a header's DELTA is not the decimal interval itself. An interval with no such
  // decimal (a third of a second) is taken as it is.
  const long long day = 86400000;
  const struct {
    float dt;
    long long later_ms;
    long long shift;
  } cases[] = {
      {0.01f, 82800000, 8280000}, {0.05f, 86399950, 1727999}, {0.005f, 43200005, 8640001},
      {0.02f, 80000020, 4000001}, {1.0f / 3.0f, 3000, 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dt);
    StationTable table(2);
    fill_table(table,
               {{true, day, 0.0, 1000000, c.dt}, {true, day + c.later_ms, 0.0, 1000000, c.dt}});
    TimeGrid grid;
    EXPECT_EQ(reports_of(table, c.dt, grid), "");
    EXPECT_EQ(grid.place(2).shift, c.shift);
  }
}

TEST(TimeGrid, CommonWindowsAreThoseBothHold) {
  EXPECT_EQ(common_windows({0, 0, 21}, {300, 2, 25}).first, 2);
  EXPECT_EQ(common_windows({0, 0, 21}, {300, 2, 25}).count, 19);
  EXPECT_EQ(common_windows({0, 0, 11}, {86400, 432, 11}).count, 0);
  EXPECT_EQ(common_windows({0, 0, 0}, {0, 0, 11}).count, 0);
}

TEST(RunInterval, IsTheOneMostRecordsShare) {
  const struct {
    std::vector<float> deltas;
    float run;
    float unrunnable;
  } cases[] = {
      {{1.0f, 1.0f, 0.5f}, 1.0f, 0.0f},
      {{0.5f, 1.0f, 1.0f}, 1.0f, 0.0f},                   // not the first listed
      {{0.5f, 1.0f}, 0.5f, 0.0f},                         // a tie: the first listed
      {{1.0f, 0.001f, 0.001f}, 1.0f, 0.0f},               // 2000 s at 1 kHz is over the budget
      {{0.001f, 0.001f}, 0.0f, 0.001f},                   // nothing can be run
      {{0.01f, 0.01f, 1.0f}, 0.01f, 0.0f},                // 100 Hz fits
      {{0.05f, 0.0500000343f, 0.1f, 0.1f}, 0.05f, 0.0f},  // float rounding votes as one
      {{0.0500000343f, 0.05f, 0.05f}, 0.05f, 0.0f},
  };
  for (const auto& c : cases) {
    StationTable table(static_cast<int>(c.deltas.size()));
    for (int i = 1; i <= table.size(); ++i) {
      table.station(i).usable = true;
      table.station(i).npts = 48000;
      table.station(i).delta = c.deltas[static_cast<std::size_t>(i - 1)];
    }
    float unrunnable = 0.0f;
    // 8 MiB: a window of 100 Hz (2.8 MiB) fits, one of 1 kHz (about 40 MiB) does not.
    EXPECT_EQ(run_interval(table, std::size_t{8} << 20, &unrunnable), c.run)
        << c.deltas.size() << " " << c.deltas[0];
    EXPECT_EQ(unrunnable, c.unrunnable);
  }
}

TEST(RecordBound, LeavesOutGapsOfZeros) {
  std::vector<float> y(10000);
  unsigned state = 7;
  for (float& v : y) {
    state = state * 1103515245u + 12345u;
    v = static_cast<float>((state >> 8) & 0xffff) / 32768.0f - 1.0f;
  }
  const WindowSettings w = window_settings(1.0f);
  auto bound = [&](const std::vector<float>& r) { return record_bound(r, find_gaps(r, w, 1.0f)); };
  // No gap: the deviation of the whole record, as it always was.
  EXPECT_EQ(bound(y), rejection_bound(std(y, 10000)));
  // 9 zeros at 1 Hz are no gap.
  std::vector<float> short_run = y;
  std::fill(short_run.begin() + 3000, short_run.begin() + 3009, 0.0f);
  EXPECT_EQ(bound(short_run), rejection_bound(std(short_run, 10000)));
  // 2500 zeros (a -0.0 among them) and 10 more are: the bound is the live samples'.
  std::vector<float> gapped = y;
  std::fill(gapped.begin() + 3000, gapped.begin() + 5500, 0.0f);
  std::fill(gapped.begin() + 8000, gapped.begin() + 8010, 0.0f);
  gapped[4000] = -0.0f;
  std::vector<float> live(y.begin(), y.begin() + 3000);
  live.insert(live.end(), y.begin() + 5500, y.begin() + 8000);
  live.insert(live.end(), y.begin() + 8010, y.end());
  EXPECT_EQ(bound(gapped), rejection_bound(std(live, 7490)));
  // Nothing but zeros: no bound any window passes.
  EXPECT_FALSE(window_passes(0.0f, bound(std::vector<float>(4000, 0.0f))));
}

TEST(Gaps, RunsOfZerosASecondAndTenSamplesLongAreGaps) {
  struct Case {
    float dt;
    std::size_t zeros;
    bool gap;
  };
  // 10 samples at 1 Hz and below; a second above 10 Hz (100 samples at 100 Hz, 20 at 20 Hz).
  for (const Case c : {Case{1.0f, 9, false}, Case{1.0f, 10, true}, Case{10.0f, 10, true},
                       Case{0.05f, 19, false}, Case{0.05f, 20, true}, Case{0.01f, 99, false},
                       Case{0.01f, 100, true}, Case{0.5f, 10, true}}) {
    const WindowSettings w = window_settings(c.dt);
    std::vector<float> r(static_cast<std::size_t>(w.nptlen) * 3, 1.0f);
    std::fill_n(r.begin() + 50, c.zeros, 0.0f);
    const Gaps gaps = find_gaps(r, w, c.dt);
    EXPECT_EQ(gaps.runs.size(), c.gap ? 1u : 0u) << c.dt << " " << c.zeros;
  }
  // A window of zeros is a gap at any interval, even where a window is shorter than 10 samples.
  const WindowSettings coarse = window_settings(400.0f);
  std::vector<float> r(20, 1.0f);
  std::fill_n(r.begin() + 5, coarse.nptlen, 0.0f);
  EXPECT_EQ(find_gaps(r, coarse, 400.0f).runs.size(), 1u);
}

TEST(Gaps, AWindowThatHoldsAnyPartOfAGapTouchesIt) {
  Gaps gaps;
  gaps.runs = {{100, 200}, {500, 510}};
  struct Case {
    std::size_t from, length;
    bool touch;
  };
  for (const Case c :
       {Case{0, 100, false}, Case{0, 101, true}, Case{199, 50, true}, Case{200, 300, false},
        Case{200, 301, true}, Case{509, 1, true}, Case{510, 1000, false}, Case{150, 10, true}}) {
    EXPECT_EQ(gaps.touch(c.from, c.length), c.touch) << c.from << " " << c.length;
  }
  EXPECT_FALSE(Gaps{}.touch(0, 1000));
}

}  // namespace
}  // namespace xcn
