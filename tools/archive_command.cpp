// xcn_synth --sds: the synthetic network as a miniSEED SDS archive with its StationXML.
//
// Each station records at its own sub-sample offset from the second (a few milliseconds, as
// digitisers do) and loses a few random stretches, as real stations do, so that xcn_prep has
// offsets to take out and gaps to fill.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

#include "cli/options.hpp"
#include "prep/archive_writer.hpp"
#include "tools/commands.hpp"
#include "tools/synth.hpp"

namespace xcn::tools {
namespace {

struct ArchiveOptions {
  int stations = 6;
  double rate = 20;
  prep::Micros day = 0;
  std::uint64_t seed = 20240611;
  std::string folder = ".";
};

// Fills `o`; a status to end with when the command line says so (help, or a bad one).
std::optional<int> read_options(std::span<const std::string> args, ArchiveOptions& o,
                                std::FILE* out, std::FILE* err) {
  o.day = *prep::parse_time("2024-01-05");
  bool archive = false;
  const cli::Option table[] = {
      cli::flag_option("--sds", archive),
      cli::number_option("--stations", "a number of stations from 1 to 2000", o.stations, 1,
                         synth::kMaxStations),
      cli::number_option("--rate", "a number of samples per second from 1 to 1000", o.rate, 1.0,
                         1000.0),
      {"--day", "a day such as 2024-01-05 or 2024,005",
       [&o](const std::string& v) {
         const auto t = prep::parse_time(v);
         if (!t || *t % prep::kDay != 0) return false;
         o.day = *t;
         return true;
       }},
      cli::number_option("--seed", "a whole number from 0 to 2^64 - 1", o.seed, std::uint64_t{0},
                         std::numeric_limits<std::uint64_t>::max()),
      cli::text_option("--out", "a folder", o.folder),
  };
  return cli::Program{"xcn_synth", kSynthUsage}.read(args, table, nullptr, out, err);
}

}  // namespace

int run_synth_archive(std::span<const std::string> args, std::FILE* out, std::FILE* err) {
  ArchiveOptions o;
  if (const auto status = read_options(args, o, out, err)) return *status;
  std::string error;
  const auto layout = synth::station_layout(o.stations);
  double radius = 0;
  for (const auto& p : layout) radius = std::max(radius, std::hypot(p.east_km, p.north_km));
  const synth::NoiseModel model;
  synth::Random rng(o.seed);
  const double dt = 1.0 / o.rate;
  const auto samples = static_cast<int>(std::floor(86400.0 * o.rate)) - 1;
  const auto waves = synth::draw_waves(rng, model, 86400.0, radius);

  std::vector<prep::ChannelEpoch> epochs;
  int gaps = 0;
  for (int i = 1; i <= o.stations; ++i) {
    const prep::ChannelId id{"XC", synth::station_name(i), "00", "BHZ"};
    const synth::GeoPoint geo = synth::to_geographic(layout[static_cast<std::size_t>(i - 1)]);
    prep::ChannelEpoch e;
    e.id = id;
    e.start = o.day - 365 * prep::kDay;
    e.latitude = geo.lat_deg;
    e.longitude = geo.lon_deg;
    e.elevation = 100.0 * i;
    e.depth = 0;
    e.azimuth = 0;
    e.dip = -90;
    epochs.push_back(e);

    // A few milliseconds after the second, at no whole multiple of the sample interval.
    const auto offset = static_cast<prep::Micros>(std::floor(rng.uniform(1000.0, 9000.0)));
    std::vector<synth::PlaneWave> shifted = waves;
    for (auto& w : shifted) w.centre_time_s -= static_cast<double>(offset) / 1e6;
    const auto record =
        synth::station_record(shifted, model, layout[static_cast<std::size_t>(i - 1)], samples, dt,
                              synth::Random(rng.next()));
    // Counts of a digitiser: a thousand per unit of the model.
    std::vector<double> counts(record.begin(), record.end());
    for (double& c : counts) c = std::round(c * 1000.0);
    // One or two gaps of 1 to 10 minutes.
    std::vector<std::pair<int, int>> cut;
    const int count = 1 + static_cast<int>(rng.uniform() * 2.0);
    for (int g = 0; g < count; ++g) {
      const int from = static_cast<int>(rng.uniform(0.1, 0.9) * samples);
      cut.push_back({from, from + static_cast<int>(rng.uniform(60.0, 600.0) * o.rate)});
    }
    std::sort(cut.begin(), cut.end());
    std::vector<char> bytes;
    int begin = 0;
    auto pack = [&](int from, int to) {
      if (to <= from) return;
      const std::vector<double> part(counts.begin() + from, counts.begin() + to);
      const auto start =
          o.day + offset + static_cast<prep::Micros>(std::llround(from * 1e6 / o.rate));
      const auto packed =
          prep::pack_records(id, start, o.rate, part, prep::Encoding::kSteim2, 4096);
      bytes.insert(bytes.end(), packed.begin(), packed.end());
    };
    for (const auto& [from, to] : cut) {
      if (from < begin) continue;
      pack(begin, from);
      begin = std::min(to, samples);
      ++gaps;
    }
    pack(begin, samples);
    if (!prep::write_bytes(prep::sds_path(o.folder + "/sds", id, o.day), bytes, error)) {
      std::fprintf(err, "xcn_synth: %s\n", error.c_str());
      return 1;
    }
  }
  const std::string xml = prep::station_xml(epochs);
  if (!prep::write_bytes(o.folder + "/stations.xml", {xml.begin(), xml.end()}, error)) {
    std::fprintf(err, "xcn_synth: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(out,
               "xcn_synth: %d stations, one day (%s) at %g Hz with %d gaps, seed %llu, as an SDS "
               "archive in %s/sds with %s/stations.xml\n",
               o.stations, prep::day_label(o.day).c_str(), o.rate, gaps,
               static_cast<unsigned long long>(o.seed), o.folder.c_str(), o.folder.c_str());
  return 0;
}

}  // namespace xcn::tools
