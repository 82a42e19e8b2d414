// Header distance, azimuths and arc: geocentric sphere for the angles, Rudoe's series on the
// ellipsoid for the distance, and the refresh of the current header's distance fields.
#include "geodesy/distaz.hpp"

#include <cmath>

#include "msg/message.hpp"
#include "sacio/header_model.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {

namespace {

// The constants are single precision as stored; the series coefficients are exact in float.
constexpr float kRad = 6378.160f;   // equatorial radius, km
constexpr float kFl = 0.00335293f;  // flattening
constexpr float kTwoPiDeg = 360.0f;
constexpr float kDegToKm = 111.3199f;  // only for the consistency test
constexpr float kC00 = 1.0f, kC01 = 0.25f, kC02 = -0.046875f, kC03 = 0.01953125f;
constexpr float kC21 = -0.125f, kC22 = 0.03125f, kC23 = -0.0146484375f;
constexpr float kC42 = -0.00390625f, kC43 = 0.0029296875f;

constexpr double kToRad = 0.0174532925239284;  // 1 / 57.2957795
constexpr double kToDeg = 57.2957795;
constexpr double kZeroLatitude = 1e-8;  // keeps the tangent and the point order defined
constexpr double kPoleTangent = 3.4028234663852886e38;  // largest float, stands for tan(90)
constexpr float kTolerance = 100.0f;                    // km between the distance and the arc

struct Vec3 {
  double x, y, z;
};

double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
double dist2(Vec3 a, Vec3 b) {
  const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
  return dx * dx + dy * dy + dz * dz;
}
double sum2(Vec3 a, Vec3 b) {
  const double dx = a.x + b.x, dy = a.y + b.y, dz = a.z + b.z;
  return dx * dx + dy * dy + dz * dz;
}

// A point on the geocentric sphere: its unit vector, minus the local east, minus the local
// north.
struct Site {
  Vec3 p, dm, gm;
};

Site make_site(double latitude, double longitude, double one_minus_e2) {
  const double lat = (latitude == 0.0 ? kZeroLatitude : latitude) * kToRad;
  const double theta =
      (latitude == 90.0 || latitude == -90.0) ? lat : std::atan(one_minus_e2 * std::tan(lat));
  const double lambda = longitude * kToRad;
  const double ct = std::cos(theta), st = std::sin(theta);
  const double cl = std::cos(lambda), sl = std::sin(lambda);
  return {{ct * cl, ct * sl, st}, {sl, -cl, 0.0}, {st * cl, st * sl, -ct}};
}

// Angles are stored in [0, 360). Adding 360 in single precision turns angles just below zero
// into exactly 360, which is folded back.
float positive_angle(double degrees) {
  float angle = static_cast<float>(degrees);
  if (angle < 0.0f) angle += kTwoPiDeg;
  if (angle == kTwoPiDeg) angle = 0.0f;
  return angle;
}

struct GeoPoint {
  double lat_deg;  // as given, before the zero replacement
  double lat;      // radians, zero replaced
  double lon;      // radians
};

GeoPoint geo_point(double lat_deg, double lon_deg) {
  return {lat_deg, (lat_deg == 0.0 ? kZeroLatitude : lat_deg) * kToRad, lon_deg * kToRad};
}

// Rudoe's formula, series in the second eccentricity to its cube. Point 1 must be the
// northern one for points on opposite sides of the equator.
float rudoe_distance(GeoPoint p1, GeoPoint p2, double e2, double ep2) {
  auto trig = [](GeoPoint p, double& c, double& s, double& t) {
    if (p.lat_deg == 90.0) {
      c = 0.0, s = 1.0, t = kPoleTangent;
    } else if (p.lat_deg == -90.0) {
      c = 0.0, s = -1.0, t = -kPoleTangent;
    } else {
      c = std::cos(p.lat), s = std::sin(p.lat), t = s / c;
    }
  };
  double c1, s1, t1, c2, s2, t2;
  trig(p1, c1, s1, t1);
  trig(p2, c2, s2, t2);

  const double al =
      t1 / ((1.0 + ep2) * t2) + e2 * std::sqrt((1.0 + ep2 + t1 * t1) / (1.0 + ep2 + t2 * t2));
  const double dl = p1.lon - p2.lon;
  const double a12 = std::atan2(std::sin(dl), (al - std::cos(dl)) * s2);
  const double cosa12 = std::cos(a12), sina12 = std::sin(a12);

  const double c2cos = c2 * cosa12;
  const double eps = ep2 * (c2cos * c2cos + s2 * s2);
  const double eps2 = eps * eps, eps3 = eps2 * eps;
  const double c0 = kC00 + kC01 * eps + kC02 * eps2 + kC03 * eps3;
  const double cc2 = kC21 * eps + kC22 * eps2 + kC23 * eps3;
  const double c4 = kC42 * eps2 + kC43 * eps3;

  const double v1 = kRad / std::sqrt(1.0 - e2 * s2 * s2);
  const double v2 = kRad / std::sqrt(1.0 - e2 * s1 * s1);
  const double z1 = v1 * (1.0 - e2) * s2;
  const double z2 = v2 * (1.0 - e2) * s1;
  const double x2 = v2 * c1 * std::cos(dl);
  const double y2 = v2 * c1 * std::sin(dl);

  const double e1p1 = 1.0 + eps;
  const double sqrte1p1 = std::sqrt(e1p1);
  const double u1 = std::atan2(t2, sqrte1p1 * cosa12);
  const double u2 =
      std::atan2(v1 * s2 + e1p1 * (z2 - z1), sqrte1p1 * (x2 * cosa12 - y2 * s2 * sina12));
  const double b0 = v1 * std::sqrt(1.0 + ep2 * c2cos * c2cos) / e1p1;

  const double value = b0 * c0 * (u2 - u1) + b0 * (cc2 * (std::sin(2.0 * u2) - std::sin(2.0 * u1)) +
                                                   c4 * (std::sin(4.0 * u2) - std::sin(4.0 * u1)));
  return std::fabs(static_cast<float>(value));
}

}  // namespace

void distaz(double the, double phe, const float* ts, const float* ps, int ns, float* dist,
            float* az, float* baz, float* xdeg, int* nerr) {
  *nerr = 0;
  // A negative first element declines that output; NaN requests it.
  const bool want_dist = !(dist[0] < 0.0f);
  const bool want_az = !(az[0] < 0.0f);
  const bool want_baz = !(baz[0] < 0.0f);
  const bool want_deg = !(xdeg[0] < 0.0f);

  const double e2 = 2.0 * static_cast<double>(kFl) - static_cast<double>(kFl * kFl);
  const double one_minus_e2 = 1.0 - e2;
  const double ep2 = e2 / one_minus_e2;

  const Site event = make_site(the, phe, one_minus_e2);
  const GeoPoint event_geo = geo_point(the, phe);

  for (int i = 0; i < ns; ++i) {
    const double slat = ts[i];
    const double slon = ps[i];
    const Site sta = make_site(slat, slon, one_minus_e2);

    if (want_deg) {
      const double cosdel = dot(event.p, sta.p);
      const double sindel = 0.5 * std::sqrt(dist2(event.p, sta.p) * sum2(event.p, sta.p));
      xdeg[i] = positive_angle(std::atan2(sindel, cosdel) * kToDeg);
    }
    if (want_az) {
      // Twice the east and twice the north component of the station at the event.
      az[i] = positive_angle(
          std::atan2(dist2(sta.p, event.dm) - 2.0, dist2(sta.p, event.gm) - 2.0) * kToDeg);
    }
    if (want_baz) {
      baz[i] = positive_angle(
          std::atan2(dist2(event.p, sta.dm) - 2.0, dist2(event.p, sta.gm) - 2.0) * kToDeg);
    }
    if (want_dist) {
      const GeoPoint sta_geo = geo_point(slat, slon);
      dist[i] = sta_geo.lat > 0.0 ? rudoe_distance(sta_geo, event_geo, e2, ep2)
                                  : rudoe_distance(event_geo, sta_geo, e2, ep2);
      if (want_deg && std::fabs(dist[i] - kDegToKm * xdeg[i]) > kTolerance) {
        *nerr = SACIO_ERR_DISTANCE;
        setmsg("ERROR", SACIO_ERR_DISTANCE);
        apimsg(i + 1);
      }
    }
  }
}

void update_distaz() {
  if (Lhdr(kLcalda) == 0) return;
  const float undef = kUndefFloat;
  if (Fhdr(kStla) == undef || Fhdr(kStlo) == undef || Fhdr(kEvla) == undef ||
      Fhdr(kEvlo) == undef) {
    return;
  }
  int nerr = 0;
  distaz(Fhdr(kEvla), Fhdr(kEvlo), &Fhdr(kStla), &Fhdr(kStlo), 1, &Fhdr(kDist), &Fhdr(kAz),
         &Fhdr(kBaz), &Fhdr(kGcarc), &nerr);
  // One place, or two closer than a millimetre: the formula leaves rounding (7e-13 km) where a
  // distance of exactly 0 is meant.
  constexpr float kMillimetreKm = 1e-6f;
  const bool same_place = Fhdr(kEvla) == Fhdr(kStla) && Fhdr(kEvlo) == Fhdr(kStlo);
  if (same_place || (Fhdr(kDist) != undef && Fhdr(kDist) >= 0.0f && Fhdr(kDist) < kMillimetreKm)) {
    if (Fhdr(kDist) != undef) Fhdr(kDist) = 0.0f;
    if (Fhdr(kGcarc) != undef) Fhdr(kGcarc) = 0.0f;
    Fhdr(kAz) = 0.0f;
    Fhdr(kBaz) = 0.0f;
  }
  if (nerr != 0) {
    Fhdr(kDist) = undef;
    Fhdr(kAz) = undef;
    Fhdr(kBaz) = undef;
    Fhdr(kGcarc) = undef;
  }
}

}  // namespace xcn
