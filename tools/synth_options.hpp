// What the forms of xcn_synth that write SAC records share: the options of the network and of
// its records, its size, its folder and its lists.
#pragma once

#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "cli/options.hpp"
#include "tools/pair_names.hpp"
#include "tools/synth.hpp"

namespace xcn::tools {

// --stations, --samples, --delta, --seed and --out, read into `o`.
std::vector<cli::Option> network_options(synth::Options& o);

// The distance of the farthest station from the network's centre, in km.
double network_radius_km(const std::vector<synth::PlanePoint>& layout);

// Makes the folder of the records (and its parents), caps the workers and sends the library's
// messages to `err`: standard output is the summary's. False, said on `err`, when the folder
// cannot be made.
bool start_network(const std::filesystem::path& folder, std::FILE* err);

// Writes stations.txt and names.txt of the records `entries` (whose names are `ids`) in the
// folder. False, said on `err`, when a name cannot serve or a list cannot be written.
bool write_network_lists(const std::filesystem::path& folder, std::span<const std::string> entries,
                         std::span<const StationId> ids, Layout layout, std::FILE* err);

}  // namespace xcn::tools
