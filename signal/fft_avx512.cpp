// AVX-512 kernel of the fast FFT: eight complex values per vector (built with -mavx512f).
//
// The butterflies are those of the AVX2 kernel (fft_avx2.cpp explains why the negated imaginary
// twiddle gives the plain loop's bits). The build must not fuse: it relies on -ffp-contract=off.
#include <cstddef>
#include <utility>

// GCC 12's AVX-512 header makes its undefined source vectors by self-initialisation, which its
// own uninitialised-value warnings then report at every use.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#pragma GCC diagnostic pop

#include "signal/fft_kernels.hpp"

namespace xcn::detail {

namespace {

using Index = std::ptrdiff_t;

// Points per block whose middle stages run to the end before the next block: 32 KiB of data.
constexpr int kBlockLog2 = 12;

// Stages per sweep: as many as the registers hold while the data sit in the first-level cache;
// fewer beyond it, where each further point of a group is one more stream through memory.
constexpr int kMaxSweepInCache = 4;
constexpr int kMaxSweepBeyondCache = 3;

struct Twiddle {
  __m512 re;  // (wr, wr, ...)
  __m512 im;  // (-wi, wi, ...)
};

[[gnu::always_inline]] inline Twiddle load_twiddles(const float* re, const float* im) {
  return {_mm512_loadu_ps(re), _mm512_loadu_ps(im)};
}

// One factor of a table, in every lane pair.
[[gnu::always_inline]] inline Twiddle broadcast_twiddle(const float* re, const float* im) {
  return {_mm512_set1_ps(re[0]), _mm512_broadcast_f32x4(_mm_setr_ps(im[0], im[1], im[0], im[1]))};
}

[[gnu::always_inline]] inline void butterfly(__m512& a, __m512& x, Twiddle w) {
  const __m512 xs = _mm512_permute_ps(x, 0xB1);  // (xi, xr) in each lane pair
  const __m512 t = _mm512_add_ps(_mm512_mul_ps(w.re, x), _mm512_mul_ps(w.im, xs));
  x = _mm512_sub_ps(a, t);
  a = _mm512_add_ps(a, t);
}

[[gnu::always_inline]] inline __m512d as_pd(__m512 v) { return _mm512_castps_pd(v); }

// Transposes eight rows of eight complex values: r[c] receives column c.
[[gnu::always_inline]] inline void transpose8(__m512 (&r)[8]) {
  __m512d t[8];
#pragma GCC unroll 8
  for (int i = 0; i < 8; i += 2) {
    t[i] = _mm512_unpacklo_pd(as_pd(r[i]), as_pd(r[i + 1]));      // columns 0, 2, 4, 6
    t[i + 1] = _mm512_unpackhi_pd(as_pd(r[i]), as_pd(r[i + 1]));  // columns 1, 3, 5, 7
  }
#pragma GCC unroll 2
  for (int odd = 0; odd < 2; ++odd) {
    const __m512d u0 = _mm512_shuffle_f64x2(t[odd], t[odd + 2], 0x44);
    const __m512d u1 = _mm512_shuffle_f64x2(t[odd + 4], t[odd + 6], 0x44);
    const __m512d u2 = _mm512_shuffle_f64x2(t[odd], t[odd + 2], 0xEE);
    const __m512d u3 = _mm512_shuffle_f64x2(t[odd + 4], t[odd + 6], 0xEE);
    r[odd] = _mm512_castpd_ps(_mm512_shuffle_f64x2(u0, u1, 0x88));
    r[odd + 2] = _mm512_castpd_ps(_mm512_shuffle_f64x2(u0, u1, 0xDD));
    r[odd + 4] = _mm512_castpd_ps(_mm512_shuffle_f64x2(u2, u3, 0x88));
    r[odd + 6] = _mm512_castpd_ps(_mm512_shuffle_f64x2(u2, u3, 0xDD));
  }
}

// Three-bit reversal: rows and columns of a tile.
constexpr int kRev3[8] = {0, 4, 2, 6, 1, 5, 3, 7};

// The permutation, the scaling and the stages of half-width 1, 2 and 4, in one sweep: as in the
// AVX2 kernel, with the index split as (h, q, l) of 3, k - 6 and 3 bits and 8x8 tiles.
class FirstStages {
 public:
  FirstStages(int log2n, float sc, const FftTwiddles& tw)
      : stride_(2 * (Index{1} << (log2n - 3))), sc_(_mm512_set1_ps(sc)) {
    w1_ = broadcast_twiddle(tw.re + 2, tw.im + 2);
    for (int m = 0; m < 2; ++m) w2_[m] = broadcast_twiddle(tw.re + 4 + 2 * m, tw.im + 4 + 2 * m);
    for (int m = 0; m < 4; ++m) w4_[m] = broadcast_twiddle(tw.re + 8 + 2 * m, tw.im + 8 + 2 * m);
  }

  // Input tile at src into output rows s (still to be stored at rows rev(c)).
  [[gnu::always_inline]] void transform(const float* src, __m512 (&s)[8]) const {
#pragma GCC unroll 8
    for (int l = 0; l < 8; ++l)
      s[l] = _mm512_mul_ps(_mm512_loadu_ps(src + kRev3[l] * stride_), sc_);
#pragma GCC unroll 8
    for (int l = 0; l < 8; l += 2) butterfly(s[l], s[l + 1], w1_);
#pragma GCC unroll 8
    for (int l = 0; l < 8; l += 4) {
      butterfly(s[l], s[l + 2], w2_[0]);
      butterfly(s[l + 1], s[l + 3], w2_[1]);
    }
#pragma GCC unroll 8
    for (int l = 0; l < 4; ++l) butterfly(s[l], s[l + 4], w4_[l]);
    transpose8(s);
  }

  [[gnu::always_inline]] void store(float* dst, const __m512 (&s)[8]) const {
#pragma GCC unroll 8
    for (int c = 0; c < 8; ++c) _mm512_storeu_ps(dst + kRev3[c] * stride_, s[c]);
  }

 private:
  Index stride_;  // floats between rows of a tile
  __m512 sc_;
  Twiddle w1_;
  Twiddle w2_[2];
  Twiddle w4_[4];
};

void first_stages(int log2n, float sc, float* cx, const FftTwiddles& tw) {
  const FirstStages fs(log2n, sc, tw);
  const Index tiles = Index{1} << (log2n - 6);
  Index r = 0;  // bit reverse of q
  for (Index q = 0; q < tiles; ++q) {
    if (q < r) {
      __m512 a[8];
      __m512 b[8];
      fs.transform(cx + 16 * q, a);
      fs.transform(cx + 16 * r, b);
      fs.store(cx + 16 * r, a);
      fs.store(cx + 16 * q, b);
    } else if (q == r) {
      __m512 a[8];
      fs.transform(cx + 16 * q, a);
      fs.store(cx + 16 * q, a);
    }
    Index bit = tiles / 2;
    while (bit > 0 && (r & bit) != 0) {
      r ^= bit;
      bit /= 2;
    }
    r |= bit;
  }
}

// Stages s .. s + R - 1 in one sweep over n points (half-width at least 8): the 2^R points of
// a group, l = 2^s apart, stay in registers through all R stages, so each stage costs no loads
// or stores of its own. With kS >= 0 the start stage s = kS is fixed at compile time: every
// address is then a base plus a constant, which leaves the general registers to the loop.
template <int R, int kS>
void sweep(float* cx, Index n, int s_run, const FftTwiddles& tw) {
  constexpr int kPoints = 1 << R;
  const int s = kS >= 0 ? kS : s_run;
  const Index l = Index{1} << s;
  for (Index b = 0; b < n; b += kPoints * l) {
    for (Index m = 0; m < l; m += 8) {
      float* p = cx + 2 * (b + m);
      const float* wr = tw.re + 2 * m;
      const float* wi = tw.im + 2 * m;
      __m512 x[kPoints];
#pragma GCC unroll 16
      for (int k = 0; k < kPoints; ++k) x[k] = _mm512_loadu_ps(p + 2 * k * l);
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
      for (int k = 0; k < kPoints; ++k) _mm512_storeu_ps(p + 2 * k * l, x[k]);
    }
  }
}

using SweepFn = void (*)(float*, Index, int, const FftTwiddles&);

constexpr int kMaxSweep =
    kMaxSweepInCache > kMaxSweepBeyondCache ? kMaxSweepInCache : kMaxSweepBeyondCache;

// The first stage left after first_stages.
constexpr int kFirstSweep = 3;

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

void fork_avx512(int log2n, float sc, float* cx, FftTwiddles tw) {
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
