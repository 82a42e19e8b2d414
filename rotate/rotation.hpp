// The rotation of a station pair's nine component correlations: directions, each station's
// components solved for the ground motion, and the correlations of any two directions.
//
// A component records the ground motion v (east, north, up) along its direction u: d = u . v.
// Three components of one station make the rows of a matrix M, so v = M^-1 d, and the motion
// along any direction p is p . v = (p^T M^-1) d: weights on the three components. The
// correlation of direction p at the first station with direction q at the second is then
// sum over a, b of w_p[a] w_q[b] C_ab, each C_ab the correlation of component a with component
// b. Orthogonal or not, any three components that span space serve.
#pragma once

#include <array>
#include <optional>
#include <span>

namespace xcn::rotate {

// A direction as east, north and up parts.
using Direction = std::array<double, 3>;

// The direction of azimuth `azimuth_deg` (clockwise from north) and incidence `incidence_deg`
// (from up: 0 up, 90 horizontal), as CMPAZ and CMPINC give a component's. Parts below 1e-12
// are 0, so that a horizontal has no vertical part and the other way round.
Direction direction(double azimuth_deg, double incidence_deg);

// A component's orientation: what its header says, else what its code's last letter says (Z
// up, N north, E east); none when neither tells (a 1 or 2 without CMPAZ).
struct Orientation {
  double azimuth_deg = 0;
  double incidence_deg = 0;
};
std::optional<Orientation> orientation(char letter, float cmpaz, float cmpinc);

// Weights on three components: the motion along a direction is their weighted sum.
using Weights = std::array<double, 3>;

// The weights of each direction of `wanted` from components along `axes`: none when the axes
// hold too little of space (|det M| below kLeastVolume, as two horizontals less than 6 degrees
// apart). Weights below 1e-12 of the largest are 0, so that a correlation that adds nothing
// (and may hold no window) leaves no trace.
inline constexpr double kLeastVolume = 0.1;
std::optional<std::array<Weights, 3>> solve(const std::array<Direction, 3>& axes,
                                            const std::array<Direction, 3>& wanted);

// The correlation of the weighted components: out[k] = sum over a, b of wa[a] wb[b] c[a][b][k],
// in double precision; terms of weight 0 are left out.
void combine(const Weights& wa, const Weights& wb,
             const std::array<std::array<std::span<const float>, 3>, 3>& c, std::span<float> out);

// The directions R, T and Z at a station of the pair, whose radial direction has azimuth
// `radial_deg`: R along it, T turned 90 degrees clockwise seen from above, Z up.
struct Frame {
  std::array<Orientation, 3> axes;  // R, T, Z
};
Frame frame(double radial_deg);

// An azimuth in [0, 360).
double azimuth_in_circle(double deg);

}  // namespace xcn::rotate
