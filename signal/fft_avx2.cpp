// AVX2 kernel of the fast FFT: four complex values per vector (this file is built with -mavx2).
#include <immintrin.h>

#include "signal/fft_kernels.hpp"
#include "signal/fft_vector_kernel.hpp"

namespace xcn::detail {

namespace {

struct Avx2 {
  using Vec = __m256;
  static constexpr int kLog2Width = 2;
  // As many stages as the sixteen registers hold.
  static constexpr int kMaxSweepInCache = 3;

  [[gnu::always_inline]] static Vec load(const float* p) { return _mm256_loadu_ps(p); }
  [[gnu::always_inline]] static void store(float* p, Vec v) { _mm256_storeu_ps(p, v); }
  [[gnu::always_inline]] static Vec add(Vec a, Vec b) { return _mm256_add_ps(a, b); }
  [[gnu::always_inline]] static Vec sub(Vec a, Vec b) { return _mm256_sub_ps(a, b); }
  [[gnu::always_inline]] static Vec mul(Vec a, Vec b) { return _mm256_mul_ps(a, b); }
  [[gnu::always_inline]] static Vec splat(float v) { return _mm256_set1_ps(v); }
  [[gnu::always_inline]] static Vec pairs(float a, float b) {
    return _mm256_setr_ps(a, b, a, b, a, b, a, b);
  }
  [[gnu::always_inline]] static Vec swap_pairs(Vec x) { return _mm256_permute_ps(x, 0xB1); }

  // Four rows of four complex values.
  [[gnu::always_inline]] static void transpose(Vec (&r)[4]) {
    const __m256d t0 = _mm256_unpacklo_pd(_mm256_castps_pd(r[0]), _mm256_castps_pd(r[1]));
    const __m256d t1 = _mm256_unpackhi_pd(_mm256_castps_pd(r[0]), _mm256_castps_pd(r[1]));
    const __m256d t2 = _mm256_unpacklo_pd(_mm256_castps_pd(r[2]), _mm256_castps_pd(r[3]));
    const __m256d t3 = _mm256_unpackhi_pd(_mm256_castps_pd(r[2]), _mm256_castps_pd(r[3]));
    r[0] = _mm256_castpd_ps(_mm256_permute2f128_pd(t0, t2, 0x20));
    r[1] = _mm256_castpd_ps(_mm256_permute2f128_pd(t1, t3, 0x20));
    r[2] = _mm256_castpd_ps(_mm256_permute2f128_pd(t0, t2, 0x31));
    r[3] = _mm256_castpd_ps(_mm256_permute2f128_pd(t1, t3, 0x31));
  }
};

}  // namespace

void fork_avx2(int log2n, float sc, float* cx, FftTwiddles tw) {
  fork_vector<Avx2>(log2n, sc, cx, tw);
}

}  // namespace xcn::detail
