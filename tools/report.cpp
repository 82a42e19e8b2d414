// The demo report: correlation peaks of every station pair against the travel time.
#include "tools/report.hpp"

#include <cmath>
#include <vector>

#include "sacio/header_model.hpp"
#include "sacio/read.hpp"
#include "tools/commands.hpp"
#include "tools/pair_names.hpp"
#include "xcorrnet/sacio.h"

namespace xcn::tools {
namespace {

constexpr double kSpeedKmS = 3.0;  // of the synthetic network's plane waves
constexpr double kToleranceS = 2.0;

struct Largest {
  float value = 0;
  std::optional<double> lag;
  void offer(float v, double at) {
    if (std::isnan(v) || (lag && v <= value)) return;
    value = v;
    lag = at;
  }
};

std::vector<std::string> read_names(const std::string& path, std::string& error) {
  std::vector<ListLine> lines;
  std::vector<std::string> names;
  if (!read_list(path, "name list", lines, error)) return names;
  for (const auto& line : lines) names.push_back(result_name(line));
  return names;
}

std::string field_text(const SacHeader& h, int slot) {
  std::string text = h.text(slot);
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

std::string lag_text(const std::optional<double>& lag) {
  char text[32];
  if (lag) {
    std::snprintf(text, sizeof text, "%12.1f", *lag);
  } else {
    std::snprintf(text, sizeof text, "%12s", "none");
  }
  return text;
}

}  // namespace

SidePeaks side_peaks(std::span<const float> samples, double begin, double delta) {
  Largest negative;
  Largest positive;
  for (std::size_t k = 0; k < samples.size(); ++k) {
    const double lag = begin + static_cast<double>(k) * delta;
    if (lag < 0) negative.offer(samples[k], lag);
    if (lag > 0) positive.offer(samples[k], lag);
  }
  return {negative.lag, positive.lag};
}

int run_report(std::span<const std::string> args, std::FILE* out, std::FILE* err) {
  if (args.size() != 2) {
    std::fputs("usage: xcn_demo_report STATION_LIST NAME_LIST\n", err);
    return 2;
  }
  // Standard output is the table's.
  sac_error_stderr();
  sac_warning_stderr();
  std::string error;
  std::vector<ListLine> stations;
  if (!read_list(args[0], "station list", stations, error)) {
    std::fprintf(err, "xcn_demo_report: %s\n", error.c_str());
    return 1;
  }
  const auto names = read_names(args[1], error);
  const auto pairs = pair_order(static_cast<int>(stations.size()));
  if (!error.empty() || names.size() < pairs.size()) {
    std::fprintf(err, "xcn_demo_report: %s\n",
                 error.empty() ? "the name list is shorter than the pair list" : error.c_str());
    return 1;
  }

  std::fprintf(out, "%-20s %10s %12s %12s %12s\n", "pair", "dist (km)", "travel (s)", "peak <0 (s)",
               "peak >0 (s)");
  int checked = 0;
  int failed = 0;
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    if (pairs[k].first == pairs[k].second) continue;  // auto-correlations peak at 0
    ++checked;
    if (const std::string why = not_a_record(names[k]); !why.empty()) {
      std::fprintf(out, "%-20s cannot be read: %s\n", names[k].c_str(), why.c_str());
      ++failed;
      continue;
    }
    SacReader file(names[k]);
    std::vector<float> samples;
    if (file.read_samples(samples) != 0) {
      file.report(names[k].c_str(), static_cast<int>(names[k].size()));
      std::fprintf(out, "%-20s cannot be read (error %d)\n", names[k].c_str(), file.nerr());
      ++failed;
      continue;
    }
    const SacHeader& h = file.header();
    const float dist = h.real(kDist);
    const double begin = h.real(kB);
    const double delta = h.real(kDelta);
    const double travel = dist / kSpeedKmS;
    const SidePeaks peaks = side_peaks(samples, begin, delta);
    const bool ok = dist != kUndefFloat && peaks.negative_lag && peaks.positive_lag &&
                    std::fabs(*peaks.negative_lag + travel) <= kToleranceS &&
                    std::fabs(*peaks.positive_lag - travel) <= kToleranceS;
    if (!ok) ++failed;
    std::fprintf(out, "%-20s %10.2f %12.2f %s %s%s\n", field_text(h, kKevnm).c_str(), dist, travel,
                 lag_text(peaks.negative_lag).c_str(), lag_text(peaks.positive_lag).c_str(),
                 ok ? "" : "   <- off");
  }
  if (failed == 0 && checked > 0) {
    std::fprintf(out, "All %d station pairs: both peaks within %g s of distance / %g km/s.\n",
                 checked, kToleranceS, kSpeedKmS);
    return 0;
  }
  std::fprintf(
      out, "FAILED: %d of %d station pairs have a peak more than %g s from distance / %g km/s.\n",
      failed, checked, kToleranceS, kSpeedKmS);
  return 1;
}

}  // namespace xcn::tools
