// What a velocity-change measurement is asked for (the band, the lags, the methods and their
// parameters) and the defaults a pair's geometry gives.
//
// Sign: dv/v = -dt/t. A current trace whose arrivals come at (1 - x) times their lags in the
// reference has dv/v = +x: the waves arrive earlier, the velocity rose by the fraction x.
// Both methods estimate that x exactly, not only to first order: stretching finds the factor
// 1 + e at which the reference r(t (1 + e)) fits and gives e / (1 + e); MWCS regresses the
// delays against the lag, delay = -x * lag.
//
// The traces are correlations as the tool writes them: NPTS samples at DELTA, sample k at the
// lag (k - NPTS/2) * DELTA (integer division), so zero lag is sample NPTS/2.
#pragma once

#include <optional>
#include <string>

namespace xcn::dvv {

// Which lags are measured. both: the positive and the negative window as one set (the
// negative lags read outward from zero); positive, negative: one window; mean: the two sides
// averaged first, (x(t) + x(-t)) / 2 for t > 0, then that one window.
enum class Side { both, positive, negative, mean };

struct Band {
  double low = 0;   // Hz, > 0
  double high = 0;  // Hz, > low, at most the Nyquist frequency
};

// Lags from min to max, s, on each side measured; 0 <= min < max. Zero lag itself is never
// measured (it carries no delay).
struct LagWindow {
  double min = 0;
  double max = 0;
};

struct Settings {
  Band band;         // the band-pass applied to reference and current before measuring
  LagWindow window;  // default_lag_window gives one that keeps the direct waves out
  Side side = Side::both;
  bool stretching = true;
  bool mwcs = true;
  // Stretching searches dv/v within about +-max_dvv (a stretch factor e within +-max_dvv).
  double max_dvv = 0.01;
  // MWCS: windows of mwcs_length s every mwcs_step s over the lag window, each kept when the
  // coherence of reference and current over the band (mwcs.hpp) is at least min_coherence.
  // default_mwcs_length suits the band better than these defaults where it is not 0.1-0.5 Hz.
  double mwcs_length = 20;
  double mwcs_step = 10;
  double min_coherence = 0.5;
};

// The lag window of a pair `dist_km` apart, for a band whose low corner is `low_hz`: from the
// later of 20 s and twice the direct arrival at 3 km/s (2 * dist / 3 s), so the direct waves
// stay out, to 100 s or ten periods of the low corner later, whichever is longer; cut where the
// reference stretched by 1 + max_dvv would run off the shorter side of a trace of npts samples
// at delta (two samples kept in hand for the interpolation). None when nothing is left.
std::optional<LagWindow> default_lag_window(double dist_km, double low_hz, int npts, double delta,
                                            double max_dvv);

// An MWCS window long enough to hold two periods of the band's low corner and five
// independent frequencies of the band (7.5 / (high - low) s for its Hann taper): with n of
// them, unrelated traces reach a coherence of about 1 / sqrt(n), near the threshold for few.
double default_mwcs_length(Band band);

// A quantity with its unit for messages: "20 s", "0.5 Hz".
std::string quantity(double value, const char* unit);

}  // namespace xcn::dvv
