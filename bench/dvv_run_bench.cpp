// Benchmark of xcn_dvv end to end through its library function: N stations (all N(N-1)/2
// pairs, 2000 samples at 1 s) with a reference stack and D dated inputs whose codas are
// stretched by a known dv/v, written through our library as the tool writes results; then
// xcn_dvv with both methods, reading every file, measuring and writing its tables and picture,
// the median of R runs, each into a fresh folder. What is timed: the whole run_dvv call. The
// lag window is given (20-120 s, the default of pairs this close), as the results carry no DIST.
//
// Usage: bench_dvv_run [--stations 101] [--days 30] [--repeat 3] [--workers 2] [--keep DIR]
#include <omp.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "bench/day_results.hpp"
#include "dvv/command.hpp"

namespace {

namespace fs = std::filesystem;

using xcn::bench::station;

constexpr int kNpts = 2000;

// A pair's coda: decaying wave packets in 0.1-0.3 Hz, read at lag t * factor.
struct Coda {
  double f[4], phase[4];
  explicit Coda(unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(0, 1);
    for (int k = 0; k < 4; ++k) {
      f[k] = 0.12 + 0.16 * u(gen);
      phase[k] = 2 * std::numbers::pi * u(gen);
    }
  }
  void sample(double factor, std::mt19937& gen, std::vector<float>& y) const {
    std::normal_distribution<float> noise(0.0f, 0.02f);
    for (int k = 0; k < kNpts; ++k) {
      const double t = (k - kNpts / 2) * factor;
      double v = 0;
      for (int c = 0; c < 4; ++c) v += std::cos(2 * std::numbers::pi * f[c] * t + phase[c]);
      y[static_cast<std::size_t>(k)] =
          static_cast<float>(std::exp(-std::fabs(t) / 300) * v) + noise(gen);
    }
  }
};

// The change of day d: a slow rise of 0.2 %.
double change(int day, int days) { return 0.002 * day / std::max(1, days - 1); }

// One folder of results: the reference (day < 0) or a day.
void write_folder(const fs::path& folder, int day, int days, int stations) {
  fs::create_directories(folder);
  std::ofstream names(folder / "names.txt");
  std::vector<std::pair<int, int>> pairs;
  for (int i = 1; i <= stations; ++i) {
    for (int j = i + 1; j <= stations; ++j) pairs.emplace_back(i, j);
  }
  const double factor = day < 0 ? 1.0 : 1.0 / (1.0 - change(day, days));
  constexpr std::size_t kBlock = 256;
  std::vector<std::vector<float>> block(kBlock, std::vector<float>(kNpts));
  for (std::size_t first = 0; first < pairs.size(); first += kBlock) {
    const std::size_t count = std::min(kBlock, pairs.size() - first);
#pragma omp parallel for schedule(static)
    for (std::size_t k = 0; k < count; ++k) {
      const auto [i, j] = pairs[first + k];
      std::mt19937 gen(static_cast<unsigned>(first + k) * 977u + static_cast<unsigned>(day + 7));
      Coda(static_cast<unsigned>(i * 1000 + j)).sample(factor, gen, block[k]);
    }
    for (std::size_t k = 0; k < count; ++k) {
      const auto [i, j] = pairs[first + k];
      const std::string name = station(i) + "_" + station(j) + ".sac";
      xcn::bench::write_day_result(folder / name, i, j, 100 + std::max(day, 0), block[k],
                                   "bench_dvv_run");
      names << name << '\n';
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  xcn::bench::DaysOptions o;
  o.stations = 101;
  if (!xcn::bench::parse_days_options(argc, argv, o) || o.stations < 2) {
    std::fprintf(stderr,
                 "usage: bench_dvv_run [--stations N] [--days D] [--repeat R] [--workers W] "
                 "[--keep DIR]\n");
    return 2;
  }
  if (std::getenv("SACAUX") == nullptr) setenv("SACAUX", XCN_SHARE, 1);
  fs::path dir = o.keep;
  if (dir.empty()) {
    char name[] = "/tmp/xcn-bench-dvv-XXXXXX";
    if (mkdtemp(name) == nullptr) return 1;
    dir = name;
  }
  const long pairs = static_cast<long>(o.stations) * (o.stations - 1) / 2;
  const auto gen_start = std::chrono::steady_clock::now();
  if (!fs::exists(dir / "ref" / "names.txt")) write_folder(dir / "ref", -1, o.days, o.stations);
  std::vector<std::string> args = {"--ref",     (dir / "ref" / "names.txt").string(),
                                   "--band",    "0.1-0.3",
                                   "--method",  "both",
                                   "--lag",     "20-120",
                                   "--threads", std::to_string(o.workers),
                                   "--out",     ""};
  for (int d = 0; d < o.days; ++d) {
    char folder[16];
    std::snprintf(folder, sizeof folder, "day%02d", d + 1);
    if (!fs::exists(dir / folder / "names.txt")) write_folder(dir / folder, d, o.days, o.stations);
    args.push_back((dir / folder / "names.txt").string());
  }
  std::printf(
      "bench_dvv_run: %d stations x %d inputs (%ld pairs x %d results and a reference) "
      "in %s, made in %.1f s\n",
      o.stations, o.days, pairs, o.days, dir.c_str(),
      std::chrono::duration<double>(std::chrono::steady_clock::now() - gen_start).count());
  std::vector<double> walls;
  int status = 0;
  for (int r = 0; r < o.repeat; ++r) {
    const fs::path out = dir / ("out" + std::to_string(r));
    fs::remove_all(out);
    args[11] = out.string();
    std::FILE* sink = std::fopen("/dev/null", "w");
    const auto start = std::chrono::steady_clock::now();
    const int s = xcn::dvv::run_dvv(args, sink, sink);
    walls.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    std::fclose(sink);
    if (s != 0) status = 1;
    fs::remove_all(out);
    std::printf("  run %d: %.2f s (status %d)\n", r + 1, walls.back(), s);
  }
  std::sort(walls.begin(), walls.end());
  const double median = walls[walls.size() / 2];
  std::printf(
      "xcn_dvv, both methods, %d workers: median %.2f s of %d runs, %.0f measurements/s "
      "(reading, measuring and writing)\n",
      o.workers, median, o.repeat, 2.0 * static_cast<double>(pairs) * o.days / median);
  if (o.keep.empty()) fs::remove_all(dir);
  return status;
}
