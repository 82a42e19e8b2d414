// Which rank of a run divided among processes computes which pairs, and which records it needs.
#pragma once

#include <cstdint>
#include <vector>

namespace xcn {

// The stations split into groups; the pairs of two groups (a group with itself included) go to
// one rank, dealt largest first to the rank with the fewest pairs so far. The same on every
// rank: it depends only on the groups and the rank count.
class RankShare {
 public:
  // One process: every pair and every station is its own.
  RankShare() = default;
  // Contiguous groups, two per rank.
  RankShare(int stations, int ranks, int rank);
  // The groups given: group_of[i - 1] is the 0-based group of station i.
  RankShare(std::vector<int> group_of, int ranks, int rank);

  int ranks() const { return ranks_; }
  int rank() const { return rank_; }
  // The rank that computes pair (i, j), i <= j (1-based stations).
  int owner(int i, int j) const;
  bool mine(int i, int j) const { return ranks_ == 1 || owner(i, j) == rank_; }
  // Whether station i is in a pair of this rank, so that its record must be read here.
  bool holds(int i) const;
  // Pairs dealt to rank r.
  std::int64_t pairs_of(int r) const { return load_[static_cast<std::size_t>(r)]; }

 private:
  int group(int i) const { return group_of_[static_cast<std::size_t>(i - 1)]; }

  int ranks_ = 1;
  int rank_ = 0;
  int groups_ = 1;
  std::vector<int> group_of_;  // per station
  std::vector<int> owner_;     // groups x groups, for a <= b
  std::vector<bool> holds_;    // per group: in one of this rank's group pairs
  std::vector<std::int64_t> load_{0};
};

}  // namespace xcn
