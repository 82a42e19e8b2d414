// AVX2 kernel of the fast FFT: four complex values per vector (this file is built with -mavx2).
//
// Every butterfly does the plain loop's operations on the same operands in the same order:
//   t = (wr*xr - wi*xi, wr*xi + wi*xr),  x' = a - t,  a' = a + t.
// The real lane forms wr*xr + (-wi)*xi instead of wr*xr - wi*xi, which is the same number: with
// xi not NaN, (-wi)*xi is exactly -(wi*xi) (both round to nearest, and zero times infinity is
// the default NaN either way) and p - q is by definition p + (-q); with xi NaN, both forms give
// a NaN. Nothing here is fused (no -mfma), and the twiddles are finite.
#include <immintrin.h>

#include <cstddef>
#include <utility>

#include "signal/fft_kernels.hpp"

namespace xcn::detail {

namespace {

using Index = std::ptrdiff_t;

// Points per block whose middle stages run to the end before the next block: 32 KiB of data.
constexpr int kBlockLog2 = 12;

// Stages per sweep: as many as the registers hold while the data sit in the first-level cache;
// fewer beyond it, where each further point of a group is one more stream through memory.
constexpr int kMaxSweepInCache = 3;
constexpr int kMaxSweepBeyondCache = 3;

struct Twiddle {
  __m256 re;  // (wr, wr, ...)
  __m256 im;  // (-wi, wi, ...)
};

[[gnu::always_inline]] inline Twiddle load_twiddles(const float* re, const float* im) {
  return {_mm256_loadu_ps(re), _mm256_loadu_ps(im)};
}

// One factor of a table, in every lane pair.
[[gnu::always_inline]] inline Twiddle broadcast_twiddle(const float* re, const float* im) {
  return {_mm256_set1_ps(re[0]),
          _mm256_setr_ps(im[0], im[1], im[0], im[1], im[0], im[1], im[0], im[1])};
}

[[gnu::always_inline]] inline void butterfly(__m256& a, __m256& x, Twiddle w) {
  const __m256 xs = _mm256_permute_ps(x, 0xB1);  // (xi, xr) in each lane pair
  const __m256 t = _mm256_add_ps(_mm256_mul_ps(w.re, x), _mm256_mul_ps(w.im, xs));
  x = _mm256_sub_ps(a, t);
  a = _mm256_add_ps(a, t);
}

// Transposes four rows of four complex values: r[c] receives column c.
[[gnu::always_inline]] inline void transpose4(__m256 (&r)[4]) {
  const __m256d t0 = _mm256_unpacklo_pd(_mm256_castps_pd(r[0]), _mm256_castps_pd(r[1]));
  const __m256d t1 = _mm256_unpackhi_pd(_mm256_castps_pd(r[0]), _mm256_castps_pd(r[1]));
  const __m256d t2 = _mm256_unpacklo_pd(_mm256_castps_pd(r[2]), _mm256_castps_pd(r[3]));
  const __m256d t3 = _mm256_unpackhi_pd(_mm256_castps_pd(r[2]), _mm256_castps_pd(r[3]));
  r[0] = _mm256_castpd_ps(_mm256_permute2f128_pd(t0, t2, 0x20));
  r[1] = _mm256_castpd_ps(_mm256_permute2f128_pd(t1, t3, 0x20));
  r[2] = _mm256_castpd_ps(_mm256_permute2f128_pd(t0, t2, 0x31));
  r[3] = _mm256_castpd_ps(_mm256_permute2f128_pd(t1, t3, 0x31));
}

// The permutation, the scaling and the stages of half-width 1 and 2, in one sweep.
//
// With the index split as (h, q, l) of 2, k - 4 and 2 bits, the element bound for (h, q, l)
// comes from (rev(l), rev(q), rev(h)). So the 4x4 tile q of the result is the tile rev(q) of the
// input, transposed and reversed along both axes, and tiles q and rev(q) trade places. Loading
// input row rev(l) into s[l] puts every output element of the same l in one vector; the first
// two stages pair values of different l only, so they run between whole vectors, each vector
// with one twiddle. A transpose then yields the output rows.
class FirstStages {
 public:
  FirstStages(int log2n, float sc, const FftTwiddles& tw)
      : stride_(2 * (Index{1} << (log2n - 2))),
        sc_(_mm256_set1_ps(sc)),
        w1_(broadcast_twiddle(tw.re + 2, tw.im + 2)),
        w2_{broadcast_twiddle(tw.re + 4, tw.im + 4), broadcast_twiddle(tw.re + 6, tw.im + 6)} {}

  // Input tile at src into output rows s (still to be stored at rows rev(c)).
  [[gnu::always_inline]] void transform(const float* src, __m256 (&s)[4]) const {
    s[0] = _mm256_mul_ps(_mm256_loadu_ps(src), sc_);
    s[1] = _mm256_mul_ps(_mm256_loadu_ps(src + 2 * stride_), sc_);
    s[2] = _mm256_mul_ps(_mm256_loadu_ps(src + stride_), sc_);
    s[3] = _mm256_mul_ps(_mm256_loadu_ps(src + 3 * stride_), sc_);
    butterfly(s[0], s[1], w1_);
    butterfly(s[2], s[3], w1_);
    butterfly(s[0], s[2], w2_[0]);
    butterfly(s[1], s[3], w2_[1]);
    transpose4(s);
  }

  [[gnu::always_inline]] void store(float* dst, const __m256 (&s)[4]) const {
    _mm256_storeu_ps(dst, s[0]);
    _mm256_storeu_ps(dst + 2 * stride_, s[1]);
    _mm256_storeu_ps(dst + stride_, s[2]);
    _mm256_storeu_ps(dst + 3 * stride_, s[3]);
  }

 private:
  Index stride_;  // floats between rows of a tile
  __m256 sc_;
  Twiddle w1_;
  Twiddle w2_[2];
};

void first_stages(int log2n, float sc, float* cx, const FftTwiddles& tw) {
  const FirstStages fs(log2n, sc, tw);
  const int qbits = log2n - 4;
  const Index tiles = Index{1} << qbits;
  Index r = 0;  // bit reverse of q over qbits bits
  for (Index q = 0; q < tiles; ++q) {
    if (q < r) {
      __m256 a[4];
      __m256 b[4];
      fs.transform(cx + 8 * q, a);
      fs.transform(cx + 8 * r, b);
      fs.store(cx + 8 * r, a);
      fs.store(cx + 8 * q, b);
    } else if (q == r) {
      __m256 a[4];
      fs.transform(cx + 8 * q, a);
      fs.store(cx + 8 * q, a);
    }
    Index bit = tiles / 2;
    while (bit > 0 && (r & bit) != 0) {
      r ^= bit;
      bit /= 2;
    }
    r |= bit;
  }
}

// Stages s .. s + R - 1 in one sweep over n points (half-width at least 4): the 2^R points of
// a group, l = 2^s apart, stay in registers through all R stages, so each stage costs no loads
// or stores of its own. With kS >= 0 the start stage s = kS is fixed at compile time: every
// address is then a base plus a constant, which leaves the general registers to the loop.
template <int R, int kS>
void sweep(float* cx, Index n, int s_run, const FftTwiddles& tw) {
  constexpr int kPoints = 1 << R;
  const int s = kS >= 0 ? kS : s_run;
  const Index l = Index{1} << s;
  for (Index b = 0; b < n; b += kPoints * l) {
    for (Index m = 0; m < l; m += 4) {
      float* p = cx + 2 * (b + m);
      const float* wr = tw.re + 2 * m;
      const float* wi = tw.im + 2 * m;
      __m256 x[kPoints];
#pragma GCC unroll 16
      for (int k = 0; k < kPoints; ++k) x[k] = _mm256_loadu_ps(p + 2 * k * l);
#pragma GCC unroll 4
      for (int st = 0; st < R; ++st) {
        const int h = 1 << st;
#pragma GCC unroll 16
        for (int k = 0; k < kPoints; ++k) {
          if ((k & h) != 0) continue;
          // Point k of the group sits at k*l + m, so in the stage of half-width h*l its
          // butterfly takes the twiddle (k mod h)*l + m of that stage's table.
          const Index j = (Index{2} << (s + st)) + 2 * (k & (h - 1)) * l;
          butterfly(x[k], x[k + h], load_twiddles(wr + j, wi + j));
        }
      }
#pragma GCC unroll 16
      for (int k = 0; k < kPoints; ++k) _mm256_storeu_ps(p + 2 * k * l, x[k]);
    }
  }
}

using SweepFn = void (*)(float*, Index, int, const FftTwiddles&);

constexpr int kMaxSweep =
    kMaxSweepInCache > kMaxSweepBeyondCache ? kMaxSweepInCache : kMaxSweepBeyondCache;

// The first stage left after first_stages.
constexpr int kFirstSweep = 2;

struct Sweep {
  int s;
  int r;
};

struct Plan {
  Sweep sweeps[kFftMaxLog2] = {};
  int count = 0;
};

// Stages [s, s_end) in as few and as even sweeps of at most max_sweep stages as possible.
constexpr Plan plan_sweeps(int s, int s_end, int max_sweep) {
  Plan p;
  for (int left = s_end - s; left > 0;) {
    const int r = left / ((left + max_sweep - 1) / max_sweep);
    p.sweeps[p.count++] = {s, r};
    s += r;
    left -= r;
  }
  return p;
}

// Fixed-stride sweeps for every sweep that a transform of at most 2^kBlockLog2 points, or a
// block of a longer one, runs: fn[r][s], null where no plan needs one.
struct FixedSweeps {
  SweepFn fn[kMaxSweepInCache + 1][kBlockLog2] = {};
};

template <int K, int I>
constexpr void add_fixed(FixedSweeps& t) {
  constexpr Plan p = plan_sweeps(kFirstSweep, K, kMaxSweepInCache);
  if constexpr (I < p.count) {
    t.fn[p.sweeps[I].r][p.sweeps[I].s] = &sweep<p.sweeps[I].r, p.sweeps[I].s>;
  }
}

template <std::size_t... KI>
constexpr FixedSweeps make_fixed_sweeps(std::index_sequence<KI...>) {
  FixedSweeps t;
  (add_fixed<static_cast<int>(KI / kFftMaxLog2), static_cast<int>(KI % kFftMaxLog2)>(t), ...);
  return t;
}

constexpr FixedSweeps kFixedSweeps =
    make_fixed_sweeps(std::make_index_sequence<(kBlockLog2 + 1) * kFftMaxLog2>{});

// The run-time-stride sweeps, by number of stages (a plain array: nothing inline from the
// standard library may be instantiated in this file, see fft_kernels.hpp).
struct GeneralSweeps {
  SweepFn fn[kMaxSweep + 1];
};

template <std::size_t... R>
constexpr GeneralSweeps make_general_sweeps(std::index_sequence<R...>) {
  return {{nullptr, &sweep<static_cast<int>(R) + 1, -1>...}};
}

constexpr GeneralSweeps kGeneralSweeps = make_general_sweeps(std::make_index_sequence<kMaxSweep>{});

void stage_range(float* cx, Index n, int s, int s_end, int max_sweep, const FftTwiddles& tw) {
  const Plan p = plan_sweeps(s, s_end, max_sweep);
  for (int i = 0; i < p.count; ++i) {
    const Sweep w = p.sweeps[i];
    SweepFn fn = w.s < kBlockLog2 && w.r <= kMaxSweepInCache ? kFixedSweeps.fn[w.r][w.s] : nullptr;
    if (fn == nullptr) fn = kGeneralSweeps.fn[w.r];
    fn(cx, n, w.s, tw);
  }
}

}  // namespace

void fork_avx2(int log2n, float sc, float* cx, FftTwiddles tw) {
  first_stages(log2n, sc, cx, tw);
  const Index n = Index{1} << log2n;
  if (log2n <= kBlockLog2) {
    stage_range(cx, n, kFirstSweep, log2n, kMaxSweepInCache, tw);
    return;
  }
  const Index block = Index{1} << kBlockLog2;
  for (Index b = 0; b < n; b += block) {
    stage_range(cx + 2 * b, block, kFirstSweep, kBlockLog2, kMaxSweepInCache, tw);
  }
  stage_range(cx, n, kBlockLog2, log2n, kMaxSweepBeyondCache, tw);
}

}  // namespace xcn::detail
