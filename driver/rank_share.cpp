// Dealing the group pairs of a network to the ranks of a run.
#include "driver/rank_share.hpp"

#include <algorithm>

namespace xcn {

RankShare::RankShare(int stations, int ranks, int rank)
    : stations_(stations), ranks_(std::max(1, ranks)), rank_(rank) {
  // Two groups per rank leave about 2 ranks + 1 group pairs for each: enough to even out the
  // halved pair count of a group with itself.
  groups_ = std::max(1, std::min(stations_, 2 * ranks_));
  const auto g = static_cast<std::size_t>(groups_);
  owner_.assign(g * g, 0);
  holds_.assign(g, ranks_ == 1);
  load_.assign(static_cast<std::size_t>(ranks_), 0);
  if (ranks_ == 1 || stations_ == 0) {
    load_[0] = static_cast<std::int64_t>(stations_) * (stations_ + 1) / 2;
    return;
  }
  auto group_size = [&](int a) {
    return static_cast<std::int64_t>(stations_ / groups_ + (a < stations_ % groups_ ? 1 : 0));
  };
  struct GroupPair {
    int a, b;
    std::int64_t pairs;
  };
  std::vector<GroupPair> order;
  for (int a = 0; a < groups_; ++a) {
    for (int b = a; b < groups_; ++b) {
      const std::int64_t sa = group_size(a);
      order.push_back({a, b, a == b ? sa * (sa + 1) / 2 : sa * group_size(b)});
    }
  }
  std::stable_sort(order.begin(), order.end(),
                   [](const GroupPair& x, const GroupPair& y) { return x.pairs > y.pairs; });
  for (const GroupPair& p : order) {
    const auto least = std::min_element(load_.begin(), load_.end()) - load_.begin();
    *(load_.begin() + least) += p.pairs;
    owner_[static_cast<std::size_t>(p.a) * g + static_cast<std::size_t>(p.b)] =
        static_cast<int>(least);
    if (least == rank_) {
      holds_[static_cast<std::size_t>(p.a)] = true;
      holds_[static_cast<std::size_t>(p.b)] = true;
    }
  }
}

int RankShare::group(int i) const {
  const int base = stations_ / groups_;
  const int rem = stations_ % groups_;
  const int k = i - 1;
  return k < rem * (base + 1) ? k / (base + 1) : rem + (k - rem * (base + 1)) / base;
}

int RankShare::owner(int i, int j) const {
  if (ranks_ == 1) return 0;
  return owner_[static_cast<std::size_t>(group(i)) * static_cast<std::size_t>(groups_) +
                static_cast<std::size_t>(group(j))];
}

bool RankShare::holds(int i) const {
  return ranks_ == 1 || holds_[static_cast<std::size_t>(group(i))];
}

}  // namespace xcn
