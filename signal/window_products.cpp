// The portable path of the window products, and the choice of path.
#include "signal/window_products.hpp"

#include "signal/xcorr_whiten.hpp"

namespace xcn {
namespace detail {

void window_products_portable(const WindowProducts& p) {
  const Complex* const* cols = p.triangle ? p.rows : p.cols;
  const int ncols = p.triangle ? p.nrows : p.ncols;
  for (int r = 0; r < p.nrows; ++r) {
    for (int c = p.triangle ? r + 1 : 0; c < ncols; ++c) {
      const std::size_t e = p.triangle
                                ? triangle_element(p.nrows, r, c)
                                : static_cast<std::size_t>(r) * static_cast<std::size_t>(ncols) +
                                      static_cast<std::size_t>(c);
      Complex* out = p.out + e * p.out_stride;
      for (std::size_t k = 0; k < p.bins; ++k) {
        float re = 0.0f;
        float im = 0.0f;
        const Complex* a = p.rows[r] + k;
        const Complex* b = cols[c] + k;
        for (int w = 0; w < p.windows; ++w, a += p.window_stride, b += p.window_stride) {
          re += a->re * b->re + a->im * b->im;
          im += a->im * b->re - a->re * b->im;
        }
        out[k] = p.add ? Complex{out[k].re + re, out[k].im + im} : Complex{re, im};
      }
    }
  }
}

bool window_products_avx2_supported() {
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

}  // namespace detail

void window_products(const WindowProducts& p) {
  // The path follows the cross-spectrum's choice, so XCN_SPECTRUM_ISA=portable forces both.
  static const bool vector = detail::spectrum_isa() != detail::SpectrumIsa::kPortable &&
                             detail::window_products_avx2_supported();
  if (vector) {
    detail::window_products_avx2(p);
  } else {
    detail::window_products_portable(p);
  }
}

}  // namespace xcn
