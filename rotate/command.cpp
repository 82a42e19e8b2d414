// The xcn_rotate command: options, each station pair checked, rotated and written, the summary.
#include "rotate/command.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <optional>
#include <set>
#include <vector>

#include "cli/options.hpp"
#include "cli/workers.hpp"
#include "driver/results/result_fields.hpp"
#include "msg/message.hpp"
#include "results/output.hpp"
#include "results/read_result.hpp"
#include "rotate/pairs.hpp"
#include "rotate/rotation.hpp"
#include "sacio/file.hpp"
#include "sacio/header_access.hpp"
#include "sacio/header_model.hpp"
#include "sacio/read.hpp"
#include "xcorrnet/sacio.h"
#include "xcorrnet/switches.h"

namespace xcn::rotate {
namespace {

constexpr const char* kUsage =
    "usage: xcn_rotate --out DIR INPUT...\n"
    "  rotates the correlations of three-component stations: each INPUT is a name list of\n"
    "  results (names relative to its folder) or a folder of results, day results of\n"
    "  xcorrnet_v3 or stacks of xcn_stack. For every pair of stations whose nine component\n"
    "  correlations are there (two horizontals and a vertical at each, E and N or 1 and 2 by\n"
    "  their CMPAZ), writes RR, RT, RZ, TR, TT, TZ, ZR, ZT and ZZ to DIR, named as the pair's\n"
    "  results with each component's last letter R, T or Z, and their name list DIR/names.txt.\n"
    "  R points from the first station to the second, T is R turned 90 degrees clockwise seen\n"
    "  from above, Z is up.\n";

constexpr cli::Program kProgram{"xcn_rotate", kUsage};

struct Options {
  std::string out;
  std::vector<std::string> inputs;
};

std::optional<int> read_options(std::span<const std::string> args, Options& o, std::FILE* out,
                                std::FILE* err) {
  const cli::Option options[] = {cli::text_option("--out", "a folder", o.out)};
  if (const auto status = kProgram.read(args, options, &o.inputs, out, err)) return status;
  if (o.out.empty()) return kProgram.refuse(err, "no output folder (--out DIR)");
  if (o.inputs.empty())
    return kProgram.refuse(err, "no input (a name list or a folder of results)");
  return std::nullopt;
}

constexpr std::array<char, 3> kRotated = {'R', 'T', 'Z'};

// What became of the station pairs and the files.
struct Tally {
  int rotated = 0;
  int refused = 0;
  long written = 0;
  long failed = 0;
};

std::string number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

// A result of the pair as read: its samples in the pair's orientation, and what its header
// says of the pair's geometry.
struct Read {
  std::vector<float> samples;
  float dist = 0;
  float az = 0;
  float baz = 0;
};

// Reads a member whole; the reason it cannot serve, or empty. `header` receives its header.
std::string read_member(const Member& m, Read& r, results::SavedHeader* header) {
  const results::Result& result = *m.result;
  const std::size_t n = static_cast<std::size_t>(result.npts);
  std::vector<float> y(n);
  // Its header is kept whole for the outputs; the geometry is read from it.
  results::SavedHeader saved;
  std::string why;
  if (!results::read_result(result, y, &saved, why)) return why;
  r.dist = saved.words.fhdr[kDist - 1];
  r.az = saved.words.fhdr[kAz - 1];
  r.baz = saved.words.fhdr[kBaz - 1];
  if (header != nullptr) *header = saved;
  const bool none = std::all_of(y.begin(), y.end(), [](float v) { return std::isnan(v); });
  if (!none && !std::all_of(y.begin(), y.end(), [](float v) { return std::isfinite(v); })) {
    return "holds samples that are not finite";
  }
  if (m.mirrored) {
    // Lag t of the pair is lag -t of the result; an even length holds one lag more on the
    // negative side than on the positive, and that lag's mirror is not held.
    std::vector<float> mirrored(n, 0.0f);
    const std::size_t top = 2 * (n / 2);
    for (std::size_t k = 0; k < n; ++k) {
      if (top >= k && top - k < n) mirrored[k] = y[top - k];
    }
    y = std::move(mirrored);
    std::swap(r.az, r.baz);
  }
  r.samples = std::move(y);
  return {};
}

// The difference of two azimuths in degrees, across north.
double angle_between(double a, double b) {
  const double d = azimuth_in_circle(a - b);
  return std::min(d, 360.0 - d);
}

// Azimuths that agree: both results computed them from the same two positions.
constexpr double kSameAzimuth = 0.01;

class PairRotation {
 public:
  PairRotation(const SensorPair& pair, const Pairing& pairing, std::FILE* err)
      : pair_(pair), pairing_(pairing), err_(err) {
    label_ = sensor_label(pair.first) + " and " + sensor_label(pair.second);
  }

  // Checks and reads the pair; false, reported, when it cannot be rotated.
  bool prepare(std::set<Sensor>& reported) {
    for (const Sensor* s : {&pair_.first, &pair_.second}) {
      const std::set<char>& letters = pairing_.components.at(*s);
      if (letters.size() == 3) continue;
      if (reported.insert(*s).second) {
        std::string codes;
        for (const char c : letters) codes += (codes.empty() ? "" : ", ") + component_name(*s, c);
        std::fprintf(err_,
                     "xcn_rotate: %s has %zu component%s (%s), not three; its pairs are not "
                     "rotated\n",
                     sensor_label(*s).c_str(), letters.size(), letters.size() == 1 ? "" : "s",
                     codes.c_str());
      }
      return false;
    }
    letters_[0].assign(pairing_.components.at(pair_.first).begin(),
                       pairing_.components.at(pair_.first).end());
    letters_[1].assign(pairing_.components.at(pair_.second).begin(),
                       pairing_.components.at(pair_.second).end());
    std::vector<std::string> missing;
    for (const char a : letters_[0]) {
      for (const char b : letters_[1]) {
        if (pair_.members.count({a, b}) == 0) {
          missing.push_back(pair_.first.prefix + a + " x " + pair_.second.prefix + b);
        }
      }
    }
    if (!missing.empty()) {
      std::string list;
      for (std::size_t k = 0; k < missing.size(); ++k) {
        list += (k == 0 ? "" : k + 1 == missing.size() ? " and " : ", ") + missing[k];
      }
      return refuse("no result of " + list + " (" + std::to_string(missing.size()) + " of the 9)");
    }
    return check_shapes() && solve_directions() && read_all();
  }

  // Writes the nine rotated correlations; their names, relative to the folder, go to `lines`.
  void write(const std::string& folder, const results::OutputGuard& guard, Tally& tally,
             std::vector<std::string>& lines) {
    const std::size_t n = reads_[0][0].samples.size();
    std::array<std::array<std::span<const float>, 3>, 3> c;
    for (int a = 0; a < 3; ++a) {
      for (int b = 0; b < 3; ++b) c[a][b] = reads_[a][b].samples;
    }
    std::vector<float> y(n);
    for (int p = 0; p < 3; ++p) {
      for (int q = 0; q < 3; ++q) {
        combine(weights_[0][p], weights_[1][q], c, y);
        const std::string name = component_name(pair_.first, kRotated[p]) + "_" +
                                 component_name(pair_.second, kRotated[q]) + ".sac";
        const std::string path = folder + "/" + name;
        const auto tell = [&] {
          set_component(kFirstRecord, pair_.first.prefix + kRotated[p], frames_[0].axes[p]);
          set_component(kSecondRecord, pair_.second.prefix + kRotated[q], frames_[1].axes[q]);
        };
        const std::string why = results::write_sac(path, header_, tell, y, guard);
        if (why.empty()) {
          ++tally.written;
          lines.push_back(name);
        } else {
          ++tally.failed;
          std::fprintf(err_, "xcn_rotate: \"%s\" could not be written: %s\n", path.c_str(),
                       why.c_str());
        }
      }
    }
  }

 private:
  bool refuse(const std::string& why) {
    std::fprintf(err_, "xcn_rotate: %s: %s; not rotated\n", label_.c_str(), why.c_str());
    return false;
  }

  const Member& member(int a, int b) const {
    return pair_.members.at(
        {letters_[0][static_cast<std::size_t>(a)], letters_[1][static_cast<std::size_t>(b)]});
  }
  // The record of sensor s (0 first, 1 second) in a member's header.
  static const results::RecordId& record(const Member& m, int s) {
    return (s == 0) != m.mirrored ? m.result->id.first : m.result->id.second;
  }

  bool check_shapes() {
    const results::Result& base = *pair_.members.at(pair_.base).result;
    for (const auto& [letters, m] : pair_.members) {
      const results::Result& r = *m.result;
      if (r.npts != base.npts || r.delta != base.delta) {
        return refuse("\"" + r.path + "\" has " + std::to_string(r.npts) + " samples at " +
                      number(r.delta) + " s, not the " + std::to_string(base.npts) + " at " +
                      number(base.delta) + " s of \"" + base.path + "\"");
      }
    }
    return true;
  }

  // Each component's direction, from the three results that hold it (they must agree).
  bool solve_directions() {
    for (int s = 0; s < 2; ++s) {
      const Sensor& sensor = s == 0 ? pair_.first : pair_.second;
      std::array<Direction, 3> axes;
      for (int c = 0; c < 3; ++c) {
        const char letter = letters_[s][static_cast<std::size_t>(c)];
        const Member* told = nullptr;
        for (int o = 0; o < 3; ++o) {
          const Member& m = s == 0 ? member(c, o) : member(o, c);
          if (told == nullptr) {
            told = &m;
            continue;
          }
          const results::RecordId& x = record(*told, s);
          const results::RecordId& y = record(m, s);
          if (std::bit_cast<std::uint32_t>(x.cmpaz) != std::bit_cast<std::uint32_t>(y.cmpaz) ||
              std::bit_cast<std::uint32_t>(x.cmpinc) != std::bit_cast<std::uint32_t>(y.cmpinc)) {
            return refuse("\"" + m.result->path + "\" gives " + component_name(sensor, letter) +
                          " another orientation (" + angles(y) + ") than \"" + told->result->path +
                          "\" (" + angles(x) + ")");
          }
        }
        const results::RecordId& r = record(*told, s);
        const std::optional<Orientation> o = orientation(letter, r.cmpaz, r.cmpinc);
        if (!o) {
          return refuse("the orientation of " + component_name(sensor, letter) +
                        " is not known (CMPAZ undefined)");
        }
        axes[static_cast<std::size_t>(c)] = direction(o->azimuth_deg, o->incidence_deg);
      }
      axes_[s] = axes;
    }
    return true;
  }

  static std::string angles(const results::RecordId& r) {
    const auto shown = [](float v) {
      return v == kUndefFloat ? std::string("undefined") : number(v);
    };
    return "CMPAZ " + shown(r.cmpaz) + ", CMPINC " + shown(r.cmpinc);
  }

  bool read_all() {
    Read base;
    const Member& first = pair_.members.at(pair_.base);
    if (const std::string why = read_member(first, base, &header_); !why.empty()) {
      return refuse("\"" + first.result->path + "\" " + why);
    }
    const auto told = [](float v) { return v != kUndefFloat && std::isfinite(v); };
    if (!told(base.dist) || !told(base.az) || !told(base.baz)) {
      return refuse("\"" + first.result->path +
                    "\" gives no azimuths (DIST, AZ or BAZ undefined: a station without a "
                    "position)");
    }
    if (!(base.dist > 0)) return refuse("the two sensors stand at one place (DIST 0)");
    frames_[0] = frame(base.az);
    frames_[1] = frame(static_cast<double>(base.baz) + 180.0);
    for (int s = 0; s < 2; ++s) {
      std::array<Direction, 3> wanted;
      for (int p = 0; p < 3; ++p) {
        wanted[p] = direction(frames_[s].axes[p].azimuth_deg, frames_[s].axes[p].incidence_deg);
      }
      const auto w = solve(axes_[s], wanted);
      if (!w) {
        return refuse("the components of " + sensor_label(s == 0 ? pair_.first : pair_.second) +
                      " lie too near one plane to tell the ground's motion (two of them nearly "
                      "parallel)");
      }
      weights_[s] = *w;
    }
    for (int a = 0; a < 3; ++a) {
      for (int b = 0; b < 3; ++b) {
        const Member& m = member(a, b);
        Read& r = reads_[a][b];
        if (&m == &first) {
          r = base;
          continue;
        }
        if (const std::string why = read_member(m, r, nullptr); !why.empty()) {
          return refuse("\"" + m.result->path + "\" " + why);
        }
        if (angle_between(r.az, base.az) > kSameAzimuth ||
            angle_between(r.baz, base.baz) > kSameAzimuth) {
          return refuse("\"" + m.result->path + "\" gives other azimuths (AZ " + number(r.az) +
                        ", BAZ " + number(r.baz) + ") than \"" + first.result->path + "\" (AZ " +
                        number(base.az) + ", BAZ " + number(base.baz) + ")");
        }
      }
    }
    return true;
  }

  // A rotated component in the fields of its record: its code and its direction.
  static void set_component(const RecordFields& f, const std::string& code, const Orientation& o) {
    int nerr = 0;
    setkhv(f.component.name, code.c_str(), &nerr, -1, -1);
    Fhdr(f.cmpaz.index) = static_cast<float>(o.azimuth_deg);
    Fhdr(f.cmpinc.index) = static_cast<float>(o.incidence_deg);
  }

  const SensorPair& pair_;
  const Pairing& pairing_;
  std::FILE* err_;
  std::string label_;
  std::array<std::vector<char>, 2> letters_;  // each sensor's component letters, in order
  std::array<std::array<Direction, 3>, 2> axes_{};
  std::array<Frame, 2> frames_{};
  std::array<std::array<Weights, 3>, 2> weights_{};
  std::array<std::array<Read, 3>, 3> reads_;
  results::SavedHeader header_{};
};

}  // namespace

int run_rotate(std::span<const std::string> args, std::FILE* out, std::FILE* err) {
  Options o;
  if (const auto status = read_options(args, o, out, err)) return *status;
  // The results' headers are read by a team of workers.
  cli::cap_workers(err, kProgram.name);
  // Each file that cannot serve gets one line of ours; the library's would repeat it. The
  // library sets its message routes up on first use, so it is woken before they are changed.
  newhdr();
  sac_error_off();
  sac_warning_off();

  std::vector<results::Run> runs;
  std::vector<results::FileKey> inputs;
  std::string error;
  if (!results::read_runs(kProgram.name, o.inputs, runs, inputs, error, err)) {
    std::fprintf(err, "xcn_rotate: error: %s\n", error.c_str());
    return 2;
  }
  const Pairing pairing = pair_results(runs, err);
  const results::OutputGuard guard(inputs);
  Tally tally;
  std::vector<std::string> lines;
  std::set<Sensor> reported;
  bool folder_made = false;
  for (const SensorPair& pair : pairing.pairs) {
    PairRotation rotation(pair, pairing, err);
    if (!rotation.prepare(reported)) {
      ++tally.refused;
      continue;
    }
    if (!folder_made) {
      if (const std::string why = make_folder(o.out); !why.empty()) {
        std::fprintf(err, "xcn_rotate: cannot make the folder \"%s\": %s; nothing written\n",
                     o.out.c_str(), why.c_str());
        return 3;
      }
      folder_made = true;
    }
    ++tally.rotated;
    rotation.write(o.out, guard, tally, lines);
  }
  if (tally.rotated == 0) {
    std::fprintf(err,
                 "xcn_rotate: no station pair holds the nine correlations of its components; "
                 "nothing written\n");
    return 1;
  }
  const std::string list = o.out + "/names.txt";
  long list_failures = 0;
  if (const std::string why = results::write_name_list(list, lines, guard); !why.empty()) {
    std::fprintf(err, "xcn_rotate: name list \"%s\" could not be written: %s\n", list.c_str(),
                 why.c_str());
    ++list_failures;
  }
  std::fprintf(out,
               "xcn_rotate: %d of %d station pairs rotated: %ld results written in %s, listed in "
               "%s\n",
               tally.rotated, tally.rotated + tally.refused, tally.written, o.out.c_str(),
               list.c_str());
  const long failed = tally.failed + list_failures;
  if (failed > 0) {
    std::fprintf(err, "xcn_rotate: %ld of %ld results and name lists could not be written\n",
                 failed, tally.written + tally.failed + 1);
    return 3;
  }
  return 0;
}

}  // namespace xcn::rotate
