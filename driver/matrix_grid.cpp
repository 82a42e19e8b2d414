// Planning the matrix engine's tiles and blocks.
#include "driver/matrix_grid.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

#include "driver/pairs.hpp"
#include "driver/windows.hpp"
#include "signal/complex.hpp"
#include "signal/xcorr.hpp"

namespace xcn {

namespace {
// Products of this size run near BLAS's peak; larger ones gain little and hold much more.
constexpr int kMaxBlock = 128;
// Windows of a time chunk at least, where a tile of several stations allows it: products over
// fewer run far below BLAS's peak.
constexpr std::size_t kMinColumns = 64;
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
  if (need(stations, 1) <= limit) return {stations, block_of(stations), need(stations, 1)};
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
  return {lo, block_of(lo), need(lo, 2)};
}

MatrixPlan plan_matrix_chunks(int stations, int windows, std::size_t column_bytes,
                              std::size_t pair_bytes, std::size_t limit) {
  if (stations <= 0 || windows <= 0) return {};
  // Two tiles held, each with one chunk, beside one block's stacked spectra.
  const auto columns_beside = [&](int tile) -> std::size_t {
    const std::size_t t = static_cast<std::size_t>(tile);
    const std::size_t fixed = t * t * pair_bytes;
    return limit > fixed ? (limit - fixed) / (2 * t * column_bytes) : 0;
  };
  const std::size_t least = std::min<std::size_t>(static_cast<std::size_t>(windows), kMinColumns);
  int tile = std::min(stations, kMaxBlock);
  while (tile > 1 && columns_beside(tile) < least) --tile;
  const int columns = static_cast<int>(
      std::clamp<std::size_t>(columns_beside(tile), 1, static_cast<std::size_t>(windows)));
  const std::size_t t = static_cast<std::size_t>(tile);
  return {tile, tile, 2 * t * static_cast<std::size_t>(columns) * column_bytes + t * t * pair_bytes,
          columns};
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
  std::vector<int> first_column;
  const int windows = window_columns(run, members, first_column);
  const WindowSettings& settings = run.time.settings;
  const std::size_t nb = static_cast<std::size_t>(cc_layout(settings.nptlen).npt) / 2 + 1;
  const std::size_t m = members.size();
  // Held besides the tiles, at most: each member's power spectrum and acceptance bits.
  const std::size_t words = (static_cast<std::size_t>(windows) + 63) / 64;
  const std::size_t fixed = m * (nb * sizeof(float) + words * sizeof(std::uint64_t));
  const std::size_t limit = budget > fixed ? budget - fixed : 0;
  MatrixPlan plan =
      plan_matrix(static_cast<int>(m), static_cast<std::size_t>(windows) * nb * sizeof(Complex),
                  nb * sizeof(Complex), limit);
  if (plan.bytes > limit) {
    // Not even one station with all its windows: tiles hold their windows in time chunks.
    plan = plan_matrix_chunks(static_cast<int>(m), windows, nb * sizeof(Complex),
                              nb * sizeof(Complex), limit);
  }
  MatrixGrid g = cut_grid(std::move(members), windows, plan);
  g.first_column = std::move(first_column);
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
