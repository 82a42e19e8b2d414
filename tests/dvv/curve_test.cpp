// Tests of the reference's curve: between its samples it follows the band-limited trace it
// was built from.
#include "dvv/curve.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "signal/band_pass.hpp"
#include "signal/fft.hpp"
#include "tests/dvv/coda.hpp"

namespace xcn::dvv {
namespace {

// A coda well inside the band passes the filter unchanged; the curve built from its spectrum
// must then give the coda itself at any fractional lag, to 5e-5 of its largest value. Bands
// reaching the Nyquist frequency exercise the shared Nyquist bin.
TEST(ReferenceCurve, FollowsTheTraceBetweenSamples) {
  const struct {
    double delta, low, high, f1, f2;
    int up;
  } cases[] = {
      {1.0, 0.1, 0.3, 0.14, 0.26, 8},
      {1.0, 0.2, 0.5, 0.26, 0.45, 8},
      {0.05, 0.2, 1.0, 0.3, 0.8, 1},
      {0.05, 0.5, 2.5, 0.7, 2.2, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.delta << " s, " << c.low << "-" << c.high << " Hz");
    // Packets up to 400 s only: the trace ends quietly, with no step for the filter to ring at.
    const test::Coda coda = test::make_coda(21, c.f1, c.f2, 0.6, 400, 4);
    const int npts = static_cast<int>(std::lround(1000 / c.delta)) + 1;
    const int zero = npts / 2;
    const int length = band_pass_length(npts);
    std::vector<float> gains(length / 2 + 1);
    band_pass_gains(length, c.delta, c.low, c.high, gains);
    std::vector<Complex> spectrum(length, Complex{0, 0});
    for (int k = 0; k < npts; ++k) {
      spectrum[k] = {static_cast<float>(coda.at((k - zero) * c.delta)), 0.0f};
    }
    fork(length, 1, spectrum);
    apply_gains(spectrum, length, gains);
    const double top = std::min(1.2 * c.high, 0.5 / c.delta) * c.delta;
    const int up = upsampling_for(top);
    EXPECT_EQ(up, c.up);
    std::vector<Complex> work(static_cast<std::size_t>(length) * up);
    ReferenceCurve curve;
    const double reach = 300 / c.delta;
    build_curve(spectrum, length, zero, up, reach, work, curve);
    double largest = 0, worst = 0;
    for (double lag = -reach; lag <= reach; lag += 0.37) {
      const double expected = coda.at(lag * c.delta);
      largest = std::max(largest, std::fabs(expected));
      worst = std::max(worst, std::fabs(curve.at(lag) - expected));
    }
    EXPECT_LT(worst, 5e-5 * largest);
  }
}

}  // namespace
}  // namespace xcn::dvv
