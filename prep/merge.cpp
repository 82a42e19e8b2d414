// Joining a channel's decoded records into continuous segments: order, duplicates, overlaps, gaps.
#include "prep/merge.hpp"

#include <algorithm>
#include <cmath>

namespace xcn::prep {

bool same_rate(double a, double b) { return a > 0 && b > 0 && std::fabs(1.0 - a / b) < 1e-4; }

void Merger::add(Piece&& p) {
  remaining_ -= std::min(remaining_, p.samples.size());
  if (p.samples.empty() || !(p.rate > 0)) return;
  if (!segments_.empty()) {
    Segment& s = segments_.back();
    // Where the piece begins, in samples of the segment from its first one.
    const double at = static_cast<double>(p.start - s.start) * s.rate / 1e6;
    const auto held = static_cast<double>(s.samples.size());
    if (same_rate(s.rate, p.rate) && at < held + 0.5) {
      const auto first = static_cast<std::size_t>(std::max(0.0, std::round(at)));
      const std::size_t shared = std::min(p.samples.size(), s.samples.size() - first);
      if (shared > 0) {
        const bool equal =
            std::equal(p.samples.begin(), p.samples.begin() + shared, s.samples.begin() + first);
        if (!equal) {
          ++tally_.conflicts;
        } else if (shared == p.samples.size()) {
          ++tally_.duplicates;
        }
      }
      s.samples.insert(s.samples.end(), p.samples.begin() + shared, p.samples.end());
      return;
    }
  }
  segments_.push_back({p.start, p.rate, std::move(p.samples)});
  // Room for the rest, so that joining a day of records copies each sample once.
  segments_.back().samples.reserve(segments_.back().samples.size() + remaining_);
}

std::vector<Segment> merge_pieces(std::vector<Piece> pieces, MergeTally& tally) {
  // Records out of time order come in order; a stable sort keeps the file order among equals,
  // so the first copy read is the one kept.
  std::stable_sort(pieces.begin(), pieces.end(),
                   [](const Piece& a, const Piece& b) { return a.start < b.start; });
  std::size_t total = 0;
  for (const Piece& p : pieces) total += p.samples.size();
  Merger merger(total);
  for (Piece& p : pieces) merger.add(std::move(p));
  tally = merger.tally();
  return merger.finish();
}

}  // namespace xcn::prep
