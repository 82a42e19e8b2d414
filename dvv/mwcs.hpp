// The moving-window cross-spectral method (Clarke et al. 2011): the delay of the current
// behind the reference in windows moving over the lag window, each from the slope of their
// cross-spectrum's phase against frequency, and dv/v from the slope of the delays against lag.
//
// In a window: both traces have their mean removed and a Hann taper. Their cross-spectrum X
// is smoothed over about +-1/length Hz with raised-cosine weights; over the bins of the band
// its phase, unwrapped from the low corner up, is fitted by -delay * w through the origin,
// each bin weighted by its smoothed |X| and placed at the |X|-weighted mean angular frequency
// w of its smoothing (where a plain bin frequency would bias the slope at the band's edges).
// The window's coherence is |sum X| / sqrt(sum P_ref * sum P_cur) over the band: the
// correlation coefficient of the two band-passed windows at the measured delay. For unrelated
// traces it is about 1 / sqrt(n), n = band width * length / 1.5 the independent frequencies
// of the band; the delay's error is sqrt((1 - coh^2) / (2 coh^2 n)) / w_rms.
// A fixed taper pulls a delay toward zero (by 5 % for 20 s windows at 0.1-0.3 Hz), since the
// two windows hold the shifted features at different weights. So each window is measured
// twice: the second time against the reference window moved by the first delay (read off the
// reference's curve), and the delay is the sum of the two.
// A window is left out when its coherence is below the threshold, or when its first delay
// exceeds a quarter of its length (a skipped cycle).
// Across windows: delay = -dvv * lag through the origin, each window weighted by the inverse
// square of its delay's error; dv/v's error is the larger of the one those errors give and
// the one the delays' scatter about the line gives (see measure_mwcs).
#pragma once

#include <span>
#include <string>
#include <vector>

#include "dvv/curve.hpp"
#include "dvv/lags.hpp"
#include "dvv/measurement.hpp"
#include "dvv/settings.hpp"
#include "signal/complex.hpp"

namespace xcn::dvv {

struct MwcsWindow {
  ViewSign view = 1;
  int first = 0;   // j of its first sample
  int offset = 0;  // its first tap in the taps of all views
  double lag = 0;  // its centre, s from zero lag
};

// The windows and the reference's spectra in them, computed once per pair.
struct MwcsPlan {
  int length = 0;      // samples per window
  int transform = 0;   // transform length, a power of two >= 2 length
  int band_first = 0;  // the bins of the band
  int band_last = 0;
  int smooth = 0;      // the smoothing's half-width, bins
  int bins_first = 0;  // the band widened by the smoothing on both sides
  int bins_last = 0;
  std::vector<double> taper;      // Hann, length values
  std::vector<double> weights;    // the smoothing, 2 smooth + 1 values summing to 1
  std::vector<double> frequency;  // angular frequency of bins_first .. bins_last, rad/s
  std::vector<MwcsWindow> windows;
  double independent = 1;        // independent frequencies in the band
  std::vector<Complex> spectra;  // per window, bins_first .. bins_last of the reference
  std::vector<double> power;     // per window, the reference's power over the band

  int bins() const { return bins_last - bins_first + 1; }
  int band() const { return band_last - band_first + 1; }
  // How far the second pass may move a window: a quarter of its length, in samples.
  double reach() const { return 0.25 * length; }
};

struct MwcsWork {
  std::vector<Complex> transform;
  std::vector<double> samples;
  std::vector<Complex> current, moved;  // bins of the current and of the moved reference
  std::vector<Complex> cross;
  std::vector<double> magnitude, moment;                      // per bin: |X|, |X| w
  std::vector<double> re, im, phase, weight, mean_frequency;  // per band bin, smoothed
  std::vector<double> lag, delay, error;                      // per window kept
};

// The windows of `settings` over the lags, and the reference's spectra in them. False with
// `error` when the window does not fit in the lag window, or the band holds fewer than three
// of its frequencies.
bool build_mwcs(const Settings& settings, const Lags& lags, double delta,
                const ReferenceCurve& curve, MwcsPlan& plan, MwcsWork& work, std::string& error);

// The argument of re + i im in [-pi, pi], within 2e-8 of atan2's: from the series of atan
// after reducing its argument below tan(pi/8), several times faster than the library's,
// which took a fifth of a measurement.
double phase_of(double re, double im);

// dv/v of the current (its view samples) against the plan's reference.
Measurement measure_mwcs(const MwcsPlan& plan, const ReferenceCurve& curve, double delta,
                         double min_coherence, std::span<const double> taps, MwcsWork& work);

}  // namespace xcn::dvv
