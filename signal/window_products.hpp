// Sums over windows of the products a conj(b) of spectra, bin by bin, for every pair of a block
// of rows against a block of columns: the stacked cross-spectra of many station pairs at once.
//
// The spectra are laid out as the matrix engine's sweeps keep them: a row's windows one after
// another, each a short run of bins. The vector path runs across the bins, four complex values
// at a time, with fused multiply-adds, so its sums round differently from the portable path's
// (both within a few units in the last place of the float sum).
#pragma once

#include <cstddef>

#include "signal/complex.hpp"

namespace xcn {

// Bins of a window's run: a multiple of this.
inline constexpr std::size_t kProductLanes = 4;

struct WindowProducts {
  const Complex* const* rows = nullptr;  // each row's first window to sum
  int nrows = 0;
  const Complex* const* cols = nullptr;  // each column's (unused in a triangle)
  int ncols = 0;
  bool triangle = false;          // the rows with themselves: pairs r < c, packed row by row
  int windows = 0;                // windows summed
  std::size_t window_stride = 0;  // values from one window of a row to its next
  std::size_t bins = 0;           // of each window, a multiple of kProductLanes
  Complex* out = nullptr;         // pair e's bins at out + e * out_stride
  std::size_t out_stride = 0;
  bool add = false;  // add the sums to what out holds, else replace it
};

// Element of pair (r, c), r < c, of a triangle of n rows packed row by row.
inline std::size_t triangle_element(int n, int r, int c) {
  const std::size_t rr = static_cast<std::size_t>(r);
  return rr * (2 * static_cast<std::size_t>(n) - rr - 1) / 2 + static_cast<std::size_t>(c - r - 1);
}

// out[e][k] (+)= sum over w of rows[r][w][k] conj(cols[c][w][k]) for every pair e = (r, c).
void window_products(const WindowProducts& p);

namespace detail {
// The two paths; window_products takes the vector one where the processor runs it.
void window_products_portable(const WindowProducts& p);
void window_products_avx2(const WindowProducts& p);
bool window_products_avx2_supported();
}  // namespace detail

}  // namespace xcn
