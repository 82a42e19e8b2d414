// What the forms of xcn_synth that write SAC records share: the options of the network and of
// its records, and the network's size.
#pragma once

#include <vector>

#include "cli/options.hpp"
#include "tools/synth.hpp"

namespace xcn::tools {

// --stations, --samples, --delta, --seed and --out, read into `o`.
std::vector<cli::Option> network_options(synth::Options& o);

// The distance of the farthest station from the network's centre, in km.
double network_radius_km(const std::vector<synth::PlanePoint>& layout);

}  // namespace xcn::tools
