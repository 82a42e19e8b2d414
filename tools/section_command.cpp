// The record-section tool's command line: name list or run container in, picture out.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include "cli/options.hpp"
#include "driver/input/list_file.hpp"
#include "driver/results/result_fields.hpp"
#include "results/container.hpp"
#include "results/inputs.hpp"
#include "sacio/header_model.hpp"
#include "sacio/read.hpp"
#include "tools/commands.hpp"
#include "tools/pair_names.hpp"
#include "tools/section.hpp"
#include "tools/section_layout.hpp"
#include "xcorrnet/sacio.h"

namespace xcn::tools {
namespace {

constexpr const char* kUsage =
    "usage: xcn_section NAME_LIST PICTURE [--velocity V] [--size WxH] [--max-lag S]\n"
    "                   [--comp XY]\n"
    "  draws every cross-correlation named in NAME_LIST (the name list of xcorrnet_v3, or the\n"
    "  run's container FILE.nc) as a trace at its distance (DIST) against lag time, each\n"
    "  normalised, with the lines lag = +/- distance / V (default 3 km/s); PICTURE is a .png,\n"
    "  .svg or .pdf file of W x H pixels (default 1200x800) showing lags within +/- S seconds\n"
    "  (default: half again the longest travel time at V); --comp XY draws only the results\n"
    "  whose first record's component ends in X and second's in Y (ZZ, TT, RZ, EN, ...)\n";

constexpr int kMaxSide = 10000;  // pixels

struct Options {
  std::string name_list;
  std::string picture;
  SectionPicture drawing;
  std::optional<double> max_lag_s;
  std::string comp;  // the last letters of both records' components; empty: every result
};

bool parse_size(const std::string& text, int& width, int& height) {
  const auto x = text.find('x');
  return x != std::string::npos && cli::parse_number(text.substr(0, x), width) &&
         cli::parse_number(text.substr(x + 1), height) && width >= SectionLayout::kMinWidth &&
         height >= SectionLayout::kMinHeight && width <= kMaxSide && height <= kMaxSide;
}

bool positive(double v) { return std::isfinite(v) && v > 0; }

constexpr cli::Program kProgram{"xcn_section", kUsage};

// Fills `options`; a status to end with when the command line says so (help, or a bad one).
std::optional<int> read_options(std::span<const std::string> args, Options& options, std::FILE* out,
                                std::FILE* err) {
  const double most = std::numeric_limits<double>::max();
  const std::string sizes = "a size WxH of " + std::to_string(SectionLayout::kMinWidth) + "x" +
                            std::to_string(SectionLayout::kMinHeight) + " to " +
                            std::to_string(kMaxSide) + "x" + std::to_string(kMaxSide) + " pixels";
  const cli::Option table[] = {
      cli::number_option("--velocity", "a speed in km/s over 0", options.drawing.velocity_km_s,
                         std::numeric_limits<double>::min(), most),
      {"--size", sizes,
       [&](const std::string& v) {
         return parse_size(v, options.drawing.width, options.drawing.height);
       }},
      {"--max-lag", "a lag in seconds over 0",
       [&](const std::string& v) {
         double lag = 0;
         if (!cli::parse_number(v, lag) || !positive(lag)) return false;
         options.max_lag_s = lag;
         return true;
       }},
      {"--comp", "two letters, the last of each record's component (such as ZZ or RT)",
       [&](const std::string& v) {
         options.comp = v;
         return v.size() == 2 && std::isalnum(static_cast<unsigned char>(v[0])) &&
                std::isalnum(static_cast<unsigned char>(v[1]));
       }},
  };
  std::vector<std::string> positional;
  if (const auto status = kProgram.read(args, table, &positional, out, err)) return status;
  if (positional.size() != 2) {
    return kProgram.refuse(err, "expected a name list and a picture file");
  }
  options.name_list = positional[0];
  options.picture = positional[1];
  return std::nullopt;
}

// The positions of auto-correlations when the list holds the n(n+1)/2 names of n stations in
// the tool's pair order; none otherwise, and then DIST alone decides.
std::vector<bool> auto_positions(std::size_t names) {
  const auto n = static_cast<int>(std::lround((std::sqrt(8.0 * names + 1) - 1) / 2));
  std::vector<bool> is_auto;
  if (static_cast<std::size_t>(n) * (n + 1) / 2 != names) return is_auto;
  for (const Pair p : pair_order(n)) is_auto.push_back(p.first == p.second);
  return is_auto;
}

// Whether the result's header names a pair of two stations (KEVNM "STA1-STA2" with different
// halves): a list of cross-correlations alone (a run in mode C, a stack of one) can have a
// count that looks like a full list, and its results must not be taken for auto-correlations by
// their place. A file that cannot be read says nothing.
bool names_two_stations(const std::string& name) {
  const SacReader file(name);
  if (file.nerr() != 0) return false;
  std::string kevnm = file.header().text(kKevnm);
  kevnm.erase(kevnm.find_last_not_of(' ') + 1);
  const auto hyphen = kevnm.find('-');
  if (hyphen == std::string::npos || hyphen == 0 || hyphen + 1 == kevnm.size()) return false;
  return kevnm.substr(0, hyphen) != kevnm.substr(hyphen + 1);
}

// The last letter of a record's component in a result's header; 0 when it is undefined.
char component_letter(const SacHeader& h, int slot) {
  std::string code = h.text(slot);
  code.erase(code.find_last_not_of(' ') + 1);
  return code.empty() || code == "-12345" ? '\0' : code.back();
}

// What a result gives the picture, from its SAC file or its row of a run container.
struct TraceSource {
  std::string name;   // as messages name it
  char first = '\0';  // last letter of each record's component; 0: undefined
  char second = '\0';
  float dist = 0;
  float begin = 0;
  float delta = 0;
  std::vector<float> samples;
};

// The result as a trace to draw, or the reason it cannot be drawn; no reason for one of other
// components than `comp` asks for.
std::optional<SectionTrace> usable_trace(TraceSource s, const std::string& comp,
                                         std::string& reason) {
  if (!comp.empty()) {
    if (s.first == '\0' || s.second == '\0') {
      reason =
          "does not tell both records' components (a result of an earlier version: run "
          "xcorrnet_v3 again with N to complete it)";
      return std::nullopt;
    }
    if (s.first != comp[0] || s.second != comp[1]) return std::nullopt;
  }
  char text[64];
  if (s.dist == kUndefFloat) {
    reason = "has no distance (DIST is undefined)";
    return std::nullopt;
  }
  if (!positive(s.dist)) {
    std::snprintf(text, sizeof text, "has DIST %g km, no distance between two stations", s.dist);
    reason = text;
    return std::nullopt;
  }
  if (!positive(s.delta)) {
    std::snprintf(text, sizeof text, "has the sampling interval DELTA %g s", s.delta);
    reason = text;
    return std::nullopt;
  }
  if (std::none_of(s.samples.begin(), s.samples.end(), [](float v) { return std::isfinite(v); })) {
    reason = "holds no finite sample (no window was stacked)";
    return std::nullopt;
  }
  return SectionTrace{std::move(s.name), s.dist, s.begin, s.delta, std::move(s.samples)};
}

// A cross-correlation result ready to draw, read whole, or the reason it cannot be drawn.
std::optional<SectionTrace> read_trace(const std::string& name, const std::string& comp,
                                       std::string& reason) {
  if (const std::string why = not_a_record(name); !why.empty()) {
    reason = "cannot be read: " + why;
    return std::nullopt;
  }
  SacReader file(name);
  TraceSource s;
  if (file.read_samples(s.samples) != 0) {
    reason = "cannot be read: " + file.failure();
    return std::nullopt;
  }
  s.name = name;
  s.first = component_letter(file.header(), kFirstRecord.component.slot);
  s.second = component_letter(file.header(), kSecondRecord.component.slot);
  s.dist = file.header().real(kDist);
  s.begin = file.header().real(kB);
  s.delta = file.header().real(kDelta);
  return usable_trace(std::move(s), comp, reason);
}

// The last letter of a record's component in a container; 0 when it is undefined.
char code_letter(const std::string& code) {
  const std::string c = results::without_blanks(code);
  return c.empty() ? '\0' : c.back();
}

// The cross-correlations of a run container's rows, in row order, as the SAC results of its
// run give them: rows never written and those of a record with itself are passed over; a row
// that cannot be drawn is reported on `err`.
void container_traces(const results::ContainerReader& c, const std::string& path,
                      const std::string& comp, std::vector<SectionTrace>& traces, std::FILE* err) {
  const results::ContainerRun& run = c.run();
  for (std::size_t row = 0; row < c.pairs().size(); ++row) {
    const results::ContainerPair& p = c.pairs()[row];
    if (p.stacked < 0 || p.first == p.second) continue;
    TraceSource s;
    s.name = path + ": " + results::row_name(p);
    for (char& ch : s.name) {
      if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) ch = '?';
    }
    s.first = code_letter(p.a.component);
    s.second = code_letter(p.b.component);
    s.dist = p.dist;
    s.begin = static_cast<float>(-(run.npts / 2)) * run.interval;
    s.delta = run.interval;
    s.samples.resize(static_cast<std::size_t>(run.npts));
    const std::string name = s.name;
    std::string reason;
    if (!c.read(row, s.samples, reason)) {
      reason = "cannot be read: " + reason;
    } else if (auto trace = usable_trace(std::move(s), comp, reason)) {
      traces.push_back(std::move(*trace));
      continue;
    }
    if (!reason.empty()) {
      std::fprintf(err, "xcn_section: \"%s\" %s; skipped\n", name.c_str(), reason.c_str());
    }
  }
}

// Whether `path` is a file to read as a run container rather than as a name list.
bool is_container(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
         results::looks_like_netcdf(path);
}

}  // namespace

int run_section(std::span<const std::string> args, std::FILE* out, std::FILE* err) {
  Options options;
  if (const auto status = read_options(args, options, out, err)) return *status;
  std::string error;
  const auto type = picture_type(options.picture);
  if (!type) {
    std::fprintf(err,
                 "xcn_section: %s: the picture's type comes from its extension: .png, "
                 ".svg or .pdf\n",
                 options.picture.c_str());
    return 2;
  }
  // Before anything is read or written: the picture must be none of the files read.
  InputFiles inputs;
  std::unique_ptr<results::ContainerReader> container;
  std::vector<ListLine> lines;
  std::vector<std::string> names;
  if (is_container(options.name_list)) {
    if (!results::netcdf_built()) {
      std::fprintf(err, "xcn_section: error: \"%s\" names a run container, and %s\n",
                   options.name_list.c_str(), results::kNoNetcdf);
      return 2;
    }
    container = results::ContainerReader::open(options.name_list, error);
    if (!container) {
      std::fprintf(err,
                   "xcn_section: cannot read \"%s\": it is no run container of xcorrnet_v3 (%s)\n",
                   options.name_list.c_str(), error.c_str());
      return 1;
    }
    inputs.add(options.name_list, "the run container \"" + options.name_list + "\"");
  } else {
    if (!read_list(options.name_list, "name list", lines, error)) {
      std::fprintf(err, "xcn_section: %s\n", error.c_str());
      return 1;
    }
    inputs.add(options.name_list, "the name list \"" + options.name_list + "\"");
    // Names are taken from the list's folder, as xcn_stack takes them.
    const std::string folder = names_folder(options.name_list);
    for (std::size_t k = 0; k < lines.size(); ++k) {
      names.push_back(result_name(lines[k]));
      if (names.back().empty()) continue;
      names.back() = path_in_folder(folder, names.back());
      inputs.add(names.back(), "the result \"" + names.back() + "\" of " + options.name_list +
                                   " line " + std::to_string(k + 1));
    }
  }
  if (const std::string input = inputs.which(options.picture); !input.empty()) {
    std::fprintf(err, "xcn_section: the picture \"%s\" is %s; nothing written\n",
                 options.picture.c_str(), input.c_str());
    return 2;
  }
  std::string target;
  mode_t mode = 0;
  if (!output_target(options.picture, target, mode, error)) {
    std::fprintf(err, "xcn_section: cannot write %s: %s\n", options.picture.c_str(), error.c_str());
    return 1;
  }

  // Each result that cannot serve gets one line of ours; the library's would repeat it.
  sac_error_off();
  sac_warning_off();
  std::vector<SectionTrace> traces;
  if (container) container_traces(*container, options.name_list, options.comp, traces, err);
  const auto is_auto = auto_positions(names.size());
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (!is_auto.empty() && is_auto[k] && !names_two_stations(names[k])) continue;
    if (holds_nul(lines[k].text)) {
      std::fprintf(err, "xcn_section: line %zu of %s holds a NUL byte; skipped\n", k + 1,
                   options.name_list.c_str());
      continue;
    }
    if (names[k].empty()) {
      std::fprintf(err, "xcn_section: line %zu of %s is blank; skipped\n", k + 1,
                   options.name_list.c_str());
      continue;
    }
    std::string reason;
    if (auto trace = read_trace(names[k], options.comp, reason)) {
      traces.push_back(std::move(*trace));
    } else if (!reason.empty()) {
      std::fprintf(err, "xcn_section: \"%s\" %s; skipped\n", names[k].c_str(), reason.c_str());
    }
  }
  // "ZZ " before the words, where one component pair is drawn.
  const std::string which = options.comp.empty() ? std::string() : options.comp + " ";
  if (traces.empty()) {
    std::fprintf(err, "xcn_section: no %scross-correlation of %s can be drawn; %s not written\n",
                 which.c_str(), options.name_list.c_str(), options.picture.c_str());
    return 1;
  }

  double farthest = 0;
  double longest_lag = 0;
  for (const auto& t : traces) {
    farthest = std::max(farthest, t.distance_km);
    const double last = t.begin_s + static_cast<double>(t.samples.size() - 1) * t.delta_s;
    longest_lag = std::max({longest_lag, -t.begin_s, last});
  }
  SectionPicture& drawing = options.drawing;
  drawing.max_lag_s =
      options.max_lag_s.value_or(default_max_lag(farthest, drawing.velocity_km_s, longest_lag));
  drawing.title = "Record section of " + options.name_list + ": " + std::to_string(traces.size()) +
                  " " + which + "cross-correlations";
  if (!draw_section(options.picture, *type, drawing, traces, error)) {
    std::fprintf(err, "xcn_section: cannot write %s: %s\n", options.picture.c_str(), error.c_str());
    return 1;
  }
  std::fprintf(out, "xcn_section: %zu %scross-correlations drawn in %s\n", traces.size(),
               which.c_str(), options.picture.c_str());
  return 0;
}

}  // namespace xcn::tools
