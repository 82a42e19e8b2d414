// Ellipsoidal distance, azimuth and back azimuth between two points (elpdst).
//
// Closed-form inverse solution to second order in the flattening, on reduced latitudes, with no
// iteration. Ellipsoid: equatorial radius 6378139 m, flattening 1/298.257223563.
// Accuracy against an exact geodesic on the same ellipsoid: a few centimetres typically, a few
// decimetres up to 15000 km, some metres toward the antipode; azimuths to about 1e-5 degree.
// Pure function: no state, safe to call from any number of threads.
#pragma once

namespace xcn {

// Value stored in an output that has no meaning (the header's "undefined").

// Inputs: geographic latitude in [-90, 90] and longitude (positive east) of the first point
// (eplat, eplon) and the second (stlat, stlon), in degrees.
// Outputs, always all three written:
//   dist  distance along the ellipsoid in kilometres;
//   az    azimuth at the first point toward the second, degrees clockwise from north, [0, 360);
//   baz   azimuth at the second point toward the first, same convention.
// Points closer than about 10 cm (coincident points, or both at the same pole) give dist 0 and
// both azimuths the undefined value (-12345). Any other output that would not be finite
// (non-finite input, exactly antipodal points) is the undefined value. The call always returns.
void elpdst(double eplat, double eplon, double stlat, double stlon, double& dist, double& az,
            double& baz);

}  // namespace xcn
