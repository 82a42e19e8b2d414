// AVX-512 kernel of the fast FFT: eight complex values per vector (built with -mavx512f).

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
#include "signal/fft_vector_kernel.hpp"

namespace xcn::detail {

namespace {

struct Avx512 {
  using Vec = __m512;
  static constexpr int kLog2Width = 3;
  // As many stages as the thirty-two registers hold.
  static constexpr int kMaxSweepInCache = 4;

  [[gnu::always_inline]] static Vec load(const float* p) { return _mm512_loadu_ps(p); }
  [[gnu::always_inline]] static void store(float* p, Vec v) { _mm512_storeu_ps(p, v); }
  [[gnu::always_inline]] static Vec add(Vec a, Vec b) { return _mm512_add_ps(a, b); }
  [[gnu::always_inline]] static Vec sub(Vec a, Vec b) { return _mm512_sub_ps(a, b); }
  [[gnu::always_inline]] static Vec mul(Vec a, Vec b) { return _mm512_mul_ps(a, b); }
  [[gnu::always_inline]] static Vec splat(float v) { return _mm512_set1_ps(v); }
  [[gnu::always_inline]] static Vec pairs(float a, float b) {
    return _mm512_broadcast_f32x4(_mm_setr_ps(a, b, a, b));
  }
  [[gnu::always_inline]] static Vec swap_pairs(Vec x) { return _mm512_permute_ps(x, 0xB1); }

  [[gnu::always_inline]] static __m512d as_pd(Vec v) { return _mm512_castps_pd(v); }

  // Eight rows of eight complex values.
  [[gnu::always_inline]] static void transpose(Vec (&r)[8]) {
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
};

}  // namespace

void fork_avx512(int log2n, float sc, float* cx, FftTwiddles tw) {
  fork_vector<Avx512>(log2n, sc, cx, tw);
}

}  // namespace xcn::detail
