// Planning the matrix engine's tiles and blocks.
#include "driver/engines/matrix_grid.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "driver/pairs.hpp"
#include "driver/input/stations.hpp"
#include "driver/engines/windows.hpp"
#include "signal/complex.hpp"
#include "signal/xcorr.hpp"

namespace xcn {

namespace {
// Windows of a sweep's time chunk at least, where the limit allows: products over fewer run far
// below BLAS's peak.
constexpr std::size_t kSweepColumns = 16;
// Blocks of a sweep plan at most: 2 million block pairs.
constexpr int kMaxBlocks = 2048;
}  // namespace

MatrixPlan plan_matrix(int stations, std::size_t station_bytes, std::size_t pair_bytes,
                       std::size_t limit) {
  if (stations <= 0) return {};
  const auto block_of = [](int tile) { return std::min(kMaxBlock, tile); };
  const auto need = [&](int tile, int tiles_held) {
    const std::size_t b = static_cast<std::size_t>(block_of(tile));
    return static_cast<std::size_t>(tiles_held) * static_cast<std::size_t>(tile) * station_bytes +
           b * b * pair_bytes;
  };
  MatrixPlan plan;
  if (need(stations, 1) <= limit) {
    plan.tile = stations;
    plan.bytes = need(stations, 1);
  } else {
    int lo = 1;
    int hi = stations;
    while (lo < hi) {
      const int mid = lo + (hi - lo + 1) / 2;
      if (need(mid, 2) <= limit) {
        lo = mid;
      } else {
        hi = mid - 1;
      }
    }
    plan.tile = lo;
    plan.bytes = need(lo, 2);
  }
  plan.block = block_of(plan.tile);
  // Row a of tiles builds tile a and every later one: tile b is built b + 1 times.
  for (int first = 0, b = 0; first < stations; first += plan.tile, ++b) {
    plan.builds += static_cast<long long>(std::min(plan.tile, stations - first)) * (b + 1);
  }
  return plan;
}

std::size_t product_elements(int rows, int cols, bool diagonal) {
  const std::size_t r = static_cast<std::size_t>(rows);
  if (!diagonal) return r * static_cast<std::size_t>(cols);
  return r * (r - 1) / 2;
}

std::pair<int, int> block_pair(int blocks, int k) {
  int x = 0;
  while (k >= blocks - x) {
    k -= blocks - x;
    ++x;
  }
  return {x, x + k};
}

MatrixPlan plan_sweeps(int stations, int windows, const SweepBytes& bytes, std::size_t limit) {
  if (stations <= 0 || windows <= 0) return {};
  const std::size_t least = std::min<std::size_t>(static_cast<std::size_t>(windows), kSweepColumns);
  const std::size_t step = bytes.stretch_base > 0 ? bytes.stretch_step : 0;
  // Held per station of a sweep with chunks of `columns` windows.
  const auto per_station = [&](std::size_t columns) {
    return columns * (bytes.column + step) + bytes.station + bytes.stretch_base - step;
  };
  struct Held {
    std::size_t sums;
    std::size_t stations;
  };
  MatrixPlan best;
  std::vector<Held> best_held;
  // The cut depends on the block count alone: each count once, the largest blocks first, and
  // not so many blocks that planning would take longer than running.
  std::vector<int> counts;
  for (int b = std::min(stations, kMaxBlock); b >= 1; --b) {
    const int count = (stations + b - 1) / b;
    if (count > kMaxBlocks) break;
    if (counts.empty() || counts.back() != count) counts.push_back(count);
  }
  for (const int count : counts) {
    const bool last = count == counts.back();
    const auto size = [&](int x) {
      return static_cast<int>(static_cast<long long>(stations) * (x + 1) / count -
                              static_cast<long long>(stations) * x / count);
    };
    MatrixPlan plan;
    plan.tile = stations;
    plan.block = (stations + count - 1) / count;
    std::vector<Held> held;
    std::vector<int> in(static_cast<std::size_t>(count), -1);  // the sweep a block is in
    Held now{0, 0};
    bool fits = true;
    const int pairs = static_cast<int>(static_cast<long long>(count) * (count + 1) / 2);
    for (int k = 0, x = 0, y = 0; k < pairs; ++k) {
      const std::size_t sums = product_elements(size(x), size(y), x == y) * bytes.pair;
      const auto joining = [&] {
        const int sweep = static_cast<int>(plan.sweeps.size());
        std::size_t n = in[static_cast<std::size_t>(x)] == sweep ? 0 : size(x);
        if (y != x && in[static_cast<std::size_t>(y)] != sweep) n += size(y);
        return static_cast<std::size_t>(n);
      };
      if (plan.sweeps.empty() ||
          now.sums + sums + (now.stations + joining()) * per_station(least) > limit) {
        if (!plan.sweeps.empty()) held.push_back(now);
        plan.sweeps.push_back(k);
        now = {0, 0};
        if (sums + joining() * per_station(least) > limit) {
          fits = false;
          // A block pair alone does not fit: smaller blocks, down to the least.
          if (!last) break;
        }
      }
      now.sums += sums;
      now.stations += joining();
      in[static_cast<std::size_t>(x)] = static_cast<int>(plan.sweeps.size());
      in[static_cast<std::size_t>(y)] = static_cast<int>(plan.sweeps.size());
      if (++y == count) y = ++x;
    }
    if (!fits && !last) continue;
    held.push_back(now);
    plan.sweeps.push_back(pairs);
    for (const Held& h : held) plan.builds += static_cast<long long>(h.stations);
    if (best.sweeps.empty() || plan.builds < best.builds) {
      best = std::move(plan);
      best_held = std::move(held);
    }
  }
  // Chunks as wide as every sweep allows.
  std::size_t columns = static_cast<std::size_t>(windows);
  for (const Held& h : best_held) {
    const std::size_t fixed = h.sums + h.stations * per_station(0);
    const std::size_t each = h.stations * (bytes.column + step);
    columns = std::min(columns, limit > fixed && each > 0 ? (limit - fixed) / each : 1);
  }
  best.columns = static_cast<int>(std::max<std::size_t>(columns, 1));
  for (const Held& h : best_held) {
    best.bytes = std::max(
        best.bytes, h.sums + h.stations * per_station(static_cast<std::size_t>(best.columns)));
  }
  return best;
}

MatrixGrid cut_grid(std::vector<int> members, int windows, const MatrixPlan& plan) {
  MatrixGrid g;
  g.members = std::move(members);
  g.windows = windows;
  g.plan = plan;
  const int m = static_cast<int>(g.members.size());
  if (m == 0) return g;
  for (int first = 0; first < m; first += plan.tile) {
    g.tiles.push_back(first);
    const int count = std::min(plan.tile, m - first);
    const int k = (count + plan.block - 1) / plan.block;
    for (int b = 0; b < k; ++b) g.blocks.push_back(first + count * b / k);
  }
  g.tiles.push_back(m);
  g.blocks.push_back(m);
  return g;
}

int window_columns(const Run& run, const std::vector<int>& members,
                   std::vector<int>& first_column) {
  // The spans of grid windows the members hold, merged, each span's columns after the last's.
  std::vector<std::pair<long long, long long>> spans;  // first, end
  for (const int i : members) {
    const GridPlace& p = run.time.place(i);
    if (p.windows > 0) spans.emplace_back(p.first, p.first + p.windows);
  }
  std::sort(spans.begin(), spans.end());
  std::vector<std::pair<long long, long long>> merged;
  for (const auto& sp : spans) {
    if (!merged.empty() && sp.first <= merged.back().second) {
      merged.back().second = std::max(merged.back().second, sp.second);
    } else {
      merged.push_back(sp);
    }
  }
  std::vector<long long> base;  // column of each merged span's first window
  long long columns = 0;
  for (const auto& m : merged) {
    base.push_back(columns);
    columns += m.second - m.first;
  }
  first_column.clear();
  for (const int i : members) {
    const GridPlace& p = run.time.place(i);
    int column = 0;
    if (p.windows > 0) {
      const auto at = std::upper_bound(merged.begin(), merged.end(),
                                       std::pair{p.first, std::numeric_limits<long long>::max()}) -
                      1;
      column = static_cast<int>(base[static_cast<std::size_t>(at - merged.begin())] + p.first -
                                at->first);
    }
    first_column.push_back(column);
  }
  return static_cast<int>(columns);
}

MatrixGrid matrix_grid(const Run& run, std::size_t budget) {
  const StationTable& table = *run.table;
  const int n = table.size();
  std::vector<int> members;
  for (int i = 1; i <= n; ++i) {
    if (table.station(i).usable) members.push_back(i);
  }
  if (members.empty()) return {};
  // In the order of their record names, not of the list: a pair's sums come out of the same
  // products, in the same place of a block, however the list is ordered.
  std::vector<std::string> names(static_cast<std::size_t>(n) + 1);
  for (const int i : members) names[static_cast<std::size_t>(i)] = station_path(table.station(i));
  std::stable_sort(members.begin(), members.end(), [&](int a, int b) {
    return names[static_cast<std::size_t>(a)] < names[static_cast<std::size_t>(b)];
  });
  std::vector<int> first_column;
  const int windows = window_columns(run, members, first_column);
  const WindowSettings& settings = run.time.settings;
  const std::size_t nb = static_cast<std::size_t>(cc_layout(settings.nptlen).npt) / 2 + 1;
  const std::size_t m = members.size();
  const int stations = static_cast<int>(m);
  // Held besides, at most: each member's power spectrum and acceptance bits.
  const std::size_t words = (static_cast<std::size_t>(windows) + 63) / 64;
  const std::size_t fixed = m * (nb * sizeof(float) + words * sizeof(std::uint64_t));
  const auto beside = [&](std::size_t other) {
    return budget > fixed + other ? budget - fixed - other : 0;
  };
  const std::size_t column = nb * sizeof(Complex);
  // A sweep sums each station's power spectrum in double precision while its windows pass.
  const std::size_t run_column = sweep_bins(nb) * sizeof(Complex);
  SweepBytes sweep{run_column, run_column, nb * sizeof(double), 0, 0};
  struct Choice {
    MatrixPlan plan;
    bool stream;
    std::size_t limit;
    long long cost;
  };
  std::vector<Choice> choices;
  const auto consider = [&](MatrixPlan plan, bool stream, std::size_t limit) {
    // Products over every window run faster than over chunks: a tile plan is taken unless the
    // sweeps transform a third fewer windows.
    const long long cost = plan.builds * (plan.columns > 0 ? 3 : 2);
    choices.push_back({std::move(plan), stream, limit, cost});
  };
  if (records_fit(table, budget)) {
    const std::size_t limit = beside(record_bytes(table));
    consider(plan_matrix(stations, static_cast<std::size_t>(windows) * column, column, limit),
             false, limit);
    if (windows > 0) consider(plan_sweeps(stations, windows, sweep, limit), false, limit);
  }
  // Records not held: tiles read each again beside half the budget, sweeps read stretches.
  consider(plan_matrix(stations, static_cast<std::size_t>(windows) * column, column,
                       beside(budget - budget / 2)),
           true, beside(budget - budget / 2));
  sweep.stretch_base = static_cast<std::size_t>(settings.nptlen) * sizeof(float);
  sweep.stretch_step = (static_cast<std::size_t>(std::ceil(settings.overlap)) + 1) * sizeof(float);
  if (windows > 0) consider(plan_sweeps(stations, windows, sweep, beside(0)), true, beside(0));
  // The cheapest that fits (the first of equals), else the last considered: it holds the least.
  const Choice* pick = nullptr;
  for (const Choice& c : choices) {
    if (c.plan.bytes <= c.limit && (pick == nullptr || c.cost < pick->cost)) pick = &c;
  }
  if (pick == nullptr) pick = &choices.back();
  MatrixGrid g = cut_grid(std::move(members), windows, pick->plan);
  g.first_column = std::move(first_column);
  g.stream = pick->stream;
  return g;
}

std::vector<int> grid_groups(const MatrixGrid& grid, int stations) {
  std::vector<int> group(static_cast<std::size_t>(stations), -1);
  const int blocks = grid.block_count();
  for (int b = 0; b < blocks; ++b) {
    for (int k = grid.blocks[static_cast<std::size_t>(b)];
         k < grid.blocks[static_cast<std::size_t>(b) + 1]; ++k) {
      group[static_cast<std::size_t>(grid.members[static_cast<std::size_t>(k)] - 1)] = b;
    }
  }
  const int size = blocks > 0 ? grid.plan.block : std::max(1, stations);
  int next = blocks;
  int filled = 0;
  for (int& g : group) {
    if (g >= 0) continue;
    if (filled == size) {
      ++next;
      filled = 0;
    }
    g = next;
    ++filled;
  }
  return group;
}

}  // namespace xcn
