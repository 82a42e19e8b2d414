// The synthetic-network generator's command line: options, records, station and name lists.
#include <atomic>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "tools/commands.hpp"
#include "tools/pair_names.hpp"
#include "tools/station_files.hpp"
#include "tools/synth.hpp"
#include "xcorrnet/sacio.h"

namespace xcn::tools {
namespace {

constexpr const char* kUsage =
    "usage: xcn_synth [--stations N] [--samples M] [--delta S] [--seed K] [--out DIR]\n"
    "                 [--folders]\n"
    "  N stations (1 to 2000, default 6) recording plane-wave and local noise, M samples\n"
    "  each (default 86400, at most 34560000: four days at 100 Hz) at S seconds (default 1),\n"
    "  drawn from the seed K (default 20240611), written to DIR (default .) with\n"
    "  DIR/stations.txt and DIR/names.txt; run xcorrnet_v3 in DIR. Stations are made in\n"
    "  parallel (OMP_NUM_THREADS workers), each holding 4 bytes a sample and 20 bytes a\n"
    "  second of record (150 MB for four days at 100 Hz).\n"
    "  --folders: names.txt puts each result in a folder named after its pair's first\n"
    "  record (ST01.BHZ/ST01.BHZ_ST02.BHZ.sac), and those folders are made in DIR.\n";

// Four days at 100 Hz (a 138 MB file): enough for the longest records we test with, and a
// worker's memory stays in the hundreds of MB.
constexpr int kMaxSamples = 34560000;

// Fills `options`; false with `error` on a bad or unknown option.
bool parse_options(std::span<const std::string> args, synth::Options& options, std::string& error) {
  for (std::size_t k = 0; k < args.size(); ++k) {
    const std::string& flag = args[k];
    if (flag == "--folders") {
      options.folders = true;
      continue;
    }
    if (k + 1 == args.size()) {
      error = "option " + flag + " needs a value";
      return false;
    }
    const std::string& value = args[++k];
    bool ok = false;
    if (flag == "--stations") {
      ok = parse_number(value, options.stations) && options.stations >= 1 &&
           options.stations <= synth::kMaxStations;
    } else if (flag == "--samples") {
      ok = parse_number(value, options.samples) && options.samples >= 1 &&
           options.samples <= kMaxSamples;
    } else if (flag == "--delta") {
      ok = parse_number(value, options.delta_s) && std::isfinite(options.delta_s) &&
           options.delta_s > 0.0;
    } else if (flag == "--seed") {
      ok = parse_number(value, options.seed);
    } else if (flag == "--out") {
      options.folder = value;
      ok = !value.empty();
    } else {
      error = "unknown option " + flag;
      return false;
    }
    if (!ok) {
      error = "bad value for " + flag + ": \"" + value + "\"";
      return false;
    }
  }
  return true;
}

double network_radius_km(const std::vector<synth::PlanePoint>& layout) {
  double radius = 0;
  for (const auto& p : layout) radius = std::max(radius, std::hypot(p.east_km, p.north_km));
  return radius;
}

}  // namespace

int run_synth(std::span<const std::string> args, std::FILE* out, std::FILE* err) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kUsage, out);
    return 0;
  }
  synth::Options options;
  std::string error;
  if (!parse_options(args, options, error)) {
    std::fprintf(err, "xcn_synth: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  const std::filesystem::path folder(options.folder);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    std::fprintf(err, "xcn_synth: cannot create %s: %s\n", folder.c_str(), ec.message().c_str());
    return 1;
  }

  sac_error_stderr();  // standard output is the summary's
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
  const NameList names = make_name_list("", ids, "stations.txt", layout_of_names);
  for (const auto& problem : names.problems) std::fprintf(err, "xcn_synth: %s\n", problem.c_str());
  if (!names.problems.empty()) return 1;
  if (!write_lines_atomically(folder / "stations.txt", entries, error) ||
      !write_name_list(folder, folder / "names.txt", names, error)) {
    std::fprintf(err, "xcn_synth: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(out, "xcn_synth: %d stations, %d samples at %g s, seed %llu, in %s\n",
               options.stations, options.samples, options.delta_s,
               static_cast<unsigned long long>(options.seed), folder.c_str());
  return 0;
}

}  // namespace xcn::tools
