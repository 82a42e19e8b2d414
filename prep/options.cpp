// xcn_prep's command line.
#include "prep/options.hpp"

#include <fnmatch.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "cli/options.hpp"
#include "driver/input/list_file.hpp"

namespace xcn::prep {

constexpr const char* kUsage =
    "usage: xcn_prep --sds ROOT --start DAY [--end DAY] [selection] --meta FILE [options]\n"
    "       xcn_prep --files LIST [FILE ...] [--start DAY --end DAY] --meta FILE [options]\n"
    "  Reads miniSEED day files of an SDS archive (ROOT/YEAR/NET/STA/CHA.D/NET.STA.LOC.CHA.D.\n"
    "  YEAR.DAY) or the files listed in LIST (one per line) and named, and writes one SAC\n"
    "  record per channel and day to DIR/YEAR.DAY/NET.STA.LOC.CHA.sac, on the day's grid of\n"
    "  the interval S, with stations.txt and names.txt for xcorrnet_v3 in each day's folder.\n"
    "  DAY: 2024-01-05 or 2024,005.\n"
    "  selection: --net, --sta, --loc, --cha PATTERNS (comma-separated, wildcards * ? [..];\n"
    "             -- is the empty location; default every one)\n"
    "  --meta FILE   StationXML or FDSN station text (repeatable); a channel without\n"
    "                coordinates is reported and skipped\n"
    "  --out DIR     output folder (default prep)\n"
    "  --delta S     output sampling interval in seconds (default 1)\n"
    "  --span S      seconds per record, dividing a day (default 86400)\n"
    "  --taper S     cosine taper at the ends of the data and of each gap (default 30)\n"
    "  --band LOW-HIGH  zero-phase band-pass in Hz, e.g. 0.01-0.5\n"
    "  --norm onebit | ram:S  one-bit or running-absolute-mean (window S s) normalisation\n"
    "  --resp vel|disp|acc|sens  remove the instrument response (StationXML stages) into\n"
    "                ground velocity, displacement or acceleration in metres, or divide by\n"
    "                the sensitivity only (sens; FDSN station text gives no more)\n"
    "  --prefilt F1,F2,F3,F4  pre-filter corners in Hz for --resp (default from --band,\n"
    "                else from --span and --delta)\n"
    "  --threads N   workers (default: one per processor)\n";

namespace {

std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  while (true) {
    const std::size_t comma = text.find(',', from);
    parts.push_back(text.substr(from, comma == std::string::npos ? comma : comma - from));
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  return parts;
}

// Read as the tool reads its lists: a device or a pipe that never ends cannot hold the run.
bool read_file_list(const std::string& path, std::vector<std::string>& files, std::string& error) {
  std::vector<ListLine> lines;
  if (!read_list_lines(path, "file list", ListFileRules{}, lines, error)) return false;
  for (ListLine& line : lines) {
    std::string& text = line.text;
    text.erase(text.find_last_not_of(" \t\r") + 1);
    if (!text.empty()) files.push_back(text);
  }
  return true;
}

}  // namespace

Prefilter prefilter_of(const Options& o) {
  if (o.prefilt) return *o.prefilt;
  const double nyquist = 0.5 / o.delta;
  if (o.band_low) {
    return {0.5 * *o.band_low, 0.8 * *o.band_low, std::min(1.2 * *o.band_high, 0.8 * nyquist),
            std::min(1.5 * *o.band_high, 0.9 * nyquist)};
  }
  const double span = static_cast<double>(o.span) / 1e6;
  return {std::min(2 / span, 0.2 * nyquist), std::min(4 / span, 0.4 * nyquist), 0.8 * nyquist,
          0.9 * nyquist};
}

bool matches_any(const std::vector<std::string>& patterns, const std::string& code) {
  for (const std::string& p : patterns) {
    if (p == "--" ? code.empty() : fnmatch(p.c_str(), code.c_str(), 0) == 0) return true;
  }
  return false;
}

std::optional<int> read_options(std::span<const std::string> args, Options& o, std::FILE* out,
                                std::FILE* err) {
  const cli::Program program{"xcn_prep", kUsage};
  std::vector<std::string> file_lists;
  auto day = [](std::optional<Micros>& target) {
    return [&target](const std::string& v) {
      target = parse_time(v);
      return target.has_value() && *target % kDay == 0;
    };
  };
  auto patterns = [](std::vector<std::string>& target) {
    return [&target](const std::string& v) {
      target = split(v);
      return true;
    };
  };
  double span = 86400;
  const cli::Option options[] = {
      cli::text_option("--sds", "the folder of an SDS archive", o.sds_root),
      {"--files", "a file listing miniSEED files",
       [&](const std::string& v) {
         file_lists.push_back(v);
         return true;
       }},
      {"--start", "a day such as 2024-01-05 or 2024,005", day(o.first_day)},
      {"--end", "a day such as 2024-01-05 or 2024,005", day(o.last_day)},
      {"--net", "network codes or patterns", patterns(o.networks)},
      {"--sta", "station codes or patterns", patterns(o.stations)},
      {"--loc", "location codes or patterns", patterns(o.locations)},
      {"--cha", "channel codes or patterns", patterns(o.channels)},
      {"--meta", "a StationXML or FDSN station text file",
       [&o](const std::string& v) {
         o.metadata.push_back(v);
         return true;
       }},
      cli::text_option("--out", "a folder", o.out),
      // Whole microseconds, so that grid times are exact in miniSEED's time unit.
      {"--delta", "an interval in seconds over 0 and at most 400, in whole microseconds",
       [&o](const std::string& v) {
         return cli::parse_number(v, o.delta) && o.delta > 0 && o.delta <= 400 &&
                std::fabs(o.delta * 1e6 - std::round(o.delta * 1e6)) < 1e-6;
       }},
      {"--span", "whole seconds that divide the day (86400 s)",
       [&span](const std::string& v) {
         return cli::parse_number(v, span) && span >= 1 && span == std::round(span) &&
                86400 % static_cast<long>(span) == 0;
       }},
      cli::number_option("--taper", "a number of seconds, 0 or more", o.taper, 0.0,
                         std::numeric_limits<double>::max()),
      {"--band", "a band LOW-HIGH in Hz with 0 < LOW < HIGH, such as 0.01-0.5",
       [&o](const std::string& v) {
         double low = 0;
         double high = 0;
         if (!cli::parse_range(v, low, high) || !(low > 0) || !(high > low)) return false;
         o.band_low = low;
         o.band_high = high;
         return true;
       }},
      {"--norm", "onebit or ram:S, with a window of S seconds over 0",
       [&o](const std::string& v) {
         if (v == "onebit") {
           o.norm = Normalisation::kOneBit;
         } else if (v.starts_with("ram:") && cli::parse_number(v.substr(4), o.norm_window) &&
                    o.norm_window > 0) {
           o.norm = Normalisation::kRunningMean;
         } else {
           return false;
         }
         return true;
       }},
      {"--resp", "vel, disp, acc or sens",
       [&o](const std::string& v) {
         constexpr std::pair<const char*, Removal> kModes[] = {{"vel", Removal::kVelocity},
                                                               {"disp", Removal::kDisplacement},
                                                               {"acc", Removal::kAcceleration},
                                                               {"sens", Removal::kSensitivity}};
         for (const auto& [name, mode] : kModes) {
           if (v == name) o.resp = mode;
         }
         return o.resp != Removal::kNone;
       }},
      {"--prefilt", "four frequencies F1,F2,F3,F4 in Hz with 0 < F1 < F2 <= F3 < F4",
       [&o](const std::string& v) {
         const std::vector<std::string> parts = split(v);
         double f[4] = {};
         if (parts.size() != 4) return false;
         for (std::size_t k = 0; k < 4; ++k) {
           if (!cli::parse_number(parts[k], f[k])) return false;
         }
         if (!(f[0] > 0 && f[0] < f[1] && f[1] <= f[2] && f[2] < f[3])) return false;
         o.prefilt = Prefilter{f[0], f[1], f[2], f[3]};
         return true;
       }},
      cli::number_option("--threads", "a number of workers, 1 or more", o.threads, 1,
                         std::numeric_limits<int>::max()),
  };
  if (const auto status = program.read(args, options, &o.files, out, err)) return status;
  o.span = static_cast<Micros>(span) * kSecond;
  for (const std::string& list : file_lists) {
    std::string error;
    if (!read_file_list(list, o.files, error)) {
      std::fprintf(err, "xcn_prep: %s\n", error.c_str());
      return 2;
    }
  }
  if (o.sds_root.empty() == o.files.empty()) {
    return program.refuse(err,
                          "give either --sds ROOT or miniSEED files (--files LIST or their names)");
  }
  if (!o.sds_root.empty() && !o.first_day) return program.refuse(err, "--sds needs --start");
  if (o.first_day && !o.last_day) o.last_day = o.first_day;
  if (o.last_day && !o.first_day) return program.refuse(err, "--end needs --start");
  if (o.first_day && *o.last_day < *o.first_day) {
    return program.refuse(err, "--end is before --start");
  }
  // The interval in whole microseconds, as --delta takes it.
  const auto interval = static_cast<Micros>(std::llround(o.delta * 1e6));
  char text[160];
  if (kDay / interval > kMostDaySamples) {
    std::snprintf(text, sizeof text,
                  "--delta %g s would make a day of %lld samples; a day holds at most %lld "
                  "(1000 Hz)",
                  o.delta, static_cast<long long>(kDay / interval),
                  static_cast<long long>(kMostDaySamples));
    return program.refuse(err, text);
  }
  if (kDay % interval != 0) {
    std::snprintf(text, sizeof text,
                  "the interval --delta must divide the day (86400 s), which %g s does not",
                  o.delta);
    return program.refuse(err, text);
  }
  if (o.span % interval != 0) {
    return program.refuse(err, "--span must be a whole number of intervals --delta");
  }
  if (o.band_high && *o.band_high > 0.5 / o.delta) {
    return program.refuse(err, "--band ends above the Nyquist frequency of --delta (" +
                                   std::to_string(0.5 / o.delta) + " Hz)");
  }
  if (o.prefilt && (o.resp == Removal::kNone || o.resp == Removal::kSensitivity)) {
    return program.refuse(err, "--prefilt needs --resp vel, disp or acc");
  }
  if (o.prefilt && o.prefilt->f2 >= 0.5 / o.delta) {
    return program.refuse(err, "--prefilt passes nothing below the Nyquist frequency of --delta (" +
                                   std::to_string(0.5 / o.delta) + " Hz)");
  }
  if (o.metadata.empty()) {
    return program.refuse(err, "--meta FILE is needed (StationXML or FDSN station text)");
  }
  return std::nullopt;
}

}  // namespace xcn::prep
