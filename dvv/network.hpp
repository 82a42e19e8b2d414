// The network's dv/v at one time: the pairs' measurements averaged, weighted by the inverse
// square of their errors.
#pragma once

#include <limits>
#include <span>

#include "dvv/measurement.hpp"

namespace xcn::dvv {

struct NetworkPoint {
  double dvv = std::numeric_limits<double>::quiet_NaN();
  double error = std::numeric_limits<double>::quiet_NaN();  // 1 / sqrt(sum of the weights)
  int pairs = 0;                                            // the pairs averaged
};

// The weighted mean of the measurements with status ok, finite dvv, cc and error, an error
// of 0 or more, and cc >= min_cc; the rest are left out. Pairs with an error of 0 (or one
// too small to square) weigh infinitely: where there are any, the mean is theirs alone, its
// error 0 and pairs their number. No pair left gives NaN with 0 pairs.
NetworkPoint network_mean(std::span<const Measurement> pairs, double min_cc);

}  // namespace xcn::dvv
