// Analytic signal of a real trace, x + i H[x], through the radix-2 transform.
//
// The trace is padded with zeros to the next power of two (the transform is circular, so the
// two ends see each other only across the padding); the spectrum keeps its zero and Nyquist
// bins, doubles the positive frequencies and drops the negative ones. Single precision
// throughout; the real part returns the trace up to the transform's rounding.
// Threads: pure, on the caller's buffers.
#pragma once

#include <span>

#include "signal/complex.hpp"

namespace xcn {

// The transform length for a trace of n samples: the smallest power of two >= n (1 for n < 1).
int analytic_length(int n);

// Writes the analytic signal of x into a[0 .. x.size()-1], using a[0 .. analytic_length-1] as
// work space. a must hold at least analytic_length(x.size()) values; a shorter one is left
// untouched.
void analytic_signal(std::span<const float> x, std::span<Complex> a);

}  // namespace xcn
