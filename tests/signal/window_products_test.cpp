// The window products against sums in double precision, on both paths, for every shape of the
// register blocks: triangles and rectangles with rows and columns left over, windows of any
// count, bins in runs, sums replaced and added to.
#include "signal/window_products.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace xcn {
namespace {

struct Shape {
  int rows, cols;  // cols 0: the rows with themselves
  int windows;
  std::size_t bins;
};

// Runs one path over spectra laid out row, window, bin (with room between windows), and
// compares each pair's sums with a double-precision sum; out holds `base` beforehand.
void check(void (*path)(const WindowProducts&), const Shape& s, bool add) {
  std::mt19937 gen(static_cast<unsigned>(s.rows * 131 + s.cols * 17 + s.windows));
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  const std::size_t stride = s.bins + 4;  // values between windows that no sum may read
  const bool triangle = s.cols == 0;
  const int cols = triangle ? s.rows : s.cols;
  const auto make = [&](int n) {
    std::vector<Complex> v(static_cast<std::size_t>(n * s.windows) * stride + 1);
    for (Complex& c : v) c = {u(gen), u(gen)};
    return v;
  };
  const std::vector<Complex> a = make(s.rows);
  const std::vector<Complex> b = make(cols);
  std::vector<const Complex*> ra;
  std::vector<const Complex*> rb;
  for (int r = 0; r < s.rows; ++r)
    ra.push_back(a.data() + static_cast<std::size_t>(r * s.windows) * stride);
  for (int c = 0; c < cols; ++c)
    rb.push_back(b.data() + static_cast<std::size_t>(c * s.windows) * stride);
  const std::size_t pairs = triangle ? static_cast<std::size_t>(s.rows * (s.rows - 1) / 2)
                                     : static_cast<std::size_t>(s.rows * cols);
  const std::size_t out_stride = s.bins + 8;
  const Complex base{0.25f, -0.5f};
  const Complex guard{7.0f, 7.0f};
  std::vector<Complex> out(pairs * out_stride, guard);
  for (std::size_t e = 0; e < pairs; ++e) std::fill_n(out.begin() + e * out_stride, s.bins, base);

  WindowProducts p;
  p.rows = ra.data();
  p.nrows = s.rows;
  p.cols = triangle ? nullptr : rb.data();
  p.ncols = triangle ? 0 : cols;
  p.triangle = triangle;
  p.windows = s.windows;
  p.window_stride = stride;
  p.bins = s.bins;
  p.out = out.data();
  p.out_stride = out_stride;
  p.add = add;
  path(p);

  const std::vector<const Complex*>& rc = triangle ? ra : rb;
  std::size_t e = 0;
  for (int r = 0; r < s.rows; ++r) {
    for (int c = triangle ? r + 1 : 0; c < cols; ++c, ++e) {
      if (triangle) {
        ASSERT_EQ(triangle_element(s.rows, r, c), e);
      }
      for (std::size_t k = 0; k < s.bins; ++k) {
        std::complex<double> sum(add ? base.re : 0.0, add ? base.im : 0.0);
        for (int w = 0; w < s.windows; ++w) {
          const Complex x =
              ra[static_cast<std::size_t>(r)][static_cast<std::size_t>(w) * stride + k];
          const Complex y =
              rc[static_cast<std::size_t>(c)][static_cast<std::size_t>(w) * stride + k];
          sum += std::complex<double>(x.re, x.im) * std::conj(std::complex<double>(y.re, y.im));
        }
        const Complex got = out[e * out_stride + k];
        const double tol = 1e-6 * (s.windows + 1);
        ASSERT_NEAR(got.re, sum.real(), tol) << r << " " << c << " bin " << k;
        ASSERT_NEAR(got.im, sum.imag(), tol) << r << " " << c << " bin " << k;
      }
      // Nothing past the bins is written.
      for (std::size_t k = s.bins; k < out_stride; ++k) {
        ASSERT_EQ(out[e * out_stride + k].re, guard.re);
      }
    }
  }
}

// Triangles and rectangles whose rows and columns leave every shape of the vector path's blocks,
// a triangle's pairs of two rows among them.
const Shape kShapes[] = {
    {1, 1, 3, 4},  {2, 0, 1, 4},   {3, 0, 5, 8}, {7, 0, 25, 16}, {8, 0, 2, 4},  {9, 0, 3, 12},
    {5, 4, 7, 12}, {2, 3, 25, 16}, {1, 5, 0, 4}, {4, 7, 9, 8},   {6, 2, 31, 4}, {11, 0, 4, 20},
};

TEST(WindowProducts, SumEveryPairOfEveryBlockShapeOnBothPaths) {
  std::vector<void (*)(const WindowProducts&)> paths = {detail::window_products_portable};
  if (detail::window_products_avx2_supported()) paths.push_back(detail::window_products_avx2);
  for (const auto path : paths) {
    for (const Shape& s : kShapes) {
      for (const bool add : {false, true}) {
        SCOPED_TRACE(testing::Message() << s.rows << "x" << s.cols << " windows " << s.windows
                                        << " bins " << s.bins << (add ? " added" : ""));
        check(path, s, add);
      }
    }
  }
}

// The sums of one pair do not depend on the block it is computed in: a row taken alone gives
// the bits it gives among others.
TEST(WindowProducts, APairSumsAloneAsInItsBlock) {
  std::mt19937 gen(5);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  const int rows = 5;
  const int windows = 9;
  const std::size_t bins = 8;
  std::vector<Complex> a(static_cast<std::size_t>(rows * windows) * bins);
  for (Complex& c : a) c = {u(gen), u(gen)};
  std::vector<const Complex*> ra;
  for (int r = 0; r < rows; ++r)
    ra.push_back(a.data() + static_cast<std::size_t>(r * windows) * bins);
  std::vector<Complex> all(static_cast<std::size_t>(rows * (rows - 1) / 2) * bins);
  WindowProducts p;
  p.rows = ra.data();
  p.nrows = rows;
  p.triangle = true;
  p.windows = windows;
  p.window_stride = bins;
  p.bins = bins;
  p.out = all.data();
  p.out_stride = bins;
  window_products(p);
  for (int r = 0; r < rows; ++r) {
    for (int c = r + 1; c < rows; ++c) {
      std::vector<Complex> one(bins);
      WindowProducts q = p;
      q.rows = &ra[static_cast<std::size_t>(r)];
      q.nrows = 1;
      q.cols = &ra[static_cast<std::size_t>(c)];
      q.ncols = 1;
      q.triangle = false;
      q.out = one.data();
      window_products(q);
      for (std::size_t k = 0; k < bins; ++k) {
        const Complex x = all[triangle_element(rows, r, c) * bins + k];
        EXPECT_EQ(x.re, one[k].re);
        EXPECT_EQ(x.im, one[k].im);
      }
    }
  }
}

}  // namespace
}  // namespace xcn
