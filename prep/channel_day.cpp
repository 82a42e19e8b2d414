// One channel's day: its records merged, processed and cut into records on the day's grid.
#include "prep/channel_day.hpp"

#include <algorithm>
#include <cmath>

#include "prep/process.hpp"

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

}  // namespace

DayOutcome process_day(std::vector<Piece> pieces, Micros day, const Options& options) {
  MergeTally tally;
  std::vector<Segment> segments = merge_pieces(std::move(pieces), tally);
  return process_segments(std::move(segments), tally, day, options);
}

DayOutcome process_segments(std::vector<Segment> segments, const MergeTally& tally, Micros day,
                            const Options& options) {
  DayOutcome outcome;
  outcome.tally = tally;
  const double delta = options.delta;
  const auto per_day = static_cast<std::size_t>(std::llround(86400.0 / delta));
  std::vector<double> values(per_day, 0.0);
  std::vector<std::uint8_t> covered(per_day, 0);

  for (Segment& s : segments) {
    clip(s, day - kDayMargin, day + kDay + kDayMargin);
    if (s.samples.size() < 2) continue;
    detrend(s.samples);
    taper_ends(s.samples, static_cast<std::size_t>(std::llround(options.taper * s.rate)));
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
    for (std::size_t k = first; k <= last; ++k) {
      if (covered[k] == 0) {
        ++r.gap_samples;
        if (covered[k - 1] != 0) ++r.gaps;
      }
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
  return outcome;
}

}  // namespace xcn::prep
