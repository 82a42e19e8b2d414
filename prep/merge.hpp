// Joining a channel's decoded records into continuous segments: order, duplicates, overlaps, gaps.
#pragma once

#include <cstddef>
#include <vector>

#include "prep/time.hpp"

namespace xcn::prep {

// The samples of one record (or of a run of records already joined).
struct Piece {
  Micros start = 0;  // time of the first sample
  double rate = 0;   // samples per second
  std::vector<double> samples;
};

// Samples at one rate without a gap; sample i lies at start + i / rate.
struct Segment {
  Micros start = 0;
  double rate = 0;
  std::vector<double> samples;
  // Time of the sample after the last, in microseconds (not rounded).
  double end_micros() const {
    return static_cast<double>(start) + static_cast<double>(samples.size()) * 1e6 / rate;
  }
};

struct MergeTally {
  int duplicates = 0;  // records whose every sample was there already, with the same values
  int conflicts = 0;   // overlaps whose samples differ from those kept (the earlier are kept)
};

// Joins pieces given in time order (pieces that start together in the order they were read),
// as merge_pieces does, without holding them all at once.
class Merger {
 public:
  // `expected`: the samples that will come, so that each is copied once. It is reserved ahead,
  // so it must be bounded by what the records can hold, never taken from their headers alone.
  explicit Merger(std::size_t expected = 0) : remaining_(expected) {}
  void add(Piece&& p);
  std::vector<Segment> finish() { return std::move(segments_); }
  const MergeTally& tally() const { return tally_; }

 private:
  std::vector<Segment> segments_;
  MergeTally tally_;
  std::size_t remaining_;
};

// Sorts the pieces by time and joins them: a piece that starts within half a sample of where
// the segment ends continues it; one that starts earlier overlaps it, and only its samples past
// the segment's end are added (the overlapping ones, the same or not, are counted); one that
// starts later, or at another rate, begins a new segment. Consumes the pieces.
std::vector<Segment> merge_pieces(std::vector<Piece> pieces, MergeTally& tally);

// Two rates that miniSEED would call the same (relative difference under 1e-4).
bool same_rate(double a, double b);

}  // namespace xcn::prep
