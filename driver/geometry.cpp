// Pair geometry through the ellipsoidal distance routine.
#include "driver/geometry.hpp"

#include "geodesy/elpdst.hpp"

namespace xcn {

Geometry pair_geometry(const Station& a, const Station& b) {
  if (!a.has_position || !b.has_position) return {kUndefFloat, kUndefFloat, kUndefFloat};
  Geometry g;
  const bool coincident = a.stla == b.stla && a.stlo == b.stlo;
  if (!coincident) elpdst(a.stla, a.stlo, b.stla, b.stlo, g.dist, g.az, g.baz);
  // Closer than a millimetre: one place, whose distance is 0 and whose azimuths mean nothing.
  if (g.dist < 1e-6) g = Geometry{};
  return g;
}

}  // namespace xcn
