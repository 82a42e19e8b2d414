// The xcn_dvv command: options, the inputs matched to the reference by pair, the pair loop over
// workers, the tables and the picture.
#include "dvv/command.hpp"

#include <omp.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <optional>
#include <vector>

#include "cli/options.hpp"
#include "cli/workers.hpp"
#include "dvv/measure.hpp"
#include "dvv/network.hpp"
#include "dvv/picture.hpp"
#include "results/inputs.hpp"
#include "results/output.hpp"
#include "results/progress.hpp"
#include "results/read_result.hpp"
#include "sacio/file.hpp"
#include "sacio/header_model.hpp"
#include "sacio/read.hpp"
#include "sacio/ref_time.hpp"
#include "xcorrnet/switches.h"

namespace xcn::dvv {
namespace {

constexpr const char* kUsage =
    "usage: xcn_dvv --ref REF --band LOW-HIGH --out DIR [--method both|stretching|mwcs]\n"
    "               [--max-dvv X] [--mwcs-window S] [--mwcs-step S] [--lag MIN-MAX]\n"
    "               [--side both|positive|negative|mean] [--min-cc C] [--threads N] INPUT...\n"
    "  measures the relative velocity change dv/v of every pair between its reference REF (a\n"
    "  stack of all days) and each INPUT (a sub-stack or a day's results), by stretching and\n"
    "  by moving-window cross-spectra. REF and each INPUT are a name list of results or a\n"
    "  folder of them; results are matched by pair, each INPUT dated by its results'\n"
    "  reference time. Both are band-passed to LOW-HIGH Hz first. The coda window runs from\n"
    "  MIN to MAX s on each side (default: from the later of 20 s and twice the direct arrival\n"
    "  at 3 km/s, for 100 s or ten periods of LOW, whichever is longer). Writes DIR/dvv.csv\n"
    "  (a row per pair, input and method), DIR/network.csv (the network's mean weighted by\n"
    "  the inverse squared error, of pairs whose cc is at least C, default 0.5) and\n"
    "  DIR/dvv.png. A trace whose arrivals come at (1 - x) times their reference lags has\n"
    "  dv/v = +x. Defaults: --max-dvv 0.01, --mwcs-window the longer of 2/LOW and\n"
    "  7.5/(HIGH - LOW) s, --mwcs-step half the window, --threads as OMP_NUM_THREADS.\n";

constexpr cli::Program kProgram{"xcn_dvv", kUsage};

struct Options {
  std::string ref;
  std::string out;
  Settings settings;
  bool band_given = false;
  bool lag_given = false;
  double mwcs_window = 0;  // 0: from the band
  double mwcs_step = 0;    // 0: half the window
  double min_cc = 0.5;
  int threads = 0;
  std::vector<std::string> inputs;
};

std::optional<int> read_options(std::span<const std::string> args, Options& o, std::FILE* out,
                                std::FILE* err) {
  Settings& s = o.settings;
  const double most = std::numeric_limits<double>::max();
  const double least = std::numeric_limits<double>::min();
  const cli::Option options[] = {
      cli::text_option("--ref", "a name list or a folder of results", o.ref),
      cli::text_option("--out", "a folder", o.out),
      {"--method", "both, stretching or mwcs",
       [&s](const std::string& v) {
         s.stretching = v != "mwcs";
         s.mwcs = v != "stretching";
         return v == "both" || v == "stretching" || v == "mwcs";
       }},
      cli::number_option("--max-dvv", "a fraction over 0 and under 0.5", s.max_dvv, least, 0.4999),
      cli::number_option("--mwcs-window", "a length in seconds over 0", o.mwcs_window, least, most),
      cli::number_option("--mwcs-step", "a length in seconds over 0", o.mwcs_step, least, most),
      {"--band", "LOW-HIGH in Hz, 0 < LOW < HIGH",
       [&o](const std::string& v) {
         o.band_given = true;
         return cli::parse_range(v, o.settings.band.low, o.settings.band.high) &&
                o.settings.band.low > 0 && o.settings.band.high > o.settings.band.low;
       }},
      {"--lag", "MIN-MAX in seconds, 0 <= MIN < MAX",
       [&o](const std::string& v) {
         o.lag_given = true;
         return cli::parse_range(v, o.settings.window.min, o.settings.window.max) &&
                o.settings.window.min >= 0 && o.settings.window.max > o.settings.window.min;
       }},
      {"--side", "both, positive, negative or mean",
       [&s](const std::string& v) {
         if (v == "both")
           s.side = Side::both;
         else if (v == "positive")
           s.side = Side::positive;
         else if (v == "negative")
           s.side = Side::negative;
         else if (v == "mean")
           s.side = Side::mean;
         else
           return false;
         return true;
       }},
      cli::number_option("--min-cc", "a coefficient from 0 to 1", o.min_cc, 0.0, 1.0),
      cli::number_option("--threads", "a number of workers, 1 or more", o.threads, 1,
                         std::numeric_limits<int>::max()),
  };
  if (const auto status = kProgram.read(args, options, &o.inputs, out, err)) return status;
  if (o.ref.empty()) return kProgram.refuse(err, "no reference (--ref REF)");
  if (!o.band_given) return kProgram.refuse(err, "no band (--band LOW-HIGH in Hz)");
  if (o.out.empty()) return kProgram.refuse(err, "no output folder (--out DIR)");
  if (o.inputs.empty()) {
    return kProgram.refuse(err, "no input (a name list or a folder of results per time)");
  }
  s.mwcs_length = o.mwcs_window > 0 ? o.mwcs_window : default_mwcs_length(s.band);
  s.mwcs_step = o.mwcs_step > 0 ? o.mwcs_step : s.mwcs_length / 2;
  return std::nullopt;
}

using results::Result;
using results::Run;

// Text from files and folders as a message line shows it: a control character (a line break in
// a header's pair name, say) would forge lines of its own.
std::string shown(std::string_view text) {
  std::string s(text);
  for (char& c : s) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return s;
}

// Intervals written by other programs differ in their last digits: the same interval while
// the difference adds up to less than half a sample over the result.
bool same_shape(const Result& a, const Result& b) {
  const double drift = std::fabs(static_cast<double>(a.delta) - static_cast<double>(b.delta)) *
                       static_cast<double>(b.npts);
  return a.npts == b.npts && drift < static_cast<double>(b.delta) / 2.0;
}

std::string pair_key(const Result& r) {
  return r.id.named ? results::identity_key(r.id) : "name\n" + r.name;
}

// The pair's name in the tables: its reference's file name without ".sac", which tells both
// records and their components.
std::string pair_name(const Result& r) {
  std::string name = r.name;
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".sac") == 0)
    name.resize(name.size() - 4);
  return name;
}

// A pair: its reference and, per input (in time order), its result there if any.
struct Pair {
  const Result* reference = nullptr;
  std::string name;
  std::vector<const Result*> currents;
};

// One dated input.
struct Input {
  const Run* run = nullptr;
  std::int64_t time = 0;
};

// Matches every input's results to the reference's pairs, saying on `err` what is left out.
// Returns the number of results left out.
long match(const Run& reference, const std::vector<Input>& inputs, std::vector<Pair>& pairs,
           std::FILE* err) {
  long left_out = 0;
  std::map<std::string, std::size_t> by_key;
  std::map<std::string, std::size_t> by_name;
  for (const Result& r : reference.results) {
    const std::string key = pair_key(r);
    if (const auto it = by_key.find(key); it != by_key.end()) {
      std::fprintf(err,
                   "xcn_dvv: \"%s\" holds the same pair as \"%s\" in the reference; left out\n",
                   shown(r.path).c_str(), shown(pairs[it->second].reference->path).c_str());
      ++left_out;
      continue;
    }
    by_key.emplace(key, pairs.size());
    by_name.emplace(r.name, pairs.size());
    pairs.push_back({&r, pair_name(r), std::vector<const Result*>(inputs.size(), nullptr)});
  }
  for (std::size_t k = 0; k < inputs.size(); ++k) {
    for (const Result& r : inputs[k].run->results) {
      std::size_t p = pairs.size();
      if (const auto it = by_key.find(pair_key(r)); it != by_key.end()) {
        p = it->second;
      } else if (const auto named = by_name.find(r.name); named != by_name.end()) {
        // A result of an earlier version, which holds fewer of the pair's fields.
        const Result& ref = *pairs[named->second].reference;
        if (!r.id.named || !ref.id.named || results::same_pair(r.id, ref.id)) p = named->second;
      }
      if (p == pairs.size()) {
        std::fprintf(err, "xcn_dvv: \"%s\": the pair %s is not in the reference; left out\n",
                     shown(r.path).c_str(), shown(results::pair_label(r)).c_str());
        ++left_out;
        continue;
      }
      Pair& pair = pairs[p];
      if (!same_shape(r, *pair.reference)) {
        std::fprintf(err,
                     "xcn_dvv: \"%s\" has %d samples at %g s, not the %d at %g s of the reference "
                     "of %s; left out\n",
                     shown(r.path).c_str(), r.npts, static_cast<double>(r.delta),
                     pair.reference->npts, static_cast<double>(pair.reference->delta),
                     shown(pair.name).c_str());
        ++left_out;
        continue;
      }
      if (pair.currents[k] != nullptr) {
        std::fprintf(err, "xcn_dvv: \"%s\" holds the same pair as \"%s\" (%s); left out\n",
                     r.path.c_str(), pair.currents[k]->path.c_str(), pair.name.c_str());
        ++left_out;
        continue;
      }
      pair.currents[k] = &r;
    }
  }
  return left_out;
}

// One result's samples and its distance, read without the library's process-wide state, so
// that workers read side by side. The reason it cannot serve, or empty.
// A run container's row is read through the container, which serialises its library's calls.
std::string read_result(const Result& r, std::vector<float>& samples, float& dist) {
  if (r.row >= 0) {
    std::string why;
    const auto container = results::open_container(r.path, why);
    if (container == nullptr) return "cannot be read: " + why;
    samples.resize(static_cast<std::size_t>(r.npts));
    if (!results::read_result(r, samples, nullptr, why)) return why;
    dist = container->pairs()[static_cast<std::size_t>(r.row)].dist;
  } else {
    SacReader file(r.path);
    if (file.nerr() == 0) file.read_samples(samples);
    if (file.nerr() != 0) return "cannot be read: " + file.failure();
    const SacHeader& h = file.header();
    if (h.integer(kNpts) != r.npts || h.real(kDelta) != r.delta || h.real(kB) != r.b) {
      return "changed while it was read";
    }
    dist = h.real(kDist);
  }
  std::size_t nan = 0, bad = 0;
  for (const float v : samples) {
    if (!std::isfinite(v)) {
      ++bad;
      if (std::isnan(v)) ++nan;
    }
  }
  if (nan == samples.size()) return "is all not-a-number (no window)";
  if (bad > 0) return "holds samples that are not finite";
  return {};
}

// What the pair loop counts, over all workers.
struct Tally {
  std::atomic<long> read_ns{0};
  std::atomic<long> measure_ns{0};
  std::atomic<long> measured{0};   // pair and input, by any method
  std::atomic<long> left_out{0};   // results that could not serve
  std::atomic<long> pairs_out{0};  // pairs whose reference could not serve
};

using Clock = std::chrono::steady_clock;

long ns_since(Clock::time_point t) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t).count());
}

double seconds(long ns) { return static_cast<double>(ns) / 1e9; }

// Reads the pair's reference and currents and measures them into `out` (one per input).
void measure_pair(const Pair& pair, const Options& o, Workspace& work,
                  std::vector<Measurements>& out, Tally& tally, std::FILE* err) {
  std::vector<float> reference;
  float dist = kUndefFloat;
  Clock::time_point t = Clock::now();
  const std::string unreadable = read_result(*pair.reference, reference, dist);
  tally.read_ns += ns_since(t);
  if (const std::string& why = unreadable; !why.empty()) {
    std::fprintf(err, "xcn_dvv: reference \"%s\" %s; the pair %s is left out\n",
                 shown(pair.reference->path).c_str(), why.c_str(), shown(pair.name).c_str());
    ++tally.pairs_out;
    return;
  }
  Settings settings = o.settings;
  const double delta = static_cast<double>(pair.reference->delta);
  if (!o.lag_given) {
    const auto window =
        default_lag_window(dist == kUndefFloat ? -1.0 : static_cast<double>(dist),
                           settings.band.low, pair.reference->npts, delta, settings.max_dvv);
    if (!window) {
      std::fprintf(err, "xcn_dvv: reference \"%s\": %s; the pair %s is left out (give --lag)\n",
                   shown(pair.reference->path).c_str(),
                   dist == kUndefFloat ? "no distance (DIST) for the default lag window"
                                       : "the default lag window does not fit on the trace",
                   shown(pair.name).c_str());
      ++tally.pairs_out;
      return;
    }
    settings.window = *window;
  }
  Reference ref;
  std::string error;
  t = Clock::now();
  const bool prepared = prepare(reference, delta, settings, ref, work, error);
  tally.measure_ns += ns_since(t);
  if (!prepared) {
    std::fprintf(err, "xcn_dvv: reference \"%s\" cannot serve: %s; the pair %s is left out\n",
                 shown(pair.reference->path).c_str(), error.c_str(), shown(pair.name).c_str());
    ++tally.pairs_out;
    return;
  }
  // Every current read, then measured together (two share each transform).
  std::vector<std::vector<float>> samples;
  std::vector<std::size_t> which;
  samples.reserve(pair.currents.size());
  t = Clock::now();
  for (std::size_t k = 0; k < pair.currents.size(); ++k) {
    const Result* r = pair.currents[k];
    if (r == nullptr) continue;
    std::vector<float> y;
    float unused = 0;
    if (const std::string why = read_result(*r, y, unused); !why.empty()) {
      std::fprintf(err, "xcn_dvv: \"%s\" %s; left out\n", shown(r->path).c_str(), why.c_str());
      ++tally.left_out;
      continue;
    }
    samples.push_back(std::move(y));
    which.push_back(k);
  }
  tally.read_ns += ns_since(t);
  t = Clock::now();
  std::vector<std::span<const float>> currents(samples.begin(), samples.end());
  std::vector<Measurements> measured(currents.size());
  measure(ref, currents, measured, work);
  tally.measure_ns += ns_since(t);
  for (std::size_t j = 0; j < which.size(); ++j) out[which[j]] = measured[j];
  tally.measured += static_cast<long>(which.size());
}

// A number for the tables: empty where there is none.
std::string number(double v, const char* format = "%.9g") {
  if (!std::isfinite(v)) return {};
  char text[40];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

// A field of a table: quoted where it holds a comma, a quote or a line end.
std::string field(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

// "2026-06-01T00:00:00.000Z": the tables' times are UTC.
std::string iso_time(std::int64_t ms) { return format_time(ms) + "Z"; }

constexpr const char* kMethodName[] = {"stretching", "mwcs"};

const Measurement& of_method(const Measurements& m, int method) {
  return method == 0 ? m.stretching : m.mwcs;
}

bool asked(const Settings& s, int method) { return method == 0 ? s.stretching : s.mwcs; }

const char* status_word(Status s) {
  switch (s) {
    case Status::ok:
      return "ok";
    case Status::at_limit:
      return "at_limit";
    case Status::no_windows:
      return "no_windows";
    case Status::silent:
      return "silent";
    case Status::not_finite:
      return "not_finite";
    case Status::empty:
      return "empty";
    case Status::wrong_length:
      return "wrong_length";
    case Status::not_measured:
      return "not_measured";
  }
  return "";
}

}  // namespace

int run_dvv(std::span<const std::string> args, std::FILE* out, std::FILE* err) {
  Options o;
  if (const auto status = read_options(args, o, out, err)) return *status;
  cli::cap_workers(err, kProgram.name, o.threads);
  // Each file that cannot serve gets one line of ours; the library's would repeat it. The
  // library sets its message routes up on first use, so it is woken before they are changed.
  newhdr();
  sac_error_off();
  sac_warning_off();
  const Clock::time_point start = Clock::now();

  std::string error;
  std::vector<Run> reference_runs;
  std::vector<Run> runs;
  std::vector<results::FileKey> keys;
  if (!results::read_runs(kProgram.name, {o.ref}, reference_runs, keys, error, err) ||
      !results::read_runs(kProgram.name, o.inputs, runs, keys, error, err)) {
    std::fprintf(err, "xcn_dvv: error: %s\n", shown(error).c_str());
    return 2;
  }
  long left_out = 0;
  for (const Run& run : reference_runs) left_out += run.unreadable;
  for (const Run& run : runs) left_out += run.unreadable;

  // The inputs in time order; an input without a time cannot be placed on the curve.
  std::vector<Input> inputs;
  for (const Run& run : runs) {
    if (run.results.empty()) {
      std::fprintf(err, "xcn_dvv: warning: \"%s\" holds no result\n", shown(run.input).c_str());
    } else if (!run.time) {
      std::fprintf(err, "xcn_dvv: \"%s\" carries no reference time; left out\n",
                   shown(run.input).c_str());
      left_out += static_cast<long>(run.results.size());
    } else {
      inputs.push_back({&run, *run.time});
    }
  }
  std::stable_sort(inputs.begin(), inputs.end(),
                   [](const Input& a, const Input& b) { return a.time < b.time; });
  std::vector<Pair> pairs;
  left_out += match(reference_runs.front(), inputs, pairs, err);

  std::fprintf(out, "xcn_dvv: reference %s: %zu pairs; %zu inputs:\n", o.ref.c_str(), pairs.size(),
               inputs.size());
  std::fprintf(out, "  input  reference time             results  input\n");
  for (std::size_t k = 0; k < inputs.size(); ++k) {
    std::fprintf(out, "%7zu  %-25s %8zu  %s\n", k + 1, iso_time(inputs[k].time).c_str(),
                 inputs[k].run->results.size(), inputs[k].run->input.c_str());
  }
  // Pairs no input holds give nothing to measure.
  std::erase_if(pairs, [](const Pair& p) {
    return std::all_of(p.currents.begin(), p.currents.end(),
                       [](const Result* r) { return r == nullptr; });
  });
  if (pairs.empty()) {
    std::fprintf(err, "xcn_dvv: no pair of the reference is in any input; nothing to measure\n");
    return 1;
  }

  const long headers_ns = ns_since(start);
  const Clock::time_point loop_start = Clock::now();
  const long pair_count = static_cast<long>(pairs.size());
  std::vector<std::vector<Measurements>> measured(pairs.size(),
                                                  std::vector<Measurements>(inputs.size()));
  Tally tally;
  results::Progress progress(err, kProgram.name, "measured", pair_count,
                             ::isatty(::fileno(err)) != 0);
#pragma omp parallel
  {
    Workspace work;
#pragma omp for schedule(dynamic, 1)
    for (long p = 0; p < pair_count; ++p) {
      const auto k = static_cast<std::size_t>(p);
      measure_pair(pairs[k], o, work, measured[k], tally, err);
      progress.step();
    }
  }
  progress.finish();
  const long loop_ns = ns_since(loop_start);
  const Clock::time_point write_start = Clock::now();
  left_out += tally.left_out;
  if (tally.measured == 0) {
    // Tables of nothing would pass for a quiet network.
    std::fprintf(err, "xcn_dvv: no pair could be measured; nothing written\n");
    return 1;
  }
  if (const std::string why = make_folder(o.out); !why.empty()) {
    std::fprintf(err, "xcn_dvv: cannot make the folder \"%s\": %s\n", shown(o.out).c_str(),
                 why.c_str());
    return 3;
  }

  // The tables and the picture, each written aside and renamed into place.
  const results::OutputGuard guard(keys);
  std::vector<std::string> rows{"pair,time,method,dvv,error,cc,windows,status,input"};
  std::vector<std::string> network{"time,method,dvv,error,pairs,input"};
  std::vector<PictureSeries> series;
  std::vector<Measurement> column(pairs.size());
  for (int method = 0; method < 2; ++method) {
    if (!asked(o.settings, method)) continue;
    PictureSeries s;
    s.method = kMethodName[method];
    for (std::size_t k = 0; k < inputs.size(); ++k) {
      const std::string when = iso_time(inputs[k].time);
      const std::string input = field(inputs[k].run->input);
      for (std::size_t p = 0; p < pairs.size(); ++p) {
        const Measurement& m = of_method(measured[p][k], method);
        column[p] = m;
        if (m.status == Status::not_measured) continue;
        rows.push_back(field(pairs[p].name) + "," + when + "," + s.method + "," + number(m.dvv) +
                       "," + number(m.error) + "," + number(m.cc, "%.6f") + "," +
                       std::to_string(m.windows) + "," + status_word(m.status) + "," + input);
        if (m.status == Status::ok && std::isfinite(m.dvv)) {
          s.pair_times.push_back(inputs[k].time);
          s.pair_dvv.push_back(m.dvv);
        }
      }
      const NetworkPoint point = network_mean(column, o.min_cc);
      network.push_back(when + "," + s.method + "," + number(point.dvv) + "," +
                        number(point.error) + "," + std::to_string(point.pairs) + "," + input);
      s.times.push_back(inputs[k].time);
      s.dvv.push_back(point.dvv);
      s.error.push_back(point.error);
    }
    series.push_back(std::move(s));
  }
  long failed = 0;
  const auto written = [&](const std::string& name, const std::string& why) {
    if (why.empty()) return;
    std::fprintf(err, "xcn_dvv: \"%s/%s\" could not be written: %s\n", shown(o.out).c_str(),
                 name.c_str(), why.c_str());
    ++failed;
  };
  written("dvv.csv", results::write_name_list(o.out + "/dvv.csv", rows, guard));
  written("network.csv", results::write_name_list(o.out + "/network.csv", network, guard));
  const std::string picture = o.out + "/dvv.png";
  written("dvv.png",
          guard.refusal(picture).empty() ? draw_dvv(picture, series) : guard.refusal(picture));

  std::fprintf(out,
               "xcn_dvv: %ld pairs over %zu inputs: %ld measured (%ld pairs and %ld results left "
               "out)\n",
               pair_count, inputs.size(), tally.measured.load(), tally.pairs_out.load(), left_out);
  std::fprintf(out, "xcn_dvv: dvv.csv (%zu rows), network.csv (%zu rows) and dvv.png in %s\n",
               rows.size() - 1, network.size() - 1, o.out.c_str());
  if (const char* timing = std::getenv("XCN_TIMING"); timing != nullptr && timing[0] == '1') {
    std::fprintf(err,
                 "xcn_dvv: timing: headers and matching %.3f s; pair loop %.3f s on %d workers: "
                 "reading %.3f s, preparing and measuring %.3f s of worker time; tables and "
                 "picture %.3f s\n",
                 seconds(headers_ns), seconds(loop_ns), omp_get_max_threads(),
                 seconds(tally.read_ns), seconds(tally.measure_ns), seconds(ns_since(write_start)));
  }
  if (failed > 0) {
    std::fprintf(err, "xcn_dvv: %ld of 3 outputs could not be written\n", failed);
    return 3;
  }
  return 0;
}

}  // namespace xcn::dvv
