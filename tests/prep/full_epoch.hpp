// A channel epoch with every field the metadata can give, for tests that need no warnings.
#pragma once

#include "prep/metadata.hpp"

namespace xcn::test {

// A vertical channel at 10 N 20 E, at the surface, from `start` on.
inline prep::ChannelEpoch full_epoch(const prep::ChannelId& id, prep::Micros start) {
  prep::ChannelEpoch e;
  e.id = id;
  e.start = start;
  e.latitude = 10;
  e.longitude = 20;
  e.elevation = 0;
  e.depth = 0;
  e.azimuth = 0;
  e.dip = -90;
  return e;
}

}  // namespace xcn::test
