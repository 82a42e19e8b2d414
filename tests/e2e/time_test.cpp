// Records lined up by their recorded time, for the plain loop, the exact and the matrix engine:
// a record that starts later, lists in any order, a record at another interval or shorter than a
// window anywhere in the list, records of two days, and a gap filled with zeros.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/engine_cases.hpp"

namespace xcn::test {
namespace {

std::vector<std::string> engines() {
#ifdef XCN_HAVE_BLAS
  return {"plain", "fast", "matrix"};
#else
  return {"plain", "fast"};
#endif
}

// A reference time: 2024, day `jday`, at hour:min.
std::array<int, 6> day(int jday, int hour = 0, int min = 0) {
  return {2024, jday, hour, min, 0, 0};
}

// Noise waves that reach station k `delay[k]` samples late, plus its own noise, from `from` on.
std::vector<float> delayed_waves(const std::vector<float>& waves, int delay, std::size_t from,
                                 std::size_t count, Noise& own) {
  std::vector<float> y(count);
  for (std::size_t t = 0; t < count; ++t) {
    y[t] = waves[from + t + 100 - static_cast<std::size_t>(delay)] + 0.3f * own.next();
  }
  return y;
}

// Writes the lists with the stations in `order` (1-based, by the order added) and each pair
// named by its stations, "p<first>_<second>.sac", so that runs of different orders can be held
// to each other by name.
void write_ordered_lists(const Network& net, const std::vector<int>& order,
                         const std::vector<std::string>& names) {
  std::ofstream stations(net.file("stations"));
  for (const int k : order) stations << "st" << k << ".sac\n";
  std::ofstream list(net.file("names"));
  for (std::size_t a = 0; a < order.size(); ++a) {
    for (std::size_t b = a; b < order.size(); ++b) {
      list << "p" << names[static_cast<std::size_t>(order[a] - 1)] << "_"
           << names[static_cast<std::size_t>(order[b] - 1)] << ".sac\n";
    }
  }
}

RunResult run_engine(const Network& net, const std::string& engine, int workers = 2) {
  return net.run("B", "Y", workers, {"XCN_ENGINE=" + engine});
}

// Pairs the matrix engine gave to the exact path, from its timing line.
long exact_path_pairs(const std::string& err) {
  const std::string at = "exact path ";
  const auto p = err.find(at);
  if (p == std::string::npos) return -1;
  const auto f = err.find(" for ", p);
  return std::stol(err.substr(f + 5));
}

// The "# of stacking" count of the result named `name`, or -1.
int stacking(const std::string& out, const std::string& name) {
  for (const auto& l : split_lines(out)) {
    if (l.find(" " + name + " ") != std::string::npos && l.find("# of stacking:") != l.npos) {
      return stacked(l);
    }
  }
  return -1;
}

std::vector<float> samples(const std::vector<unsigned char>& bytes) {
  std::vector<float> y((bytes.size() - 632) / 4);
  std::memcpy(y.data(), bytes.data() + 632, y.size() * 4);
  return y;
}

// A header integer of a result written in this machine's byte order.
std::int32_t integer_at(const std::vector<unsigned char>& bytes, std::size_t offset) {
  std::int32_t v = 0;
  if (bytes.size() >= offset + 4) std::memcpy(&v, bytes.data() + offset, 4);
  return v;
}

// Index of the largest sample.
long peak_of(const std::vector<float>& y) {
  return std::max_element(y.begin(), y.end()) - y.begin();
}

// The same samples as `want`, or within 1e-5 of its largest value where the matrix engine
// sums in another order.
void expect_same(const std::vector<unsigned char>& want, const std::vector<unsigned char>& got,
                 bool exact, const std::string& label) {
  if (exact) {
    EXPECT_TRUE(got == want) << label << " differs";
    return;
  }
  ASSERT_EQ(got.size(), want.size()) << label;
  const auto w = samples(want);
  const auto g = samples(got);
  float peak = 0.0f;
  for (const float v : w) peak = std::isnan(v) ? peak : std::max(peak, std::fabs(v));
  for (std::size_t k = 0; k < w.size(); ++k) {
    if (std::isnan(w[k])) {
      ASSERT_TRUE(std::isnan(g[k])) << label;
    } else {
      ASSERT_LE(std::fabs(w[k] - g[k]), 1e-5f * peak) << label << " sample " << k;
    }
  }
}

// A record that starts 200 s later (its first 200 s cut, B + 200) lines up with the others by
// time: its pairs stack the windows both still hold, one fewer, and peak at the same lag.
TEST(TimeTrue, ARecordThatStartsLaterLinesUpByItsTime) {
  Noise waves_noise(71);
  const std::vector<float> waves = waves_noise.series(8200);
  const int delays[] = {0, 7, 15, 23};
  auto make = [&](Network& net, bool shifted) {
    for (int k = 0; k < 4; ++k) {
      Noise own(100 + static_cast<std::uint64_t>(k));
      auto y = delayed_waves(waves, delays[k], 0, 8000, own);
      Record r{
          "S" + std::to_string(k + 1), "BHZ", 30.0f + 0.1f * static_cast<float>(k), 20.0f, 1.0f, y};
      r.reference = day(100);
      if (shifted && k == 1) {
        r.samples.erase(r.samples.begin(), r.samples.begin() + 200);
        r.b = 200.0f;
      }
      net.add(r);
    }
    net.write_lists();
  };
  Network plain_net, shifted_net;
  make(plain_net, false);
  make(shifted_net, true);
  for (const std::string& engine : engines()) {
    SCOPED_TRACE(engine);
    const RunResult a = run_engine(plain_net, engine);
    const RunResult b = run_engine(shifted_net, engine);
    ASSERT_EQ(a.status, 0) << a.err;
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(b.err, "");
    const Files before = take_results(plain_net);
    const Files after = take_results(shifted_net);
    for (int i = 1; i <= 4; ++i) {
      for (int j = i; j <= 4; ++j) {
        const std::string name = Network::pair_name(i, j);
        const auto& want = before.at(name);
        const auto& got = after.at(name);
        if (i != 2 && j != 2) {
          EXPECT_TRUE(got == want) << name << " differs";
          continue;
        }
        EXPECT_EQ(stacking(b.out, name), stacking(a.out, name) - 1) << name;
        // Positive lag: a later arrival at the second station.
        EXPECT_EQ(peak_of(samples(got)), peak_of(samples(want))) << name;
        EXPECT_EQ(peak_of(samples(got)) - 1000, delays[j - 1] - delays[i - 1]) << name;
      }
    }
    // The results carry the start of the grid, the earliest record's.
    const auto& p12 = after.at("p1_2.sac");
    EXPECT_EQ(integer_at(p12, off::kNzyear), 2024);
    EXPECT_EQ(integer_at(p12, off::kNzjday), 100);
    EXPECT_EQ(integer_at(p12, off::kNzhour), 0);
    EXPECT_EQ(integer_at(p12, off::kNzmsec), 0);
  }
}

// Four records of different starts and lengths: the list in reverse and in a shuffled order
// gives every pair the same result, and its stations the other way round the mirrored one.
TEST(TimeTrue, TheOrderOfTheListChangesNoResult) {
  Network net;
  Noise waves_noise(5);
  const std::vector<float> waves = waves_noise.series(12000);
  const struct {
    std::size_t from, count;
    int delay;
  } records[] = {{0, 9000, 0}, {600, 7000, 9}, {1000, 8000, 4}, {300, 6000, 12}};
  const std::vector<std::string> names = {"A", "B", "C", "D"};
  for (std::size_t k = 0; k < 4; ++k) {
    Noise own(200 + k);
    Record r{names[k],
             "BHZ",
             30.0f + 0.1f * static_cast<float>(k),
             20.0f,
             1.0f,
             delayed_waves(waves, records[k].delay, records[k].from, records[k].count, own)};
    r.reference = day(120, 6);
    r.b = static_cast<float>(records[k].from);
    net.add(r);
  }
  const std::vector<std::vector<int>> orders = {{1, 2, 3, 4}, {4, 3, 2, 1}, {2, 4, 1, 3}};
  for (const std::string& engine : engines()) {
    SCOPED_TRACE(engine);
    Files first;
    std::string first_out;
    for (const auto& order : orders) {
      write_ordered_lists(net, order, names);
      const RunResult r = run_engine(net, engine);
      ASSERT_EQ(r.status, 0) << r.err;
      const Files files = take_results(net);
      ASSERT_EQ(files.size(), 10u);
      if (first.empty()) {
        first = files;
        first_out = r.out;
        // Every pair shares windows: A and D, the shortest and latest, from 2000 s on.
        EXPECT_EQ(r.err, "");
        continue;
      }
      if (engine == "matrix") {
        // Records of every start and length are rows of the products.
        const RunResult timed = net.run("B", "Y", 2, {"XCN_ENGINE=matrix", "XCN_TIMING=1"});
        EXPECT_EQ(exact_path_pairs(timed.err), 0) << timed.err;
        take_results(net);
      }
      for (const auto& [name, bytes] : files) {
        const auto it = first.find(name);
        if (it != first.end()) {
          expect_same(it->second, bytes, true, name);
          continue;
        }
        // pX_Y.sac is the mirror of pY_X.sac.
        const std::string mirror = "p" + name.substr(3, 1) + "_" + name.substr(1, 1) + ".sac";
        ASSERT_TRUE(first.count(mirror)) << name;
        EXPECT_EQ(stacking(r.out, name), stacking(first_out, mirror)) << name;
        EXPECT_EQ(peak_of(samples(bytes)), 2000 - peak_of(samples(first.at(mirror)))) << name;
      }
    }
  }
}

// The matrix engine blocks the stations in the order of their record names, not of the list:
// in one tile of twelve stations (where a pair's place in the product changed its last bits),
// in tiles of two and in sweeps, a shuffled list gives every pair the bytes it had.
TEST(TimeTrue, TheOrderOfTheListChangesNoByteOfTheMatrixEngine) {
  if (!kMatrixEngineBuilt) GTEST_SKIP() << "built without BLAS";
  Network net;
  Noise noise(31);
  std::vector<std::string> names;
  for (int k = 0; k < 12; ++k) {
    const std::size_t from = 500 * static_cast<std::size_t>(k % 5);
    names.push_back("W" + std::to_string(k));
    net.add(
        {names.back(), "BHZ", 35.0f + 0.4f * static_cast<float>(k),
         -110.0f + 0.3f * static_cast<float>(k), 1.0f,
         noise_with_burst(noise, 8000 - 300 * static_cast<std::size_t>(k % 3), from, from + 400)});
  }
  const std::vector<std::vector<int>> orders = {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
                                                {12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1},
                                                {3, 12, 6, 1, 9, 5, 11, 2, 8, 4, 10, 7}};
  for (const char* budget : {"1000", "1.5", "0.8"}) {
    SCOPED_TRACE(std::string("budget ") + budget);
    Files first;
    for (const auto& order : orders) {
      write_ordered_lists(net, order, names);
      const RunResult r =
          net.run("B", "Y", 2, {"XCN_ENGINE=matrix", std::string("XCN_MEMORY_BUDGET=") + budget});
      ASSERT_EQ(r.status, 0) << r.err;
      const Files files = take_results(net);
      ASSERT_EQ(files.size(), 78u);
      if (first.empty()) {
        first = files;
        continue;
      }
      int same = 0;
      for (const auto& [name, bytes] : files) {
        const auto it = first.find(name);
        if (it == first.end()) continue;
        EXPECT_EQ(bytes, it->second) << name;
        ++same;
      }
      EXPECT_GE(same, 12);
    }
  }
}

// A record at 100 Hz and one of 700 s, last, first or in the middle of the list, cost their own
// pairs only: every other pair is written as without them.
TEST(TimeTrue, ARecordAtAnotherIntervalOrTooShortCostsOnlyItsOwnPairs) {
  Network net;
  Noise noise(33);
  const std::vector<std::string> names = {"N1", "N2", "N3", "N4", "H", "S"};
  for (int k = 0; k < 4; ++k) {
    net.add({names[static_cast<std::size_t>(k)], "BHZ", 30.0f + 0.2f * static_cast<float>(k), 20.0f,
             1.0f, noise.series(6000)});
  }
  net.add({"H", "HHZ", 31.0f, 21.0f, 0.01f, noise.series(172800)});
  net.add({"S", "BHZ", 31.0f, 22.0f, 1.0f, noise.series(700)});
  const struct {
    const char* label;
    std::vector<int> order;
  } placements[] = {
      {"last", {1, 2, 3, 4, 5, 6}}, {"first", {5, 6, 1, 2, 3, 4}}, {"middle", {1, 2, 5, 6, 3, 4}}};
  for (const std::string& engine : engines()) {
    SCOPED_TRACE(engine);
    write_ordered_lists(net, {1, 2, 3, 4}, names);
    const RunResult base = run_engine(net, engine);
    ASSERT_EQ(base.status, 0) << base.err;
    const Files want = take_results(net);
    ASSERT_EQ(want.size(), 10u);
    for (const auto& p : placements) {
      SCOPED_TRACE(p.label);
      write_ordered_lists(net, p.order, names);
      const RunResult r = run_engine(net, engine);
      ASSERT_EQ(r.status, 0) << r.err;
      const Files got = take_results(net);
      for (const auto& [name, bytes] : want) {
        ASSERT_TRUE(got.count(name)) << name;
        expect_same(bytes, got.at(name), engine != "matrix", name);
      }
      const int h =
          static_cast<int>(std::find(p.order.begin(), p.order.end(), 5) - p.order.begin()) + 1;
      const int s = h + 1;
      EXPECT_NE(r.err.find("xcorrnet_v3: station " + std::to_string(h) +
                           " \"st5.sac\" has "
                           "sampling interval 0.01 s, not the run's 1 s; its pairs are skipped\n"),
                std::string::npos)
          << r.err;
      EXPECT_NE(r.err.find("xcorrnet_v3: warning: station " + std::to_string(s) +
                           " \"st6.sac\" holds 700 samples (700 s), fewer than one 2000 s "
                           "window; its pairs stack nothing\n"),
                std::string::npos)
          << r.err;
      // The short record's pairs with the four others and with itself.
      EXPECT_NE(r.err.find("xcorrnet_v3: 5 pairs share no window in time (a record shorter than "
                           "one window, or records that do not overlap); their results hold no "
                           "stack\n"),
                std::string::npos)
          << r.err;
      EXPECT_EQ(stacking(r.out, "pS_S.sac"), 0);
      EXPECT_TRUE(has_line(r.out, kSkip + pad("pH_H.sac", 50)));
    }
  }
}

// Records of two days share no window: their pairs are counted on standard error, and every
// result carries the start of the run's first window as its reference time.
TEST(TimeTrue, RecordsOfTwoDaysShareNoWindow) {
  Network net;
  Noise noise(8);
  const int jdays[] = {100, 100, 101};
  for (int k = 0; k < 3; ++k) {
    Record r{"D" + std::to_string(k + 1), "BHZ", 30.0f + 0.2f * static_cast<float>(k), 20.0f, 1.0f,
             noise.series(20000)};
    r.reference = day(jdays[k], 3, 30);
    net.add(r);
  }
  net.write_lists();
  for (const std::string& engine : engines()) {
    SCOPED_TRACE(engine);
    const RunResult r = run_engine(net, engine);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "xcorrnet_v3: 2 pairs share no window in time (a record shorter than one window, or "
              "records that do not overlap); their results hold no stack\n");
    EXPECT_EQ(stacking(r.out, "p1_3.sac"), 0);
    EXPECT_EQ(stacking(r.out, "p2_3.sac"), 0);
    EXPECT_EQ(stacking(r.out, "p3_3.sac"), 91);
    EXPECT_GT(stacking(r.out, "p1_2.sac"), 80);
    // Each result is dated by its own records: the later day where they do not overlap.
    for (const auto& [name, jday] :
         {std::pair{"p1_2.sac", 100}, std::pair{"p1_3.sac", 101}, std::pair{"p3_3.sac", 101}}) {
      const SacBytes p(net.file(name).string());
      EXPECT_EQ(p.i(off::kNzyear), 2024) << name;
      EXPECT_EQ(p.i(off::kNzjday), jday) << name;
      EXPECT_EQ(p.i(off::kNzhour), 3) << name;
      EXPECT_EQ(p.i(off::kNzmin), 30) << name;
    }
    EXPECT_TRUE(std::isnan(SacBytes(net.file("p1_3.sac").string()).samples()[1000]));
  }
  // The listing with XCN_TIMING=1 names them.
  const RunResult timed = net.run("B", "Y", 2, {"XCN_TIMING=1"});
  EXPECT_NE(timed.err.find("xcorrnet_v3: pair 3 \"p1_3.sac\" (stations 1 and 3) shares no window "
                           "in time\n"),
            std::string::npos)
      << timed.err;

  // A result whose reference time was lost gets it back from the header pass.
  std::string p12 = read_bytes(net.file("p1_2.sac"));
  const std::string complete = p12;
  const int undefined = -12345;
  std::memcpy(p12.data() + off::kNzjday, &undefined, 4);
  write_bytes(net.file("p1_2.sac"), p12);
  ASSERT_EQ(net.run("B", "N", 1).status, 0);
  EXPECT_EQ(read_bytes(net.file("p1_2.sac")), complete);
}

// A record of another day in a run re-dates none of the other pairs' results, so that the run
// without it finds them all its own.
TEST(TimeTrue, ARecordOfAnotherDayChangesNoOtherResultsDate) {
  Network net;
  Noise noise(10);
  for (int k = 0; k < 4; ++k) {
    Record r{"D" + std::to_string(k + 1), "BHZ", 30.0f + 0.2f * static_cast<float>(k), 20.0f, 1.0f,
             noise.series(6000)};
    r.reference = day(k < 3 ? 101 : 100, 0, 0);
    r.reference[5] = 250;  // a quarter of a second after midnight
    net.add(r);
  }
  net.write_lists();
  for (const std::string& engine : engines()) {
    SCOPED_TRACE(engine);
    ASSERT_EQ(run_engine(net, engine).status, 0);
    for (const auto& [name, jday] : {std::pair{"p1_2.sac", 101}, std::pair{"p3_3.sac", 101},
                                     std::pair{"p1_4.sac", 101}, std::pair{"p4_4.sac", 100}}) {
      const SacBytes p(net.file(name).string());
      EXPECT_EQ(p.i(off::kNzjday), jday) << name;
      EXPECT_EQ(p.i(off::kNzhour), 0) << name;
      EXPECT_EQ(p.i(off::kNzsec), 0) << name;
      EXPECT_EQ(p.i(off::kNzmsec), 250) << name;
    }
  }
  // The same run without the stray record keeps every result as it is.
  const std::string before = read_bytes(net.file("p1_2.sac"));
  {
    std::ofstream stations(net.file("stations"));
    stations << "st1.sac\nst2.sac\nst3.sac\n";
    std::ofstream names(net.file("names"));
    for (int i = 1; i <= 3; ++i) {
      for (int j = i; j <= 3; ++j) names << Network::pair_name(i, j) << '\n';
    }
  }
  const RunResult rerun = net.run("B", "N", 1);
  EXPECT_EQ(rerun.status, 0) << rerun.err;
  EXPECT_EQ(rerun.err, "");
  EXPECT_EQ(read_bytes(net.file("p1_2.sac")), before);
}

// A record without a reference time among dated ones is placed by B from the earliest dated
// start, and said so once; its results keep the reference time undefined.
TEST(TimeTrue, ARecordWithoutAReferenceTimeAmongDatedOnesIsReportedOnce) {
  Network net;
  Noise noise(9);
  for (int k = 0; k < 3; ++k) {
    Record r{"M" + std::to_string(k + 1), "BHZ", 30.0f + 0.2f * static_cast<float>(k), 20.0f, 1.0f,
             noise.series(6000)};
    if (k != 2) r.reference = day(50);
    r.b = k == 0 ? 0.5f : 0.0f;  // half a sample off the grid
    net.add(r);
  }
  net.write_lists();
  const RunResult r = net.run("B", "Y", 1);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "xcorrnet_v3: warning: 1 of 3 records have no reference time (NZYEAR undefined); they "
            "are placed by their begin time B from the earliest start of the others\n"
            "xcorrnet_v3: warning: station 1 \"st1.sac\" starts 0.50 samples off the run's window "
            "grid; its samples are taken at the nearest whole sample, which leaves out 1 window "
            "from 2024-02-19T00:00:00.000 (xcn_prep moves records onto the grid by a fraction of "
            "a sample)\n");
  EXPECT_EQ(SacBytes(net.file("p1_2.sac").string()).i(off::kNzyear), 2024);
  EXPECT_EQ(SacBytes(net.file("p1_3.sac").string()).i(off::kNzyear), -12345);
  // Station 1 is taken from the next whole sample: from the second window on.
  EXPECT_EQ(stacking(r.out, "p1_3.sac"), 20);
}

// A reference time that is no date places the record by B alone; a begin time that is no time
// leaves the record out.
TEST(TimeTrue, ARecordWhoseTimeCannotBeTakenIsReported) {
  const struct {
    std::array<int, 6> reference;
    float b;
    const char* report;
  } cases[] = {
      {{2024, 400, 0, 0, 0, 0},
       0.0f,
       "xcorrnet_v3: warning: station 2 \"st2.sac\" has a reference time that is no date "
       "(NZJDAY 400); it is placed by its begin time B alone\n"},
      {{2024, 10, -12345, 0, 0, 0},
       0.0f,
       "xcorrnet_v3: warning: station 2 \"st2.sac\" has a reference time that is no date "
       "(NZHOUR -12345); it is placed by its begin time B alone\n"},
      {{-12345, -12345, -12345, -12345, -12345, -12345},
       std::nanf(""),
       "xcorrnet_v3: station 2 \"st2.sac\" cannot be read: its begin time B nan is no time; its "
       "pairs are skipped\n"},
      {{-12345, -12345, -12345, -12345, -12345, -12345},
       3e10f,
       "xcorrnet_v3: station 2 \"st2.sac\" cannot be read: its begin time B 3e+10 is no time; "
       "its pairs are skipped\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.report);
    Network net;
    Noise noise(4);
    net.add({"A", "BHZ", 30.0f, 20.0f, 1.0f, noise.series(3000)});
    Record r{"B", "BHZ", 31.0f, 20.0f, 1.0f, noise.series(3000), c.b};
    r.reference = c.reference;
    net.add(r);
    net.write_lists();
    const RunResult run = net.run("B", "Y", 1);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, c.report);
  }
}

// A stretch of 10 000 zeros (a gap another program filled) is not counted: of the 91 windows,
// the 59 that hold any part of it are not taken, and it does not lower the bound of the others.
// The second case is a gap in one record of a pair: 75 windows were stacked where 57 lie in data.
TEST(TimeTrue, AWindowThatHoldsAnyPartOfAGapIsNotTaken) {
  struct Case {
    std::size_t from, to;
    int own, pair;
  };
  for (const Case c : {Case{5000, 15000, 32, 32}, Case{8000, 13000, 57, 57}}) {
    Network net;
    Noise noise(12);
    auto gapped = noise.series(20000);
    std::fill(gapped.begin() + static_cast<std::ptrdiff_t>(c.from),
              gapped.begin() + static_cast<std::ptrdiff_t>(c.to), 0.0f);
    net.add({"G1", "BHZ", 30.0f, 20.0f, 1.0f, gapped});
    net.add({"G2", "BHZ", 30.5f, 20.0f, 1.0f, noise.series(20000)});
    net.write_lists();
    for (const std::string& engine : engines()) {
      SCOPED_TRACE(engine + " " + std::to_string(c.from));
      const RunResult r = run_engine(net, engine);
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(stacking(r.out, "p1_1.sac"), c.own);
      EXPECT_EQ(stacking(r.out, "p1_2.sac"), c.pair);
      EXPECT_EQ(stacking(r.out, "p2_2.sac"), 91);
    }
  }
}

// Short runs of zeros are data (a quiet digitiser), 10 zeros at 1 Hz are a gap; at 20 Hz a gap
// is a second, 20 samples.
TEST(TimeTrue, AGapIsTenSamplesAndASecondOfZeros) {
  struct Case {
    float dt;
    std::size_t zeros;
    int taken;
  };
  for (const Case c :
       {Case{1.0f, 9, 41}, Case{1.0f, 10, 31}, Case{0.05f, 19, 41}, Case{0.05f, 20, 31}}) {
    SCOPED_TRACE(std::to_string(c.dt) + " " + std::to_string(c.zeros));
    const std::size_t per_window = static_cast<std::size_t>(std::lround(2000.0f / c.dt));
    const std::size_t step = per_window / 10;
    Network net;
    Noise noise(5);
    auto y = noise.series(per_window * 5);
    // Zeros 4100 s in: in windows 11 .. 20 of the 41 (those beginning 2200 s to 4000 s in).
    std::fill_n(y.begin() + static_cast<std::ptrdiff_t>(2 * per_window + step / 2), c.zeros, 0.0f);
    net.add({"Z1", "BHZ", 30.0f, 20.0f, c.dt, y});
    net.write_lists();
    const RunResult r = net.run("A", "Y", 1);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(stacking(r.out, "p1_1.sac"), c.taken);
  }
}

// A record whose mean is large against its noise (a DC offset of counts) keeps its windows:
// the deviations do not change when a constant is added to every sample.
TEST(TimeTrue, AnOffsetRecordTakesTheWindowsOfTheSameRecordWithout) {
  Noise noise(5);
  std::vector<std::vector<float>> records;
  for (int k = 0; k < 3; ++k) records.push_back(noise.series(20000));
  std::string counts[2];
  for (const float offset : {0.0f, 3000.0f}) {
    Network net;
    for (int k = 0; k < 3; ++k) {
      auto y = records[static_cast<std::size_t>(k)];
      if (k == 1) {
        for (float& v : y) v += offset;
      }
      net.add({"ST0" + std::to_string(k + 1), "BHZ", 30.0f + 0.3f * static_cast<float>(k), 20.0f,
               1.0f, y});
    }
    net.write_lists();
    for (const std::string& engine : engines()) {
      SCOPED_TRACE(engine + " " + std::to_string(offset));
      const RunResult r = run_engine(net, engine);
      ASSERT_EQ(r.status, 0) << r.err;
      std::string mine;
      for (const char* p :
           {"p1_1.sac", "p1_2.sac", "p1_3.sac", "p2_2.sac", "p2_3.sac", "p3_3.sac"}) {
        mine += std::to_string(stacking(r.out, p)) + " ";
      }
      EXPECT_EQ(stacking(r.out, "p2_2.sac"), 91);
      std::string& want = counts[offset == 0.0f ? 0 : 1];
      if (want.empty()) want = mine;
      EXPECT_EQ(mine, want);
    }
  }
  EXPECT_EQ(counts[0], counts[1]);
}

}  // namespace
}  // namespace xcn::test
