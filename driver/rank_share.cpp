// Dealing the group pairs of a network to the ranks of a run.
#include "driver/rank_share.hpp"

#include <algorithm>

namespace xcn {

namespace {

// `groups` groups of consecutive stations, the first ones a station larger.
std::vector<int> contiguous_groups(int stations, int groups) {
  std::vector<int> group_of(static_cast<std::size_t>(stations));
  for (int k = 0; k < stations; ++k) {
    group_of[static_cast<std::size_t>(k)] =
        static_cast<int>(static_cast<std::int64_t>(k) * groups / stations);
  }
  return group_of;
}

}  // namespace

// Two groups per rank leave about 2 ranks + 1 group pairs for each: enough to even out the
// halved pair count of a group with itself.
RankShare::RankShare(int stations, int ranks, int rank)
    : RankShare(contiguous_groups(stations, std::max(1, std::min(stations, 2 * ranks))), ranks,
                rank) {}

RankShare::RankShare(std::vector<int> group_of, int ranks, int rank)
    : ranks_(std::max(1, ranks)), rank_(rank), group_of_(std::move(group_of)) {
  const std::int64_t stations = static_cast<std::int64_t>(group_of_.size());
  groups_ = 1;
  for (const int a : group_of_) groups_ = std::max(groups_, a + 1);
  const auto g = static_cast<std::size_t>(groups_);
  std::vector<std::int64_t> size(g, 0);
  for (const int a : group_of_) ++size[static_cast<std::size_t>(a)];
  owner_.assign(g * g, 0);
  holds_.assign(g, ranks_ == 1);
  load_.assign(static_cast<std::size_t>(ranks_), 0);
  const std::int64_t total = stations * (stations + 1) / 2;
  if (ranks_ == 1 || stations == 0) {
    load_[0] = total;
    return;
  }
  struct GroupPair {
    int a, b;
    std::int64_t pairs;
  };
  std::vector<GroupPair> order;
  for (int a = 0; a < groups_; ++a) {
    for (int b = a; b < groups_; ++b) {
      const std::int64_t sa = size[static_cast<std::size_t>(a)];
      const std::int64_t pairs =
          a == b ? sa * (sa + 1) / 2 : sa * size[static_cast<std::size_t>(b)];
      if (pairs > 0) order.push_back({a, b, pairs});
    }
  }
  std::stable_sort(order.begin(), order.end(),
                   [](const GroupPair& x, const GroupPair& y) { return x.pairs > y.pairs; });
  // Among the ranks that stay within a fiftieth above an even share, the one that already reads
  // most of the two groups' records (then the least loaded): fewer records read per rank.
  const std::int64_t cap = total / ranks_ + total / (50 * ranks_) + 1;
  std::vector<std::vector<bool>> reads(static_cast<std::size_t>(ranks_), std::vector<bool>(g));
  for (const GroupPair& p : order) {
    int best = -1;
    int best_new = 3;
    for (int r = 0; r < ranks_; ++r) {
      const auto& held = reads[static_cast<std::size_t>(r)];
      const std::int64_t load = load_[static_cast<std::size_t>(r)];
      if (load + p.pairs > cap) continue;
      const int added = (held[static_cast<std::size_t>(p.a)] ? 0 : 1) +
                        (p.a != p.b && !held[static_cast<std::size_t>(p.b)] ? 1 : 0);
      if (added < best_new || (added == best_new && load < load_[static_cast<std::size_t>(best)])) {
        best = r;
        best_new = added;
      }
    }
    if (best < 0)
      best = static_cast<int>(std::min_element(load_.begin(), load_.end()) - load_.begin());
    load_[static_cast<std::size_t>(best)] += p.pairs;
    owner_[static_cast<std::size_t>(p.a) * g + static_cast<std::size_t>(p.b)] = best;
    reads[static_cast<std::size_t>(best)][static_cast<std::size_t>(p.a)] = true;
    reads[static_cast<std::size_t>(best)][static_cast<std::size_t>(p.b)] = true;
  }
  for (std::size_t a = 0; a < g; ++a) holds_[a] = reads[static_cast<std::size_t>(rank_)][a];
}

int RankShare::owner(int i, int j) const {
  if (ranks_ == 1) return 0;
  const int a = std::min(group(i), group(j));
  const int b = std::max(group(i), group(j));
  return owner_[static_cast<std::size_t>(a) * static_cast<std::size_t>(groups_) +
                static_cast<std::size_t>(b)];
}

bool RankShare::holds(int i) const {
  return ranks_ == 1 || holds_[static_cast<std::size_t>(group(i))];
}

}  // namespace xcn
