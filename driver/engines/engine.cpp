// The pair engine: window deviations and spectra once per station, tiles of stations whose
// spectra are held together, and units of pairs correlated window by window from them.
//
// A pair's result is the same sequence of operations as in the plain loop (stack_pair): the
// same deviations, the same acceptance test, the same window spectra (computed once instead of
// per pair, by the same code), the same cross-spectrum, inverse transform and cut, added to the
// stack in window order. Only the order in which pairs are taken differs, and nothing of one
// pair reaches another, so the files are the same bytes for any tiling and worker count.
#include "driver/engines/engine.hpp"

#include <omp.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <string_view>
#include <utility>

#include "cli/workers.hpp"
#include "driver/clock.hpp"
#include "driver/geometry.hpp"
#include "driver/engines/matrix_engine.hpp"
#include "driver/engines/plain_loop.hpp"
#include "driver/ranks.hpp"
#include "driver/results/result_writer.hpp"
#include "signal/complex.hpp"
#include "signal/xcorr.hpp"

namespace xcn {

std::size_t default_budget() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page <= 0) return std::size_t{1} << 30;
  return static_cast<std::size_t>(pages) / 2 * static_cast<std::size_t>(page);
}

EngineKind default_engine() {
  return matrix_engine_available() ? EngineKind::kMatrix : EngineKind::kExact;
}

const char* engine_name(EngineKind kind) {
  switch (kind) {
    case EngineKind::kPlain:
      return "plain";
    case EngineKind::kMatrix:
      return "matrix";
    case EngineKind::kExact:
      break;
  }
  return "exact";
}

namespace {

// A path named in XCN_FFT_ISA or XCN_SPECTRUM_ISA that is none of `known`: one warning, and the
// transforms take the fastest path this processor has, as without the variable.
void check_path_setting(std::FILE* err, const char* variable,
                        std::initializer_list<std::string_view> known, const char* names) {
  const char* v = std::getenv(variable);
  if (v == nullptr) return;
  if (std::find(known.begin(), known.end(), std::string_view(v)) != known.end()) return;
  std::fprintf(err,
               "xcorrnet_v3: warning: %s=\"%s\" is not %s; using the fastest path of this "
               "processor\n",
               variable, v, names);
}

}  // namespace

EngineSettings engine_settings(std::FILE* err) {
  cli::cap_workers(err, "xcorrnet_v3");
  check_path_setting(err, "XCN_FFT_ISA", {"plain", "portable", "avx2", "avx512"},
                     "plain, portable, avx2 or avx512");
  check_path_setting(err, "XCN_SPECTRUM_ISA", {"portable", "avx2", "avx512"},
                     "portable, avx2 or avx512");
  EngineSettings s;
  s.engine = default_engine();
  s.budget = default_budget();
  if (const char* e = std::getenv("XCN_ENGINE"); e != nullptr && *e != '\0') {
    const std::string_view v(e);
    if (v == "plain") {
      s.engine = EngineKind::kPlain;
    } else if (v == "exact" || v == "fast") {
      s.engine = EngineKind::kExact;
    } else if (v == "matrix") {
      if (matrix_engine_available()) {
        s.engine = EngineKind::kMatrix;
      } else {
        std::fprintf(err,
                     "xcorrnet_v3: warning: XCN_ENGINE=matrix: this build has no BLAS library; "
                     "using the exact engine\n");
      }
    } else {
      std::fprintf(err,
                   "xcorrnet_v3: warning: XCN_ENGINE=\"%s\" is not plain, exact (or fast) or "
                   "matrix; using the %s engine\n",
                   e, engine_name(s.engine));
    }
  }
  if (const char* b = std::getenv("XCN_MEMORY_BUDGET"); b != nullptr && *b != '\0') {
    char* end = nullptr;
    const double mib = std::strtod(b, &end);
    if (end != b && *end == '\0' && std::isfinite(mib) && mib > 0.0 && mib < 1e12) {
      s.budget = static_cast<std::size_t>(mib * 1048576.0);
    } else {
      std::fprintf(err,
                   "xcorrnet_v3: warning: XCN_MEMORY_BUDGET=\"%s\" is not a positive number of "
                   "megabytes; using half the physical memory\n",
                   b);
    }
  }
  if (const char* t = std::getenv("XCN_TIMING")) s.timing = std::string_view(t) == "1";
  return s;
}

std::vector<Tile> plan_tiles(std::span<const std::size_t> bytes, std::size_t limit) {
  const int n = static_cast<int>(bytes.size());
  if (n == 0) return {};
  std::size_t total = 0;
  for (const std::size_t b : bytes) total += b;
  if (total <= limit) return {Tile{1, n}};
  std::vector<Tile> tiles;
  Tile tile{1, 0};
  std::size_t held = 0;
  for (int i = 1; i <= n; ++i) {
    const std::size_t b = bytes[static_cast<std::size_t>(i - 1)];
    if (tile.last >= tile.first && held + b > limit / 2) {
      tiles.push_back(tile);
      tile = {i, i - 1};
      held = 0;
    }
    tile.last = i;
    held += b;
  }
  tiles.push_back(tile);
  return tiles;
}

namespace {

// What one station keeps for its pairs, beside its window deviations.
struct StationSpectra {
  std::vector<int> slot;  // place of each window's spectrum in the store; -1: not kept
  std::size_t kept = 0;   // spectra kept when its tile is held
  PageBuffer<Complex> store;
};

// Spectra held per unit step: two groups of stations' windows stay in the worker's cache.
constexpr std::size_t kUnitSpectraBytes = std::size_t{256} << 10;
constexpr int kMaxGroup = 8;

class PairEngine {
 public:
  PairEngine(const Run& run, const WindowTable& windows, std::size_t budget,
             const PairFilter& take);
  EngineReport run();

 private:
  // One pair of a unit, with its stack.
  struct Job {
    int ij = 0, i = 0, j = 0;
    CommonWindows common;  // the grid windows both records hold
    Geometry geometry;
    Stack stack;
  };
  // Storage of one worker, reused for every unit and station.
  struct Worker {
    std::vector<float> window;
    std::vector<float> yyc;               // one window's correlation
    std::vector<Complex> spec_i, spec_j;  // spectra made on demand
    std::vector<Complex> yw;
    std::vector<Job> jobs;
    std::vector<std::pair<int, HeldRecord>> records;  // read again for the unit
    double pairs_cpu_s = 0.0;
    double writing_cpu_s = 0.0;
  };
  // The pairs of station group p with station group q (those with i <= j).
  struct Unit {
    Tile p;
    Tile q;
  };

  Worker& worker();

  void choose_kept();
  void build(const Tile& tile);
  void release(const Tile& tile);
  void run_units(const Tile& a, const Tile& b);
  void run_unit(const Unit& unit, Worker& wk);
  int group_size(int stations) const;
  std::vector<Tile> groups(const Tile& tile) const;
  const Complex* spectrum(int station, long long k, std::vector<Complex>& scratch,
                          Worker& wk) const;
  std::size_t worker_bytes() const;

  const StationWindows& station(int i) const { return windows_.station(i); }
  StationSpectra& spectra(int i) { return st_[static_cast<std::size_t>(i - 1)]; }
  const StationSpectra& spectra(int i) const { return st_[static_cast<std::size_t>(i - 1)]; }

  const Run& run_;
  const StationTable& table_;
  const WindowTable& windows_;
  const PairFilter& take_;
  const int n_;
  const WindowSettings w_;
  const CcPlan plan_;
  const std::size_t npt_;
  const std::size_t nptlen_;
  const std::size_t budget_;
  const int workers_count_;
  std::vector<StationSpectra> st_;
  std::vector<Tile> tiles_;
  std::vector<Worker> workers_;
  std::size_t held_ = 0;
  EngineReport report_;
};

PairEngine::PairEngine(const Run& run, const WindowTable& windows, std::size_t budget,
                       const PairFilter& take)
    : run_(run),
      table_(*run.table),
      windows_(windows),
      take_(take),
      n_(run.table->size()),
      w_(windows.settings),
      plan_(w_.nptlen),
      npt_(static_cast<std::size_t>(plan_.layout().npt)),
      nptlen_(static_cast<std::size_t>(w_.nptlen)),
      budget_(budget),
      workers_count_(std::max(1, omp_get_max_threads())),
      st_(static_cast<std::size_t>(n_)),
      workers_(static_cast<std::size_t>(workers_count_)) {}

PairEngine::Worker& PairEngine::worker() {
  Worker& wk = workers_[static_cast<std::size_t>(omp_get_thread_num())];
  if (wk.yw.size() < npt_) {
    wk.window.resize(nptlen_);
    wk.yyc.resize(nptlen_);
    wk.spec_i.resize(npt_);
    wk.spec_j.resize(npt_);
    wk.yw.resize(npt_);
  }
  return wk;
}

std::size_t PairEngine::worker_bytes() const {
  const std::size_t g = static_cast<std::size_t>(group_size(n_));
  const std::size_t stacks = g * g * nptlen_;
  return (2 * nptlen_ + stacks) * sizeof(float) + 3 * npt_ * sizeof(Complex);
}

// Which stations keep which spectra, and the tiles they are held in.
void PairEngine::choose_kept() {
  // Only stations of a pair that is to be computed need spectra; a pair found otherwise later
  // (an output removed meanwhile) makes its spectra on demand.
  std::vector<bool> wanted(static_cast<std::size_t>(n_), false);
  const int named = static_cast<int>(
      std::min<std::size_t>(static_cast<std::size_t>(run_.pairs->size()), run_.names.size()));
  for (int ij = 1; ij <= named; ++ij) {
    if (take_(run_.pairs->ni(ij), run_.pairs->nj(ij)) && pair_may_run(run_, ij)) {
      wanted[static_cast<std::size_t>(run_.pairs->ni(ij) - 1)] = true;
      wanted[static_cast<std::size_t>(run_.pairs->nj(ij) - 1)] = true;
    }
  }
  std::vector<std::size_t> bytes(static_cast<std::size_t>(n_), 0);
  std::size_t total = 0;
  for (int i = 1; i <= n_; ++i) {
    const StationWindows& s = station(i);
    StationSpectra& sp = spectra(i);
    sp.slot.assign(s.crt.size(), -1);
    if (!wanted[static_cast<std::size_t>(i - 1)]) continue;
    for (const char a : s.accepted) sp.kept += a != 0 ? 1 : 0;
    bytes[static_cast<std::size_t>(i - 1)] = sp.kept * npt_ * sizeof(Complex);
    total += bytes[static_cast<std::size_t>(i - 1)];
  }
  report_.bytes = total;
  const std::size_t overhead = static_cast<std::size_t>(workers_count_) * worker_bytes();
  const std::size_t limit = budget_ > overhead ? budget_ - overhead : 0;
  // A station that cannot share the budget with another keeps nothing and makes its spectra
  // on demand.
  if (total > limit) {
    for (int i = 1; i <= n_; ++i) {
      std::size_t& b = bytes[static_cast<std::size_t>(i - 1)];
      if (b > limit / 2) {
        b = 0;
        spectra(i).kept = 0;
      }
    }
  }
  tiles_ = plan_tiles(bytes, limit);
  report_.tiles = static_cast<int>(tiles_.size());
  for (const Tile& t : tiles_) {
    report_.stations_per_tile =
        std::max(report_.stations_per_tile, static_cast<std::size_t>(t.last - t.first + 1));
  }
}

void PairEngine::build(const Tile& tile) {
  const Clock::time_point start = Clock::now();
  parallel_for(tile.last - tile.first + 1, [&](int k) {
    const StationWindows& s = station(tile.first + k);
    StationSpectra& sp = spectra(tile.first + k);
    if (sp.kept == 0) return;
    PageBuffer<Complex> store(sp.kept * npt_);
    Worker& wk = worker();
    // A record that reads otherwise now keeps nothing; its pairs are skipped.
    const HeldRecord record(table_, tile.first + k);
    const float* row = record.data();
    if (row == nullptr) return;
    int next = 0;
    for (std::size_t w = 0; w < s.crt.size(); ++w) {
      // A window the station rejects never reaches any of its pairs.
      if (s.accepted[w] == 0) continue;
      sp.slot[w] = next;
      std::copy_n(row + s.place.offset(s.place.first + static_cast<long long>(w), w_), nptlen_,
                  wk.window.begin());
      window_spectrum(
          plan_, wk.window,
          std::span<Complex>(store.data() + static_cast<std::size_t>(next) * npt_, npt_));
      ++next;
    }
    sp.store = std::move(store);
  });
  for (int i = tile.first; i <= tile.last; ++i) held_ += spectra(i).store.bytes();
  report_.peak_bytes = std::max(report_.peak_bytes, held_);
  report_.spectra_s += seconds_since(start);
}

void PairEngine::release(const Tile& tile) {
  for (int i = tile.first; i <= tile.last; ++i) {
    held_ -= spectra(i).store.bytes();
    spectra(i).store = PageBuffer<Complex>();
  }
}

// Stations in a group of a tile of `stations`: few enough that the spectra of two groups for
// one window stay in a worker's cache, and enough groups to keep every worker busy.
int PairEngine::group_size(int stations) const {
  // Records read again for spectra made on demand: two per unit at most.
  if (table_.streamed()) return 1;
  const int by_cache = static_cast<int>(
      std::clamp<std::size_t>(kUnitSpectraBytes / (2 * npt_ * sizeof(Complex)), 1, kMaxGroup));
  return std::min(by_cache, std::max(1, stations / (2 * workers_count_)));
}

std::vector<Tile> PairEngine::groups(const Tile& tile) const {
  const int size = group_size(tile.last - tile.first + 1);
  std::vector<Tile> out;
  for (int first = tile.first; first <= tile.last; first += size) {
    out.push_back({first, std::min(tile.last, first + size - 1)});
  }
  return out;
}

void PairEngine::run_units(const Tile& a, const Tile& b) {
  const Clock::time_point start = Clock::now();
  const std::vector<Tile> ga = groups(a);
  const std::vector<Tile> gb = groups(b);
  std::vector<Unit> units;
  for (std::size_t p = 0; p < ga.size(); ++p) {
    for (std::size_t q = a.first == b.first ? p : 0; q < gb.size(); ++q) {
      units.push_back({ga[p], gb[q]});
    }
  }
  parallel_for(static_cast<int>(units.size()),
               [&](int k) { run_unit(units[static_cast<std::size_t>(k)], worker()); });
  report_.pairs_s += seconds_since(start);
}

// The spectrum of grid window k of a station: the kept one, or made now into `scratch`; null
// when its record, read again, reads otherwise.
const Complex* PairEngine::spectrum(int i, long long k, std::vector<Complex>& scratch,
                                    Worker& wk) const {
  const StationSpectra& s = spectra(i);
  const GridPlace& place = station(i).place;
  const int slot = s.slot[static_cast<std::size_t>(k - place.first)];
  if (slot >= 0 && s.store.data() != nullptr) {
    return s.store.data() + static_cast<std::size_t>(slot) * npt_;
  }
  const float* row = table_.row(i);
  if (table_.streamed()) {
    // The record is read again once per unit; null when it reads otherwise now.
    const auto held = std::find_if(wk.records.begin(), wk.records.end(),
                                   [&](const auto& r) { return r.first == i; });
    row = held != wk.records.end()
              ? held->second.data()
              : wk.records.emplace_back(i, HeldRecord(table_, i)).second.data();
    if (row == nullptr) return nullptr;
  }
  std::copy_n(row + place.offset(k, w_), nptlen_, wk.window.begin());
  window_spectrum(plan_, wk.window, scratch);
  return scratch.data();
}

void PairEngine::run_unit(const Unit& unit, Worker& wk) {
  const double cpu = thread_cpu_seconds();
  double writing = 0.0;
  std::size_t count = 0;
  int windows = 0;
  // A rerun skips most pairs: their lines go out together.
  std::string skipped;
  for (int i = unit.p.first; i <= unit.p.last; ++i) {
    for (int j = std::max(i, unit.q.first); j <= unit.q.last; ++j) {
      if (!take_(i, j)) continue;
      const int ij = pair_number(n_, i, j);
      if (!pair_wanted(run_, ij, skipped)) continue;
      if (wk.jobs.size() <= count) wk.jobs.emplace_back();
      Job& job = wk.jobs[count++];
      job.ij = ij;
      job.i = i;
      job.j = j;
      job.common = common_windows(station(i).place, station(j).place);
      job.geometry = pair_geometry(table_.station(i), table_.station(j));
      job.stack.reset(w_.nptlen);
      job.stack.shared = job.common.count;
      windows = std::max(windows, job.common.count);
    }
  }
  if (!skipped.empty()) ranks::print_lines(skipped);
  const std::span<Job> jobs(wk.jobs.data(), count);
  const std::span<Complex> yw(wk.yw.data(), npt_);
  // Window by window over all pairs of the unit, so each spectrum is read while cached (the
  // pairs of records that start together are at the same window); each pair still adds its
  // windows in order.
  for (int w = 0; w < windows; ++w) {
    for (Job& job : jobs) {
      if (w >= job.common.count) continue;
      const long long k = job.common.first + w;
      if (!station(job.i).passes(k) || !station(job.j).passes(k)) continue;
      // The second station's window goes first: a positive lag is a later arrival there.
      const Complex* first = spectrum(job.j, k, wk.spec_j, wk);
      const Complex* second = spectrum(job.i, k, wk.spec_i, wk);
      if (first == nullptr || second == nullptr) continue;  // a record lost: skipped below
      cross_spectrum(std::span<const Complex>(first, npt_), std::span<const Complex>(second, npt_),
                     yw);
      correlation_cut(plan_, yw, wk.yyc);
      job.stack.add(wk.yyc);
    }
  }
  wk.records.clear();
  for (Job& job : jobs) {
    // A record found changed meanwhile: the skip line, and no result.
    if (table_.lost(job.i) || table_.lost(job.j)) {
      pair_wanted(run_, job.ij);
      continue;
    }
    job.stack.finish();
    const double write_start = thread_cpu_seconds();
    finish_pair(run_, job.ij, job.geometry, job.stack);
    writing += thread_cpu_seconds() - write_start;
  }
  wk.writing_cpu_s += writing;
  wk.pairs_cpu_s += thread_cpu_seconds() - cpu - writing;
}

EngineReport PairEngine::run() {
  const Clock::time_point start = Clock::now();
  choose_kept();
  report_.measure_s = seconds_since(start);
  // Row a holds tile a with each later tile in turn, the next tile last, so that it is held
  // already when its own row begins.
  const std::size_t t = tiles_.size();
  std::vector<bool> held(t, false);
  for (std::size_t a = 0; a < t; ++a) {
    if (!held[a]) build(tiles_[a]);
    held[a] = true;
    run_units(tiles_[a], tiles_[a]);
    for (std::size_t b = t - 1; b > a; --b) {
      if (!held[b]) build(tiles_[b]);
      held[b] = true;
      run_units(tiles_[a], tiles_[b]);
      if (b != a + 1) {
        release(tiles_[b]);
        held[b] = false;
      }
    }
    release(tiles_[a]);
    held[a] = false;
  }
  for (const Worker& wk : workers_) {
    report_.pairs_cpu_s += wk.pairs_cpu_s;
    report_.writing_cpu_s += wk.writing_cpu_s;
  }
  return report_;
}

}  // namespace

EngineReport run_pair_engine(const Run& run, std::size_t budget) {
  // Without a usable station there is no sampling interval to lay windows out by, and every
  // pair is a skip line.
  bool any_usable = false;
  for (int i = 1; i <= run.table->size(); ++i)
    any_usable = any_usable || run.table->station(i).usable;
  if (!any_usable) {
    run_pair_loop(run);
    return {};
  }
  const Clock::time_point start = Clock::now();
  const WindowTable windows = measure_windows(run);
  const double measure_s = seconds_since(start);
  EngineReport report = run_pair_engine(run, windows, budget, [](int, int) { return true; });
  report.measure_s += measure_s;
  report.measured = windows.measured;
  return report;
}

EngineReport run_pair_engine(const Run& run, const WindowTable& windows, std::size_t budget,
                             const PairFilter& take) {
  PairEngine engine(run, windows, budget, take);
  return engine.run();
}

}  // namespace xcn
