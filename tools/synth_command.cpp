// The synthetic-network generator's command line: options, records, station and name lists.
#include <atomic>
#include <cmath>
#include <filesystem>
#include <limits>
#include <system_error>

#include "cli/options.hpp"
#include "cli/workers.hpp"
#include "tools/commands.hpp"
#include "tools/pair_names.hpp"
#include "tools/station_files.hpp"
#include "tools/synth.hpp"
#include "tools/synth_options.hpp"
#include "xcorrnet/sacio.h"

namespace xcn::tools {

const char* const kSynthUsage =
    "usage: xcn_synth [--stations N] [--samples M] [--delta S] [--seed K] [--out DIR] [--folders]\n"
    "       xcn_synth --three [--stations N] [--samples M] [--delta S] [--seed K] [--out DIR]\n"
    "                 [--orient en|12] [--waves both|rayleigh|love]\n"
    "       xcn_synth --sds [--stations N] [--rate R] [--day DAY] [--seed K] [--out DIR]\n"
    "  N stations (1 to 2000, default 6) recording plane-wave and local noise, M samples\n"
    "  each (default 86400, at most 34560000: four days at 100 Hz) at S seconds (default 1),\n"
    "  drawn from the seed K (default 20240611), written to DIR (default .) with\n"
    "  DIR/stations.txt and DIR/names.txt; run xcorrnet_v3 in DIR. Stations are made in\n"
    "  parallel (OMP_NUM_THREADS workers), each holding 4 bytes a sample and 20 bytes a\n"
    "  second of record (150 MB for four days at 100 Hz).\n"
    "  --folders: names.txt puts each result in a folder named after its pair's first\n"
    "  record (ST01.BHZ/ST01.BHZ_ST02.BHZ.sac), and those folders are made in DIR.\n"
    "  --three: three components a station, E, N and Z (--orient 12: 1 and 2 at an azimuth of\n"
    "  the station's own, in CMPAZ, and Z), the waves Rayleigh waves on Z and along their way\n"
    "  and Love waves across it (--waves), ST01.BHE.sac, ST01.BHN.sac, ST01.BHZ.sac, ...\n"
    "  --sds: the network as a miniSEED SDS archive DIR/sds instead (Steim-2, 4096-byte\n"
    "  records), one day DAY (default 2024-01-05) at R samples per second (1 to 1000,\n"
    "  default 20) with random gaps and start offsets, and the stations' coordinates as\n"
    "  DIR/stations.xml (in builds with libmseed)\n";

namespace {

// Four days at 100 Hz (a 138 MB file): enough for the longest records we test with, and a
// worker's memory stays in the hundreds of MB.
constexpr int kMaxSamples = 34560000;

// Fills `options`; a status to end with when the command line says so (help, or a bad one).
std::optional<int> read_options(std::span<const std::string> args, synth::Options& options,
                                std::FILE* out, std::FILE* err) {
  std::vector<cli::Option> table = network_options(options);
  table.push_back(cli::flag_option("--folders", options.folders));
  return cli::Program{"xcn_synth", kSynthUsage}.read(args, table, nullptr, out, err);
}

}  // namespace

std::vector<cli::Option> network_options(synth::Options& o) {
  return {
      cli::number_option("--stations", "a number of stations from 1 to 2000", o.stations, 1,
                         synth::kMaxStations),
      cli::number_option("--samples", "a number of samples from 1 to 34560000", o.samples, 1,
                         kMaxSamples),
      cli::number_option("--delta", "an interval in seconds over 0", o.delta_s,
                         std::numeric_limits<double>::min(), std::numeric_limits<double>::max()),
      cli::number_option("--seed", "a whole number from 0 to 2^64 - 1", o.seed, std::uint64_t{0},
                         std::numeric_limits<std::uint64_t>::max()),
      cli::text_option("--out", "a folder", o.folder),
  };
}

double network_radius_km(const std::vector<synth::PlanePoint>& layout) {
  double radius = 0;
  for (const auto& p : layout) radius = std::max(radius, std::hypot(p.east_km, p.north_km));
  return radius;
}

bool start_network(const std::filesystem::path& folder, std::FILE* err) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    std::fprintf(err, "xcn_synth: cannot create %s: %s\n", folder.c_str(), ec.message().c_str());
    return false;
  }
  cli::cap_workers(err, "xcn_synth");
  sac_error_stderr();
  return true;
}

bool write_network_lists(const std::filesystem::path& folder, std::span<const std::string> entries,
                         std::span<const StationId> ids, Layout layout, std::FILE* err) {
  const NameList names = make_name_list("", ids, "stations.txt", layout);
  for (const auto& problem : names.problems) std::fprintf(err, "xcn_synth: %s\n", problem.c_str());
  if (!names.problems.empty()) return false;
  std::string error;
  if (!write_lines_atomically(folder / "stations.txt", entries, error) ||
      !write_name_list(folder, folder / "names.txt", names, error)) {
    std::fprintf(err, "xcn_synth: %s\n", error.c_str());
    return false;
  }
  return true;
}

int run_synth(std::span<const std::string> args, std::FILE* out, std::FILE* err) {
  synth::Options options;
  if (const auto status = read_options(args, options, out, err)) return *status;
  const std::filesystem::path folder(options.folder);
  if (!start_network(folder, err)) return 1;
  const auto layout = synth::station_layout(options.stations);
  const synth::NoiseModel model;
  synth::Random rng(options.seed);
  const double duration = options.samples * options.delta_s;
  const auto waves = synth::draw_waves(rng, model, duration, network_radius_km(layout));

  // Each station's own noise comes from the main stream, after the waves, in station order.
  const auto count = static_cast<std::size_t>(options.stations);
  std::vector<std::uint64_t> noise_seeds(count);
  for (auto& seed : noise_seeds) seed = rng.next();
  std::vector<std::string> entries(count);
  std::vector<StationId> ids(count);
  std::string failure;
  std::atomic<bool> failed = false;
  // Workers make the stations in turn and write them in station order, one at a time, since
  // the library keeps one current header per process; each holds one record at a time.
#pragma omp parallel for ordered schedule(static, 1)
  for (std::size_t k = 0; k < count; ++k) {
    const synth::PlanePoint where = layout[k];
    const synth::GeoPoint geo = synth::to_geographic(where);
    StationHeader header{synth::station_name(static_cast<int>(k + 1)), options.component,
                         static_cast<float>(geo.lat_deg), static_cast<float>(geo.lon_deg),
                         static_cast<float>(options.delta_s)};
    std::vector<float> record;
    if (!failed) {
      record = synth::station_record(waves, model, where, options.samples, options.delta_s,
                                     synth::Random(noise_seeds[k]));
    }
    entries[k] = header.station + "." + header.component + ".sac";
    ids[k] = {header.station, header.component};
#pragma omp ordered
    {
      std::string why;
      if (!failed && !write_station_record((folder / entries[k]).string(), header, record, why)) {
        failure = why;
        failed = true;
      }
    }
  }
  if (failed) {
    std::fprintf(err, "xcn_synth: %s\n", failure.c_str());
    return 1;
  }

  const auto layout_of_names = options.folders ? Layout::kFolderPerRecord : Layout::kFlat;
  if (!write_network_lists(folder, entries, ids, layout_of_names, err)) return 1;
  std::fprintf(out, "xcn_synth: %d stations, %d samples at %g s, seed %llu, in %s\n",
               options.stations, options.samples, options.delta_s,
               static_cast<unsigned long long>(options.seed), folder.c_str());
  return 0;
}

}  // namespace xcn::tools
