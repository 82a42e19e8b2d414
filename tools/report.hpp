// Where a correlation's largest peaks lie, on the negative and on the positive lag side.
#pragma once

#include <optional>
#include <span>

namespace xcn::tools {

struct SidePeaks {
  std::optional<double> negative_lag;  // s, of the largest sample at a lag below 0
  std::optional<double> positive_lag;  // s, of the largest sample at a lag above 0
};

// Sample k (zero-based) stands at lag begin + k * delta. Not-a-number samples never win, so an
// all-NaN side has no peak.
SidePeaks side_peaks(std::span<const float> samples, double begin, double delta);

}  // namespace xcn::tools
