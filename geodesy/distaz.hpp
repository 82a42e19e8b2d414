// Event-station distance, azimuth, back azimuth and arc for SAC headers, and the refresh of
// the distance fields of the current header before it is written.
#pragma once

namespace xcn {

// One event (degrees, longitude positive east) and n stations (degrees). Outputs, each an
// array of n: dist in km, az and baz in degrees in [0, 360), xdeg the great-circle arc in
// degrees. The first element of each output on entry is a request: negative leaves that
// whole array as it was; 0, positive or NaN asks for it.
//
// Reference ellipsoid: equatorial radius 6378.160 km, flattening 0.00335293. Angles are taken
// on the sphere of geocentric latitudes; the distance on the ellipsoid (Rudoe), within about a
// metre of the geodesic up to 10000 km and a few km near the antipode.
//
// nerr is 0, or 904 when a distance disagrees with the arc by more than 100 km (message
// composed, not output). Pure apart from that message.
void distaz(double the, double phe, const float* ts, const float* ps, int ns, float* dist,
            float* az, float* baz, float* xdeg, int* nerr);

// Recomputes those of DIST, AZ, BAZ, GCARC of the current header that are not negative, when
// LCALDA is true and STLA, STLO, EVLA, EVLO are all defined.
void update_distaz();

}  // namespace xcn
