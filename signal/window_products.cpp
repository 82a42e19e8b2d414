// The portable path of the window products, the vector path's walk over its blocks, and the
// choice of path.
#include "signal/window_products.hpp"

#include <algorithm>
#include <cstdint>

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

namespace {

// Blocks summed between the request for a block's sums and their use: about the time memory
// takes to answer.
constexpr int kFetchAhead = 3;

// A register block: rows [row, row + rows) against columns [col, col + cols); the sums of pair
// (row + i, col + j) are element element[i] + j of out.
struct ProductBlock {
  int row = 0;
  int rows = 0;
  int col = 0;
  int cols = 0;
  std::size_t element[kBlockRows] = {};
};

// The blocks of a product in the order sum_blocks takes them.
class ProductBlocks {
 public:
  explicit ProductBlocks(const WindowProducts& p) : p_(&p), ncols_(p.triangle ? p.nrows : p.ncols) {
    start_rows();
  }

  // The next block into b; false after the last.
  bool next(ProductBlock& b) {
    if (row_ >= p_->nrows) return false;
    const int rows = std::min(kBlockRows, p_->nrows - row_);
    if (pair_of_rows_) {
      b = {row_, 1, row_ + 1, 1, {}};
      pair_of_rows_ = false;
    } else {
      b = {row_, rows, col_, std::min(kBlockCols, ncols_ - col_), {}};
      col_ += kBlockCols;
    }
    for (int i = 0; i < b.rows; ++i) {
      const int r = b.row + i;
      b.element[i] = p_->triangle ? triangle_element(p_->nrows, r, b.col)
                                  : static_cast<std::size_t>(r) * static_cast<std::size_t>(ncols_) +
                                        static_cast<std::size_t>(b.col);
    }
    if (!pair_of_rows_ && col_ >= ncols_) {
      row_ += kBlockRows;
      start_rows();
    }
    return true;
  }

 private:
  // The first block of the rows at row_ or, where they pair with no column, of later ones.
  void start_rows() {
    for (; row_ < p_->nrows; row_ += kBlockRows) {
      const int rows = std::min(kBlockRows, p_->nrows - row_);
      pair_of_rows_ = p_->triangle && rows == 2;
      col_ = p_->triangle ? row_ + rows : 0;
      if (pair_of_rows_ || col_ < ncols_) return;
    }
  }

  const WindowProducts* p_;
  int ncols_;
  int row_ = 0;
  int col_ = 0;
  bool pair_of_rows_ = false;  // in a triangle, the pair of the two rows, summed first
};

}  // namespace

void sum_blocks(const WindowProducts& p, const ProductKernel (&kernels)[kBlockRows][kBlockCols]) {
  constexpr std::uintptr_t kLine = 64;
  const Complex* const* cols = p.triangle ? p.rows : p.cols;
  const std::size_t stride = 2 * p.window_stride;
  const std::size_t floats = 2 * p.bins;
  const std::size_t bytes = p.bins * sizeof(Complex);
  // The sums of pair (row + i, col + j) of block b.
  const auto sums = [&p](const ProductBlock& b, int i, int j) {
    return p.out + (b.element[i] + static_cast<std::size_t>(j)) * p.out_stride;
  };
  ProductBlocks blocks(p);
  ProductBlocks ahead = blocks;
  ProductBlock b;
  for (int k = 0; k < kFetchAhead; ++k) ahead.next(b);
  while (blocks.next(b)) {
    // The sums of the block kFetchAhead on, asked for here: in a function of its own the
    // compiler finds nothing done and drops the call.
    ProductBlock later;
    if (ahead.next(later)) {
      for (int i = 0; i < later.rows; ++i) {
        for (int j = 0; j < later.cols; ++j) {
          const auto at = reinterpret_cast<std::uintptr_t>(sums(later, i, j));
          for (std::uintptr_t line = at & ~(kLine - 1); line < at + bytes; line += kLine) {
            __builtin_prefetch(reinterpret_cast<const void*>(line));
          }
        }
      }
    }
    const float* x[kBlockRows];
    const float* y[kBlockCols];
    float* o[kBlockRows * kBlockCols];
    for (int i = 0; i < b.rows; ++i) x[i] = reinterpret_cast<const float*>(p.rows[b.row + i]);
    for (int j = 0; j < b.cols; ++j) {
      y[j] = reinterpret_cast<const float*>(cols[b.col + j]);
      for (int i = 0; i < b.rows; ++i) {
        o[i * b.cols + j] = reinterpret_cast<float*>(sums(b, i, j));
      }
    }
    kernels[b.rows - 1][b.cols - 1](x, y, p.windows, stride, floats, o, p.add);
  }
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
