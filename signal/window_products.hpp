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

// The vector path's register blocks: at most two rows against three columns.
inline constexpr int kBlockRows = 2;
inline constexpr int kBlockCols = 3;

// A register block: the sums over `windows` of rows a[0..MI) against columns b[0..MJ) (runs of
// `floats` floats, `stride` floats from a window to the next) into out[i * MJ + j], added to
// what they hold or replacing it.
using ProductKernel = void (*)(const float* const* a, const float* const* b, int windows,
                               std::size_t stride, std::size_t floats, float* const* out, bool add);

// Sums p block by block, by kernels[MI - 1][MJ - 1] for a block of MI rows and MJ columns: the
// rows two at a time and, for each two, the columns three at a time; in a triangle the two rows'
// own pair comes first, alone. A block's sums are asked of the memory a few blocks before they
// are summed: a sweep's sums of many pairs are not in the cache.
void sum_blocks(const WindowProducts& p, const ProductKernel (&kernels)[kBlockRows][kBlockCols]);
}  // namespace detail

}  // namespace xcn
