// Zero-phase band-pass through the radix-2 transform.
#include "signal/band_pass.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "signal/fft.hpp"

namespace xcn {

double band_pass_gain(double f, double low, double high, double nyquist) {
  const double low_zero = 0.8 * low;
  const double high_zero = std::min(1.2 * high, nyquist);
  if (f < low_zero || f > high_zero) return 0.0;
  // kPi as the kernels hold it: the gains keep the bits the record preparation has given them.
  if (f < low) return 0.5 * (1.0 - std::cos(kPi * (f - low_zero) / (low - low_zero)));
  if (f > high) {
    if (high_zero <= high) return 1.0;
    return 0.5 * (1.0 + std::cos(kPi * (f - high) / (high_zero - high)));
  }
  return 1.0;
}

int band_pass_length(int n) {
  int length = 1;
  while (length < 2 * n) length *= 2;
  return length;
}

void band_pass_gains(int length, double delta, double low, double high, std::span<float> gains) {
  const double nyquist = 0.5 / delta;
  for (int k = 0; k <= length / 2; ++k) {
    const double f = static_cast<double>(k) / (static_cast<double>(length) * delta);
    gains[static_cast<std::size_t>(k)] = static_cast<float>(band_pass_gain(f, low, high, nyquist));
  }
}

void apply_gains(std::span<Complex> spectrum, int length, std::span<const float> gains) {
  for (int k = 0; k <= length / 2; ++k) {
    const float g = gains[static_cast<std::size_t>(k)];
    auto& c = spectrum[static_cast<std::size_t>(k)];
    c = {c.re * g, c.im * g};
    if (k > 0 && k < length / 2) {
      auto& mirror = spectrum[static_cast<std::size_t>(length - k)];
      mirror = {mirror.re * g, mirror.im * g};
    }
  }
}

void band_pass(std::span<float> x, double delta, double low, double high, std::span<Complex> work) {
  if (x.empty()) return;
  const int length = band_pass_length(static_cast<int>(x.size()));
  if (work.size() < static_cast<std::size_t>(length)) return;
  std::fill(work.begin(), work.begin() + length, Complex{0.0f, 0.0f});
  for (std::size_t i = 0; i < x.size(); ++i) work[i] = {x[i], 0.0f};
  std::vector<float> gains(static_cast<std::size_t>(length / 2 + 1));
  band_pass_gains(length, delta, low, high, gains);
  fork(length, 1, work);
  apply_gains(work, length, gains);
  fork(length, -1, work);
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = work[i].re;
}

}  // namespace xcn
