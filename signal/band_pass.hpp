// Zero-phase band-pass in the frequency domain: its gain, a table of gains per bin, and the
// filter of a trace through the radix-2 transform.
//
// The gain is 1 from low to high (Hz), falls with a half cosine to 0 at 0.8 * low and at
// 1.2 * high (or at the Nyquist frequency, where that comes first) and is 0 elsewhere. It is
// real and even in frequency, so the phase is not touched, and a complex trace x + i y is
// filtered as x and y would be one by one.
// Threads: pure, on the caller's buffers.
#pragma once

#include <span>

#include "signal/complex.hpp"

namespace xcn {

// The gain at frequency f (Hz, 0 <= f <= nyquist).
double band_pass_gain(double f, double low, double high, double nyquist);

// The transform length for a trace of n samples: the smallest power of two >= 2n, so that the
// circular transform does not wrap one end of the trace onto the other.
int band_pass_length(int n);

// gains[k] = the gain of bin k (k / (length * delta) Hz) for k = 0 .. length/2, in single
// precision. gains must hold length/2 + 1 values.
void band_pass_gains(int length, double delta, double low, double high, std::span<float> gains);

// Multiplies bins k and length - k of a transform of `length` points by gains[k].
void apply_gains(std::span<Complex> spectrum, int length, std::span<const float> gains);

// Filters x in place (sampling interval delta s), with work space of band_pass_length(x.size())
// values; a shorter work span leaves x untouched.
void band_pass(std::span<float> x, double delta, double low, double high, std::span<Complex> work);

}  // namespace xcn
