// The network's weighted mean of the pairs' dv/v.
#include "dvv/network.hpp"

#include <cmath>

namespace xcn::dvv {

NetworkPoint network_mean(std::span<const Measurement> pairs, double min_cc) {
  double weights = 0, sum = 0;
  double exact_sum = 0;
  int used = 0, exact = 0;
  for (const Measurement& m : pairs) {
    if (m.status != Status::ok || !std::isfinite(m.dvv) || !std::isfinite(m.error) ||
        !std::isfinite(m.cc) || m.error < 0 || !(m.cc >= min_cc)) {
      continue;
    }
    ++used;
    const double w = 1.0 / (m.error * m.error);
    if (!std::isfinite(w)) {
      ++exact;
      exact_sum += m.dvv;
      continue;
    }
    weights += w;
    sum += w * m.dvv;
  }
  NetworkPoint p;
  if (used == 0) return p;
  p.pairs = exact > 0 ? exact : used;
  if (exact > 0) {
    p.dvv = exact_sum / exact;
    p.error = 0;
  } else {
    p.dvv = sum / weights;
    p.error = 1.0 / std::sqrt(weights);
  }
  return p;
}

}  // namespace xcn::dvv
