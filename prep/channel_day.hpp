// One channel's day: its records merged, processed and cut into records on the day's grid.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "prep/merge.hpp"
#include "prep/options.hpp"
#include "prep/response.hpp"
#include "prep/time.hpp"

namespace xcn::prep {

// A record ready to write: samples on the grid of its span from grid index `first` on.
struct SpanRecord {
  Micros span_start = 0;   // start of the span the record belongs to
  std::int64_t first = 0;  // index of its first sample from the span's start
  std::vector<float> samples;
  int gaps = 0;  // breaks in the data inside the record (those over grid times zero-filled)
  std::int64_t gap_samples = 0;
};

struct DayOutcome {
  std::vector<SpanRecord> records;
  MergeTally tally;
  int bridged = 0;      // breaks of a few samples filled in, within the day
  std::string error;    // the resampler's failure, if any
  std::string skipped;  // why the day's data give no record, if they give none
};

// The longest break, in input samples, filled in by interpolation rather than left a gap: a lost
// sample or a clock's hiccup is no reason to taper a minute of data on each side.
inline constexpr int kBridgedSamples = 10;

// Seconds of data read on each side of a day, so that filters near midnight see real samples.
inline constexpr Micros kDayMargin = 600 * kSecond;

// Processes the pieces of a channel that overlap [day - margin, day + 1 day + margin]: merge,
// bridge breaks of up to kBridgedSamples, detrend and taper each segment, resample onto the
// grid, then per span cut to the stretch from the first to the last grid time with data, zero
// the gaps, band-pass and normalise. Data sampled more coarsely than the grid are refused.
// With --resp, the response is removed from each segment after its detrend and taper, at its
// own rate before resampling (so that digital stages are evaluated at the rates they run at);
// a segment it cannot be removed from makes the day skipped.
DayOutcome process_day(std::vector<Piece> pieces, Micros day, const Options& options,
                       const Response* response = nullptr);
// The same from segments already merged, with the merge's tally.
DayOutcome process_segments(std::vector<Segment> segments, const MergeTally& tally, Micros day,
                            const Options& options, const Response* response = nullptr);

}  // namespace xcn::prep
