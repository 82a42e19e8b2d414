// Radix-2 decimation-in-time FFT and spectrum completion.
#include "signal/fft.hpp"

#include <cmath>
#include <cstddef>

#include "signal/fft_isa.hpp"

namespace xcn {

namespace {

Complex scaled(Complex z, float sc) { return {z.re * sc, z.im * sc}; }

// Bit-reversal permutation, scaling every element exactly once on the way, so that all scaling
// is done before the first butterfly. i and j are one-based here as in the classic loop.
void permute_and_scale(int lx, float sc, std::span<Complex> cx) {
  int j = 1;
  for (int i = 1; i <= lx; ++i) {
    if (i <= j) {
      const Complex t = scaled(cx[j - 1], sc);
      cx[j - 1] = scaled(cx[i - 1], sc);
      cx[i - 1] = t;
    }
    int m = lx / 2;
    while (m >= 1 && j > m) {
      j -= m;
      m /= 2;
    }
    j += m;
  }
}

}  // namespace

void fork(int lx, int i_sign, std::span<Complex> cx) { fork_with(fft_isa(), lx, i_sign, cx); }

void fork_reference(int lx, int i_sign, std::span<Complex> cx) {
  if (!is_power_of_two(lx) || static_cast<std::size_t>(lx) > cx.size()) return;

  const float sc = i_sign < 0 ? 1.0f / static_cast<float>(lx) : 1.0f;
  permute_and_scale(lx, sc, cx);

  const float pi_sign = kPi * static_cast<float>(i_sign);
  // Stage by stage; within a stage the twiddle index is the outer loop. Each twiddle is taken
  // straight from the exponential (no recurrence) so its rounding does not build up.
  for (int l = 1; l < lx; l *= 2) {
    const int istep = 2 * l;
    for (int m = 0; m < l; ++m) {
      const float theta = static_cast<float>(m) * pi_sign / static_cast<float>(l);
      const Complex w{std::cos(theta), std::sin(theta)};
      for (int i = m; i < lx; i += istep) {
        const Complex t = mul(w, cx[i + l]);
        const Complex a = cx[i];
        cx[i + l] = {a.re - t.re, a.im - t.im};
        cx[i] = {a.re + t.re, a.im + t.im};
      }
    }
  }
}

void fold(int n, int nq1, std::span<Complex> u) {
  if (nq1 > n || n < 0 || static_cast<std::size_t>(n) > u.size()) return;
  for (int k = 2; k <= nq1; ++k) {
    const Complex v = u[k - 1];
    u[n + 1 - k] = {v.re, -v.im};
  }
}

}  // namespace xcn
