// One channel's day: its records merged, processed and cut into records on the day's grid.
#include "prep/channel_day.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

#include "prep/process.hpp"
#include "sacio/ref_time.hpp"

namespace xcn::prep {
namespace {

// Drops the samples of a segment outside [from, to], so that work stays bounded by the window.
void clip(Segment& s, Micros from, Micros to) {
  const double per_micro = s.rate / 1e6;
  const double head = std::ceil(static_cast<double>(from - s.start) * per_micro);
  if (head > 0) {
    const auto n = std::min(static_cast<std::size_t>(head), s.samples.size());
    s.samples.erase(s.samples.begin(), s.samples.begin() + static_cast<std::ptrdiff_t>(n));
    s.start += static_cast<Micros>(std::llround(static_cast<double>(n) / per_micro));
  }
  const double keep = std::floor(static_cast<double>(to - s.start) * per_micro) + 1;
  if (keep < static_cast<double>(s.samples.size())) {
    s.samples.resize(static_cast<std::size_t>(std::max(0.0, keep)));
  }
}

// Joins consecutive segments at one rate whose break lacks at most kBridgedSamples samples,
// the missing ones on the line between the two ends; returns how many breaks in [from, to).
int bridge_short_breaks(std::vector<Segment>& segments, Micros from, Micros to) {
  int bridged = 0;
  std::vector<Segment> kept;
  for (Segment& s : segments) {
    if (s.samples.empty()) continue;
    if (!kept.empty()) {
      Segment& a = kept.back();
      const double missing =
          (static_cast<double>(s.start) - a.end_micros()) * a.rate / 1e6;  // >= 0.5 once merged
      const auto m = std::llround(missing);
      if (same_rate(a.rate, s.rate) && m >= 1 && m <= kBridgedSamples) {
        const double left = a.samples.back();
        const double right = s.samples.front();
        for (long long i = 1; i <= m; ++i) {
          a.samples.push_back(left +
                              (right - left) * static_cast<double>(i) / static_cast<double>(m + 1));
        }
        a.samples.insert(a.samples.end(), s.samples.begin(), s.samples.end());
        if (s.start >= from && s.start < to) ++bridged;
        continue;
      }
    }
    kept.push_back(std::move(s));
  }
  segments = std::move(kept);
  return bridged;
}

// The breaks between the stretches of data, as [end of one, start of the next) in seconds from
// the grid's origin: a stretch at another rate that begins within one ends none.
std::vector<std::pair<double, double>> data_breaks(const std::vector<Segment>& segments,
                                                   Micros origin) {
  std::vector<std::pair<double, double>> stretches;
  for (const Segment& s : segments) {
    const double begin = static_cast<double>(s.start - origin) / 1e6;
    // Up to half a sample past the last: a next stretch closer than that continues it.
    const double end = begin + (static_cast<double>(s.samples.size()) - 0.5) / s.rate;
    stretches.emplace_back(begin, end);
  }
  std::sort(stretches.begin(), stretches.end());
  std::vector<std::pair<double, double>> breaks;
  for (std::size_t i = 1; i < stretches.size(); ++i) {
    const double reach = stretches[i - 1].second;
    if (stretches[i].first > reach) breaks.emplace_back(reach, stretches[i].first);
    stretches[i].second = std::max(stretches[i].second, reach);
  }
  return breaks;
}

std::string seconds_text(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", s);
  return text;
}

}  // namespace

DayOutcome process_day(std::vector<Piece> pieces, Micros day, const Options& options,
                       const Response* response) {
  MergeTally tally;
  std::vector<Segment> segments = merge_pieces(std::move(pieces), tally);
  return process_segments(std::move(segments), tally, day, options, response);
}

DayOutcome process_segments(std::vector<Segment> segments, const MergeTally& tally, Micros day,
                            const Options& options, const Response* response) {
  DayOutcome outcome;
  outcome.tally = tally;
  const double delta = options.delta;
  for (Segment& s : segments) clip(s, day - kDayMargin, day + kDay + kDayMargin);
  outcome.bridged = bridge_short_breaks(segments, day, day + kDay);
  // Resampling up to a finer grid makes no data, only memory: refused before anything is held.
  for (const Segment& s : segments) {
    if (s.rate * delta < 1.0 - 1e-4) {
      outcome.skipped = "its samples come every " + seconds_text(1.0 / s.rate) +
                        ", farther apart than --delta " + seconds_text(delta);
      return outcome;
    }
  }
  // What the day holds, to say so if none of it falls on the grid.
  double held = 0;
  Micros first_held = 0;
  for (const Segment& s : segments) {
    if (held == 0) first_held = s.start;
    held += static_cast<double>(s.samples.size()) / s.rate;
  }
  std::erase_if(segments, [](const Segment& s) { return s.samples.size() < 2; });
  const std::vector<std::pair<double, double>> breaks = data_breaks(segments, day);

  const auto per_day = static_cast<std::size_t>(std::llround(86400.0 / delta));
  std::vector<double> values(per_day, 0.0);
  std::vector<std::uint8_t> covered(per_day, 0);
  for (Segment& s : segments) {
    detrend(s.samples);
    taper_ends(s.samples, static_cast<std::size_t>(std::llround(options.taper * s.rate)));
    if (options.resp != Removal::kNone && response != nullptr) {
      outcome.skipped =
          remove_response(s.samples, s.rate, *response, options.resp, prefilter_of(options));
      if (!outcome.skipped.empty()) return outcome;
    }
    const double start = static_cast<double>(s.start - day) / 1e6;
    GridPiece piece = resample_onto_grid(std::move(s.samples), start, s.rate, delta, outcome.error);
    if (!outcome.error.empty()) return outcome;
    for (std::size_t j = 0; j < piece.values.size(); ++j) {
      const std::int64_t k = piece.first + static_cast<std::int64_t>(j);
      if (k < 0 || k >= static_cast<std::int64_t>(per_day)) continue;
      const auto at = static_cast<std::size_t>(k);
      // Where segments at two rates overlap, the earlier one's samples stay.
      if (covered[at] != 0) continue;
      values[at] = piece.values[j];
      covered[at] = 1;
    }
  }

  const auto per_span =
      static_cast<std::size_t>(std::llround(static_cast<double>(options.span) / 1e6 / delta));
  for (std::size_t from = 0; from < per_day; from += per_span) {
    const std::size_t to = std::min(per_day, from + per_span);
    std::size_t first = from;
    while (first < to && covered[first] == 0) ++first;
    if (first == to) continue;
    std::size_t last = to - 1;
    while (covered[last] == 0) --last;
    SpanRecord r;
    r.span_start = day + static_cast<Micros>(from / per_span) * options.span;
    r.first = static_cast<std::int64_t>(first - from);
    std::vector<double> x(values.begin() + static_cast<std::ptrdiff_t>(first),
                          values.begin() + static_cast<std::ptrdiff_t>(last) + 1);
    for (std::size_t k = first; k <= last; ++k) r.gap_samples += covered[k] == 0 ? 1 : 0;
    const double record_begin = static_cast<double>(first) * delta;
    const double record_end = static_cast<double>(last) * delta;
    for (const auto& [gap_begin, gap_end] : breaks) {
      if (gap_begin >= record_begin && gap_end <= record_end) ++r.gaps;
    }
    auto zero_gaps = [&] {
      for (std::size_t k = first; k <= last; ++k) {
        if (covered[k] == 0) x[k - first] = 0.0;
      }
    };
    if (options.band_low) {
      band_pass(x, delta, *options.band_low, *options.band_high);
      // The filter spreads into the gaps; they must stay exactly zero for the correlator.
      zero_gaps();
    }
    if (options.norm == Normalisation::kOneBit) one_bit(x);
    if (options.norm == Normalisation::kRunningMean) {
      running_absolute_mean(x, delta, options.norm_window);
      zero_gaps();
    }
    r.samples.assign(x.begin(), x.end());
    outcome.records.push_back(std::move(r));
  }
  if (outcome.records.empty() && held > 0) {
    outcome.skipped = "its " + seconds_text(held) + " of data from " +
                      format_time(first_held / 1000) + " hold no time of the grid of --delta " +
                      seconds_text(delta);
  }
  return outcome;
}

}  // namespace xcn::prep
