// The reference as a cubic B-spline through its upsampled samples.
#include "dvv/curve.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "signal/fft.hpp"

namespace xcn::dvv {

void ReferenceCurve::stretched(const Lags& lags, double e, std::span<double> out) const {
  const double factor = 1.0 + e;
  std::size_t i = 0;
  for (ViewSign v : lags.views) {
    for (int j = lags.first; j <= lags.last; ++j) out[i++] = view_at(v, j * factor);
  }
}

int upsampling_for(double top) {
  int up = 1;
  while (top > up / 16.0) up *= 2;
  return up;
}

void build_curve(std::span<const Complex> spectrum, int length, int zero, int up, double reach,
                 std::span<Complex> work, ReferenceCurve& curve) {
  const int n = length * up;
  const int half = length / 2;
  std::fill(work.begin(), work.begin() + n, Complex{0.0f, 0.0f});
  // The cubic B-spline through samples f has coefficients f / B, B(w) = (4 + 2 cos w) / 6 the
  // spline's own samples; the factor up undoes the longer inverse transform's 1 / n.
  const auto scale = [&](int k) {
    return static_cast<float>(up * 3.0 / (2.0 + std::cos(2.0 * std::numbers::pi * k / n)));
  };
  const auto put = [&](int to, Complex c, int k, float share) {
    const float g = scale(k) * share;
    work[static_cast<std::size_t>(to)] = {c.re * g, c.im * g};
  };
  for (int k = 0; k < half; ++k) put(k, spectrum[static_cast<std::size_t>(k)], k, 1.0f);
  for (int k = 1; k < half; ++k) {
    put(n - k, spectrum[static_cast<std::size_t>(length - k)], k, 1.0f);
  }
  // The Nyquist bin stands for both signs: upsampled, it is shared between them.
  const Complex nyquist = spectrum[static_cast<std::size_t>(half)];
  if (up == 1) {
    put(half, nyquist, half, 1.0f);
  } else {
    put(half, nyquist, half, 0.5f);
    put(n - half, nyquist, half, 0.5f);
  }
  fork(n, -1, work);
  const int extent = static_cast<int>(std::ceil(reach * up)) + 3;
  curve.up = up;
  curve.origin = extent;
  curve.coefficients.resize(static_cast<std::size_t>(2 * extent + 1));
  for (int q = -extent; q <= extent; ++q) {
    // The transform is circular: lags beyond the ends wrap into the padding, as the filter saw.
    const int at = ((zero * up + q) % n + n) % n;
    curve.coefficients[static_cast<std::size_t>(q + extent)] =
        work[static_cast<std::size_t>(at)].re;
  }
}

}  // namespace xcn::dvv
