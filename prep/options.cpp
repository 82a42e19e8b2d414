// xcn_prep's command line.
#include "prep/options.hpp"

#include <fnmatch.h>

#include <charconv>
#include <cmath>
#include <fstream>

#include "driver/list_file.hpp"

namespace xcn::prep {

const char* const kUsage =
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
    "  --threads N   workers (default: one per processor)\n";

namespace {

bool number(const std::string& text, double& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

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

bool matches_any(const std::vector<std::string>& patterns, const std::string& code) {
  for (const std::string& p : patterns) {
    if (p == "--" ? code.empty() : fnmatch(p.c_str(), code.c_str(), 0) == 0) return true;
  }
  return false;
}

bool parse_options(std::span<const std::string> args, Options& o, std::string& error) {
  for (std::size_t k = 0; k < args.size(); ++k) {
    const std::string& flag = args[k];
    if (flag == "--help" || flag == "-h") {
      o.help = true;
      return true;
    }
    if (!flag.starts_with("--")) {
      o.files.push_back(flag);
      continue;
    }
    if (k + 1 == args.size()) {
      error = "option " + flag + " needs a value";
      return false;
    }
    const std::string& value = args[++k];
    bool ok = true;
    double seconds = 0;
    if (flag == "--sds") {
      o.sds_root = value;
      ok = !value.empty();
    } else if (flag == "--files") {
      if (!read_file_list(value, o.files, error)) return false;
    } else if (flag == "--start" || flag == "--end") {
      const auto t = parse_time(value);
      ok = t.has_value() && *t % kDay == 0;
      (flag == "--start" ? o.first_day : o.last_day) = t;
    } else if (flag == "--net") {
      o.networks = split(value);
    } else if (flag == "--sta") {
      o.stations = split(value);
    } else if (flag == "--loc") {
      o.locations = split(value);
    } else if (flag == "--cha") {
      o.channels = split(value);
    } else if (flag == "--meta") {
      o.metadata.push_back(value);
    } else if (flag == "--out") {
      o.out = value;
      ok = !value.empty();
    } else if (flag == "--delta") {
      // Whole microseconds, so that grid times are exact in miniSEED's time unit.
      ok = number(value, o.delta) && o.delta > 0 && o.delta <= 400 &&
           std::fabs(o.delta * 1e6 - std::round(o.delta * 1e6)) < 1e-6;
    } else if (flag == "--span") {
      ok = number(value, seconds) && seconds >= 1 && seconds == std::round(seconds) &&
           86400 % static_cast<long>(seconds) == 0;
      o.span = static_cast<Micros>(seconds) * kSecond;
    } else if (flag == "--taper") {
      ok = number(value, o.taper) && o.taper >= 0;
    } else if (flag == "--band") {
      const std::size_t dash = value.find('-', 1);
      double low = 0;
      double high = 0;
      ok = dash != std::string::npos && number(value.substr(0, dash), low) &&
           number(value.substr(dash + 1), high) && low > 0 && high > low;
      o.band_low = low;
      o.band_high = high;
    } else if (flag == "--norm") {
      if (value == "onebit") {
        o.norm = Normalisation::kOneBit;
      } else if (value.starts_with("ram:") && number(value.substr(4), o.norm_window) &&
                 o.norm_window > 0) {
        o.norm = Normalisation::kRunningMean;
      } else {
        ok = false;
      }
    } else if (flag == "--threads") {
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), o.threads);
      ok = ec == std::errc() && end == value.data() + value.size() && o.threads >= 1;
    } else {
      error = "unknown option " + flag;
      return false;
    }
    if (!ok) {
      error = "bad value for " + flag + ": \"" + value + "\"";
      return false;
    }
  }
  if (o.sds_root.empty() == o.files.empty()) {
    error = "give either --sds ROOT or miniSEED files (--files LIST or their names)";
    return false;
  }
  if (!o.sds_root.empty() && !o.first_day) {
    error = "--sds needs --start";
    return false;
  }
  if (o.first_day && !o.last_day) o.last_day = o.first_day;
  if (o.last_day && !o.first_day) {
    error = "--end needs --start";
    return false;
  }
  if (o.first_day && *o.last_day < *o.first_day) {
    error = "--end is before --start";
    return false;
  }
  const double per_span = static_cast<double>(o.span) / 1e6 / o.delta;
  if (std::fabs(per_span - std::round(per_span)) > 1e-9) {
    error = "--span must be a whole number of intervals --delta";
    return false;
  }
  if (o.band_high && *o.band_high > 0.5 / o.delta) {
    error = "--band ends above the Nyquist frequency of --delta (" + std::to_string(0.5 / o.delta) +
            " Hz)";
    return false;
  }
  if (o.metadata.empty()) {
    error = "--meta FILE is needed (StationXML or FDSN station text)";
    return false;
  }
  return true;
}

}  // namespace xcn::prep
