// xcn_prep's command line.
#pragma once

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "prep/response.hpp"
#include "prep/time.hpp"

namespace xcn::prep {

enum class Normalisation { kNone, kOneBit, kRunningMean };

struct Options {
  std::string sds_root;             // --sds ROOT
  std::vector<std::string> files;   // --files LIST and files named on the command line
  std::optional<Micros> first_day;  // --start, midnight
  std::optional<Micros> last_day;   // --end, midnight (inclusive)
  std::vector<std::string> networks{"*"}, stations{"*"}, locations{"*"}, channels{"*"};
  std::vector<std::string> metadata;          // --meta FILE, repeatable
  std::string out = "prep";                   // --out DIR
  double delta = 1.0;                         // --delta S
  Micros span = kDay;                         // --span S
  double taper = 30.0;                        // --taper S
  std::optional<double> band_low, band_high;  // --band LOW-HIGH
  Normalisation norm = Normalisation::kNone;  // --norm onebit | ram:S
  double norm_window = 0;
  int threads = 0;                   // --threads N (0: OpenMP's default)
  Removal resp = Removal::kNone;     // --resp vel | disp | acc | sens
  std::optional<Prefilter> prefilt;  // --prefilt F1,F2,F3,F4
};

// The pre-filter of a run that removes the response: --prefilt, else from --band LOW-HIGH
// (0.5 LOW, 0.8 LOW, then 1.2 HIGH and 1.5 HIGH, at most 0.8 and 0.9 of the Nyquist frequency
// of --delta), else from the record's length and --delta (2 / span and 4 / span, at most 0.2
// and 0.4 of the Nyquist frequency, then 0.8 and 0.9 of it).
Prefilter prefilter_of(const Options& o);

// The most samples a day may have on the output grid: a day at 1000 Hz. A day is held whole,
// in double precision, while it is made (0.7 GB at this bound; an interval of 0.0001 s would
// take 15 GB).
inline constexpr Micros kMostDaySamples = 86400000;

// Fills `options` from the arguments (without the program name). A status to end with when the
// command line says so: 0 after the usage (--help), 2 after one line on `err` for a bad, unknown
// or missing option or a file list that cannot be read.
std::optional<int> read_options(std::span<const std::string> args, Options& options, std::FILE* out,
                                std::FILE* err);

// Whether a code matches any of the patterns (shell wildcards * ? [...]); "--" stands for
// the empty location code.
bool matches_any(const std::vector<std::string>& patterns, const std::string& code);

}  // namespace xcn::prep
