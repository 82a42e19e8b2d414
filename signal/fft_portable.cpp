// Fast FFT kernel in plain C++: the plain butterflies with cached twiddles in a cache-friendly
// order.
#include <cstddef>

#include "signal/fft_kernels.hpp"

namespace xcn::detail {

namespace {

using Index = std::ptrdiff_t;

// Points per block whose early stages run to the end before the next block is touched:
// 32 KiB of data, small enough to stay in the first-level cache.
constexpr int kBlockLog2 = 12;

// Bit-reversal permutation, scaling every element once: the same moves and products as the plain
// loop (zero-based here).
void permute_and_scale(Index n, float sc, float* cx) {
  Index j = 0;
  for (Index i = 0; i < n; ++i) {
    if (i <= j) {
      const float tr = cx[2 * j] * sc;
      const float ti = cx[2 * j + 1] * sc;
      cx[2 * j] = cx[2 * i] * sc;
      cx[2 * j + 1] = cx[2 * i + 1] * sc;
      cx[2 * i] = tr;
      cx[2 * i + 1] = ti;
    }
    Index m = n / 2;
    while (m >= 1 && j >= m) {
      j -= m;
      m /= 2;
    }
    j += m;
  }
}

// One butterfly, each operation as in the plain loop: t = w*x; x = a - t; a = a + t.
void butterfly(float* a, float* x, float wr, float wi) {
  const float tr = wr * x[0] - wi * x[1];
  const float ti = wr * x[1] + wi * x[0];
  const float ar = a[0];
  const float ai = a[1];
  x[0] = ar - tr;
  x[1] = ai - ti;
  a[0] = ar + tr;
  a[1] = ai + ti;
}

// Stage s over n points.
void radix2_pass(float* cx, Index n, int s, FftTwiddles tw) {
  const Index l = Index{1} << s;
  const float* wr = tw.re + (Index{2} << s);
  const float* wi = tw.im + (Index{2} << s);
  for (Index b = 0; b < n; b += 2 * l) {
    for (Index m = 0; m < l; ++m) {
      butterfly(cx + 2 * (b + m), cx + 2 * (b + m + l), wr[2 * m], wi[2 * m + 1]);
    }
  }
}

// Stages s and s + 1 in one sweep over n points: the four points of a group meet in both.
void radix4_pass(float* cx, Index n, int s, FftTwiddles tw) {
  const Index l = Index{1} << s;
  const float* wr1 = tw.re + (Index{2} << s);
  const float* wi1 = tw.im + (Index{2} << s);
  const float* wr2 = tw.re + (Index{4} << s);
  const float* wi2 = tw.im + (Index{4} << s);
  for (Index b = 0; b < n; b += 4 * l) {
    for (Index m = 0; m < l; ++m) {
      float* p0 = cx + 2 * (b + m);
      float* p1 = p0 + 2 * l;
      float* p2 = p0 + 4 * l;
      float* p3 = p0 + 6 * l;
      butterfly(p0, p1, wr1[2 * m], wi1[2 * m + 1]);
      butterfly(p2, p3, wr1[2 * m], wi1[2 * m + 1]);
      butterfly(p0, p2, wr2[2 * m], wi2[2 * m + 1]);
      butterfly(p1, p3, wr2[2 * (m + l)], wi2[2 * (m + l) + 1]);
    }
  }
}

void stage_range(float* cx, Index n, int s, int s_end, FftTwiddles tw) {
  for (; s + 1 < s_end; s += 2) radix4_pass(cx, n, s, tw);
  if (s < s_end) radix2_pass(cx, n, s, tw);
}

}  // namespace

void fork_portable(int log2n, float sc, float* cx, FftTwiddles tw) {
  const Index n = Index{1} << log2n;
  permute_and_scale(n, sc, cx);
  if (log2n <= kBlockLog2) {
    stage_range(cx, n, 0, log2n, tw);
    return;
  }
  const Index block = Index{1} << kBlockLog2;
  for (Index b = 0; b < n; b += block) stage_range(cx + 2 * b, block, 0, kBlockLog2, tw);
  stage_range(cx, n, kBlockLog2, log2n, tw);
}

}  // namespace xcn::detail
