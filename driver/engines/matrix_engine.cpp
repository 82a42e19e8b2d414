// The matrix engine: unit-modulus window spectra per station, laid out bin by bin, and the
// stacked cross-spectra of all pairs as one product per bin.
//
// For two different windows the kernel's phase-only cross-spectrum P/|P| is (X/|X|) conj(Y/|Y|)
// wherever neither spectrum is 0 (and 0 where either is), so with A(k) the stations x windows
// matrix of unit spectra at bin k, the columns the grid windows of the run, windows a record
// lacks or rejects 0, a pair's sum over the windows both of its stations accept is an element of
// A(k) A(k)^H. Each station accepts a window once, for all its pairs, so the count is the
// overlap of their acceptance bits. One inverse transform of the sum per pair then gives the sum
// of the window correlations. Auto-correlations stack the power spectrum, which the kernel
// leaves unnormalised.
//
// Where this does not hold the pair goes through the exact engine: two stations whose spectra
// of a window they both accept pass the kernel's auto-correlation test (a record listed twice).
//
// Every product is one single-threaded BLAS call over one bin (a sweep's, one per time chunk,
// each adding to the sums of the last), and tiles, sweeps, chunks and blocks are the run's grid
// (the network, the settings and the budget alone), so each pair's sum comes out of the same
// calls for any number of workers and ranks, and the files are the same. A rank makes
// the products of its own blocks only.
#include "driver/engines/matrix_engine.hpp"

#ifndef XCN_HAVE_BLAS

namespace xcn {

bool matrix_engine_available() { return false; }

EngineReport run_matrix_engine(const Run& run, std::size_t budget) {
  return run_pair_engine(run, budget);
}

}  // namespace xcn

#else

#include <cblas.h>
#include <omp.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <span>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "driver/clock.hpp"
#include "driver/geometry.hpp"
#include "driver/results/result_writer.hpp"
#include "signal/complex.hpp"
#include "signal/window_products.hpp"
#include "signal/xcorr.hpp"
#include "signal/xcorr_whiten.hpp"

// OpenBLAS's own call; another BLAS may lack it.
#pragma weak openblas_set_num_threads

namespace xcn {

bool matrix_engine_available() { return true; }

namespace {

// Windows transformed before they are spread over the bins: a few cache lines per bin.
constexpr int kChunk = 32;
// Bins a window's unit spectrum is spread over at a time.
constexpr std::size_t kSpread = 64;
// Pairs gathered from a product row at once: a few cache lines per bin, read while the
// processor still holds them.
constexpr int kGather = 32;
// Windows a sweep's products take at a time: the runs of a product's rows stay in the cache.
constexpr std::size_t kProductWindows = 32;
// Results a worker keeps before it writes them together, away from the products.
constexpr std::size_t kBatchBytes = std::size_t{2} << 20;

// Each BLAS call runs on the worker that makes it. OpenBLAS built for OpenMP does so anyway
// inside a parallel region; its threads built otherwise are turned off here. Setting its count
// also sets OpenMP's, which is put back.
void single_threaded_blas() {
  if (openblas_set_num_threads == nullptr) return;
  const int workers = omp_get_max_threads();
  openblas_set_num_threads(1);
  omp_set_num_threads(workers);
}

// A window's spectrum as the kernel's auto-correlation test sees it: the real parts of its
// first two values (a zero of either sign compares equal to the other).
struct WindowKey {
  std::uint32_t window;
  std::uint32_t re0;
  std::uint32_t re1;
  bool operator==(const WindowKey&) const = default;
};
struct WindowKeyHash {
  std::size_t operator()(const WindowKey& k) const {
    std::uint64_t h = (static_cast<std::uint64_t>(k.re0) << 32 | k.re1) * 0x9e3779b97f4a7c15ULL;
    return static_cast<std::size_t>(h ^ (h >> 29) ^ k.window * 0xbf58476d1ce4e5b9ULL);
  }
};
std::uint32_t key_bits(float v) { return std::bit_cast<std::uint32_t>(v == 0.0f ? 0.0f : v); }

// power[k] += re^2 + im^2 of x[k], in double precision: two bins at a time where SSE2 is, each
// with the operations, in the order, of the loop that ends it.
void add_power(const Complex* x, double* power, std::size_t n) {
  std::size_t k = 0;
#if defined(__SSE2__)
  for (; k + 2 <= n; k += 2) {
    const __m128 v = _mm_loadu_ps(&x[k].re);  // re0 im0 re1 im1
    const __m128d a = _mm_cvtps_pd(v);
    const __m128d b = _mm_cvtps_pd(_mm_movehl_ps(v, v));
    const __m128d sa = _mm_mul_pd(a, a);
    const __m128d sb = _mm_mul_pd(b, b);
    const __m128d sum = _mm_add_pd(_mm_unpacklo_pd(sa, sb), _mm_unpackhi_pd(sa, sb));
    _mm_storeu_pd(power + k, _mm_add_pd(_mm_loadu_pd(power + k), sum));
  }
#endif
  for (; k < n; ++k) {
    const double re = x[k].re;
    const double im = x[k].im;
    power[k] += re * re + im * im;
  }
}

std::uint64_t pair_key(int i, int j) {
  return static_cast<std::uint64_t>(static_cast<std::uint32_t>(i)) << 32 |
         static_cast<std::uint32_t>(j);
}

class MatrixEngine {
 public:
  MatrixEngine(const Run& run, const WindowTable& windows, std::size_t budget);
  EngineReport run();

 private:
  // A station of the grid.
  struct Member {
    int station = 0;     // 1-based
    bool cross = false;  // a cross pair of it is computed here: its unit spectra are built
    bool self = false;   // its auto pair is computed here, from its power spectrum
    bool seen = false;   // built once already: its keys and power spectrum are taken
    int power = -1;      // row of its power spectrum
  };
  struct Worker {
    std::vector<float> window;
    std::vector<Complex> spectrum;  // one window's
    std::vector<Complex> unit;      // chunk_ unit spectra, bins 0 .. npt/2
    std::vector<double> power;      // a station's power spectrum while it is summed
    std::vector<Complex> gathered;  // gather_ stacked spectra, bin by bin
    std::vector<Complex> yw;
    std::vector<float> yy;
    // Finished pairs waiting for the worker's turn to write.
    struct Done {
      int i = 0;
      int j = 0;
      Geometry geometry;
      Stack stack;
    };
    std::vector<Done> done;
    std::size_t pending = 0;
    double pairs_cpu_s = 0.0;
    double products_cpu_s = 0.0;
    double writing_cpu_s = 0.0;
  };
  // A tile of the grid with unit spectra of every window: bin k, then member row, then window.
  // Rows of members without a cross pair here stay zero.
  struct HeldTile {
    int first = 0;  // first member
    int count = 0;
    int first_block = 0;
    int blocks = 0;
    PageBuffer<Complex> a;
  };
  // Rows [r0, r0 + rows) of one held tile against columns [c0, c0 + cols) of another (or the
  // same, `diagonal` when the rows are the columns).
  struct Block {
    const HeldTile* ta;
    int r0, rows;
    const HeldTile* tb;
    int c0, cols;
    bool diagonal;
  };
  // Stacked spectra of members [row_first, row_first + rows) against [col_first, col_first +
  // cols), `plane` elements per bin, as finishing reads them: bins in runs of `run`, each run
  // of every element after the last run's.
  struct Sums {
    int row_first, rows;
    int col_first, cols;
    bool diagonal;
    bool triangle;  // a block with itself holding pairs r < c only (triangle_element)
    const Complex* data;
    std::size_t plane;
    std::size_t run;
    std::size_t at(int r, int c) const;
  };
  // Where a member's unit spectra go, window c0 first: bins in runs of `run` values, a window's
  // run `window_stride` after the last window's, each run `run_stride` after the last.
  struct Target {
    Complex* row = nullptr;
    std::size_t run = 1;
    std::size_t window_stride = 1;
    std::size_t run_stride = 0;
  };
  // A block pair of a sweep: its stacked spectra, summed over the time chunks.
  struct SweepPart {
    int x, y;
    std::pair<std::size_t, std::size_t> columns;  // where both blocks hold windows
    PageBuffer<Complex> sums;
    bool started = false;
  };

  Worker& worker();
  std::size_t worker_bytes() const;
  void choose_members();
  void take_spectra(const Member& m, const float* samples, std::size_t from, std::size_t c0,
                    std::size_t c1, Target target, double* power, std::vector<WindowKey>* keys,
                    Worker& wk);
  // Where column w's window begins in member mi's record, in samples.
  std::size_t window_offset(int mi, std::size_t w) const;
  // The record's samples that windows [c0, c1) of member mi span: [first, end).
  std::pair<std::size_t, std::size_t> span_of(int mi, std::size_t c0, std::size_t c1) const;
  void store_power(const Member& m, const double* sum);
  void build(HeldTile& tile);
  void release(HeldTile& tile);
  void note_keys(int first, int count);
  void run_sweeps();
  void run_sweep(int first_pair, int end_pair);
  void multiply_part(const SweepPart& part, const Complex* chunk,
                     const std::vector<int>& row_of_block, std::size_t t, std::size_t first,
                     std::size_t end) const;
  int block_size(int x) const {
    return grid_.blocks[static_cast<std::size_t>(x) + 1] -
           grid_.blocks[static_cast<std::size_t>(x)];
  }
  bool needed(int x, int y) const {
    return needed_[static_cast<std::size_t>(x) * static_cast<std::size_t>(blocks_) +
                   static_cast<std::size_t>(y)];
  }
  bool tiles_needed(const HeldTile& ta, const HeldTile& tb) const;
  void run_tiles();
  void run_blocks(const HeldTile& ta, const HeldTile& tb);
  // Rows of block x of tile ta against the columns of block y of tile tb.
  Block block_of(const HeldTile& ta, const HeldTile& tb, int x, int y) const;
  // Columns [first, end) where both sides of the block pair (members [a, a + rows) against
  // [b, b + cols)) hold windows.
  std::pair<std::size_t, std::size_t> block_columns(int a, int rows, int b, int cols,
                                                    bool diagonal) const;
  // Columns [first, end) where members [first_member, first_member + count) hold windows.
  std::pair<std::size_t, std::size_t> columns_of(int first_member, int count) const;
  void multiply(const Block& b);
  void multiply_bin(const Block& b, std::size_t k, std::size_t first, std::size_t end);
  void finish_sums(const Sums& s);
  void finish_row(const Sums& s, int r, Worker& wk);
  void powers_left();
  void run_autos();
  void finish(int i, int j, int mi, int mj, Worker& wk);
  void write_done(Worker& wk);
  int overlap(int mi, int mj) const;
  int shared(int mi, int mj) const;
  // Columns [first, end) of member m's windows.
  std::size_t column_first(int m) const {
    return static_cast<std::size_t>(grid_.first_column[static_cast<std::size_t>(m)]);
  }
  std::size_t column_end(int m) const {
    return column_first(m) + static_cast<std::size_t>(wt_.station(member(m).station).place.windows);
  }
  bool wanted(int i, int j) const {
    return wanted_[static_cast<std::size_t>(pair_number(n_, i, j))];
  }
  bool handled(int i, int j) const;
  const Member& member(int index) const { return members_[static_cast<std::size_t>(index)]; }
  int station_of(const HeldTile& t, int row) const { return member(t.first + row).station; }

  const Run& run_;
  const StationTable& table_;
  const WindowTable& wt_;
  const MatrixGrid& grid_;
  const int n_;
  const CcPlan plan_;
  const std::size_t npt_;
  const std::size_t nb_;  // bins 0 .. npt/2: the others follow by conjugate symmetry
  const std::size_t nptlen_;
  const std::size_t windows_;  // columns: the grid windows any member holds
  const int blocks_;
  const std::size_t budget_;  // for the pairs the exact engine takes
  std::size_t chunk_ = 1;     // windows spread over the bins at a time
  std::size_t columns_ = 0;   // windows of a sweep's time chunk; 0: tiles with every window
  int gather_ = 1;            // pairs gathered from a product row at a time
  std::size_t batch_ = 1;     // finished pairs written in one turn
  std::size_t fixed_ = 0;     // held throughout: power spectra and acceptance bits
  std::size_t words_ = 0;     // 64-bit words of acceptance bits per member
  std::vector<Member> members_;
  std::vector<int> member_of_;                     // station -> member, or -1
  std::vector<bool> wanted_;                       // per pair number: computed here
  std::vector<bool> needed_;                       // per block pair: holds a pair computed here
  std::vector<std::uint64_t> bits_;                // acceptance bits of each member
  std::vector<float> power_;                       // power spectra of members with `self`
  std::vector<std::vector<WindowKey> > new_keys_;  // per member, until noted
  std::unordered_multimap<WindowKey, int, WindowKeyHash> keys_;  // -> station
  std::unordered_set<std::uint64_t> exact_pairs_;  // stations (i, j) sharing a window key
  PageBuffer<Complex> stacked_;  // stacked spectra of the block in work: bin, row, column
  std::vector<Worker> workers_;
  std::vector<Complex> ones_;  // divides a spectrum by its modulus through the kernel's own loop
  std::size_t held_ = 0;
  EngineReport report_;
};

MatrixEngine::MatrixEngine(const Run& run, const WindowTable& windows, std::size_t budget)
    : run_(run),
      table_(*run.table),
      wt_(windows),
      grid_(run.grid),
      n_(run.table->size()),
      plan_(windows.settings.nptlen),
      npt_(static_cast<std::size_t>(plan_.layout().npt)),
      nb_(npt_ / 2 + 1),
      nptlen_(static_cast<std::size_t>(windows.settings.nptlen)),
      windows_(static_cast<std::size_t>(run.grid.windows)),
      blocks_(run.grid.block_count()),
      budget_(budget),
      member_of_(static_cast<std::size_t>(n_), -1),
      workers_(static_cast<std::size_t>(std::max(1, omp_get_max_threads()))),
      ones_(nb_, Complex{1.0f, 0.0f}) {}

MatrixEngine::Worker& MatrixEngine::worker() {
  Worker& wk = workers_[static_cast<std::size_t>(omp_get_thread_num())];
  if (wk.yw.size() < npt_) {
    wk.window.resize(nptlen_);
    wk.spectrum.resize(npt_);
    wk.unit.resize(chunk_ * nb_);
    wk.power.resize(nb_);
    wk.gathered.resize(static_cast<std::size_t>(gather_) * nb_);
    wk.yw.resize(npt_);
    wk.yy.resize(nptlen_);
    wk.done.resize(batch_);
  }
  return wk;
}

std::size_t MatrixEngine::worker_bytes() const {
  return 2 * nptlen_ * sizeof(float) + 2 * npt_ * sizeof(Complex) + nb_ * sizeof(double) +
         (chunk_ + static_cast<std::size_t>(gather_)) * nb_ * sizeof(Complex) +
         batch_ * nptlen_ * sizeof(float);
}

// The members are the grid's; those with a cross pair to compute here get unit spectra, those
// with their auto pair a power spectrum. Every other pair goes to the exact engine.
void MatrixEngine::choose_members() {
  for (const int i : grid_.members) {
    member_of_[static_cast<std::size_t>(i - 1)] = static_cast<int>(members_.size());
    members_.push_back({i});
  }
  words_ = (windows_ + 63) / 64;
  bits_.assign(members_.size() * words_, 0);
  for (std::size_t m = 0; m < members_.size(); ++m) {
    // Another rank's station has no windows measured here, and no pair here either.
    const StationWindows& s = wt_.station(members_[m].station);
    if (!s.measured()) continue;
    const std::size_t first = column_first(static_cast<int>(m));
    for (std::size_t w = 0; w < s.accepted.size(); ++w) {
      const std::size_t c = first + w;
      if (s.accepted[w] != 0) bits_[m * words_ + c / 64] |= std::uint64_t{1} << (c % 64);
    }
  }
  std::vector<int> block_of(members_.size());
  for (int b = 0; b < blocks_; ++b) {
    for (int k = grid_.blocks[static_cast<std::size_t>(b)];
         k < grid_.blocks[static_cast<std::size_t>(b) + 1]; ++k) {
      block_of[static_cast<std::size_t>(k)] = b;
    }
  }
  wanted_.assign(static_cast<std::size_t>(run_.pairs->size()) + 1, false);
  needed_.assign(static_cast<std::size_t>(blocks_) * static_cast<std::size_t>(blocks_), false);
  const int named = static_cast<int>(
      std::min<std::size_t>(static_cast<std::size_t>(run_.pairs->size()), run_.names.size()));
  for (int ij = 1; ij <= named; ++ij) {
    const int mi = member_of_[static_cast<std::size_t>(run_.pairs->ni(ij) - 1)];
    const int mj = member_of_[static_cast<std::size_t>(run_.pairs->nj(ij) - 1)];
    if (mi < 0 || mj < 0 || !pair_may_run(run_, ij)) continue;
    wanted_[static_cast<std::size_t>(ij)] = true;
    if (mi == mj) {
      members_[static_cast<std::size_t>(mi)].self = true;
      continue;
    }
    members_[static_cast<std::size_t>(mi)].cross = true;
    members_[static_cast<std::size_t>(mj)].cross = true;
    // Block pairs are taken x <= y: the pair's element is in the product of the earlier block.
    const int bi = block_of[static_cast<std::size_t>(mi)];
    const int bj = block_of[static_cast<std::size_t>(mj)];
    needed_[static_cast<std::size_t>(std::min(bi, bj)) * static_cast<std::size_t>(blocks_) +
            static_cast<std::size_t>(std::max(bi, bj))] = true;
  }
  int powers = 0;
  for (Member& m : members_) {
    if (m.self) m.power = powers++;
  }
  power_.assign(static_cast<std::size_t>(powers) * nb_, 0.0f);
  new_keys_.resize(members_.size());
  chunk_ = std::clamp<std::size_t>(windows_, 1, kChunk);
  columns_ = std::min(windows_, static_cast<std::size_t>(std::max(grid_.plan.columns, 0)));
  gather_ = std::clamp(grid_.plan.block, 1, kGather);
  batch_ = std::clamp<std::size_t>(kBatchBytes / (nptlen_ * sizeof(float)), 1,
                                   std::max<std::size_t>(members_.size(), 1));
  fixed_ = power_.size() * sizeof(float) + bits_.size() * sizeof(std::uint64_t);
}

int MatrixEngine::overlap(int mi, int mj) const {
  const std::uint64_t* a = bits_.data() + static_cast<std::size_t>(mi) * words_;
  const std::uint64_t* b = bits_.data() + static_cast<std::size_t>(mj) * words_;
  int count = 0;
  for (std::size_t k = 0; k < words_; ++k) count += std::popcount(a[k] & b[k]);
  return count;
}

// Windows both members hold, accepted or not.
int MatrixEngine::shared(int mi, int mj) const {
  const std::size_t first = std::max(column_first(mi), column_first(mj));
  const std::size_t end = std::min(column_end(mi), column_end(mj));
  return end > first ? static_cast<int>(end - first) : 0;
}

// Whether pair (i, j), i <= j, is computed here rather than by the exact engine (which also
// gives the skip lines).
bool MatrixEngine::handled(int i, int j) const {
  const int mi = member_of_[static_cast<std::size_t>(i - 1)];
  const int mj = member_of_[static_cast<std::size_t>(j - 1)];
  if (mi < 0 || mj < 0) return false;
  if (i == j) return member(mi).self;
  return wanted(i, j) && !exact_pairs_.contains(pair_key(i, j));
}

// Transforms the accepted windows of member m among columns [c0, c1) as the kernel does: their
// unit spectra to `target`, their power added to `power`, their keys into `keys` (each when
// given). Sample k of the record is samples[k - from]; none is read where the member holds no
// window of the columns.
void MatrixEngine::take_spectra(const Member& m, const float* samples, std::size_t from,
                                std::size_t c0, std::size_t c1, Target target, double* power,
                                std::vector<WindowKey>* keys, Worker& wk) {
  const StationWindows& s = wt_.station(m.station);
  const int mi = member_of_[static_cast<std::size_t>(m.station - 1)];
  const std::size_t first = column_first(mi);
  const std::size_t end = column_end(mi);
  const detail::SpectrumIsa isa = detail::spectrum_isa();
  for (std::size_t w0 = c0; w0 < c1; w0 += chunk_) {
    const std::size_t chunk = std::min(chunk_, c1 - w0);
    for (std::size_t c = 0; c < chunk; ++c) {
      const std::size_t w = w0 + c;
      Complex* u = wk.unit.data() + c * nb_;
      if (w < first || w >= end || s.accepted[w - first] == 0) {
        // Exact zeros: a window the record lacks or rejects adds nothing to any pair.
        std::fill_n(u, nb_, Complex{0.0f, 0.0f});
        continue;
      }
      const Complex* x = wk.spectrum.data();
      std::copy_n(samples + (window_offset(mi, w) - from), nptlen_, wk.window.begin());
      window_spectrum(plan_, wk.window, wk.spectrum);
      if (keys) {
        // A window of zeros correlates to zeros on either path, and a NaN fails the test.
        const bool zero =
            std::all_of(x, x + npt_, [](Complex v) { return v.re == 0.0f && v.im == 0.0f; });
        if (!zero && !std::isnan(x[0].re) && !std::isnan(x[1].re)) {
          keys->push_back({static_cast<std::uint32_t>(w), key_bits(x[0].re), key_bits(x[1].re)});
        }
      }
      if (power) add_power(x, power, nb_);
      // X conj(1) / |X conj(1)| is X / |X|, and 0 where |X| is: the kernel's whitening loop.
      if (target.row) detail::cross_spectrum_with(isa, x, ones_.data(), u, nb_, false);
    }
    if (!target.row) continue;
    if (target.run == 1 && target.window_stride == 1) {
      // A bin's windows lie side by side: each bin takes the chunk's windows in one run.
      for (std::size_t k = 0; k < nb_; ++k) {
        Complex* dst = target.row + (w0 - c0) + k * target.run_stride;
        const Complex* u = wk.unit.data() + k;
        for (std::size_t c = 0; c < chunk; ++c) dst[c] = u[c * nb_];
      }
      continue;
    }
    // Spread over the bins a few at a time: each window's spectrum is read in order, and the
    // lines written for those bins stay in the cache until every window has filled them.
    for (std::size_t k0 = 0; k0 < nb_; k0 += kSpread) {
      const std::size_t k1 = std::min(nb_, k0 + kSpread);
      for (std::size_t c = 0; c < chunk; ++c) {
        const Complex* u = wk.unit.data() + c * nb_;
        Complex* dst =
            target.row + (w0 - c0 + c) * target.window_stride + k0 / target.run * target.run_stride;
        for (std::size_t k = k0; k < k1; k += target.run, dst += target.run_stride) {
          std::copy_n(u + k, std::min(target.run, k1 - k), dst);
        }
      }
    }
  }
}

std::size_t MatrixEngine::window_offset(int mi, std::size_t w) const {
  const GridPlace& place = wt_.station(member(mi).station).place;
  return place.offset(place.first + static_cast<long long>(w - column_first(mi)), wt_.settings);
}

std::pair<std::size_t, std::size_t> MatrixEngine::span_of(int mi, std::size_t c0,
                                                          std::size_t c1) const {
  const std::size_t first = std::max(c0, column_first(mi));
  const std::size_t end = std::min(c1, column_end(mi));
  if (end <= first) return {0, 0};
  return {window_offset(mi, first), window_offset(mi, end - 1) + nptlen_};
}

void MatrixEngine::store_power(const Member& m, const double* sum) {
  float* power = power_.data() + static_cast<std::size_t>(m.power) * nb_;
  for (std::size_t k = 0; k < nb_; ++k) power[k] = static_cast<float>(sum[k]);
}

void MatrixEngine::build(HeldTile& tile) {
  const Clock::time_point start = Clock::now();
  tile.a = PageBuffer<Complex>(nb_ * static_cast<std::size_t>(tile.count) * windows_);
  parallel_for(tile.count, [&](int r) {
    const int mi = tile.first + r;
    const Member& m = member(mi);
    if (!m.cross) return;
    // A record that reads otherwise now leaves its row zeros; its pairs are skipped.
    const HeldRecord held(table_, m.station);
    if (held.data() == nullptr) return;
    Worker& wk = worker();
    const bool power = !m.seen && m.power >= 0;
    if (power) std::fill(wk.power.begin(), wk.power.end(), 0.0);
    const Target target{tile.a.data() + static_cast<std::size_t>(r) * windows_, 1, 1,
                        static_cast<std::size_t>(tile.count) * windows_};
    take_spectra(m, held.data(), 0, 0, windows_, target, power ? wk.power.data() : nullptr,
                 m.seen ? nullptr : &new_keys_[static_cast<std::size_t>(mi)], wk);
    if (power) store_power(m, wk.power.data());
  });
  note_keys(tile.first, tile.count);
  held_ += tile.a.bytes();
  report_.peak_bytes = std::max(report_.peak_bytes, held_);
  report_.spectra_s += seconds_since(start);
}

void MatrixEngine::release(HeldTile& tile) {
  held_ -= tile.a.bytes();
  tile.a = PageBuffer<Complex>();
}

// Two stations whose spectra of one window they both accept pass the kernel's auto-correlation
// test: their pair goes to the exact engine. Keys are looked up, not compared pair by pair.
void MatrixEngine::note_keys(int first, int count) {
  for (int r = 0; r < count; ++r) {
    const std::size_t mi = static_cast<std::size_t>(first + r);
    Member& m = members_[mi];
    if (!m.cross || m.seen) continue;
    for (const WindowKey& key : new_keys_[mi]) {
      const auto [first, last] = keys_.equal_range(key);
      for (auto it = first; it != last; ++it) {
        exact_pairs_.insert(
            pair_key(std::min(it->second, m.station), std::max(it->second, m.station)));
      }
      keys_.emplace(key, m.station);
    }
    new_keys_[mi] = {};
    m.seen = true;
  }
}

bool MatrixEngine::tiles_needed(const HeldTile& ta, const HeldTile& tb) const {
  const bool same = &ta == &tb;
  for (int x = ta.first_block; x < ta.first_block + ta.blocks; ++x) {
    for (int y = same ? x : tb.first_block; y < tb.first_block + tb.blocks; ++y) {
      if (needed(x, y)) return true;
    }
  }
  return false;
}

// Every pair of tiles with a block pair to multiply here, two tiles held at most: row a holds
// tile a with each later tile, the next one last, so that it is held already when its own row
// begins.
void MatrixEngine::run_tiles() {
  std::vector<HeldTile> tiles;
  for (std::size_t k = 0; k + 1 < grid_.tiles.size(); ++k) {
    HeldTile t;
    t.first = grid_.tiles[k];
    t.count = grid_.tiles[k + 1] - t.first;
    t.first_block = static_cast<int>(
        std::lower_bound(grid_.blocks.begin(), grid_.blocks.end(), t.first) - grid_.blocks.begin());
    const int end = static_cast<int>(
        std::lower_bound(grid_.blocks.begin(), grid_.blocks.end(), grid_.tiles[k + 1]) -
        grid_.blocks.begin());
    t.blocks = end - t.first_block;
    tiles.push_back(std::move(t));
  }
  report_.tiles = static_cast<int>(tiles.size());
  report_.stations_per_tile = static_cast<std::size_t>(grid_.plan.tile);
  const std::size_t block = static_cast<std::size_t>(grid_.plan.block);
  const std::size_t t = tiles.size();
  for (std::size_t a = 0; a < t; ++a) {
    for (std::size_t k = 0; k < t - a; ++k) {
      // Tile a with itself first, then the last tile down to the next one.
      const std::size_t b = k == 0 ? a : t - k;
      if (!tiles_needed(tiles[a], tiles[b])) continue;
      if (stacked_.data() == nullptr) {
        stacked_ = PageBuffer<Complex>(nb_ * block * block);
        held_ += stacked_.bytes();
      }
      if (tiles[a].a.data() == nullptr) build(tiles[a]);
      if (tiles[b].a.data() == nullptr) build(tiles[b]);
      run_blocks(tiles[a], tiles[b]);
      if (b > a + 1) release(tiles[b]);
    }
    if (tiles[a].a.data() != nullptr) release(tiles[a]);
  }
  held_ -= stacked_.bytes();
  stacked_ = PageBuffer<Complex>();
}

MatrixEngine::Block MatrixEngine::block_of(const HeldTile& ta, const HeldTile& tb, int x,
                                           int y) const {
  const auto first = [&](int z) { return grid_.blocks[static_cast<std::size_t>(z)]; };
  return {&ta,   first(x) - ta.first, first(x + 1) - first(x),
          &tb,   first(y) - tb.first, first(y + 1) - first(y),
          x == y};
}

void MatrixEngine::run_blocks(const HeldTile& ta, const HeldTile& tb) {
  const bool same = &ta == &tb;
  for (int x = ta.first_block; x < ta.first_block + ta.blocks; ++x) {
    for (int y = same ? x : tb.first_block; y < tb.first_block + tb.blocks; ++y) {
      if (!needed(x, y)) continue;
      const Block b = block_of(ta, tb, x, y);
      multiply(b);
      finish_sums({ta.first + b.r0, b.rows, tb.first + b.c0, b.cols, b.diagonal, false,
                   stacked_.data(),
                   static_cast<std::size_t>(b.rows) * static_cast<std::size_t>(b.cols), 1});
    }
  }
}

std::pair<std::size_t, std::size_t> MatrixEngine::columns_of(int first_member, int count) const {
  std::size_t first = windows_;
  std::size_t end = 0;
  for (int m = first_member; m < first_member + count; ++m) {
    if (column_end(m) == column_first(m)) continue;
    first = std::min(first, column_first(m));
    end = std::max(end, column_end(m));
  }
  return {first, end};
}

// Only the columns where both sides hold windows add anything: records of other days or starts
// than the block's make no work. Records that start together use every column.
std::pair<std::size_t, std::size_t> MatrixEngine::block_columns(int a, int rows, int b, int cols,
                                                                bool diagonal) const {
  std::pair<std::size_t, std::size_t> c = columns_of(a, rows);
  if (!diagonal) {
    const std::pair<std::size_t, std::size_t> other = columns_of(b, cols);
    c = {std::max(c.first, other.first), std::min(c.second, other.second)};
  }
  return c;
}

// The stacked spectra of the block, bin by bin: C(k) = A_rows(k) A_cols(k)^H, so that element
// (i, j) is the sum over windows of U_i conj(U_j), the conjugate of what pair (i, j) stacks.
void MatrixEngine::multiply(const Block& b) {
  const std::pair<std::size_t, std::size_t> columns =
      block_columns(b.ta->first + b.r0, b.rows, b.tb->first + b.c0, b.cols, b.diagonal);
  parallel_for(static_cast<int>(nb_), [&](int bin) {
    const double cpu = thread_cpu_seconds();
    multiply_bin(b, static_cast<std::size_t>(bin), columns.first, columns.second);
    worker().products_cpu_s += thread_cpu_seconds() - cpu;
  });
}

void MatrixEngine::multiply_bin(const Block& b, std::size_t k, std::size_t first, std::size_t end) {
  const std::size_t rows = static_cast<std::size_t>(b.rows);
  const std::size_t cols = static_cast<std::size_t>(b.cols);
  Complex* c = stacked_.data() + k * rows * cols;
  if (end <= first) {
    std::fill_n(c, rows * cols, Complex{0.0f, 0.0f});
    return;
  }
  const int k_count = static_cast<int>(end - first);
  const int stride = static_cast<int>(windows_);
  const Complex* a = b.ta->a.data() + k * static_cast<std::size_t>(b.ta->count) * windows_ +
                     static_cast<std::size_t>(b.r0) * windows_ + first;
  if (b.diagonal) {
    // The upper triangle only: the pairs i < j of one block.
    cblas_cherk(CblasRowMajor, CblasUpper, CblasNoTrans, b.rows, k_count, 1.0f, a, stride, 0.0f, c,
                b.rows);
    return;
  }
  const Complex* bt = b.tb->a.data() + k * static_cast<std::size_t>(b.tb->count) * windows_ +
                      static_cast<std::size_t>(b.c0) * windows_ + first;
  const Complex one{1.0f, 0.0f};
  const Complex zero{0.0f, 0.0f};
  cblas_cgemm(CblasRowMajor, CblasNoTrans, CblasConjTrans, b.rows, b.cols, k_count, &one, a, stride,
              bt, stride, &zero, c, b.cols);
}

// Sweeps: the block pairs of each, in row order, summed over time chunks that pass once.
void MatrixEngine::run_sweeps() {
  const std::vector<int>& sweeps = grid_.plan.sweeps;
  report_.tiles = static_cast<int>(sweeps.size()) - 1;
  report_.stations_per_tile = static_cast<std::size_t>(grid_.plan.tile);
  report_.columns = static_cast<int>(columns_);
  for (std::size_t s = 0; s + 1 < sweeps.size(); ++s) run_sweep(sweeps[s], sweeps[s + 1]);
}

void MatrixEngine::run_sweep(int first_pair, int end_pair) {
  std::vector<SweepPart> parts;
  {
    auto [x, y] = block_pair(blocks_, first_pair);
    for (int k = first_pair; k < end_pair; ++k) {
      if (needed(x, y)) {
        const int a = grid_.blocks[static_cast<std::size_t>(x)];
        const int b = grid_.blocks[static_cast<std::size_t>(y)];
        parts.push_back({x, y, block_columns(a, block_size(x), b, block_size(y), x == y), {}});
      }
      if (++y == blocks_) y = ++x;
    }
  }
  if (parts.empty()) return;
  // The chunk's rows: the blocks of the sweep, each once.
  std::vector<int> row_of_block(static_cast<std::size_t>(blocks_), -1);
  std::vector<int> row_member;
  for (const SweepPart& p : parts) {
    for (const int z : {p.x, p.y}) {
      if (row_of_block[static_cast<std::size_t>(z)] >= 0) continue;
      row_of_block[static_cast<std::size_t>(z)] = static_cast<int>(row_member.size());
      for (int m = grid_.blocks[static_cast<std::size_t>(z)];
           m < grid_.blocks[static_cast<std::size_t>(z) + 1]; ++m) {
        row_member.push_back(m);
      }
    }
  }
  const std::size_t rows = row_member.size();
  std::size_t bytes = 0;
  for (SweepPart& p : parts) {
    p.sums = PageBuffer<Complex>(sweep_bins(nb_) *
                                 product_elements(block_size(p.x), block_size(p.y), p.x == p.y));
    bytes += p.sums.bytes();
  }
  // Bin runs, each holding every row's windows of the chunk; bins past the last stay zeros.
  PageBuffer<Complex> chunk(sweep_bins(nb_) * rows * columns_);
  const std::size_t run_stride = kSweepRun * rows * columns_;
  bytes += chunk.bytes();
  std::vector<RecordStream> streams;
  streams.reserve(rows);
  std::vector<std::vector<double> > powers(rows);
  for (std::size_t r = 0; r < rows; ++r) {
    const Member& m = member(row_member[r]);
    streams.emplace_back(table_, m.station);
    if (m.cross && !m.seen && m.power >= 0) {
      powers[r].assign(nb_, 0.0);
      bytes += nb_ * sizeof(double);
    }
  }
  if (table_.streamed()) {
    bytes +=
        rows *
        (static_cast<std::size_t>(std::ceil(wt_.settings.overlap)) * (columns_ - 1) + nptlen_) *
        sizeof(float);
  }
  held_ += bytes;
  report_.peak_bytes = std::max(report_.peak_bytes, held_);

  for (std::size_t c0 = 0; c0 < windows_; c0 += columns_) {
    const std::size_t c1 = std::min(windows_, c0 + columns_);
    const Clock::time_point start = Clock::now();
    parallel_for(static_cast<int>(rows), [&](int r) {
      const int mi = row_member[static_cast<std::size_t>(r)];
      const Member& m = member(mi);
      if (!m.cross) return;
      // A row holding no window of the chunk is zeros: the chunk's rows are those of the last.
      const auto [first, end] = span_of(mi, c0, c1);
      const float* samples =
          end == 0 ? nullptr : streams[static_cast<std::size_t>(r)].stretch(first, end);
      // A record that reads otherwise now: its pairs are skipped.
      if (end != 0 && samples == nullptr) return;
      std::vector<double>& power = powers[static_cast<std::size_t>(r)];
      take_spectra(m, samples, first, c0, c1,
                   {chunk.data() + static_cast<std::size_t>(r) * columns_ * kSweepRun, kSweepRun,
                    kSweepRun, run_stride},
                   power.empty() ? nullptr : power.data(),
                   m.seen ? nullptr : &new_keys_[static_cast<std::size_t>(mi)], worker());
    });
    report_.spectra_s += seconds_since(start);
    parallel_for(static_cast<int>(sweep_bins(nb_) / kSweepRun), [&](int t) {
      const double cpu = thread_cpu_seconds();
      for (const SweepPart& p : parts) {
        const std::size_t first = std::max(p.columns.first, c0);
        const std::size_t end = std::min(p.columns.second, c1);
        if (end <= first) continue;
        multiply_part(p, chunk.data() + static_cast<std::size_t>(t) * run_stride, row_of_block,
                      static_cast<std::size_t>(t), first - c0, end - c0);
      }
      worker().products_cpu_s += thread_cpu_seconds() - cpu;
    });
    for (SweepPart& p : parts) {
      p.started = p.started || std::max(p.columns.first, c0) < std::min(p.columns.second, c1);
    }
  }
  // The records read to their ends and checked, then the keys and power spectra of the windows
  // just transformed.
  parallel_for(static_cast<int>(rows), [&](int r) {
    if (member(row_member[static_cast<std::size_t>(r)]).cross) {
      streams[static_cast<std::size_t>(r)].finish();
    }
  });
  for (std::size_t r = 0; r < rows; ++r) {
    if (!powers[r].empty()) store_power(member(row_member[r]), powers[r].data());
  }
  for (std::size_t z = 0; z < row_of_block.size(); ++z) {
    if (row_of_block[z] >= 0) note_keys(grid_.blocks[z], block_size(static_cast<int>(z)));
  }
  for (const SweepPart& p : parts) {
    // No column both blocks hold: the sums are the zeros the buffer starts with.
    finish_sums({grid_.blocks[static_cast<std::size_t>(p.x)], block_size(p.x),
                 grid_.blocks[static_cast<std::size_t>(p.y)], block_size(p.y), p.x == p.y,
                 p.x == p.y, p.sums.data(),
                 product_elements(block_size(p.x), block_size(p.y), p.x == p.y), kSweepRun});
  }
  held_ -= bytes;
}

// Block pair `part` at the chunk's bin run t (`chunk` points at it) over chunk columns [first,
// end), added to its sums after the first chunk, a few windows at a time so that the rows'
// runs stay in the processor's cache. A block with itself sums its pairs r < c.
void MatrixEngine::multiply_part(const SweepPart& part, const Complex* chunk,
                                 const std::vector<int>& row_of_block, std::size_t t,
                                 std::size_t first, std::size_t end) const {
  const int nx = block_size(part.x);
  const int ny = block_size(part.y);
  const bool triangle = part.x == part.y;
  const Complex* starts[2 * kMaxBlock];
  WindowProducts p;
  p.rows = starts;
  p.nrows = nx;
  p.triangle = triangle;
  p.cols = triangle ? nullptr : starts + nx;
  p.ncols = triangle ? 0 : ny;
  p.window_stride = kSweepRun;
  p.bins = kSweepRun;
  p.out = part.sums.data() + t * product_elements(nx, ny, triangle) * kSweepRun;
  p.out_stride = kSweepRun;
  // Each row of block z at window w of the chunk.
  const auto rows_of = [&](int z, std::size_t w, const Complex** at) {
    for (int r = 0; r < block_size(z); ++r) {
      const std::size_t row =
          static_cast<std::size_t>(row_of_block[static_cast<std::size_t>(z)] + r);
      at[r] = chunk + (row * columns_ + w) * kSweepRun;
    }
  };
  for (std::size_t w = first; w < end; w += kProductWindows) {
    rows_of(part.x, w, starts);
    if (!triangle) rows_of(part.y, w, starts + nx);
    p.windows = static_cast<int>(std::min(kProductWindows, end - w));
    p.add = part.started || w > first;
    window_products(p);
  }
}

std::size_t MatrixEngine::Sums::at(int r, int c) const {
  if (triangle) return triangle_element(rows, r, c);
  return static_cast<std::size_t>(r) * static_cast<std::size_t>(cols) + static_cast<std::size_t>(c);
}

// Each pair of the sums: its stacked spectrum gathered from the bins, transformed back, cut,
// divided by its count and written.
void MatrixEngine::finish_sums(const Sums& s) {
  parallel_for(s.rows, [&](int r) {
    Worker& wk = worker();
    const double cpu = thread_cpu_seconds();
    const double writing = wk.writing_cpu_s;
    finish_row(s, r, wk);
    wk.pairs_cpu_s += thread_cpu_seconds() - cpu - (wk.writing_cpu_s - writing);
  });
}

void MatrixEngine::finish_row(const Sums& s, int r, Worker& wk) {
  const int mi = s.row_first + r;
  const int i = member(mi).station;
  for (int c = s.diagonal ? r + 1 : 0; c < s.cols; c += gather_) {
    const int group = std::min(gather_, s.cols - c);
    int js[kGather];
    std::size_t at[kGather];
    bool any = false;
    for (int g = 0; g < group; ++g) {
      const int j = member(s.col_first + c + g).station;
      const int first = std::min(i, j), second = std::max(i, j);
      // Another pair gets its line from the exact engine.
      bool here = wanted(first, second) && !exact_pairs_.contains(pair_key(first, second));
      if (here && (table_.lost(i) || table_.lost(j))) {
        // A record found changed meanwhile: the skip line, and no result.
        pair_wanted(run_, pair_number(n_, first, second));
        here = false;
      }
      js[g] = here ? j : 0;
      at[g] = s.at(r, c + g) * s.run;
      any = any || here;
    }
    if (!any) continue;
    for (std::size_t k0 = 0; k0 < nb_; k0 += s.run) {
      const Complex* src = s.data + k0 * s.plane;
      const std::size_t n = std::min(s.run, nb_ - k0);
      for (int g = 0; g < group; ++g) {
        std::copy_n(src + at[g], n, wk.gathered.data() + static_cast<std::size_t>(g) * nb_ + k0);
      }
    }
    for (int g = 0; g < group; ++g) {
      const int j = js[g];
      if (j == 0) continue;
      const Complex* v = wk.gathered.data() + static_cast<std::size_t>(g) * nb_;
      const int mj = member_of_[static_cast<std::size_t>(j - 1)];
      if (i < j) {
        // The pair (i, j) stacks conj(C); its upper bins mirror the lower ones.
        for (std::size_t k = 0; k < nb_; ++k) wk.yw[k] = conj(v[k]);
        for (std::size_t k = 1; k + 1 < nb_; ++k) wk.yw[npt_ - k] = v[k];
        finish(i, j, mi, mj, wk);
      } else {
        // The list names the column's station first: the pair (j, i) stacks C itself.
        for (std::size_t k = 0; k < nb_; ++k) wk.yw[k] = v[k];
        for (std::size_t k = 1; k + 1 < nb_; ++k) wk.yw[npt_ - k] = conj(v[k]);
        finish(j, i, mj, mi, wk);
      }
    }
  }
  write_done(wk);
}

// Power spectra of the members whose auto pair is computed and that no tile has built.
void MatrixEngine::powers_left() {
  std::vector<int> left;
  for (std::size_t m = 0; m < members_.size(); ++m) {
    if (members_[m].self && !members_[m].seen) left.push_back(static_cast<int>(m));
  }
  if (left.empty()) return;
  const Clock::time_point start = Clock::now();
  parallel_for(static_cast<int>(left.size()), [&](int k) {
    const Member& m = member(left[static_cast<std::size_t>(k)]);
    const HeldRecord held(table_, m.station);
    if (held.data() == nullptr) return;
    Worker& wk = worker();
    std::fill(wk.power.begin(), wk.power.end(), 0.0);
    take_spectra(m, held.data(), 0, 0, windows_, {}, wk.power.data(), nullptr, wk);
    store_power(m, wk.power.data());
  });
  report_.spectra_s += seconds_since(start);
}

void MatrixEngine::run_autos() {
  std::vector<int> selfs;
  for (std::size_t m = 0; m < members_.size(); ++m) {
    if (members_[m].self) selfs.push_back(static_cast<int>(m));
  }
  parallel_for(static_cast<int>(selfs.size()), [&](int k) {
    const int mi = selfs[static_cast<std::size_t>(k)];
    const Member& m = member(mi);
    if (!pair_wanted(run_, pair_number(n_, m.station, m.station))) return;
    Worker& wk = worker();
    const double cpu = thread_cpu_seconds();
    const double writing = wk.writing_cpu_s;
    const float* p = power_.data() + static_cast<std::size_t>(m.power) * nb_;
    for (std::size_t b = 0; b < nb_; ++b) wk.yw[b] = {p[b], 0.0f};
    for (std::size_t b = 1; b + 1 < nb_; ++b) wk.yw[npt_ - b] = {p[b], 0.0f};
    finish(m.station, m.station, mi, mi, wk);
    write_done(wk);
    wk.pairs_cpu_s += thread_cpu_seconds() - cpu - (wk.writing_cpu_s - writing);
  });
}

// Pair (i, j) from its stacked spectrum in the worker's yw: transformed back, rotated and cut
// as the kernel does, divided by its count, printed and written.
void MatrixEngine::finish(int i, int j, int mi, int mj, Worker& wk) {
  correlation_cut(plan_, std::span<Complex>(wk.yw.data(), npt_), wk.yy);
  Worker::Done& d = wk.done[wk.pending++];
  d.i = i;
  d.j = j;
  d.geometry = pair_geometry(table_.station(i), table_.station(j));
  d.stack.set_sum(wk.yy, overlap(mi, mj));
  d.stack.finish();
  d.stack.shared = shared(mi, mj);
  if (wk.pending == wk.done.size()) write_done(wk);
}

// Prints and writes the worker's finished pairs; the workers write their files side by side.
void MatrixEngine::write_done(Worker& wk) {
  if (wk.pending == 0) return;
  const double start = thread_cpu_seconds();
  for (std::size_t k = 0; k < wk.pending; ++k) {
    Worker::Done& d = wk.done[k];
    finish_pair(run_, pair_number(n_, d.i, d.j), d.geometry, d.stack);
  }
  wk.pending = 0;
  wk.writing_cpu_s += thread_cpu_seconds() - start;
}

EngineReport MatrixEngine::run() {
  single_threaded_blas();
  const Clock::time_point start = Clock::now();
  choose_members();
  // The workers' buffers (a few hundred kilobytes each) are held besides what the budget plans
  // for: tiles and blocks depend on the budget and the network, never on the worker count.
  held_ = fixed_ + workers_.size() * worker_bytes();
  report_.peak_bytes = held_;
  if (blocks_ > 0) {
    if (columns_ > 0) {
      run_sweeps();
    } else {
      run_tiles();
    }
    report_.block = grid_.plan.block;
    report_.bytes = members_.size() * windows_ * nb_ * sizeof(Complex);
  }
  powers_left();
  run_autos();
  power_ = {};

  const Clock::time_point exact_start = Clock::now();
  const PairFilter take = [this](int i, int j) { return !handled(i, j); };
  const EngineReport exact = run_pair_engine(run_, wt_, budget_, take);
  report_.exact_s = seconds_since(exact_start);
  report_.peak_bytes = std::max(report_.peak_bytes, exact.peak_bytes);
  for (int i = 1; i <= n_; ++i) {
    if (!table_.station(i).usable) continue;
    for (int j = i; j <= n_; ++j) {
      report_.exact_pairs += table_.station(j).usable && run_.share.mine(i, j) && take(i, j);
    }
  }
  report_.pairs_cpu_s = exact.pairs_cpu_s;
  report_.writing_cpu_s = exact.writing_cpu_s;
  for (const Worker& wk : workers_) {
    report_.pairs_cpu_s += wk.pairs_cpu_s + wk.products_cpu_s;
    report_.products_cpu_s += wk.products_cpu_s;
    report_.writing_cpu_s += wk.writing_cpu_s;
  }
  report_.pairs_s = seconds_since(start) - report_.spectra_s;
  return report_;
}

}  // namespace

EngineReport run_matrix_engine(const Run& run, std::size_t budget) {
  // No usable station: every pair is a skip line.
  if (run.grid.members.empty()) return run_pair_engine(run, budget);
  const Clock::time_point start = Clock::now();
  const WindowTable windows = measure_windows(run);
  const double measure_s = seconds_since(start);
  MatrixEngine engine(run, windows, budget);
  EngineReport report = engine.run();
  report.measure_s += measure_s;
  report.measured = windows.measured;
  return report;
}

}  // namespace xcn

#endif
