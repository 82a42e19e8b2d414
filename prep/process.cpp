// Per-channel signal processing: detrend, taper, resampling onto the day's grid, band-pass,
// temporal normalisation.
#include "prep/process.hpp"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "signal/complex.hpp"
#include "signal/fft.hpp"

namespace xcn::prep {
namespace {

constexpr double kPi = std::numbers::pi;

soxr_quality_spec_t quality() { return soxr_quality_spec(SOXR_HQ, SOXR_LINEAR_PHASE); }

// Modified Bessel function of order zero, for the Kaiser window.
double bessel_i0(double x) {
  double sum = 1.0;
  double term = 1.0;
  for (int k = 1; k < 50; ++k) {
    term *= (x / (2.0 * k)) * (x / (2.0 * k));
    sum += term;
    if (term < 1e-17 * sum) break;
  }
  return sum;
}

// Taps of a Kaiser-windowed sinc that reads a signal `fraction` of a sample after each sample:
// y[i] = sum over m of taps[m] * x[i + m - half + 1]. Normalised to unit gain at zero frequency.
std::vector<double> fractional_taps(double fraction, int half) {
  constexpr double kBeta = 8.0;
  std::vector<double> taps(static_cast<std::size_t>(2 * half));
  double sum = 0;
  for (int m = 0; m < 2 * half; ++m) {
    const double t = static_cast<double>(m - half + 1) - fraction;  // distance in samples
    const double sinc = t == 0.0 ? 1.0 : std::sin(kPi * t) / (kPi * t);
    const double r = t / static_cast<double>(half);
    const double window =
        std::fabs(r) >= 1.0 ? 0.0 : bessel_i0(kBeta * std::sqrt(1.0 - r * r)) / bessel_i0(kBeta);
    taps[static_cast<std::size_t>(m)] = sinc * window;
    sum += sinc * window;
  }
  for (double& tap : taps) tap /= sum;
  return taps;
}

}  // namespace

void detrend(std::span<double> x) {
  const auto n = static_cast<double>(x.size());
  if (x.empty()) return;
  // Against the centred index, slope and mean are independent.
  const double centre = (n - 1.0) / 2.0;
  double mean = 0;
  double slope_num = 0;
  double slope_den = 0;
  for (std::size_t i = 0; i < x.size(); ++i) mean += x[i];
  mean /= n;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double t = static_cast<double>(i) - centre;
    slope_num += t * (x[i] - mean);
    slope_den += t * t;
  }
  const double slope = slope_den > 0 ? slope_num / slope_den : 0.0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    x[i] -= mean + slope * (static_cast<double>(i) - centre);
  }
}

void taper_ends(std::span<double> x, std::size_t width) {
  width = std::min(width, x.size() / 2);
  for (std::size_t i = 0; i < width; ++i) {
    const double w =
        0.5 * (1.0 - std::cos(kPi * (static_cast<double>(i) + 0.5) / static_cast<double>(width)));
    x[i] *= w;
    x[x.size() - 1 - i] *= w;
  }
}

ResamplerBands resampler_bands() {
  const soxr_quality_spec_t q = quality();
  // The 20-bit recipe's rejection: about 6 dB per bit.
  return {q.passband_end, q.stopband_begin, 6.02 * q.precision};
}

GridPiece resample_onto_grid(std::vector<double> x, double start, double rate, double delta,
                             std::string& error) {
  GridPiece piece;
  if (x.empty() || !(rate > 0) || !(delta > 0)) return piece;
  const double last = start + static_cast<double>(x.size() - 1) / rate;
  // A hair of tolerance, so that a sample on a grid time by its microseconds counts as on it.
  const double first_k = std::ceil(start / delta - 1e-9);
  const double last_k = std::floor(last / delta + 1e-9);
  if (last_k < first_k) return piece;
  piece.first = static_cast<std::int64_t>(first_k);
  const auto count = static_cast<std::size_t>(last_k - first_k) + 1;

  // Input samples from the first grid time on; the fraction is taken out by interpolation.
  const double offset = std::max(0.0, (first_k * delta - start) * rate);
  auto skip = static_cast<std::size_t>(std::floor(offset));
  double fraction = offset - static_cast<double>(skip);
  if (fraction > 1.0 - 1e-7) {
    ++skip;
    fraction = 0;
  }
  skip = std::min(skip, x.size());
  const auto n = static_cast<std::ptrdiff_t>(x.size() - skip);
  // Zeros after the end (where the taper has brought the data), so that the resampler, which
  // makes as many outputs as the input spans whole intervals, reaches the last grid time too.
  x.resize(x.size() + static_cast<std::size_t>(std::ceil(rate * delta)) + 1, 0.0);
  double* const moved = x.data() + skip;
  if (fraction >= 1e-7) {
    // Longer taps where the band kept reaches near the input's Nyquist frequency; far below
    // it (100 Hz to 1 Hz) a short interpolator is exact to a few parts in a million.
    const double band = 1.0 / (delta * rate);
    const int half = band > 0.5 ? 32 : (band > 0.1 ? 8 : 4);
    const std::vector<double> taps = fractional_taps(fraction, half);
    // In place: the window of input samples that output i reads, kept twice over in a ring so
    // that it is always contiguous. Beyond the segment's ends it is zero (tapered there).
    const int width = 2 * half;
    const std::ptrdiff_t below = skip;  // input samples before the first one moved
    auto original = [&](std::ptrdiff_t k) { return k >= -below && k < n ? moved[k] : 0.0; };
    std::vector<double> ring(static_cast<std::size_t>(2 * width));
    for (int m = 0; m < width; ++m) {
      ring[static_cast<std::size_t>(m)] = ring[static_cast<std::size_t>(m + width)] =
          original(m - half + 1);
    }
    int pos = 0;
    for (std::ptrdiff_t i = 0; i < n; ++i) {
      const double* w = ring.data() + pos;
      double sum = 0;
      for (int m = 0; m < width; ++m) sum += taps[static_cast<std::size_t>(m)] * w[m];
      const double next = original(i + half + 1);
      ring[static_cast<std::size_t>(pos)] = ring[static_cast<std::size_t>(pos + width)] = next;
      pos = pos + 1 == width ? 0 : pos + 1;
      moved[i] = sum;
    }
  }

  const double out_rate = 1.0 / delta;
  if (std::fabs(1.0 - out_rate / rate) < 1e-12) {
    piece.values.assign(moved, moved + std::min(static_cast<std::size_t>(n), count));
    return piece;
  }
  // Room for all the resampler makes of the input and its zeros: given less, it stops short.
  const std::size_t in_count = x.size() - skip;
  std::vector<double> out(std::max(
      count + 1,
      static_cast<std::size_t>(std::ceil(static_cast<double>(in_count) * out_rate / rate)) + 2));
  std::size_t used = 0;
  std::size_t made = 0;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
  const soxr_quality_spec_t q = quality();
  const soxr_error_t failed = soxr_oneshot(rate, out_rate, 1, moved, in_count, &used, out.data(),
                                           out.size(), &made, &io, &q, nullptr);
  if (failed != nullptr) {
    error = std::string("the resampler failed: ") + failed;
    return {};
  }
  out.resize(std::min(made, count));
  piece.values = std::move(out);
  return piece;
}

void band_pass(std::span<double> x, double delta, double low, double high) {
  if (x.empty()) return;
  int length = 1;
  // Twice the record at least, so the circular transform does not wrap one end onto the other.
  while (static_cast<std::size_t>(length) < 2 * x.size()) length *= 2;
  std::vector<Complex> spectrum(static_cast<std::size_t>(length));
  for (std::size_t i = 0; i < x.size(); ++i) spectrum[i] = {static_cast<float>(x[i]), 0.0f};
  fork(length, 1, spectrum);
  const double nyquist = 0.5 / delta;
  const double low_zero = 0.8 * low;
  const double high_zero = std::min(1.2 * high, nyquist);
  auto gain = [&](double f) {
    if (f < low_zero || f > high_zero) return 0.0;
    if (f < low) return 0.5 * (1.0 - std::cos(kPi * (f - low_zero) / (low - low_zero)));
    if (f > high) {
      if (high_zero <= high) return 1.0;
      return 0.5 * (1.0 + std::cos(kPi * (f - high) / (high_zero - high)));
    }
    return 1.0;
  };
  for (int k = 0; k <= length / 2; ++k) {
    const double f = static_cast<double>(k) / (static_cast<double>(length) * delta);
    const auto g = static_cast<float>(gain(f));
    auto& c = spectrum[static_cast<std::size_t>(k)];
    c = {c.re * g, c.im * g};
    if (k > 0 && k < length / 2) {
      auto& mirror = spectrum[static_cast<std::size_t>(length - k)];
      mirror = {mirror.re * g, mirror.im * g};
    }
  }
  fork(length, -1, spectrum);
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = spectrum[i].re;
}

void one_bit(std::span<double> x) {
  for (double& v : x) v = v > 0 ? 1.0 : (v < 0 ? -1.0 : 0.0);
}

void running_absolute_mean(std::span<double> x, double delta, double window) {
  const auto half = static_cast<std::size_t>(std::max(0.0, std::round(window / (2.0 * delta))));
  std::vector<double> prefix(x.size() + 1, 0.0);
  for (std::size_t i = 0; i < x.size(); ++i) prefix[i + 1] = prefix[i] + std::fabs(x[i]);
  std::vector<double> out(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    const std::size_t lo = i >= half ? i - half : 0;
    const std::size_t hi = std::min(x.size(), i + half + 1);
    const double mean = (prefix[hi] - prefix[lo]) / static_cast<double>(hi - lo);
    out[i] = mean > 0 ? x[i] / mean : 0.0;
  }
  std::copy(out.begin(), out.end(), x.begin());
}

}  // namespace xcn::prep
