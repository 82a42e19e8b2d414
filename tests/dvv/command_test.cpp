// The xcn_dvv command on results written through our library: what it recovers, what it leaves
// out and says, its tables, and its sides.
#include "dvv/command.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/common/scratch_dir.hpp"
#include "tests/dvv/coda.hpp"
#include "xcorrnet/sacio.h"

// fontconfig, under cairo's text (the picture), keeps its font cache for the life of the
// process; LeakSanitizer would report it at exit.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace xcn::dvv {
namespace {

constexpr int kNpts = 2001;
constexpr double kDelta = 1.0;

struct Station {
  const char* name;
  float lat, lon;
};
constexpr Station kStations[] = {{"ST01", 36.0f, -117.5f},
                                 {"ST02", 36.1f, -117.4f},
                                 {"ST03", 36.2f, -117.6f},
                                 {"ST04", 35.9f, -117.3f},
                                 {"ST05", 35.8f, -117.7f}};

// A result of the pair a-b (indices into kStations), dated day `day` of 2024 when day > 0.
void write_result(const std::filesystem::path& path, int a, int b, std::vector<float> y, int day,
                  std::string kevnm = {}) {
  int nerr = 0;
  newhdr();
  const int npts = static_cast<int>(y.size());
  const float delta = static_cast<float>(kDelta);
  const float begin = static_cast<float>(-(npts / 2)) * delta;
  if (kevnm.empty()) kevnm = std::string(kStations[a].name) + "-" + kStations[b].name;
  setnhv("NPTS", &npts, &nerr, -1);
  setfhv("DELTA", &delta, &nerr, -1);
  setfhv("B", &begin, &nerr, -1);
  setkhv("KEVNM", kevnm.c_str(), &nerr, -1, -1);
  setkhv("KCMPNM", "BHZ", &nerr, -1, -1);
  setfhv("EVLA", &kStations[a].lat, &nerr, -1);
  setfhv("EVLO", &kStations[a].lon, &nerr, -1);
  setfhv("STLA", &kStations[b].lat, &nerr, -1);
  setfhv("STLO", &kStations[b].lon, &nerr, -1);
  if (day > 0) {
    const int year = 2024, zero = 0;
    setnhv("NZYEAR", &year, &nerr, -1);
    setnhv("NZJDAY", &day, &nerr, -1);
    for (const char* f : {"NZHOUR", "NZMIN", "NZSEC", "NZMSEC"}) setnhv(f, &zero, &nerr, -1);
  }
  float x = 0;
  const std::string name = path.string();
  wsac0(name.c_str(), &x, y.data(), &nerr, -1);
  ASSERT_EQ(nerr, 0) << name;
}

std::string pair_file(int a, int b) {
  return std::string(kStations[a].name) + ".BHZ_" + kStations[b].name + ".BHZ.sac";
}

struct Outcome {
  int status = -1;
  std::string out, err;
};

Outcome run(const std::vector<std::string>& args) {
  Outcome r;
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  r.status = run_dvv(args, out, err);
  for (auto [file, text] : {std::pair{out, &r.out}, std::pair{err, &r.err}}) {
    std::rewind(file);
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text->append(buffer, n);
    std::fclose(file);
  }
  return r;
}

// The rows of a table, each split at its commas (no field here holds one).
std::vector<std::vector<std::string>> table(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::stringstream s(line);
    for (std::string f; std::getline(s, f, ',');) fields.push_back(f);
    if (!line.empty() && line.back() == ',') fields.emplace_back();
    rows.push_back(fields);
  }
  return rows;
}

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Arrivals at (1 - x) times their lags: dv/v = x.
double factor(double x) { return 1 / (1 - x); }

// Three pairs over three days with changes 0, 0.002, -0.003; the reference the coda itself.
// Day 2 holds ST01-ST03 as not-a-number (a day without a window), day 3 ST02-ST03 at another
// NPTS and a pair the reference lacks.
TEST(DvvCommand, MeasuresMatchedPairsAndSaysWhatItLeavesOut) {
  xcn::test::ScratchDir dir;
  const auto root = dir.path();
  const int pairs[][2] = {{0, 1}, {0, 2}, {1, 2}};
  const double change[] = {0.0, 0.002, -0.003};
  std::filesystem::create_directories(root / "ref");
  for (int p = 0; p < 3; ++p) {
    const test::Coda coda = test::make_coda(20 + p, 0.14, 0.26);
    write_result(root / "ref" / pair_file(pairs[p][0], pairs[p][1]), pairs[p][0], pairs[p][1],
                 test::sample(coda, kNpts, kDelta), 0);
    for (int d = 0; d < 3; ++d) {
      const auto folder = root / ("day" + std::to_string(d + 1));
      std::filesystem::create_directories(folder);
      std::vector<float> y = test::sample(coda, kNpts, kDelta, factor(change[d]));
      test::add_noise(y, 0.002, 7 * p + d);
      if (d == 1 && p == 1) y.assign(y.size(), std::nanf(""));
      if (d == 2 && p == 2) y.resize(1001);
      write_result(folder / pair_file(pairs[p][0], pairs[p][1]), pairs[p][0], pairs[p][1], y,
                   d + 10);
    }
  }
  write_result(root / "day3" / pair_file(3, 4), 3, 4,
               test::sample(test::make_coda(9, 0.14, 0.26), kNpts, kDelta), 12);
  // A pair name with a line break in its header is said on one line.
  write_result(root / "day3" / pair_file(3, 2), 3, 2,
               test::sample(test::make_coda(9, 0.14, 0.26), kNpts, kDelta), 12, "ST04\nST03");

  const auto out = root / "out";
  // The days given out of order: the tables are in time order.
  const Outcome r = run({"--ref", (root / "ref").string(), "--band", "0.1-0.3", "--lag", "20-150",
                         "--out", out.string(), (root / "day3").string(), (root / "day1").string(),
                         (root / "day2").string(), "--threads", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(count(r.err, "the pair ST04-ST05 is not in the reference; left out"), 1) << r.err;
  EXPECT_EQ(count(r.err, "the pair ST04?ST03 is not in the reference; left out"), 1) << r.err;
  EXPECT_EQ(count(r.err, "is all not-a-number"), 1) << r.err;
  EXPECT_EQ(count(r.err, "has 1001 samples at 1 s, not the 2001 at 1 s"), 1) << r.err;
  for (std::size_t at = 0, end = 0; at < r.err.size(); at = end + 1) {
    end = r.err.find('\n', at);
    EXPECT_EQ(r.err.compare(at, 9, "xcn_dvv: "), 0) << r.err.substr(at, end - at);
  }

  const auto rows = table(out / "dvv.csv");
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows[0], (std::vector<std::string>{"pair", "time", "method", "dvv", "error", "cc",
                                               "windows", "status", "input"}));
  // 3 pairs x 3 days x 2 methods, less the two results left out.
  ASSERT_EQ(rows.size(), 1u + 14u);
  const std::map<std::string, int> day_of = {{"2024-01-10T00:00:00.000Z", 0},
                                             {"2024-01-11T00:00:00.000Z", 1},
                                             {"2024-01-12T00:00:00.000Z", 2}};
  for (std::size_t k = 1; k < rows.size(); ++k) {
    const auto& row = rows[k];
    ASSERT_EQ(row.size(), 9u);
    ASSERT_TRUE(day_of.count(row[1])) << row[1];
    EXPECT_EQ(row[7], "ok") << row[0] << " " << row[1] << " " << row[2];
    const double x = change[day_of.at(row[1])];
    EXPECT_NEAR(std::stod(row[3]), x, 1e-4) << row[0] << " " << row[1] << " " << row[2];
    EXPECT_GT(std::stod(row[4]), 0);
    EXPECT_LT(std::stod(row[4]), 1e-3);
  }

  const auto network = table(out / "network.csv");
  ASSERT_EQ(network.size(), 1u + 6u);
  EXPECT_EQ(network[0],
            (std::vector<std::string>{"time", "method", "dvv", "error", "pairs", "input"}));
  const int expected_pairs[] = {3, 2, 2};
  for (std::size_t k = 1; k < network.size(); ++k) {
    const int d = day_of.at(network[k][0]);
    EXPECT_EQ(d, static_cast<int>((k - 1) % 3)) << "time order within each method";
    EXPECT_NEAR(std::stod(network[k][2]), change[d], 1e-4);
    EXPECT_EQ(std::stoi(network[k][4]), expected_pairs[d]);
  }
  std::ifstream png(out / "dvv.png", std::ios::binary);
  char magic[8] = {};
  png.read(magic, 8);
  EXPECT_EQ(std::string(magic + 1, 3), "PNG");
}

// Each side of a pair whose positive lags changed by 0.003 and negative ones by -0.002: the
// sides give their own change, both and the mean lie between.
TEST(DvvCommand, MeasuresTheSideAsked) {
  xcn::test::ScratchDir dir;
  const auto root = dir.path();
  std::filesystem::create_directories(root / "ref");
  std::filesystem::create_directories(root / "day");
  const test::Coda coda = test::make_coda(5, 0.14, 0.26, 1.0);
  write_result(root / "ref" / pair_file(0, 1), 0, 1, test::sample(coda, kNpts, kDelta), 0);
  write_result(root / "day" / pair_file(0, 1), 0, 1,
               test::sample(coda, kNpts, kDelta, factor(0.003), factor(-0.002)), 40);
  const struct {
    const char* side;
    double low, high;
  } cases[] = {{"positive", 0.003 - 5e-5, 0.003 + 5e-5},
               {"negative", -0.002 - 5e-5, -0.002 + 5e-5},
               {"both", -0.002 + 1e-4, 0.003 - 1e-4},
               {"mean", -0.002 + 1e-4, 0.003 - 1e-4}};
  for (const auto& c : cases) {
    const auto out = root / c.side;
    const Outcome r =
        run({"--ref", (root / "ref").string(), "--band", "0.1-0.3", "--lag", "20-150", "--side",
             c.side, "--method", "stretching", "--out", out.string(), (root / "day").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto rows = table(out / "dvv.csv");
    ASSERT_EQ(rows.size(), 2u) << c.side;
    EXPECT_EQ(rows[1][2], "stretching");
    const double dvv = std::stod(rows[1][3]);
    EXPECT_GE(dvv, c.low) << c.side;
    EXPECT_LE(dvv, c.high) << c.side;
  }
}

// Bad command lines get one line and status 2; inputs without a pair of the reference, or a
// reference that cannot serve, give 1; none writes anything.
TEST(DvvCommand, RefusesBadCommandLines) {
  xcn::test::ScratchDir dir;
  std::filesystem::create_directories(dir.path() / "ref");
  std::filesystem::create_directories(dir.path() / "other");
  const test::Coda coda = test::make_coda(3, 0.14, 0.26);
  write_result(dir.path() / "ref" / pair_file(0, 1), 0, 1, test::sample(coda, kNpts, kDelta), 0);
  write_result(dir.path() / "other" / pair_file(2, 3), 2, 3, test::sample(coda, kNpts, kDelta), 3);
  // A silent reference cannot serve: its pair is said and nothing is measured.
  std::filesystem::create_directories(dir.path() / "silent");
  std::filesystem::create_directories(dir.path() / "day");
  write_result(dir.path() / "silent" / pair_file(0, 1), 0, 1, std::vector<float>(kNpts, 0.0f), 0);
  write_result(dir.path() / "day" / pair_file(0, 1), 0, 1, test::sample(coda, kNpts, kDelta), 3);
  const std::string silent = (dir.path() / "silent").string();
  const std::string day = (dir.path() / "day").string();
  const std::string ref = (dir.path() / "ref").string();
  const std::string other = (dir.path() / "other").string();
  const std::string out = (dir.path() / "out").string();
  const struct {
    std::vector<std::string> args;
    int status;
    const char* says;
  } cases[] = {
      {{"--band", "0.1-0.3", "--out", out, other}, 2, "no reference (--ref REF)"},
      {{"--ref", ref, "--out", out, other}, 2, "no band"},
      {{"--ref", ref, "--band", "0.3-0.1", "--out", out, other}, 2, "--band"},
      {{"--ref", ref, "--band", "0.1-0.3", "--out", out, "--side", "up", other}, 2, "--side"},
      {{"--ref", ref, "--band", "0.1-0.3", "--out", out, "--max-dvv", "0.6", other},
       2,
       "--max-dvv"},
      {{"--ref", ref, "--band", "0.1-0.3", "--out", out}, 2, "no input"},
      {{"--ref", ref, "--band", "0.1-0.3", "--out", out, "--lag", "20-150", other},
       1,
       "nothing to measure"},
      {{"--ref", silent, "--band", "0.1-0.3", "--out", out, "--lag", "20-150", day},
       1,
       "no pair could be measured; nothing written"},
      // An input that does not exist, named with a line break, is said on one line.
      {{"--ref", ref, "--band", "0.1-0.3", "--out", out, "no\nsuch"}, 2, "cannot read \"no?such\""},
  };
  for (const auto& c : cases) {
    const Outcome r = run(c.args);
    EXPECT_EQ(r.status, c.status) << c.says << ": " << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    // Every line is the program's own, whatever the names it quotes.
    std::istringstream lines(r.err);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_EQ(line.rfind("xcn_dvv: ", 0), 0u) << line;
    }
    EXPECT_FALSE(std::filesystem::exists(out)) << c.says;
  }
}

}  // namespace
}  // namespace xcn::dvv
