// Benchmark of xcn_stack: N stations x D days of day results (all N(N+1)/2 pairs a day, 2000
// samples at 1 s, dated a day apart, written through our library as the tool writes them), then
// the linear stack alone and the linear and phase-weighted stacks together, each the median of
// R runs, each into a fresh folder: wall time, results per second, and the share of the run
// spent reading files.
//
// Usage: bench_stack [--stations 100] [--days 30] [--repeat 3] [--workers 2] [--keep DIR]
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "bench/day_results.hpp"

namespace {

namespace fs = std::filesystem;

using xcn::bench::station;
using Options = xcn::bench::DaysOptions;

// One day's results: noise drawn anew each day plus a wavelet at a lag fixed for the pair.
void write_day(const fs::path& folder, int day, int stations) {
  fs::create_directories(folder);
  std::ofstream names(folder / "names.txt");
  std::mt19937 gen(1000u + static_cast<unsigned>(day));
  std::normal_distribution<float> noise(0.0f, 0.01f);
  std::vector<float> y(2000);
  for (int i = 1; i <= stations; ++i) {
    for (int j = i; j <= stations; ++j) {
      const int lag = 1000 + (i * 37 + j * 11) % 300;
      for (int k = 0; k < 2000; ++k) {
        const float t = static_cast<float>(k - lag) / 3.0f;
        y[k] = noise(gen) + 0.05f * std::exp(-t * t);
      }
      const std::string name = station(i) + "_" + station(j) + ".sac";
      xcn::bench::write_day_result(folder / name, i, j, 100 + day, y, "bench_stack");
      names << name << '\n';
    }
  }
}

struct Run {
  double wall_s = 0;
  std::string timing;
  bool ok = false;
};

Run run_stack(const fs::path& dir, const std::vector<std::string>& args, int workers) {
  const fs::path err = dir / "stack.err";
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    std::freopen("/dev/null", "w", stdout);
    std::freopen(err.c_str(), "w", stderr);
    setenv("XCN_TIMING", "1", 1);
    setenv("OMP_NUM_THREADS", std::to_string(workers).c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(XCN_STACK)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(XCN_STACK, argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  Run r;
  r.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  std::ifstream in(err);
  for (std::string line; std::getline(in, line);) {
    if (line.find("timing") != std::string::npos) r.timing = line;
  }
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!xcn::bench::parse_days_options(argc, argv, o)) {
    std::fprintf(stderr,
                 "usage: bench_stack [--stations N] [--days D] [--repeat R] [--workers W] "
                 "[--keep DIR]\n");
    return 2;
  }
  if (std::getenv("SACAUX") == nullptr) setenv("SACAUX", XCN_SHARE, 1);
  fs::path dir = o.keep;
  if (dir.empty()) {
    char name[] = "/tmp/xcn-bench-stack-XXXXXX";
    if (mkdtemp(name) == nullptr) return 1;
    dir = name;
  }
  const long pairs = static_cast<long>(o.stations) * (o.stations + 1) / 2;
  const long results = pairs * o.days;
  std::vector<std::string> lists;
  const auto gen_start = std::chrono::steady_clock::now();
  for (int d = 0; d < o.days; ++d) {
    char folder[16];
    std::snprintf(folder, sizeof folder, "day%02d", d + 1);
    if (!fs::exists(dir / folder / "names.txt")) write_day(dir / folder, d, o.stations);
    lists.push_back(std::string(folder) + "/names.txt");
  }
  std::printf("bench_stack: %d stations x %d days (%ld pairs x %d results) in %s, made in %.1f s\n",
              o.stations, o.days, pairs, o.days, dir.c_str(),
              std::chrono::duration<double>(std::chrono::steady_clock::now() - gen_start).count());
  std::printf("%-26s %10s %12s  %s\n", "stacks", "wall (s)", "results/s",
              "xcn_stack's timing line");
  int status = 0;
  for (const char* kind : {"linear", "both"}) {
    std::vector<std::string> args = {"--out", std::string("out_") + kind, "--kind", kind};
    args.insert(args.end(), lists.begin(), lists.end());
    std::vector<Run> runs;
    for (int r = 0; r < o.repeat; ++r) {
      // Each run into a fresh folder: replacing files costs more on some file systems (ext4
      // writes out a file renamed over another at once).
      fs::remove_all(dir / args[1]);
      runs.push_back(run_stack(dir, args, o.workers));
    }
    std::sort(runs.begin(), runs.end(),
              [](const Run& a, const Run& b) { return a.wall_s < b.wall_s; });
    const Run& median = runs[runs.size() / 2];
    if (!median.ok) status = 1;
    std::printf("%-26s %10.2f %12.0f  %s\n",
                kind == std::string("both") ? "linear and phase-weighted" : "linear", median.wall_s,
                static_cast<double>(results) / median.wall_s, median.timing.c_str());
  }
  if (o.keep.empty()) fs::remove_all(dir);
  return status;
}
