// Sample standard deviation, heap sort and median.
#include "signal/stats.hpp"

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
  float sumall = 0.0f;
  float sumsq = 0.0f;
  for (int i = 0; i < nptlen; ++i) {
    sumall += y[i];
    sumsq += y[i] * y[i];
  }
  const float n = static_cast<float>(nptlen);
  const float avg = sumall / n;
  return std::sqrt((sumsq - (avg * avg) * n) / static_cast<float>(nptlen - 1));
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
