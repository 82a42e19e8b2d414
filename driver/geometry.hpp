// The geometry of a pair as the pair loop reports it: distance and azimuths between stations.
#pragma once

#include "driver/input/stations.hpp"

namespace xcn {

// Distance (km) and azimuths from the first station to the second, or 0 and undefined azimuths
// when their coordinates are the same; all three undefined when a station has no position.
struct Geometry {
  double dist = 0.0;
  double az = kUndefFloat;
  double baz = kUndefFloat;
};
Geometry pair_geometry(const Station& a, const Station& b);

}  // namespace xcn
