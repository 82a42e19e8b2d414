// The moving-window cross-spectral method: windows, their delays, and dv/v from the delays.
#include "dvv/mwcs.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "signal/fft.hpp"

namespace xcn::dvv {

namespace {

// No window's delay is known better than the single-precision rounding of its samples.
constexpr double kDelayResolution = 1e-7;

struct WindowFit {
  bool fitted = false;
  double delay = 0;      // s
  double error = 0;      // s
  double coherence = 0;  // of the band
};

std::size_t at(int i) { return static_cast<std::size_t>(i); }

// The band's bins of a window's samples: mean removed, tapered, transformed.
void window_bins(const MwcsPlan& plan, std::span<const double> samples, std::span<Complex> out,
                 MwcsWork& work) {
  double sum = 0;
  for (int i = 0; i < plan.length; ++i) sum += samples[at(i)];
  const double mean = sum / plan.length;
  for (int i = 0; i < plan.transform; ++i) {
    work.transform[at(i)] = {
        i < plan.length ? static_cast<float>((samples[at(i)] - mean) * plan.taper[at(i)]) : 0.0f,
        0.0f};
  }
  fork(plan.transform, -1, work.transform);
  // The smoothing's reach past 0 Hz or the Nyquist frequency holds nothing.
  for (int b = 0; b < plan.bins(); ++b) {
    const int k = plan.bins_first + b;
    out[at(b)] = k >= 0 && k <= plan.transform / 2 ? work.transform[at(k)] : Complex{0.0f, 0.0f};
  }
}

double power_of(Complex c) {
  return static_cast<double>(c.re) * c.re + static_cast<double>(c.im) * c.im;
}

// The power of a window's bins over the band.
double band_power(const MwcsPlan& plan, std::span<const Complex> bins) {
  double sum = 0;
  for (int k = 0; k < plan.band(); ++k) sum += power_of(bins[at(k + plan.smooth)]);
  return sum;
}

// The reference's view of window w moved by `shift` samples (read at j - shift).
void reference_window(const MwcsPlan& plan, const ReferenceCurve& curve, const MwcsWindow& w,
                      double shift, MwcsWork& work) {
  for (int i = 0; i < plan.length; ++i) {
    work.samples[at(i)] = curve.view_at(w.view, w.first + i - shift);
  }
}

// The delay of the current behind the reference in one window, from their bins and the
// reference's power over the band.
WindowFit fit_window(const MwcsPlan& plan, std::span<const Complex> current,
                     std::span<const Complex> reference, double reference_power, MwcsWork& work) {
  const int band = plan.band();
  for (int b = 0; b < plan.bins(); ++b) {
    const Complex x = mul(current[at(b)], conj(reference[at(b)]));
    work.cross[at(b)] = x;
    work.magnitude[at(b)] = std::sqrt(power_of(x));
    work.moment[at(b)] = work.magnitude[at(b)] * plan.frequency[at(b)];
  }
  // Band bin k sits at k + smooth among the bins: the smoothing of k spans bins k .. k + 2 smooth.
  std::fill_n(work.re.begin(), band, 0.0);
  std::fill_n(work.im.begin(), band, 0.0);
  std::fill_n(work.weight.begin(), band, 0.0);
  std::fill_n(work.mean_frequency.begin(), band, 0.0);
  for (int i = 0; i <= 2 * plan.smooth; ++i) {
    const double s = plan.weights[at(i)];
    for (int k = 0; k < band; ++k) {
      work.re[at(k)] += s * work.cross[at(k + i)].re;
      work.im[at(k)] += s * work.cross[at(k + i)].im;
      work.weight[at(k)] += s * work.magnitude[at(k + i)];
      work.mean_frequency[at(k)] += s * work.moment[at(k + i)];
    }
  }
  WindowFit fit;
  double sum_re = 0, sum_im = 0, own = 0;
  for (int k = 0; k < band; ++k) {
    const auto b = at(k + plan.smooth);
    sum_re += work.cross[b].re;
    sum_im += work.cross[b].im;
    own += power_of(current[b]);
    const double re = work.re[at(k)], im = work.im[at(k)];
    work.mean_frequency[at(k)] = work.weight[at(k)] > 0
                                     ? work.mean_frequency[at(k)] / work.weight[at(k)]
                                     : plan.frequency[b];
    work.phase[at(k)] = phase_of(re, im);
    work.weight[at(k)] = std::sqrt(re * re + im * im);
  }
  if (!(own > 0) || !(reference_power > 0)) return fit;
  fit.coherence =
      std::min(1.0, std::sqrt((sum_re * sum_re + sum_im * sum_im) / (own * reference_power)));
  // The phase unwrapped upward from the band's low corner, where it is its principal value.
  for (int k = 1; k < band; ++k) {
    double& phase = work.phase[at(k)];
    while (phase - work.phase[at(k - 1)] > std::numbers::pi) phase -= 2.0 * std::numbers::pi;
    while (phase - work.phase[at(k - 1)] < -std::numbers::pi) phase += 2.0 * std::numbers::pi;
  }
  double sw = 0, sww = 0, swp = 0;
  for (int k = 0; k < band; ++k) {
    const double w = work.mean_frequency[at(k)];
    sw += work.weight[at(k)];
    sww += work.weight[at(k)] * w * w;
    swp += work.weight[at(k)] * w * work.phase[at(k)];
  }
  if (!(sww > 0) || !(fit.coherence > 0)) return fit;
  fit.fitted = true;
  fit.delay = -swp / sww;
  // The band holds `independent` phases, each of variance (1 - coh^2) / (2 coh^2).
  const double c2 = fit.coherence * fit.coherence;
  fit.error = std::sqrt((1.0 - c2) / (2.0 * c2 * plan.independent * (sww / sw)));
  return fit;
}

void size_work(const MwcsPlan& plan, MwcsWork& work) {
  work.transform.resize(at(plan.transform));
  work.samples.resize(at(plan.length));
  work.current.resize(at(plan.bins()));
  work.moved.resize(at(plan.bins()));
  work.cross.resize(at(plan.bins()));
  work.magnitude.resize(at(plan.bins()));
  work.moment.resize(at(plan.bins()));
  work.re.resize(at(plan.band()));
  work.im.resize(at(plan.band()));
  work.phase.resize(at(plan.band()));
  work.weight.resize(at(plan.band()));
  work.mean_frequency.resize(at(plan.band()));
}

}  // namespace

double phase_of(double re, double im) {
  constexpr double pi = std::numbers::pi;
  const double x = std::fabs(re), y = std::fabs(im);
  if (x == 0 && y == 0) return 0.0;
  const bool steep = y > x;
  double z = steep ? x / y : y / x;  // in [0, 1]
  double base = 0;
  if (z > 0.41421356237309503) {  // tan(pi/8): atan z = pi/4 + atan((z - 1) / (z + 1))
    base = pi / 4;
    z = (z - 1) / (z + 1);
  }
  // atan z = z - z^3/3 + z^5/5 - ..., |z| <= tan(pi/8): the first eight terms leave 2e-8.
  const double z2 = z * z;
  double series = -1.0 / 15;
  for (const double c : {1.0 / 13, -1.0 / 11, 1.0 / 9, -1.0 / 7, 1.0 / 5, -1.0 / 3, 1.0}) {
    series = series * z2 + c;
  }
  double angle = base + z * series;
  if (steep) angle = pi / 2 - angle;
  if (re < 0) angle = pi - angle;
  return im < 0 ? -angle : angle;
}

bool build_mwcs(const Settings& settings, const Lags& lags, double delta,
                const ReferenceCurve& curve, MwcsPlan& plan, MwcsWork& work, std::string& error) {
  if (!(settings.mwcs_length > 0) || !(settings.mwcs_step > 0)) {
    error = "the MWCS window and its step must be longer than 0 s";
    return false;
  }
  plan.length = static_cast<int>(std::lround(settings.mwcs_length / delta));
  const int step = std::max(1, static_cast<int>(std::lround(settings.mwcs_step / delta)));
  if (plan.length < 4) {
    error =
        "the MWCS window of " + quantity(settings.mwcs_length, "s") + " holds fewer than 4 samples";
    return false;
  }
  if (plan.length > lags.span()) {
    error = "the MWCS window of " + quantity(settings.mwcs_length, "s") +
            " is longer than the lag window (" + quantity(lags.span() * delta, "s") + ")";
    return false;
  }
  plan.transform = 1;
  while (plan.transform < 2 * plan.length) plan.transform *= 2;
  const double resolution = 1.0 / (plan.transform * delta);  // Hz per bin
  plan.band_first = static_cast<int>(std::ceil(settings.band.low / resolution - 1e-9));
  plan.band_last = std::min(plan.transform / 2,
                            static_cast<int>(std::floor(settings.band.high / resolution + 1e-9)));
  if (plan.band() < 3) {
    const int count = std::max(0, plan.band());
    error = "an MWCS window of " + quantity(settings.mwcs_length, "s") + " resolves " +
            std::to_string(count) + (count == 1 ? " frequency" : " frequencies") +
            " in the band, fewer than the 3 a delay needs; lengthen the window";
    return false;
  }
  plan.smooth =
      std::max(1, static_cast<int>(std::lround(static_cast<double>(plan.transform) / plan.length)));
  plan.bins_first = plan.band_first - plan.smooth;
  plan.bins_last = plan.band_last + plan.smooth;

  plan.taper.resize(at(plan.length));
  for (int i = 0; i < plan.length; ++i) {
    const double s = std::sin(std::numbers::pi * (i + 0.5) / plan.length);
    plan.taper[at(i)] = s * s;
  }
  plan.weights.resize(at(2 * plan.smooth + 1));
  double total = 0;
  for (int i = -plan.smooth; i <= plan.smooth; ++i) {
    const double c = std::cos(std::numbers::pi * i / (2.0 * (plan.smooth + 1)));
    total += plan.weights[at(i + plan.smooth)] = c * c;
  }
  for (double& w : plan.weights) w /= total;
  // A Hann window of T s resolves 1.5 / T Hz.
  plan.independent =
      std::max(1.0, (settings.band.high - settings.band.low) * plan.length * delta / 1.5);
  plan.frequency.resize(at(plan.bins()));
  for (int b = 0; b < plan.bins(); ++b) {
    plan.frequency[at(b)] = 2.0 * std::numbers::pi * (plan.bins_first + b) * resolution;
  }

  plan.windows.clear();
  for (std::size_t v = 0; v < lags.views.size(); ++v) {
    for (int start = 0; start + plan.length <= lags.span(); start += step) {
      plan.windows.push_back({lags.views[v], lags.first + start,
                              static_cast<int>(v) * lags.span() + start,
                              (lags.first + start + 0.5 * (plan.length - 1)) * delta});
    }
  }
  const auto bins = at(plan.bins());
  plan.spectra.resize(plan.windows.size() * bins);
  plan.power.resize(plan.windows.size());
  size_work(plan, work);
  for (std::size_t w = 0; w < plan.windows.size(); ++w) {
    reference_window(plan, curve, plan.windows[w], 0.0, work);
    const std::span<Complex> spectrum(plan.spectra.data() + w * bins, bins);
    window_bins(plan, work.samples, spectrum, work);
    plan.power[w] = band_power(plan, spectrum);
  }
  return true;
}

Measurement measure_mwcs(const MwcsPlan& plan, const ReferenceCurve& curve, double delta,
                         double min_coherence, std::span<const double> taps, MwcsWork& work) {
  Measurement m;
  const auto bins = at(plan.bins());
  size_work(plan, work);
  work.lag.clear();
  work.delay.clear();
  work.error.clear();
  double all_coherence = 0, kept_coherence = 0;
  for (std::size_t w = 0; w < plan.windows.size(); ++w) {
    const MwcsWindow& window = plan.windows[w];
    window_bins(plan, taps.subspan(at(window.offset), at(plan.length)), work.current, work);
    const WindowFit first = fit_window(
        plan, work.current, std::span(plan.spectra).subspan(w * bins, bins), plan.power[w], work);
    const double shift = first.delay / delta;
    if (!first.fitted || !(std::fabs(shift) <= plan.reach())) {
      all_coherence += first.coherence;
      continue;
    }
    // Again against the reference moved by that delay, so both tapers hold the same features.
    reference_window(plan, curve, window, shift, work);
    window_bins(plan, work.samples, work.moved, work);
    const WindowFit second =
        fit_window(plan, work.current, work.moved, band_power(plan, work.moved), work);
    all_coherence += second.coherence;
    if (!second.fitted || !(second.coherence >= min_coherence)) continue;
    work.lag.push_back(window.lag);
    work.delay.push_back(first.delay + second.delay);
    work.error.push_back(std::max(second.error, kDelayResolution * delta));
    kept_coherence += second.coherence;
  }
  const std::size_t kept = work.lag.size();
  m.windows = static_cast<int>(kept);
  if (kept == 0) {
    m.status = Status::no_windows;
    if (!plan.windows.empty()) m.cc = all_coherence / static_cast<double>(plan.windows.size());
    return m;
  }
  double swtt = 0, swtd = 0;
  for (std::size_t i = 0; i < kept; ++i) {
    const double weight = 1.0 / (work.error[i] * work.error[i]);
    swtt += weight * work.lag[i] * work.lag[i];
    swtd += weight * work.lag[i] * work.delay[i];
  }
  const double slope = swtd / swtt;
  // The windows' errors rest on the coherence of a few frequencies each: right relative to
  // one another, too small together. So the error is also taken from the delays' own scatter
  // about the line, each residual as it weighs in the slope and enlarged by its leverage h
  // (the heteroscedasticity-consistent estimate, which holds however the windows' noise
  // differs from what their weights say); the larger of the two is reported. A window that
  // carries the whole slope (h = 1) has no residual to tell.
  double spread = 0;
  for (std::size_t i = 0; i < kept; ++i) {
    const double weight = 1.0 / (work.error[i] * work.error[i]);
    const double h = weight * work.lag[i] * work.lag[i] / swtt;
    if (!(1.0 - h > 1e-9)) continue;
    const double r = (work.delay[i] - slope * work.lag[i]) / (1.0 - h);
    spread += (weight * work.lag[i] * r) * (weight * work.lag[i] * r);
  }
  m.status = Status::ok;
  m.dvv = -slope;
  m.error = std::max(std::sqrt(1.0 / swtt), std::sqrt(spread) / swtt);
  m.cc = kept_coherence / static_cast<double>(kept);
  return m;
}

}  // namespace xcn::dvv
