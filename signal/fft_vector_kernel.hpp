// The fast FFT kernel for any vector width, instantiated by each instruction-set file.
//
// Include this only from a file built with its instruction set's flags (fft_avx2.cpp,
// fft_avx512.cpp), which supplies a traits struct V:
//   Vec                             the vector type
//   kLog2Width                      log2 of the complex values per vector
//   kMaxSweepInCache                stages per sweep while the data sit in the first-level cache
//   load, store, add, sub, mul      unaligned load and store, lane-wise arithmetic
//   splat(v)                        v in every lane
//   pairs(a, b)                     (a, b, a, b, ...)
//   swap_pairs(x)                   (x1, x0, x3, x2, ...)
//   transpose(r)                    rows of width complex values: r[c] receives column c
// Everything here sits in an unnamed namespace: each file gets its own copy, compiled with its
// own flags, which the linker can never hand to a caller on a CPU without them. For the same
// reason nothing inline from the standard library may be instantiated here (see
// fft_kernels.hpp).
//
// Every butterfly does the plain loop's operations on the same operands in the same order:
//   t = (wr*xr - wi*xi, wr*xi + wi*xr),  x' = a - t,  a' = a + t.
// The real lane forms wr*xr + (-wi)*xi instead of wr*xr - wi*xi, which is the same number: with
// xi not NaN, (-wi)*xi is exactly -(wi*xi) (both round to nearest, and zero times infinity is
// the default NaN either way) and p - q is by definition p + (-q); with xi NaN, both forms give
// a NaN. Nothing here is fused (no -mfma, and -ffp-contract=off), and the twiddles are finite.
#pragma once

#include <cstddef>
#include <utility>

#include "signal/fft_kernels.hpp"

namespace xcn::detail {

namespace {

using Index = std::ptrdiff_t;

// Points per block whose middle stages run to the end before the next block: 32 KiB of data.
constexpr int kBlockLog2 = 12;

// Stages per sweep beyond the first-level cache, where each further point of a group is one more
// stream through memory.
constexpr int kMaxSweepBeyondCache = 3;

template <class V>
struct Twiddle {
  typename V::Vec re;  // (wr, wr, ...)
  typename V::Vec im;  // (-wi, wi, ...)
};

template <class V>
[[gnu::always_inline]] inline Twiddle<V> load_twiddles(const float* re, const float* im) {
  return {V::load(re), V::load(im)};
}

// One factor of a table, in every lane pair.
template <class V>
[[gnu::always_inline]] inline Twiddle<V> broadcast_twiddle(const float* re, const float* im) {
  return {V::splat(re[0]), V::pairs(im[0], im[1])};
}

template <class V>
[[gnu::always_inline]] inline void butterfly(typename V::Vec& a, typename V::Vec& x, Twiddle<V> w) {
  const typename V::Vec xs = V::swap_pairs(x);  // (xi, xr) in each lane pair
  const typename V::Vec t = V::add(V::mul(w.re, x), V::mul(w.im, xs));
  x = V::sub(a, t);
  a = V::add(a, t);
}

// Bit reversal over the index bits of a tile's rows and columns.
template <int kBits>
constexpr int reverse_bits(int v) {
  int r = 0;
  for (int b = 0; b < kBits; ++b) r |= ((v >> b) & 1) << (kBits - 1 - b);
  return r;
}

// The permutation, the scaling and the stages of half-width 1 .. W/2, in one sweep, where W is
// the number of complex values per vector and B = log2 W.
//
// With the index split as (h, q, l) of B, k - 2B and B bits, the element bound for (h, q, l)
// comes from (rev(l), rev(q), rev(h)). So the WxW tile q of the result is the tile rev(q) of the
// input, transposed and reversed along both axes, and tiles q and rev(q) trade places. Loading
// input row rev(l) into s[l] puts every output element of the same l in one vector; the first
// B stages pair values of different l only, so they run between whole vectors, each vector
// with one twiddle. A transpose then yields the output rows.
template <class V>
class FirstStages {
 public:
  static constexpr int kBits = V::kLog2Width;
  static constexpr int kWidth = 1 << kBits;
  using Vec = typename V::Vec;

  FirstStages(int log2n, float sc, const FftTwiddles& tw)
      : stride_(2 * (Index{1} << (log2n - kBits))), sc_(V::splat(sc)) {
    // Entry j of the tables is the factor j - h of the stage of half-width h <= j; w_[j - 1].
#pragma GCC unroll 8
    for (int j = 1; j < kWidth; ++j) w_[j - 1] = broadcast_twiddle<V>(tw.re + 2 * j, tw.im + 2 * j);
  }

  // Input tile at src into output rows s (still to be stored at rows rev(c)).
  [[gnu::always_inline]] void transform(const float* src, Vec (&s)[kWidth]) const {
#pragma GCC unroll 8
    for (int l = 0; l < kWidth; ++l) {
      s[l] = V::mul(V::load(src + reverse_bits<kBits>(l) * stride_), sc_);
    }
#pragma GCC unroll 4
    for (int h = 1; h < kWidth; h *= 2) {
#pragma GCC unroll 8
      for (int l = 0; l < kWidth; ++l) {
        if ((l & h) == 0) butterfly<V>(s[l], s[l + h], w_[h + (l & (h - 1)) - 1]);
      }
    }
    V::transpose(s);
  }

  [[gnu::always_inline]] void store(float* dst, const Vec (&s)[kWidth]) const {
#pragma GCC unroll 8
    for (int c = 0; c < kWidth; ++c) V::store(dst + reverse_bits<kBits>(c) * stride_, s[c]);
  }

 private:
  Index stride_;  // floats between rows of a tile
  Vec sc_;
  Twiddle<V> w_[kWidth - 1];
};

template <class V>
void first_stages(int log2n, float sc, float* cx, const FftTwiddles& tw) {
  constexpr int kWidth = FirstStages<V>::kWidth;
  using Vec = typename V::Vec;
  const FirstStages<V> fs(log2n, sc, tw);
  const int qbits = log2n - 2 * V::kLog2Width;
  const Index tiles = Index{1} << qbits;
  const Index tile = 2 * kWidth;  // floats from one tile to the next
  Index r = 0;                    // bit reverse of q over qbits bits
  for (Index q = 0; q < tiles; ++q) {
    if (q < r) {
      Vec a[kWidth];
      Vec b[kWidth];
      fs.transform(cx + tile * q, a);
      fs.transform(cx + tile * r, b);
      fs.store(cx + tile * r, a);
      fs.store(cx + tile * q, b);
    } else if (q == r) {
      Vec a[kWidth];
      fs.transform(cx + tile * q, a);
      fs.store(cx + tile * q, a);
    }
    Index bit = tiles / 2;
    while (bit > 0 && (r & bit) != 0) {
      r ^= bit;
      bit /= 2;
    }
    r |= bit;
  }
}

// Stages s .. s + R - 1 in one sweep over n points (half-width at least the vector width): the
// 2^R points of a group, l = 2^s apart, stay in registers through all R stages, so each stage
// costs no loads or stores of its own. With kS >= 0 the start stage s = kS is fixed at compile
// time: every address is then a base plus a constant, which leaves the general registers to the
// loop.
template <class V, int R, int kS>
void sweep(float* cx, Index n, int s_run, const FftTwiddles& tw) {
  constexpr int kPoints = 1 << R;
  constexpr Index kWidth = Index{1} << V::kLog2Width;
  const int s = kS >= 0 ? kS : s_run;
  const Index l = Index{1} << s;
  for (Index b = 0; b < n; b += kPoints * l) {
    for (Index m = 0; m < l; m += kWidth) {
      float* p = cx + 2 * (b + m);
      const float* wr = tw.re + 2 * m;
      const float* wi = tw.im + 2 * m;
      typename V::Vec x[kPoints];
#pragma GCC unroll 16
      for (int k = 0; k < kPoints; ++k) x[k] = V::load(p + 2 * k * l);
#pragma GCC unroll 4
      for (int st = 0; st < R; ++st) {
        const int h = 1 << st;
#pragma GCC unroll 16
        for (int k = 0; k < kPoints; ++k) {
          if ((k & h) != 0) continue;
          // Point k of the group sits at k*l + m, so in the stage of half-width h*l its
          // butterfly takes the twiddle (k mod h)*l + m of that stage's table.
          const Index j = (Index{2} << (s + st)) + 2 * (k & (h - 1)) * l;
          butterfly<V>(x[k], x[k + h], load_twiddles<V>(wr + j, wi + j));
        }
      }
#pragma GCC unroll 16
      for (int k = 0; k < kPoints; ++k) V::store(p + 2 * k * l, x[k]);
    }
  }
}

using SweepFn = void (*)(float*, Index, int, const FftTwiddles&);

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

template <class V>
constexpr int kMaxSweep =
    V::kMaxSweepInCache > kMaxSweepBeyondCache ? V::kMaxSweepInCache : kMaxSweepBeyondCache;

// The first stage left after first_stages.
template <class V>
constexpr int kFirstSweep = V::kLog2Width;

// Fixed-stride sweeps for every sweep that a transform of at most 2^kBlockLog2 points, or a
// block of a longer one, runs: fn[r][s], null where no plan needs one.
template <class V>
struct FixedSweeps {
  SweepFn fn[V::kMaxSweepInCache + 1][kBlockLog2] = {};
};

template <class V, int K, int I>
constexpr void add_fixed(FixedSweeps<V>& t) {
  constexpr Plan p = plan_sweeps(kFirstSweep<V>, K, V::kMaxSweepInCache);
  if constexpr (I < p.count) {
    t.fn[p.sweeps[I].r][p.sweeps[I].s] = &sweep<V, p.sweeps[I].r, p.sweeps[I].s>;
  }
}

template <class V, std::size_t... KI>
constexpr FixedSweeps<V> make_fixed_sweeps(std::index_sequence<KI...>) {
  FixedSweeps<V> t;
  (add_fixed<V, static_cast<int>(KI / kFftMaxLog2), static_cast<int>(KI % kFftMaxLog2)>(t), ...);
  return t;
}

template <class V>
constexpr FixedSweeps<V> kFixedSweeps =
    make_fixed_sweeps<V>(std::make_index_sequence<(kBlockLog2 + 1) * kFftMaxLog2>{});

// The run-time-stride sweeps, by number of stages (a plain array, not a standard container).
template <class V>
struct GeneralSweeps {
  SweepFn fn[kMaxSweep<V> + 1];
};

template <class V, std::size_t... R>
constexpr GeneralSweeps<V> make_general_sweeps(std::index_sequence<R...>) {
  return {{nullptr, &sweep<V, static_cast<int>(R) + 1, -1>...}};
}

template <class V>
constexpr GeneralSweeps<V> kGeneralSweeps =
    make_general_sweeps<V>(std::make_index_sequence<kMaxSweep<V>>{});

template <class V>
void stage_range(float* cx, Index n, int s, int s_end, int max_sweep, const FftTwiddles& tw) {
  const Plan p = plan_sweeps(s, s_end, max_sweep);
  for (int i = 0; i < p.count; ++i) {
    const Sweep w = p.sweeps[i];
    SweepFn fn =
        w.s < kBlockLog2 && w.r <= V::kMaxSweepInCache ? kFixedSweeps<V>.fn[w.r][w.s] : nullptr;
    if (fn == nullptr) fn = kGeneralSweeps<V>.fn[w.r];
    fn(cx, n, w.s, tw);
  }
}

// The whole transform: the first stages, then the middle stages block by block while a block
// fits the first-level cache, then the last ones over all points.
template <class V>
void fork_vector(int log2n, float sc, float* cx, const FftTwiddles& tw) {
  first_stages<V>(log2n, sc, cx, tw);
  const Index n = Index{1} << log2n;
  if (log2n <= kBlockLog2) {
    stage_range<V>(cx, n, kFirstSweep<V>, log2n, V::kMaxSweepInCache, tw);
    return;
  }
  const Index block = Index{1} << kBlockLog2;
  for (Index b = 0; b < n; b += block) {
    stage_range<V>(cx + 2 * b, block, kFirstSweep<V>, kBlockLog2, V::kMaxSweepInCache, tw);
  }
  stage_range<V>(cx, n, kBlockLog2, log2n, kMaxSweepBeyondCache, tw);
}

}  // namespace

}  // namespace xcn::detail
