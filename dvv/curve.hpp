// The filtered reference as a function of lag: upsampled through its spectrum (exact for a
// trace the band-pass has made periodic and band-limited) and read at any lag by a cubic
// B-spline through the upsampled samples. The upsampling keeps the band under a sixteenth of
// a cycle per upsampled sample, where the spline's error is 4e-5 of the amplitude and less
// below.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "dvv/lags.hpp"
#include "signal/complex.hpp"

namespace xcn::dvv {

struct ReferenceCurve {
  int up = 1;                       // upsampled samples per sample
  int origin = 0;                   // index of the coefficient at zero lag
  std::vector<float> coefficients;  // of the B-spline, up samples per sample, both sides

  // The reference at a lag of `lag` samples (fractional, either sign) within the reach the
  // curve was built for.
  double at(double lag) const {
    const double u = origin + lag * up;  // >= 1 within the reach
    const auto k = static_cast<std::ptrdiff_t>(u);
    const double t = u - static_cast<double>(k);
    const float* c = coefficients.data() + k;
    const double s = 1.0 - t;
    const double t2 = t * t;
    const double t3 = t2 * t;
    // The cubic B-spline's four weights at the fraction t.
    return (s * s * s * c[-1] + (4.0 - 6.0 * t2 + 3.0 * t3) * c[0] +
            (1.0 + 3.0 * (t + t2 - t3)) * c[1] + t3 * c[2]) /
           6.0;
  }

  // A view of the reference at `lag` samples from zero lag, read outward (see Lags).
  double view_at(ViewSign view, double lag) const {
    return view > 0 ? at(lag) : view < 0 ? at(-lag) : 0.5 * (at(lag) + at(-lag));
  }

  // The views of the reference stretched by 1 + e: the view samples at lags j (1 + e).
  void stretched(const Lags& lags, double e, std::span<double> out) const;
};

// The smallest power of two by which a trace whose content stops at `top` cycles per sample
// must be upsampled to keep it under a sixteenth of a cycle per upsampled sample.
int upsampling_for(double top);

// Builds the curve from the band-passed spectrum of the reference (the unscaled sign +1
// transform of `length` points, zero lag at `zero`), `up` times upsampled, over lags up to
// `reach` samples on either side. work must hold length * up values.
void build_curve(std::span<const Complex> spectrum, int length, int zero, int up, double reach,
                 std::span<Complex> work, ReferenceCurve& curve);

}  // namespace xcn::dvv
