// Runs of the built xcn_stack on day results written through our library: stacking, ordering by
// date, sub-stacks, what is left out and why, and the files it will not replace.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <string>
#include <vector>

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
  std::optional<int> year, jday;  // reference time at midnight of that day
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
  if (r.year) {
    const int zero = 0;
    setnhv("NZYEAR", &*r.year, &nerr, -1);
    setnhv("NZJDAY", &*r.jday, &nerr, -1);
    for (const char* f : {"NZHOUR", "NZMIN", "NZSEC", "NZMSEC"}) setnhv(f, &zero, &nerr, -1);
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
}

}  // namespace
}  // namespace xcn::test
