// Per-channel signal processing: detrend, taper, resampling onto the day's grid, band-pass,
// temporal normalisation.
//
// The anti-alias filter is libsoxr's linear-phase resampler at its 20-bit quality: flat to
// 0.913 of the new Nyquist frequency (0.4565 Hz at 1 s), at least 120 dB down from the new
// Nyquist frequency on, and without delay (its output sample j lies at the input's first time
// plus j intervals). Before it, each segment is moved by a fraction of an input sample (a
// windowed-sinc interpolator), so that its first output lands on a whole multiple of the
// interval from the grid's origin.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace xcn::prep {

// Removes the least-squares line (and so the mean).
void detrend(std::span<double> x);

// Raises the first and the last `width` samples from zero with a half cosine (Hann) ramp.
// A segment shorter than two ramps gets two ramps of half its length.
void taper_ends(std::span<double> x, std::size_t width);

// The band the resampler keeps and the one it removes, as fractions of the new Nyquist frequency.
struct ResamplerBands {
  double passband_end = 0;
  double stopband_begin = 0;
  double attenuation_db = 0;
};
ResamplerBands resampler_bands();

// Samples on the grid k * delta (k integer, seconds from the grid's origin): values[j] belongs
// to grid index first + j.
struct GridPiece {
  std::int64_t first = 0;
  std::vector<double> values;
};

// The segment x (sample i at start + i / rate seconds from the grid's origin) at every grid
// time from its first sample to its last: moved by the fraction of an input sample that puts
// the first grid time on a sample, then low-passed and resampled to 1 / delta. An empty piece
// and `error` when the resampler fails.
GridPiece resample_onto_grid(std::vector<double> x, double start, double rate, double delta,
                             std::string& error);

// Zero-phase band-pass in the frequency domain: full gain from low to high (Hz), falling with
// a half cosine to zero at 0.8 * low and at 1.2 * high (or the Nyquist frequency), no gain
// elsewhere. The phase is not touched.
void band_pass(std::span<double> x, double delta, double low, double high);

// Temporal normalisation, ambient-noise style.
void one_bit(std::span<double> x);
// Divides each sample by the mean absolute value in the window of `window` seconds centred on
// it (over the samples of the record); a sample whose window is all zero stays zero.
void running_absolute_mean(std::span<double> x, double delta, double window);

}  // namespace xcn::prep
