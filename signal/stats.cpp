// Sample standard deviation, heap sort and median.
#include "signal/stats.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace xcn {

namespace {

// Sifts v down from one-based position i within one-based positions 1 .. ir, moving the hole
// rather than swapping, and writes v once where it belongs.
void sift_down(std::span<float> ra, float v, int i, int ir) {
  int j = 2 * i;
  while (j <= ir) {
    if (j < ir && ra[j - 1] < ra[j]) ++j;  // larger child; the left one on a tie
    if (!(v < ra[j - 1])) break;
    ra[i - 1] = ra[j - 1];
    i = j;
    j *= 2;
  }
  ra[i - 1] = v;
}

}  // namespace

float std(std::span<const float> y, int nptlen) {
  // Two passes in double precision: the mean, then the squares of the deviations from it, with
  // the sum of the deviations taking out what rounding left in the mean. A one-pass sum of
  // squares in single precision loses the spread of a record whose mean is large against it (a
  // DC offset of counts) and can go negative. Four partial sums in a fixed order keep the
  // result the same on every machine and thread count.
  const std::size_t n = nptlen > 0 ? static_cast<std::size_t>(nptlen) : 0;
  double part[4] = {0.0, 0.0, 0.0, 0.0};
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    for (std::size_t l = 0; l < 4; ++l) part[l] += static_cast<double>(y[i + l]);
  }
  for (; i < n; ++i) part[i % 4] += static_cast<double>(y[i]);
  const double count = static_cast<double>(nptlen);
  const double mean = ((part[0] + part[1]) + (part[2] + part[3])) / count;
  double dev[4] = {0.0, 0.0, 0.0, 0.0};
  double sq[4] = {0.0, 0.0, 0.0, 0.0};
  for (i = 0; i + 4 <= n; i += 4) {
    for (std::size_t l = 0; l < 4; ++l) {
      const double d = static_cast<double>(y[i + l]) - mean;
      dev[l] += d;
      sq[l] += d * d;
    }
  }
  for (; i < n; ++i) {
    const double d = static_cast<double>(y[i]) - mean;
    dev[i % 4] += d;
    sq[i % 4] += d * d;
  }
  const double sum_dev = (dev[0] + dev[1]) + (dev[2] + dev[3]);
  const double sum_sq = (sq[0] + sq[1]) + (sq[2] + sq[3]);
  const double variance = (sum_sq - sum_dev * sum_dev / count) / (count - 1.0);
  return static_cast<float>(std::sqrt(std::max(variance, 0.0)));
}

void hpsort(int n, std::span<float> ra) {
  if (n < 2 || static_cast<std::size_t>(n) > ra.size()) return;
  int ir = n;
  for (int l = n / 2; l >= 1; --l) sift_down(ra, ra[l - 1], l, ir);
  for (;;) {
    const float v = ra[ir - 1];
    ra[ir - 1] = ra[0];
    if (--ir == 1) {
      ra[0] = v;
      return;
    }
    sift_down(ra, v, 1, ir);
  }
}

void mdian(std::span<float> x, int n, float& xmed) {
  if (n <= 0 || static_cast<std::size_t>(n) > x.size()) return;
  hpsort(n, x);
  const int half = n / 2;
  xmed = n % 2 == 1 ? x[half] : (x[half - 1] + x[half]) * 0.5f;
}

}  // namespace xcn
