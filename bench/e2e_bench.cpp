// End-to-end benchmark: xcorrnet_v3 on synthetic one-day networks at 1 Hz in mode B, with the
// pair engine, the plain pair loop, and the plain pair loop on the reference FFT (the tool as it
// was before either was made fast), timed, measured for peak memory and compared file by file;
// then the largest network again under a small memory budget.
//
// Usage: bench_e2e [--stations 20,100] [--repeat 3] [--workers 2] [--skip-plain]
//                  [--skip-reference] [--budget MIB] [--keep DIR]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Options {
  std::vector<int> stations = {20, 100};
  int repeat = 3;
  int workers = 2;
  bool plain = true;
  bool reference = true;  // the plain loop on the reference FFT: minutes for 100 stations
  double budget_mib = 256.0;
  std::string keep;  // folder for the networks; a scratch folder when empty
};

// One run of the tool.
struct Run {
  double wall_s = 0.0;
  double cpu_s = 0.0;                                  // user and system time of the tool
  double peak_mib = 0.0;                               // largest resident set
  double read_s = 0.0, pairs_s = 0.0, header_s = 0.0;  // the tool's own phase times
  std::string timing;                                  // its timing lines
  bool ok = false;
};

// Runs `program` in `dir` with extra environment entries, output to files in `dir`.
Run run_program(const std::string& program, const std::vector<std::string>& args,
                const fs::path& dir, const std::vector<std::string>& env) {
  Run r;
  const fs::path err_path = dir / "bench.err";
  std::fflush(nullptr);  // nothing buffered may be written twice
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    if (!std::freopen("bench.out", "w", stdout) || !std::freopen("bench.err", "w", stderr)) {
      _exit(127);
    }
    for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  r.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  r.cpu_s = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  r.peak_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux

  std::ifstream err(err_path);
  std::stringstream text;
  text << err.rdbuf();
  for (std::string line; std::getline(text, line);) {
    if (line.find("timing:") != std::string::npos) r.timing += line + "\n";
  }
  std::smatch m;
  const std::regex phases(R"(read ([0-9.]+) s, pair loop ([0-9.]+) s, header pass ([0-9.]+) s)");
  if (std::regex_search(r.timing, m, phases)) {
    r.read_s = std::stod(m[1]);
    r.pairs_s = std::stod(m[2]);
    r.header_s = std::stod(m[3]);
  }
  return r;
}

std::vector<std::string> result_names(const fs::path& dir) {
  std::vector<std::string> names;
  std::ifstream in(dir / "names.txt");
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) names.push_back(line);
  }
  return names;
}

using Files = std::map<std::string, std::string>;

// The result files of a run, by name; removed so that the next run writes fresh files.
Files take_results(const fs::path& dir) {
  Files files;
  for (const auto& name : result_names(dir)) {
    std::ifstream in(dir / name, std::ios::binary);
    files[name] = std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    fs::remove(dir / name);
  }
  return files;
}

int differing(const Files& a, const Files& b) {
  int n = 0;
  for (const auto& [name, bytes] : a) {
    const auto it = b.find(name);
    n += it == b.end() || it->second != bytes || bytes.empty();
  }
  return n + static_cast<int>(b.size() > a.size() ? b.size() - a.size() : 0);
}

// The median run by wall time.
Run median(std::vector<Run> runs) {
  std::sort(runs.begin(), runs.end(),
            [](const Run& a, const Run& b) { return a.wall_s < b.wall_s; });
  return runs[runs.size() / 2];
}

bool parse(int argc, char** argv, Options& o) {
  for (int k = 1; k < argc; ++k) {
    const std::string a = argv[k];
    auto value = [&]() -> std::string { return k + 1 < argc ? argv[++k] : ""; };
    if (a == "--skip-plain") {
      o.plain = false;
      o.reference = false;
    } else if (a == "--skip-reference") {
      o.reference = false;
    } else if (a == "--stations") {
      o.stations.clear();
      std::stringstream list(value());
      for (std::string item; std::getline(list, item, ',');)
        o.stations.push_back(std::atoi(item.c_str()));
    } else if (a == "--repeat") {
      o.repeat = std::max(1, std::atoi(value().c_str()));
    } else if (a == "--workers") {
      o.workers = std::max(1, std::atoi(value().c_str()));
    } else if (a == "--budget") {
      o.budget_mib = std::atof(value().c_str());
    } else if (a == "--keep") {
      o.keep = value();
    } else {
      std::fprintf(stderr,
                   "usage: bench_e2e [--stations 20,100] [--repeat 3] [--workers 2] "
                   "[--skip-plain] [--skip-reference] [--budget MIB] [--keep DIR]\n");
      return false;
    }
  }
  return true;
}

void print_run(const char* what, const Run& r, long pairs, int workers) {
  const double phases = r.read_s + r.pairs_s + r.header_s;
  std::printf(
      "  %-7s %8.2f s  %7.3f ms/pair/core  %8.1f pairs/s  cpu %7.2f s  peak %7.1f MiB"
      "  read %4.1f%%  pairs %4.1f%%  header %4.1f%%\n",
      what, r.wall_s, r.wall_s * 1e3 * workers / static_cast<double>(pairs),
      static_cast<double>(pairs) / r.wall_s, r.cpu_s, r.peak_mib,
      phases > 0 ? 100 * r.read_s / r.wall_s : 0.0, phases > 0 ? 100 * r.pairs_s / r.wall_s : 0.0,
      phases > 0 ? 100 * r.header_s / r.wall_s : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, o)) return 2;
  const std::string tool = XCN_TOOL;
  const std::string synth = XCN_SYNTH;
  const std::string sacaux =
      std::string("SACAUX=") + (std::getenv("SACAUX") ? std::getenv("SACAUX") : XCN_SHARE);
  const std::string workers = "OMP_NUM_THREADS=" + std::to_string(o.workers);
  fs::path root = o.keep;
  if (root.empty()) {
    char name[] = "/tmp/xcn-bench-XXXXXX";
    if (!mkdtemp(name)) return 1;
    root = name;
  }
  std::printf(
      "xcorrnet_v3 end to end: one day at 1 Hz per station, mode B, %d workers, median "
      "of %d runs (the plain loops once); ref-fft: the plain loop on the reference FFT\n",
      o.workers, o.repeat);
  int failures = 0;
  for (const int n : o.stations) {
    const fs::path dir = root / std::to_string(n);
    fs::create_directories(dir);
    const Run made =
        run_program(synth, {"--stations", std::to_string(n), "--out", "."}, dir, {sacaux});
    if (!made.ok) {
      std::fprintf(stderr, "bench_e2e: xcn_synth failed in %s\n", dir.c_str());
      return 1;
    }
    take_results(dir);  // results of an earlier run kept in --keep
    const long pairs = static_cast<long>(n) * (n + 1) / 2;
    const std::vector<std::string> args = {"stations.txt", "names.txt", "B", "Y"};

    std::vector<Run> fast;
    Files fast_files;
    for (int k = 0; k < o.repeat; ++k) {
      fast.push_back(run_program(tool, args, dir, {sacaux, workers, "XCN_TIMING=1"}));
      fast_files = take_results(dir);
      failures += !fast.back().ok;
    }
    const Run f = median(fast);
    std::printf("%d stations, %ld pairs\n", n, pairs);
    print_run("engine", f, pairs, o.workers);
    std::printf("%s", f.timing.c_str());
    const struct {
      bool wanted;
      const char* label;
      std::vector<std::string> env;
    } references[] = {
        {o.plain, "plain", {"XCN_ENGINE=plain"}},
        {o.reference, "ref-fft", {"XCN_ENGINE=plain", "XCN_FFT_ISA=plain"}},
    };
    for (const auto& ref : references) {
      if (!ref.wanted) continue;
      std::vector<std::string> env = {sacaux, workers, "XCN_TIMING=1"};
      env.insert(env.end(), ref.env.begin(), ref.env.end());
      const Run p = run_program(tool, args, dir, env);
      const Files files = take_results(dir);
      failures += !p.ok;
      print_run(ref.label, p, pairs, o.workers);
      const int diff = differing(files, fast_files);
      failures += diff != 0;
      std::printf("  the engine is %.1f times faster; result files %s (%zu compared)\n",
                  p.wall_s / f.wall_s, diff == 0 ? "byte-identical" : "DIFFER", files.size());
    }
    if (n == o.stations.back() && o.budget_mib > 0) {
      char budget[64];
      std::snprintf(budget, sizeof budget, "XCN_MEMORY_BUDGET=%g", o.budget_mib);
      const Run b = run_program(tool, args, dir, {sacaux, workers, "XCN_TIMING=1", budget});
      const Files budget_files = take_results(dir);
      failures += !b.ok;
      // The station table: one row of 172800 samples per station (pages of unread rows stay
      // untouched).
      const double table_mib = n * 172800.0 * 4 / 1048576.0;
      const int diff = differing(budget_files, fast_files);
      const bool within = b.peak_mib <= o.budget_mib + table_mib;
      failures += diff != 0 || !within;
      std::printf("  budget %g MiB:\n", o.budget_mib);
      print_run("tiled", b, pairs, o.workers);
      std::printf("%s", b.timing.c_str());
      std::printf(
          "  result files %s; peak %.1f MiB %s the budget plus the station table "
          "(%.1f MiB)\n",
          diff == 0 ? "byte-identical" : "DIFFER", b.peak_mib, within ? "within" : "ABOVE",
          o.budget_mib + table_mib);
    }
  }
  if (o.keep.empty()) fs::remove_all(root);
  return failures == 0 ? 0 : 1;
}
