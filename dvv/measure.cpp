// A pair's reference prepared once, and its current traces measured against it.
#include "dvv/measure.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "signal/band_pass.hpp"
#include "signal/fft.hpp"

namespace xcn::dvv {

namespace {

// What a trace is before it is filtered, and its largest magnitude.
Status check(std::span<const float> trace, int npts, float& largest) {
  if (static_cast<int>(trace.size()) != npts) return Status::wrong_length;
  std::size_t nan = 0, bad = 0;
  largest = 0;
  for (float v : trace) {
    const float magnitude = std::fabs(v);
    if (magnitude <= std::numeric_limits<float>::max()) {
      largest = std::max(largest, magnitude);
    } else {
      ++bad;
      if (std::isnan(v)) ++nan;
    }
  }
  if (nan == trace.size()) return Status::empty;
  return bad > 0 ? Status::not_finite : Status::ok;
}

void set_all(const Settings& settings, Status status, Measurements& out) {
  out = Measurements{};
  if (settings.stretching) out.stretching.status = status;
  if (settings.mwcs) out.mwcs.status = status;
}

bool check_settings(const Settings& s, double delta, std::string& error) {
  if (!(delta > 0) || !std::isfinite(delta)) {
    error = "the sampling interval must be longer than 0 s";
    return false;
  }
  const double nyquist = 0.5 / delta;
  if (!(s.band.low > 0) || !(s.band.high > s.band.low) || !(s.band.high <= nyquist)) {
    error =
        "the band must run from a low corner above 0 Hz to a higher corner at most at the "
        "Nyquist frequency of " +
        quantity(nyquist, "Hz");
    return false;
  }
  if (!s.stretching && !s.mwcs) {
    error = "no method is asked for";
    return false;
  }
  if (s.stretching && !(s.max_dvv > 0 && s.max_dvv < 0.5)) {
    error = "the largest dv/v searched must lie between 0 and 0.5";
    return false;
  }
  if (s.mwcs && !(s.min_coherence >= 0 && s.min_coherence <= 1)) {
    error = "the coherence threshold must lie between 0 and 1";
    return false;
  }
  return true;
}

// Measures one current, band-passed, against the reference.
void measure_filtered(const Reference& ref, std::span<const float> filtered, Measurements& out,
                      Workspace& work) {
  const Settings& s = ref.settings;
  work.taps.resize(static_cast<std::size_t>(ref.lags.taps()));
  read_views(ref.lags, filtered, work.taps);
  if (std::all_of(work.taps.begin(), work.taps.end(), [](double v) { return v == 0; })) {
    set_all(s, Status::silent, out);
    return;
  }
  out = Measurements{};
  if (s.stretching) {
    out.stretching =
        measure_stretching(ref.curve, ref.lags, ref.grid, s.max_dvv, work.taps, work.stretch);
    if (out.stretching.status == Status::ok || out.stretching.status == Status::at_limit) {
      out.stretching.error = weaver_error(out.stretching.cc, s.band, s.window,
                                          static_cast<int>(ref.lags.views.size()));
    }
  }
  if (s.mwcs)
    out.mwcs = measure_mwcs(ref.mwcs, ref.curve, ref.delta, s.min_coherence, work.taps, work.mwcs);
}

}  // namespace

std::string_view status_text(Status status) {
  switch (status) {
    case Status::ok:
      return "measured";
    case Status::at_limit:
      return "the best stretch lies at the limit of the search";
    case Status::no_windows:
      return "no window reached the coherence asked for";
    case Status::silent:
      return "the trace is zero over the lag window";
    case Status::not_finite:
      return "the trace holds samples that are not finite";
    case Status::empty:
      return "the trace is all not-a-number";
    case Status::wrong_length:
      return "the trace has another number of samples than the reference";
    case Status::not_measured:
      return "not asked for";
  }
  return "";
}

bool prepare(std::span<const float> reference, double delta, const Settings& settings,
             Reference& ref, Workspace& work, std::string& error) {
  if (!check_settings(settings, delta, error)) return false;
  const int npts = static_cast<int>(reference.size());
  if (npts < 3) {
    error = "the trace holds fewer than 3 samples";
    return false;
  }
  float largest = 0;
  switch (check(reference, npts, largest)) {
    case Status::empty:
      error = "the reference is all not-a-number";
      return false;
    case Status::not_finite:
      error = "the reference holds samples that are not finite";
      return false;
    default:
      break;
  }
  ref.settings = settings;
  ref.npts = npts;
  ref.delta = delta;
  const double reach = settings.stretching ? 1.0 + settings.max_dvv : 1.0;
  if (!make_lags(settings.side, settings.window, npts, delta, reach, ref.lags, error)) return false;

  // The band-pass, its spectrum kept for the upsampling.
  ref.length = band_pass_length(npts);
  ref.gains.resize(static_cast<std::size_t>(ref.length / 2 + 1));
  band_pass_gains(ref.length, delta, settings.band.low, settings.band.high, ref.gains);
  work.transform.assign(static_cast<std::size_t>(ref.length), Complex{0.0f, 0.0f});
  for (int i = 0; i < npts; ++i)
    work.transform[static_cast<std::size_t>(i)] = {reference[static_cast<std::size_t>(i)], 0.0f};
  fork(ref.length, 1, work.transform);
  apply_gains(work.transform, ref.length, ref.gains);

  const double top = std::min(1.2 * settings.band.high, 0.5 / delta) * delta;
  const int up = settings.stretching ? upsampling_for(top) : 1;
  work.upsampled.resize(static_cast<std::size_t>(ref.length) * static_cast<std::size_t>(up));
  // The curve reaches as far as stretching reads it, and as far as MWCS may move a window (a
  // quarter of it).
  double reached = ref.lags.last * reach;
  if (settings.mwcs)
    reached = std::max(reached, ref.lags.last + 0.25 * settings.mwcs_length / delta);
  build_curve(work.transform, ref.length, ref.lags.zero, up, reached + 2.0, work.upsampled,
              ref.curve);

  // Nothing to compare with: the reference vanishes over the lag window (the band-pass may
  // have taken all it held there).
  work.taps.resize(static_cast<std::size_t>(ref.lags.taps()));
  ref.curve.stretched(ref.lags, 0.0, work.taps);
  const bool silent =
      std::all_of(work.taps.begin(), work.taps.end(), [](double v) { return v == 0; });
  if (silent || (settings.stretching &&
                 !build_grid(ref.curve, ref.lags, settings.max_dvv, top, ref.grid, work.grid))) {
    error = "the reference is zero over the lag window after the band-pass";
    return false;
  }
  if (!settings.stretching) ref.grid = StretchGrid{};
  if (settings.mwcs) {
    if (!build_mwcs(settings, ref.lags, delta, ref.curve, ref.mwcs, work.mwcs, error)) return false;
  } else {
    ref.mwcs = MwcsPlan{};
  }
  return true;
}

void measure(const Reference& ref, std::span<const std::span<const float>> currents,
             std::span<Measurements> out, Workspace& work) {
  const auto length = static_cast<std::size_t>(ref.length);
  const auto npts = static_cast<std::size_t>(ref.npts);
  work.transform.resize(length);
  work.filtered.resize(npts);
  const std::size_t n = std::min(currents.size(), out.size());
  for (std::size_t first = 0; first < n; first += 2) {
    const std::size_t count = std::min<std::size_t>(2, n - first);
    bool usable[2] = {false, false};
    float scale[2] = {0.0f, 0.0f};
    for (std::size_t i = 0; i < count; ++i) {
      float largest = 0;
      const Status status = check(currents[first + i], ref.npts, largest);
      usable[i] = status == Status::ok;
      if (!usable[i]) set_all(ref.settings, status, out[first + i]);
      scale[i] = usable[i] && largest > 0 ? 1.0f / largest : 0.0f;
    }
    if (!usable[0] && !usable[1]) continue;
    // One trace as the real part, the other as the imaginary: the gains are real and even in
    // frequency, so each part comes back filtered on its own. Each is scaled to a largest
    // magnitude of 1 first, so that neither drowns the other's rounding.
    std::fill(work.transform.begin(), work.transform.end(), Complex{0.0f, 0.0f});
    for (std::size_t i = 0; i < count; ++i) {
      if (!usable[i]) continue;
      const std::span<const float> trace = currents[first + i];
      if (i == 0) {
        for (std::size_t k = 0; k < npts; ++k) work.transform[k].re = trace[k] * scale[0];
      } else {
        for (std::size_t k = 0; k < npts; ++k) work.transform[k].im = trace[k] * scale[1];
      }
    }
    fork(ref.length, 1, work.transform);
    apply_gains(work.transform, ref.length, ref.gains);
    fork(ref.length, -1, work.transform);
    for (std::size_t i = 0; i < count; ++i) {
      if (!usable[i]) continue;
      for (std::size_t k = 0; k < npts; ++k) {
        work.filtered[k] = i == 0 ? work.transform[k].re : work.transform[k].im;
      }
      measure_filtered(ref, work.filtered, out[first + i], work);
    }
  }
}

Measurements measure(const Reference& ref, std::span<const float> current, Workspace& work) {
  Measurements out;
  const std::span<const float> one[] = {current};
  measure(ref, one, std::span<Measurements>(&out, 1), work);
  return out;
}

}  // namespace xcn::dvv
