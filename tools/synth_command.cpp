// The synthetic-network generator's command line: options, records, station and name lists.
#include <atomic>
#include <cmath>
#include <filesystem>
#include <limits>
#include <system_error>

#include "cli/options.hpp"
#include "cli/workers.hpp"
#include "sacio/ref_time.hpp"
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
    "       xcn_synth --days N [--start DATE] [--dvv DAY:VALUE,...] [--stations N] [--samples M]\n"
    "                 [--delta S] [--seed K] [--out DIR]\n"
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
    "  --days: N days of the network, DIR/day001/, DIR/day002/, ... each with its records\n"
    "  (reference time DATE, default 2024-01-01, plus the day) and lists: the same waves\n"
    "  every day, sent on by scatterers around the network (the correlations' coda), and\n"
    "  each day's own local noise; --dvv gives\n"
    "  the velocity change of days (from 1) as a fraction, linear between them and constant\n"
    "  beyond (default 0): the arrivals and the coda of a day with change x come at (1 - x)\n"
    "  times their lags\n"
    "  --sds: the network as a miniSEED SDS archive DIR/sds instead (Steim-2, 4096-byte\n"
    "  records), one day DAY (default 2024-01-05) at R samples per second (1 to 1000,\n"
    "  default 20) with random gaps and start offsets, and the stations' coordinates as\n"
    "  DIR/stations.xml (in builds with libmseed)\n";

namespace {

// Four days at 100 Hz (a 138 MB file): enough for the longest records we test with, and a
// worker's memory stays in the hundreds of MB.
constexpr int kMaxSamples = 34560000;

// A network over days: how many, the first's reference time, the velocity change by day.
struct Dated {
  int days = 0;                                // 0: one network, undated
  std::int64_t start = 1704067200000;          // 2024-01-01
  std::vector<std::pair<double, double>> dvv;  // (day from 1, change), by day
};

// Days from 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t days_from_civil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// "2024-01-05" as ms since 1970.
bool parse_date(const std::string& v, std::int64_t& ms) {
  int y = 0, m = 0, d = 0;
  if (v.size() != 10 || v[4] != '-' || v[7] != '-' || !cli::parse_number(v.substr(0, 4), y) ||
      !cli::parse_number(v.substr(5, 2), m) || !cli::parse_number(v.substr(8, 2), d) || y < 1 ||
      m < 1 || m > 12 || d < 1) {
    return false;
  }
  static constexpr int kLength[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (d > kLength[m - 1] || (m == 2 && d == 29 && !leap)) return false;
  ms = days_from_civil(y, m, d) * 86400000;
  return true;
}

// "DAY:VALUE,..." with days rising.
bool parse_changes(const std::string& v, std::vector<std::pair<double, double>>& out) {
  out.clear();
  std::size_t at = 0;
  while (at <= v.size()) {
    const std::size_t comma = std::min(v.find(',', at), v.size());
    const std::string item = v.substr(at, comma - at);
    const std::size_t colon = item.find(':');
    double day = 0, value = 0;
    if (colon == std::string::npos || !cli::parse_number(item.substr(0, colon), day) ||
        !cli::parse_number(item.substr(colon + 1), value) || day < 1 || value <= -0.5 ||
        value >= 0.5 || (!out.empty() && day <= out.back().first)) {
      return false;
    }
    out.emplace_back(day, value);
    at = comma + 1;
  }
  return !out.empty();
}

// The change of `day` (from 1): linear between the given days, constant beyond.
double change_on(const std::vector<std::pair<double, double>>& points, double day) {
  if (points.empty()) return 0;
  if (day <= points.front().first) return points.front().second;
  for (std::size_t k = 1; k < points.size(); ++k) {
    const auto [d1, v1] = points[k];
    if (day <= d1) {
      const auto [d0, v0] = points[k - 1];
      return v0 + (v1 - v0) * (day - d0) / (d1 - d0);
    }
  }
  return points.back().second;
}

// Fills `options`; a status to end with when the command line says so (help, or a bad one).
std::optional<int> read_options(std::span<const std::string> args, synth::Options& options,
                                Dated& dated, std::FILE* out, std::FILE* err) {
  std::vector<cli::Option> table = network_options(options);
  table.push_back(cli::flag_option("--folders", options.folders));
  table.push_back(
      cli::number_option("--days", "a number of days from 1 to 10000", dated.days, 1, 10000));
  bool dated_option = false;
  table.push_back({"--start", "a date such as 2024-01-05", [&](const std::string& v) {
                     dated_option = true;
                     return parse_date(v, dated.start);
                   }});
  table.push_back({"--dvv", "DAY:VALUE,... with days from 1 rising, values within +-0.5",
                   [&](const std::string& v) {
                     dated_option = true;
                     return parse_changes(v, dated.dvv);
                   }});
  const cli::Program program{"xcn_synth", kSynthUsage};
  if (const auto status = program.read(args, table, nullptr, out, err)) return status;
  if (dated_option && dated.days == 0) return program.refuse(err, "--start and --dvv need --days");
  if (dated.days > 0 && options.folders)
    return program.refuse(err, "--folders and --days together");
  return std::nullopt;
}

// Scatterers of a dated network: enough for a busy coda, within a disc reaching 150 km past the
// farthest station, the same on every day.
constexpr int kScatterers = 24;
constexpr double kScatterReachKm = 150;
// Mixes the day into its stations' noise seeds (the golden ratio's bits; day 0 changes none).
constexpr std::uint64_t kDaySalt = 0x9E3779B97F4A7C15ULL;

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

namespace {

// Writes one network (day `day` from 1 of a dated one, 0 otherwise) into `folder`, its wave
// field's times at `scale` times their own. False, said on `err`, on failure.
bool write_network(const synth::Options& options, const std::filesystem::path& folder,
                   const synth::NoiseModel& model, double scale, int day,
                   std::span<const synth::Scatterer> scatterers, std::optional<std::int64_t> time,
                   std::FILE* err) {
  if (!start_network(folder, err)) return false;
  const auto layout = synth::station_layout(options.stations);
  synth::Random rng(options.seed);
  const double duration = options.samples * options.delta_s;
  auto waves = synth::draw_waves(rng, model, duration, network_radius_km(layout));
  // Every time of the wave field, from its crossings of the centre to the travel times, at
  // `scale` times its own: each correlation's lags, its coda's included, at `scale` times
  // theirs on a day of no change.
  for (auto& w : waves) w.centre_time_s *= scale;
  synth::NoiseModel scaled = model;
  scaled.speed_km_s = model.speed_km_s / scale;

  // Each station's own noise comes from the main stream, after the waves, in station order.
  const auto count = static_cast<std::size_t>(options.stations);
  std::vector<std::uint64_t> noise_seeds(count);
  // A day of a dated network has the waves of every day (so that its correlations are the
  // others' stretched) and noise of its own.
  for (auto& seed : noise_seeds) seed = rng.next() ^ (static_cast<std::uint64_t>(day) * kDaySalt);
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
    header.time = time;
    std::vector<float> record;
    if (!failed) {
      record = synth::station_record(waves, scaled, where, options.samples, options.delta_s,
                                     synth::Random(noise_seeds[k]), scatterers);
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
    return false;
  }
  const auto layout_of_names = options.folders ? Layout::kFolderPerRecord : Layout::kFlat;
  return write_network_lists(folder, entries, ids, layout_of_names, err);
}

}  // namespace

int run_synth(std::span<const std::string> args, std::FILE* out, std::FILE* err) {
  synth::Options options;
  Dated dated;
  if (const auto status = read_options(args, options, dated, out, err)) return *status;
  const std::filesystem::path folder(options.folder);
  const synth::NoiseModel model;
  if (dated.days == 0) {
    if (!write_network(options, folder, model, 1.0, 0, {}, std::nullopt, err)) return 1;
  } else {
    // One medium and one wave field for all days, each day's noise its own.
    synth::Random medium(options.seed ^ 0x5ca77e7ULL);
    const auto scatterers = synth::draw_scatterers(
        medium, kScatterers,
        network_radius_km(synth::station_layout(options.stations)) + kScatterReachKm);
    for (int d = 1; d <= dated.days; ++d) {
      char name[16];
      std::snprintf(name, sizeof name, "day%03d", d);
      if (!write_network(options, folder / name, model, 1.0 - change_on(dated.dvv, d), d,
                         scatterers, dated.start + (d - 1) * std::int64_t{86400000}, err)) {
        return 1;
      }
    }
    std::fprintf(out, "xcn_synth: %d days from %s, each in %s/dayNNN\n", dated.days,
                 format_time(dated.start).c_str(), folder.c_str());
  }
  std::fprintf(out, "xcn_synth: %d stations, %d samples at %g s, seed %llu, in %s\n",
               options.stations, options.samples, options.delta_s,
               static_cast<unsigned long long>(options.seed), folder.c_str());
  return 0;
}

}  // namespace xcn::tools
