// Ellipsoidal distance and azimuths by a second-order closed-form inverse solution.
#include "geodesy/elpdst.hpp"

#include <cmath>
#include <numbers>

#include "sacio/header_model.hpp"

namespace xcn {

namespace {

// The library's undefined value, in the routine's double precision.
constexpr double kUndefined = kUndefFloat;

constexpr double kDegToRad = 0.0174532925199433;  // pi/180 to 15 significant digits
constexpr double kRadius = 6378139.0;             // equatorial radius, metres
constexpr double kBOverA = 0.9966471893352525;    // 1 - f, f = 1/298.257223563
constexpr double kF4 = 0.0008382026661868701;     // f/4
constexpr double kF2 = 0.0016764053323737402;     // f/2
constexpr double kF64 = 1.756459274006944e-07;    // f^2/64
constexpr double kTurn = 6.28318530717959;        // 2 pi to 15 significant digits

// Reduced latitude. At the poles kDegToRad * 90 lands just above pi/2, where the tangent flips
// to a huge negative value and the pole would swap sides; the exact value avoids that.
double reduced_latitude(double lat) {
  if (lat == 90.0) return std::numbers::pi / 2.0;
  if (lat == -90.0) return -std::numbers::pi / 2.0;
  return std::atan(kBOverA * std::tan(kDegToRad * lat));
}

// Brings a finite azimuth in radians into [0, kTurn).
double normalised(double a) {
  do {
    while (a >= kTurn) a -= kTurn;
    while (a < 0.0) a += kTurn;
  } while (!(a >= 0.0 && a < kTurn));
  return a;
}

double finite_or_undefined(double v) { return std::isfinite(v) ? v : kUndefined; }

}  // namespace

void elpdst(double eplat, double eplon, double stlat, double stlon, double& dist, double& az,
            double& baz) {
  dist = az = baz = kUndefined;
  if (!std::isfinite(eplat) || !std::isfinite(eplon) || !std::isfinite(stlat) ||
      !std::isfinite(stlon)) {
    return;
  }

  const double delta_lon = (stlon - eplon) * kDegToRad;
  const double b1 = reduced_latitude(eplat);
  const double b2 = reduced_latitude(stlat);
  const double m = (b1 + b2) / 2.0;
  const double n = (b2 - b1) / 2.0;
  const double sm = std::sin(m);
  const double cm = std::cos(m);
  const double sn = std::sin(n);
  const double cn = std::cos(n);
  const double sh = std::sin(delta_lon / 2.0);
  const double l = sn * sn + sh * sh * (cn * cn - sm * sm);
  const double cd = 1.0 - 2.0 * l;

  // Below about 10 cm the arc rounds to nothing (or the rounded L goes negative) and the
  // formulas would divide zero by zero: such points count as coincident.
  if (!(cd < 1.0)) {
    dist = 0.0;
    return;
  }

  const double d = std::acos(cd);
  const double sd = std::sin(d);
  const double t = d / sd;
  const double u = 2.0 * (sm * sm) * (cn * cn) / (1.0 - l);
  const double v = 2.0 * (sn * sn) * (cm * cm) / l;
  const double dd = 4.0 * t * t;
  const double x = u + v;
  const double y = u - v;
  const double e = -2.0 * cd;
  const double a = -dd * e;

  const double series =
      t - kF4 * (t * x - y) +
      kF64 * (x * (a + (t - (a + e) / 2.0) * x) + y * (e * y - 2.0 * dd) + dd * x * y);
  dist = finite_or_undefined(kRadius * sd * series / 1000.0);

  const double q = 0.25 * (e * (4.0 - x) + 2.0 * y) *
                   (kF2 * t + kF64 * (32.0 * t + (a - 20.0 * t) * x - 2.0 * (dd + 2.0) * y)) *
                   std::tan(delta_lon);
  const double tt = std::tan((delta_lon - q) / 2.0);
  const double p = std::atan2(sn, cm * tt);
  const double r = std::atan2(cn, sm * tt);
  const double alpha1 = kTurn + r - p;
  const double alpha2 = kTurn - r - p;
  if (std::isfinite(alpha1)) az = normalised(alpha1) / kDegToRad;
  if (std::isfinite(alpha2)) baz = normalised(alpha2) / kDegToRad;
}

}  // namespace xcn
