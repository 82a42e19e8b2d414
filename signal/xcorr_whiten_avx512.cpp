// The cross-spectrum loop with AVX-512F, eight complex values at a time (built with -mavx512f).
//
// This file uses no inline function of a shared header: a copy compiled with AVX-512 could be
// picked by the linker for callers on processors without it. Only AVX-512F instructions.

// GCC 12 takes the deliberately undefined registers inside its AVX-512 intrinsics for
// uninitialised variables.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include "signal/xcorr_whiten.hpp"

namespace xcn::detail {

namespace {

// Moduli of the eight complex values in p = (re0, im0, ..., re7, im7), each in both lanes of
// its value: one double square root per value.
__m512 moduli(__m512 p) {
  const __m512i split = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15);
  const __m512 parts = _mm512_permutexvar_ps(split, p);  // re0 .. re7, im0 .. im7
  const __m512d re = _mm512_cvtps_pd(_mm512_castps512_ps256(parts));
  const __m512d im =
      _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(parts), 1)));
  const __m512d sum = _mm512_add_pd(_mm512_mul_pd(re, re), _mm512_mul_pd(im, im));
  const __m256 a = _mm512_cvtpd_ps(_mm512_sqrt_pd(sum));
  const __m512i twice = _mm512_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7);
  return _mm512_permutexvar_ps(twice, _mm512_castps256_ps512(a));
}

}  // namespace

std::size_t cross_spectrum_avx512(const Complex* y1, const Complex* y2, Complex* yw, std::size_t n,
                                  bool same) {
  const float* a_in = reinterpret_cast<const float*>(y1);
  const float* b_in = reinterpret_cast<const float*>(y2);
  float* out = reinterpret_cast<float*>(yw);
  const __m512i imag_sign = _mm512_set1_epi64(static_cast<long long>(0x8000000000000000ULL));
  const __m512 zero = _mm512_setzero_ps();
  const __mmask16 real_lanes = 0x5555;
  const std::size_t done = n - n % 8;
  for (std::size_t k = 0; k < done; k += 8) {
    const __m512 a = _mm512_loadu_ps(a_in + 2 * k);
    const __m512 c = _mm512_castsi512_ps(
        _mm512_xor_si512(_mm512_castps_si512(_mm512_loadu_ps(b_in + 2 * k)), imag_sign));
    // (a.re c.re - a.im c.im, a.re c.im + a.im c.re)
    const __m512 t1 = _mm512_mul_ps(_mm512_moveldup_ps(a), c);
    const __m512 t2 = _mm512_mul_ps(_mm512_movehdup_ps(a), _mm512_permute_ps(c, 0xB1));
    const __m512 p = _mm512_mask_sub_ps(_mm512_add_ps(t1, t2), real_lanes, t1, t2);
    const __m512 m = moduli(p);
    const __m512 r = same ? p : _mm512_div_ps(p, m);
    const __mmask16 is_zero = _mm512_cmp_ps_mask(m, zero, _CMP_EQ_OQ);
    _mm512_storeu_ps(out + 2 * k, _mm512_mask_blend_ps(is_zero, r, zero));
  }
  return done;
}

}  // namespace xcn::detail
