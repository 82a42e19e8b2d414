// End-to-end benchmark: xcorrnet_v3 on synthetic one-day networks at 1 Hz in mode B. The exact
// engine and the matrix engine side by side on each network: pair stage per pair, wall time,
// peak memory and the matrix engine's largest deviation from the exact results; on networks of
// up to 100 stations also the plain pair loop and the plain loop on the reference FFT (the tool
// as it was before either engine), compared file by file; the smallest network again under a
// small memory budget. Then the cost of the files with the default engine, on the first network
// of up to 100 stations and on a thousand-station day: a fresh run, Y over its results and N
// over final results, against the file system's floor measured in the same run.
//
// Usage: bench_e2e [--stations 100,400] [--repeat 3] [--workers 2] [--skip-plain]
//                  [--skip-reference] [--budget MIB] [--big 1000] [--skip-big]
//                  [--big-repeat 1] [--one-folder] [--keep DIR]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
  std::vector<int> stations = {100, 400};
  int repeat = 3;  // runs per engine on networks of up to 100 stations; one above
  int workers = 2;
  bool plain = true;
  bool reference = true;  // the plain loop on the reference FFT: minutes for 100 stations
  double budget_mib = 256.0;
  int big = 1000;       // stations of the large day; 0: none
  int big_repeat = 1;   // runs of each kind on it
  bool folders = true;  // its results in a folder per first record (xcn_synth --folders)
  std::string keep;     // folder for the networks; a scratch folder when empty
};

// Networks above this size are too slow for the plain loops and for repeats.
constexpr int kSmallNetwork = 100;

// One run of the tool.
struct Run {
  double wall_s = 0.0;
  double cpu_s = 0.0;                                  // user and system time of the tool
  double peak_mib = 0.0;                               // largest resident set
  double read_s = 0.0, pairs_s = 0.0, header_s = 0.0;  // the tool's own phase times
  double correlation_cpu_s = 0.0;  // processor time of the pair stage's correlations
  double writing_cpu_s = 0.0;      // and of its progress lines and result files
  std::string timing;              // its timing lines
  std::string out;                 // its standard output
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
  const std::regex cpu(
      R"(processor: correlation ([0-9.]+) s(?: of which products [0-9.]+ s)?, writing ([0-9.]+) s)");
  if (std::regex_search(r.timing, m, cpu)) {
    r.correlation_cpu_s = std::stod(m[1]);
    r.writing_cpu_s = std::stod(m[2]);
  }
  std::ifstream out(dir / "bench.out");
  std::stringstream lines;
  lines << out.rdbuf();
  r.out = lines.str();
  return r;
}

// Standard output in a fixed order: workers print their lines in any.
std::vector<std::string> sorted_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
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

// The samples of a result file (written in this machine's byte order).
std::vector<float> samples_of(const std::string& bytes) {
  if (bytes.size() < 632) return {};
  std::vector<float> y((bytes.size() - 632) / 4);
  std::memcpy(y.data(), bytes.data() + 632, y.size() * 4);
  return y;
}

// How far one run's results lie from another's: per file the largest difference over the
// largest magnitude of the reference, and files whose NaN lie elsewhere.
struct Deviation {
  double worst = 0.0;
  std::string worst_name;
  int nan_elsewhere = 0;
  int missing = 0;
};
Deviation deviation(const Files& reference, const Files& other) {
  Deviation d;
  for (const auto& [name, bytes] : reference) {
    const auto it = other.find(name);
    if (it == other.end() || it->second.size() != bytes.size()) {
      ++d.missing;
      continue;
    }
    const std::vector<float> e = samples_of(bytes);
    const std::vector<float> m = samples_of(it->second);
    double peak = 0.0;
    double diff = 0.0;
    bool nan_elsewhere = false;
    for (std::size_t k = 0; k < e.size(); ++k) {
      if (std::isnan(e[k]) || std::isnan(m[k])) {
        nan_elsewhere = nan_elsewhere || std::isnan(e[k]) != std::isnan(m[k]);
        continue;
      }
      peak = std::max(peak, std::fabs(double{e[k]}));
      diff = std::max(diff, std::fabs(double{m[k]} - double{e[k]}));
    }
    d.nan_elsewhere += nan_elsewhere;
    const double rel = peak > 0.0 ? diff / peak : diff;
    if (rel > d.worst) {
      d.worst = rel;
      d.worst_name = name;
    }
  }
  return d;
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
    } else if (a == "--big") {
      o.big = std::max(0, std::atoi(value().c_str()));
    } else if (a == "--skip-big") {
      o.big = 0;
    } else if (a == "--big-repeat") {
      o.big_repeat = std::max(1, std::atoi(value().c_str()));
    } else if (a == "--one-folder") {
      o.folders = false;
    } else if (a == "--keep") {
      o.keep = value();
    } else {
      std::fprintf(stderr,
                   "usage: bench_e2e [--stations 100,400] [--repeat 3] [--workers 2] "
                   "[--skip-plain] [--skip-reference] [--budget MIB] [--big 1000] [--skip-big] "
                   "[--big-repeat 1] [--one-folder] [--keep DIR]\n");
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

// The pair stage of an engine: processor time of its correlations per pair (all cores added
// up), its wall time per pair and core, and what writing took besides.
void print_stage(const char* what, const Run& r, long pairs, int workers) {
  std::printf(
      "  %-7s pair stage %8.1f us/pair processor (correlations), %8.1f us/pair/core wall "
      "(with writing; %6.1f us/pair processor of writing); end to end %7.2f s, peak %7.1f MiB; "
      "read %.2f s, pair loop %.2f s, header pass %.2f s\n",
      what, r.correlation_cpu_s * 1e6 / static_cast<double>(pairs),
      r.pairs_s * 1e6 * workers / static_cast<double>(pairs),
      r.writing_cpu_s * 1e6 / static_cast<double>(pairs), r.wall_s, r.peak_mib, r.read_s, r.pairs_s,
      r.header_s);
}

// Writing results once: the run that wrote them (fresh), the same again with Y over them, and
// with N over final results; end to end with the files per second, the per-file cost of the
// pair loop's writes and of the header pass, and the peak memory.
void print_writes(const char* what, const Run& r, long files) {
  const double f = static_cast<double>(files);
  std::printf(
      "  %-6s end to end %7.2f s (%8.0f files/s); pair loop %7.2f s (%6.1f us/file, writing "
      "%6.1f us/file processor); header pass %6.3f s (%5.1f us/file); peak %7.1f MiB\n",
      what, r.wall_s, f / r.wall_s, r.pairs_s, r.pairs_s * 1e6 / f, r.writing_cpu_s * 1e6 / f,
      r.header_s, r.header_s * 1e6 / f, r.peak_mib);
}

// The file system's own floor for writing the results: `files` files of `bytes` bytes created
// in one new folder of `dir` by one writer, each through a named temporary and a rename, or
// (`unnamed`) written unnamed and then linked under its name as the tool writes a new result;
// the wall time, measured here so that a run compares with the same disk's mood. -1 where it
// cannot be done.
double floor_seconds(const fs::path& dir, long files, std::size_t bytes, bool unnamed) {
  const fs::path folder = dir / "floor";
  fs::remove_all(folder);
  fs::create_directory(folder);
  const std::vector<char> content(bytes, 'x');
  const auto start = std::chrono::steady_clock::now();
  for (long k = 0; k < files; ++k) {
    const std::string name =
        (folder / std::string("f").append(std::to_string(k)).append(".sac")).string();
    const std::string temp = (folder / std::string(".tmp.").append(std::to_string(k))).string();
    const int fd = unnamed ? ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666)
                           : ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return -1.0;
    bool done = ::write(fd, content.data(), bytes) == static_cast<ssize_t>(bytes);
    if (unnamed) done = done && ::linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0;
    if (::close(fd) != 0 || !done) return -1.0;
    if (!unnamed && std::rename(temp.c_str(), name.c_str()) != 0) return -1.0;
  }
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  fs::remove_all(folder);
  return s;
}

// A result of one day at 1 Hz: the header and 2000 samples.
constexpr std::size_t kResultBytes = 632 + 2000 * 4;

void print_floor(const char* how, long files, double floor_s, const Run& fresh) {
  std::printf(
      "  floor  %ld files of %zu bytes in one folder %s, one writer: %7.2f s (%6.1f us/file, "
      "%8.0f files/s); the fresh run end to end is %.2f times the floor\n",
      files, kResultBytes, how, floor_s, floor_s * 1e6 / static_cast<double>(files),
      static_cast<double>(files) / floor_s, floor_s > 0 ? fresh.wall_s / floor_s : 0.0);
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
      "xcorrnet_v3 end to end: one day at 1 Hz per station, mode B, %d workers; median of %d "
      "runs per engine up to %d stations, one run above (and of the plain loops); ref-fft: the "
      "plain loop on the reference FFT\n",
      o.workers, o.repeat, kSmallNetwork);
  int failures = 0;
  const std::vector<std::string> args = {"stations.txt", "names.txt", "B", "Y"};
  const auto make_network = [&](int n, bool folders = false) {
    const fs::path dir = root / (std::to_string(n) + (folders ? "-folders" : ""));
    fs::create_directories(dir);
    std::vector<std::string> synth_args = {"--stations", std::to_string(n), "--out", "."};
    if (folders) synth_args.push_back("--folders");
    const Run made = run_program(synth, synth_args, dir, {sacaux});
    if (!made.ok) {
      std::fprintf(stderr, "bench_e2e: xcn_synth failed in %s\n", dir.c_str());
      std::exit(1);
    }
    take_results(dir);  // results of an earlier run kept in --keep
    return dir;
  };
  for (const int n : o.stations) {
    const fs::path dir = make_network(n);
    const long pairs = static_cast<long>(n) * (n + 1) / 2;
    const bool small = n <= kSmallNetwork;
    const int repeat = small ? o.repeat : 1;
    // Runs an engine `repeat` times: the median run and the files of the last.
    const auto engine_runs = [&](const std::vector<std::string>& extra, Files& files) {
      std::vector<Run> runs;
      for (int k = 0; k < repeat; ++k) {
        std::vector<std::string> env = {sacaux, workers, "XCN_TIMING=1"};
        env.insert(env.end(), extra.begin(), extra.end());
        runs.push_back(run_program(tool, args, dir, env));
        const Files got = take_results(dir);
        failures += !runs.back().ok;
        // Both engines give the same files run after run.
        if (k > 0 && differing(got, files) != 0) {
          ++failures;
          std::printf("  result files DIFFER from one run to the next\n");
        }
        files = got;
      }
      return median(runs);
    };
    Files exact_files;
    Files matrix_files;
    const Run f = engine_runs({"XCN_ENGINE=exact"}, exact_files);
    const Run m = engine_runs({"XCN_ENGINE=matrix"}, matrix_files);
    std::printf("%d stations, %ld pairs\n", n, pairs);
    print_run("exact", f, pairs, o.workers);
    std::printf("%s", f.timing.c_str());
    print_run("matrix", m, pairs, o.workers);
    std::printf("%s", m.timing.c_str());
    print_stage("exact", f, pairs, o.workers);
    print_stage("matrix", m, pairs, o.workers);
    const Deviation d = deviation(exact_files, matrix_files);
    const bool same_lines = sorted_lines(f.out) == sorted_lines(m.out);
    const bool agree = d.worst <= 1e-5 && d.nan_elsewhere == 0 && d.missing == 0 && same_lines;
    failures += !agree;
    std::printf(
        "  matrix against exact: largest deviation %.3g of the pair's largest value (%s), NaN "
        "elsewhere in %d files, %d files missing, console lines %s; the matrix engine is %.1f "
        "times faster in the pair stage (processor), %.1f times end to end\n",
        d.worst, d.worst_name.empty() ? "-" : d.worst_name.c_str(), d.nan_elsewhere, d.missing,
        same_lines ? "the same" : "DIFFER",
        m.correlation_cpu_s > 0 ? f.correlation_cpu_s / m.correlation_cpu_s : 0.0,
        f.wall_s / m.wall_s);
    const struct {
      bool wanted;
      const char* label;
      std::vector<std::string> env;
    } references[] = {
        {o.plain && small, "plain", {"XCN_ENGINE=plain"}},
        {o.reference && small, "ref-fft", {"XCN_ENGINE=plain", "XCN_FFT_ISA=plain"}},
    };
    for (const auto& ref : references) {
      if (!ref.wanted) continue;
      std::vector<std::string> env = {sacaux, workers, "XCN_TIMING=1"};
      env.insert(env.end(), ref.env.begin(), ref.env.end());
      const Run p = run_program(tool, args, dir, env);
      const Files files = take_results(dir);
      failures += !p.ok;
      print_run(ref.label, p, pairs, o.workers);
      const int diff = differing(files, exact_files);
      failures += diff != 0;
      std::printf("  the exact engine is %.1f times faster; result files %s (%zu compared)\n",
                  p.wall_s / f.wall_s, diff == 0 ? "byte-identical" : "DIFFER", files.size());
    }
    if (n == o.stations.front() && o.budget_mib > 0) {
      char budget[64];
      std::snprintf(budget, sizeof budget, "XCN_MEMORY_BUDGET=%g", o.budget_mib);
      const Run b = run_program(tool, args, dir,
                                {sacaux, workers, "XCN_TIMING=1", "XCN_ENGINE=exact", budget});
      const Files budget_files = take_results(dir);
      failures += !b.ok;
      // The records, one day at 1 Hz per station: they count against the budget, and the
      // program itself besides it takes about as much.
      const double table_mib = n * 86400.0 * 4 / 1048576.0;
      const int diff = differing(budget_files, exact_files);
      const bool within = b.peak_mib <= o.budget_mib + table_mib;
      failures += diff != 0 || !within;
      std::printf("  exact engine, budget %g MiB:\n", o.budget_mib);
      print_run("tiled", b, pairs, o.workers);
      std::printf("%s", b.timing.c_str());
      std::printf(
          "  result files %s; peak %.1f MiB %s the budget plus the records "
          "(%.1f MiB)\n",
          diff == 0 ? "byte-identical" : "DIFFER", b.peak_mib, within ? "within" : "ABOVE",
          o.budget_mib + table_mib);
    }
    if (o.keep.empty()) fs::remove_all(dir);
  }
  // Results written once with the default engine, on the first network of up to 100 stations
  // and on the large day: a fresh run, the same again with Y over its results, then with N over
  // final results (medians), each fresh run after the file system's floor for the same files.
  const auto write_costs = [&](int n, int repeat, bool folders) {
    const fs::path dir = make_network(n, folders);
    const long pairs = static_cast<long>(n) * (n + 1) / 2;
    const std::vector<std::string> env = {sacaux, workers, "XCN_TIMING=1"};
    const std::vector<std::string> again = {"stations.txt", "names.txt", "B", "N"};
    std::vector<Run> fresh_runs, floors, unnamed_floors;
    std::vector<double> ratios;
    for (int k = 0; k < repeat; ++k) {
      take_results(dir);
      Run floor, unnamed;
      floor.wall_s = floor_seconds(root, pairs, kResultBytes, false);
      floors.push_back(floor);
      unnamed.wall_s = floor_seconds(root, pairs, kResultBytes, true);
      unnamed_floors.push_back(unnamed);
      fresh_runs.push_back(run_program(tool, args, dir, env));
      failures += !fresh_runs.back().ok || floor.wall_s <= 0.0;
      ratios.push_back(fresh_runs.back().wall_s / floor.wall_s);
    }
    long written = 0;
    for (const auto& name : result_names(dir)) written += fs::exists(dir / name);
    failures += written != pairs;
    const auto median_of = [&](const std::vector<std::string>& a) {
      std::vector<Run> runs;
      for (int k = 0; k < repeat; ++k) {
        runs.push_back(run_program(tool, a, dir, env));
        failures += !runs.back().ok;
      }
      return median(runs);
    };
    const Run fresh = median(fresh_runs);
    std::sort(ratios.begin(), ratios.end());
    std::printf("%d stations, %ld result files%s, the default engine, median of %d: written once\n",
                n, pairs, folders ? " in a folder per first record" : " in one folder", repeat);
    if (n > kSmallNetwork) {
      print_run("default", fresh, pairs, o.workers);
      std::printf("%s", fresh.timing.c_str());
      print_stage("default", fresh, pairs, o.workers);
    }
    std::printf("  %ld of %ld result files written\n", written, pairs);
    print_writes("fresh", fresh, pairs);
    print_floor("through a temporary and a rename", pairs, median(floors).wall_s, fresh);
    // Where the file system has no unnamed files (the tool then writes as above): not printed.
    if (median(unnamed_floors).wall_s > 0) {
      print_floor("unnamed, then linked", pairs, median(unnamed_floors).wall_s, fresh);
    }
    std::printf("  fresh run over the floor measured just before it, median of %d: %.2f\n", repeat,
                ratios[ratios.size() / 2]);
    print_writes("Y", median_of(args), pairs);
    print_writes("N", median_of(again), pairs);
    if (o.keep.empty()) fs::remove_all(dir);
  };
  for (const int n : o.stations) {
    if (n > kSmallNetwork) continue;
    write_costs(n, o.repeat, false);
    break;
  }
  if (o.big > 0) write_costs(o.big, o.big_repeat, o.folders);
  if (o.keep.empty()) fs::remove_all(root);
  return failures == 0 ? 0 : 1;
}
