// xcn_synth --three: the synthetic network with three components a station, its records and
// lists.
#include <filesystem>

#include "cli/options.hpp"
#include "tools/commands.hpp"
#include "tools/pair_names.hpp"
#include "tools/station_files.hpp"
#include "tools/synth_options.hpp"
#include "tools/synth_three.hpp"
#include "xcorrnet/sacio.h"

namespace xcn::tools {
namespace {

struct ThreeOptions {
  synth::Options network;
  synth::ThreeComponentModel model;
  bool turned = false;  // horizontals 1 and 2 at an azimuth of each station's own
};

// Fills `o`; a status to end with when the command line says so (help, or a bad one).
std::optional<int> read_options(std::span<const std::string> args, ThreeOptions& o, std::FILE* out,
                                std::FILE* err) {
  bool three = false;
  std::vector<cli::Option> table = network_options(o.network);
  table.push_back(cli::flag_option("--three", three));
  table.push_back({"--orient", "en or 12", [&o](const std::string& v) {
                     o.turned = v == "12";
                     return v == "en" || v == "12";
                   }});
  table.push_back({"--waves", "both, rayleigh or love", [&o](const std::string& v) {
                     o.model.rayleigh = v != "love";
                     o.model.love = v != "rayleigh";
                     return v == "both" || v == "rayleigh" || v == "love";
                   }});
  return cli::Program{"xcn_synth", kSynthUsage}.read(args, table, nullptr, out, err);
}

}  // namespace

int run_synth_three(std::span<const std::string> args, std::FILE* out, std::FILE* err) {
  ThreeOptions o;
  if (const auto status = read_options(args, o, out, err)) return *status;
  const synth::Options& n = o.network;
  const std::filesystem::path folder(n.folder);
  if (!start_network(folder, err)) return 1;
  const auto layout = synth::station_layout(n.stations);
  synth::Random rng(n.seed);
  // Love waves, faster, cross the network within the margin the noise model's speed leaves.
  const auto waves =
      synth::draw_waves(rng, o.model.noise, n.samples * n.delta_s, network_radius_km(layout));
  const auto kinds = synth::draw_kinds(rng, waves.size(), o.model);

  // Each station's own noise comes from the main stream, after the waves, in station order.
  const auto count = static_cast<std::size_t>(n.stations);
  std::vector<std::uint64_t> noise_seeds(count);
  for (auto& seed : noise_seeds) seed = rng.next();
  std::vector<std::string> entries(3 * count);
  std::vector<StationId> ids(3 * count);
  std::string failure;
  bool failed = false;
  // Stations are made in turn by the workers and written in station order, one at a time: the
  // library keeps one current header per process.
#pragma omp parallel for ordered schedule(static, 1)
  for (std::size_t k = 0; k < count; ++k) {
    const synth::GeoPoint geo = synth::to_geographic(layout[k]);
    const auto components = synth::station_components(static_cast<int>(k + 1), o.turned);
    auto records =
        synth::three_component_records(waves, kinds, o.model, layout[k], components, n.samples,
                                       n.delta_s, synth::Random(noise_seeds[k]));
#pragma omp ordered
    for (std::size_t c = 0; c < 3 && !failed; ++c) {
      StationHeader header{synth::station_name(static_cast<int>(k + 1)),
                           std::string("BH") + components[c].letter,
                           static_cast<float>(geo.lat_deg), static_cast<float>(geo.lon_deg),
                           static_cast<float>(n.delta_s)};
      header.cmpaz = static_cast<float>(components[c].azimuth_deg);
      header.cmpinc = static_cast<float>(components[c].incidence_deg);
      entries[3 * k + c] = header.station + "." + header.component + ".sac";
      ids[3 * k + c] = {header.station, header.component};
      std::string why;
      if (!write_station_record((folder / entries[3 * k + c]).string(), header, records[c], why)) {
        failure = why;
        failed = true;
      }
    }
  }
  if (failed) {
    std::fprintf(err, "xcn_synth: %s\n", failure.c_str());
    return 1;
  }
  if (!write_network_lists(folder, entries, ids, Layout::kFlat, err)) return 1;
  std::fprintf(out,
               "xcn_synth: %d stations of three components (%s), %d samples at %g s, seed %llu, "
               "in %s\n",
               n.stations, o.turned ? "1, 2 and Z" : "E, N and Z", n.samples, n.delta_s,
               static_cast<unsigned long long>(n.seed), folder.c_str());
  return 0;
}

}  // namespace xcn::tools
