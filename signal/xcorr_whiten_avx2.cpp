// The cross-spectrum loop with AVX2, four complex values at a time (built with -mavx2 only).
//
// This file uses no inline function of a shared header: a copy compiled with AVX2 could be
// picked by the linker for callers on processors without it.
#include <immintrin.h>

#include "signal/xcorr_whiten.hpp"

namespace xcn::detail {

namespace {

// Moduli of the four complex values in p = (re0, im0, ..., re3, im3), each in both lanes of
// its value: one double square root per value.
__m256 moduli(__m256 p) {
  const __m256 parts = _mm256_permutevar8x32_ps(p, _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7));
  const __m256d re = _mm256_cvtps_pd(_mm256_castps256_ps128(parts));
  const __m256d im = _mm256_cvtps_pd(_mm256_extractf128_ps(parts, 1));
  const __m256d sum = _mm256_add_pd(_mm256_mul_pd(re, re), _mm256_mul_pd(im, im));
  const __m128 a = _mm256_cvtpd_ps(_mm256_sqrt_pd(sum));
  return _mm256_permutevar8x32_ps(_mm256_castps128_ps256(a),
                                  _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3));
}

}  // namespace

std::size_t cross_spectrum_avx2(const Complex* y1, const Complex* y2, Complex* yw, std::size_t n,
                                bool same) {
  const float* a_in = reinterpret_cast<const float*>(y1);
  const float* b_in = reinterpret_cast<const float*>(y2);
  float* out = reinterpret_cast<float*>(yw);
  const __m256 imag_sign = _mm256_castsi256_ps(_mm256_set1_epi64x(0x8000000000000000LL));
  const __m256 zero = _mm256_setzero_ps();
  const std::size_t done = n - n % 4;
  for (std::size_t k = 0; k < done; k += 4) {
    const __m256 a = _mm256_loadu_ps(a_in + 2 * k);
    const __m256 c = _mm256_xor_ps(_mm256_loadu_ps(b_in + 2 * k), imag_sign);  // conj
    // (a.re c.re - a.im c.im, a.re c.im + a.im c.re)
    const __m256 t1 = _mm256_mul_ps(_mm256_moveldup_ps(a), c);
    const __m256 t2 = _mm256_mul_ps(_mm256_movehdup_ps(a), _mm256_permute_ps(c, 0xB1));
    const __m256 p = _mm256_addsub_ps(t1, t2);
    const __m256 m = moduli(p);
    const __m256 r = same ? p : _mm256_div_ps(p, m);
    _mm256_storeu_ps(out + 2 * k, _mm256_blendv_ps(r, zero, _mm256_cmp_ps(m, zero, _CMP_EQ_OQ)));
  }
  return done;
}

}  // namespace xcn::detail
