// The window products with AVX2 and FMA (this file alone is built with -mavx2 -mfma): four
// complex bins in a vector, a block of two rows against three columns in the sixteen registers.
//
// For a = (ar, ai) and b = (br, bi) in adjacent lanes, p += a * b gathers (ar br, ai bi) and
// q += a * swap(b) gathers (ar bi, ai br); after the windows, ar br + ai bi is the real part of
// a conj(b) and ai br - ar bi its imaginary part.
//
// This file calls no inline function of a shared header: a copy compiled with AVX2 could be
// picked by the linker for callers on processors without it.
#include <immintrin.h>

#include "signal/window_products.hpp"

namespace xcn::detail {

namespace {

template <int MI, int MJ>
void product_block(const float* const* a, const float* const* b, int windows, std::size_t stride,
                   std::size_t floats, float* const* out, bool add) {
  for (std::size_t v = 0; v < floats; v += 8) {
    __m256 p[MI][MJ];
    __m256 q[MI][MJ];
#pragma GCC unroll 4
    for (int i = 0; i < MI; ++i) {
#pragma GCC unroll 4
      for (int j = 0; j < MJ; ++j) {
        p[i][j] = _mm256_setzero_ps();
        q[i][j] = _mm256_setzero_ps();
      }
    }
    std::size_t at = v;
    for (int w = 0; w < windows; ++w, at += stride) {
      __m256 ai[MI];
#pragma GCC unroll 4
      for (int i = 0; i < MI; ++i) ai[i] = _mm256_loadu_ps(a[i] + at);
#pragma GCC unroll 4
      for (int j = 0; j < MJ; ++j) {
        const __m256 bj = _mm256_loadu_ps(b[j] + at);
        const __m256 bs = _mm256_permute_ps(bj, 0xB1);
#pragma GCC unroll 4
        for (int i = 0; i < MI; ++i) {
          p[i][j] = _mm256_fmadd_ps(ai[i], bj, p[i][j]);
          q[i][j] = _mm256_fmadd_ps(ai[i], bs, q[i][j]);
        }
      }
    }
#pragma GCC unroll 4
    for (int i = 0; i < MI; ++i) {
#pragma GCC unroll 4
      for (int j = 0; j < MJ; ++j) {
        const __m256 re = _mm256_add_ps(p[i][j], _mm256_permute_ps(p[i][j], 0xB1));
        const __m256 im = _mm256_sub_ps(q[i][j], _mm256_permute_ps(q[i][j], 0xB1));
        __m256 sum = _mm256_blend_ps(re, im, 0xAA);
        float* o = out[i * MJ + j] + v;
        if (add) sum = _mm256_add_ps(_mm256_loadu_ps(o), sum);
        _mm256_storeu_ps(o, sum);
      }
    }
  }
}

constexpr ProductKernel kKernels[kBlockRows][kBlockCols] = {
    {product_block<1, 1>, product_block<1, 2>, product_block<1, 3>},
    {product_block<2, 1>, product_block<2, 2>, product_block<2, 3>},
};

}  // namespace

void window_products_avx2(const WindowProducts& p) { sum_blocks(p, kKernels); }

}  // namespace xcn::detail
