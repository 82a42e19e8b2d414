// Analytic signal of a real trace through the radix-2 transform.
#include "signal/analytic.hpp"

#include "signal/fft.hpp"

namespace xcn {

int analytic_length(int n) {
  int lx = 1;
  while (lx < n) lx *= 2;
  return lx;
}

void analytic_signal(std::span<const float> x, std::span<Complex> a) {
  const int n = static_cast<int>(x.size());
  const int lx = analytic_length(n);
  if (n < 1 || a.size() < static_cast<std::size_t>(lx)) return;
  for (int k = 0; k < lx; ++k) a[k] = {k < n ? x[k] : 0.0f, 0.0f};
  fork(lx, -1, a);
  // Positive frequencies doubled, negative ones gone; DC and Nyquist (lx/2) stay as they are.
  for (int k = 1; k < lx / 2; ++k) a[k] = {2.0f * a[k].re, 2.0f * a[k].im};
  for (int k = lx / 2 + 1; k < lx; ++k) a[k] = {0.0f, 0.0f};
  fork(lx, +1, a);
}

}  // namespace xcn
