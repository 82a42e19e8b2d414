// The tally of what became of the results a run set out to write or complete.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace xcn {

// The results a run set out to write or complete (computed by a pair, visited by the header
// pass, or refused before the pair loop), and those of them that it could not. Each result
// counts once. A pair is marked only by the worker that handles it.
class ResultTally {
 public:
  explicit ResultTally(int pairs) : state_(static_cast<std::size_t>(pairs), kUntouched) {}
  void taken(int ij) {
    unsigned char& s = at(ij);
    if (s == kUntouched) s = kTaken;
  }
  void failed(int ij) { at(ij) = kFailed; }
  // Written whole, with its final header, by this run's pair loop.
  void written(int ij) { at(ij) = kWritten; }
  // Written or refused by this run already: the header pass has nothing to add.
  bool settled(int ij) const { return state(ij) == kWritten || state(ij) == kFailed; }
  int taken_count() const {
    return static_cast<int>(std::count_if(state_.begin(), state_.end(),
                                          [](unsigned char s) { return s != kUntouched; }));
  }
  int failed_count() const {
    return static_cast<int>(std::count(state_.begin(), state_.end(), kFailed));
  }

 private:
  enum : unsigned char { kUntouched, kTaken, kFailed, kWritten };
  unsigned char& at(int ij) { return state_[static_cast<std::size_t>(ij - 1)]; }
  unsigned char state(int ij) const { return state_[static_cast<std::size_t>(ij - 1)]; }
  std::vector<unsigned char> state_;
};

// Why computed pairs stacked nothing: their records share no window in time, or share windows
// but accept none of them together. A pair is marked only by the worker that computes it.
class EmptyTally {
 public:
  enum Why : unsigned char { kStacked, kNoSharedWindow, kNoneAccepted };
  explicit EmptyTally(int pairs) : why_(static_cast<std::size_t>(pairs), kStacked) {}
  void mark(int ij, Why why) { why_[static_cast<std::size_t>(ij - 1)] = why; }
  Why why(int ij) const { return static_cast<Why>(why_[static_cast<std::size_t>(ij - 1)]); }
  int count(Why why) const { return static_cast<int>(std::count(why_.begin(), why_.end(), why)); }

 private:
  std::vector<unsigned char> why_;
};

}  // namespace xcn
