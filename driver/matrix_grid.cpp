// Planning the matrix engine's tiles and blocks.
#include "driver/matrix_grid.hpp"

#include <algorithm>
#include <cstdint>
#include <map>

#include "driver/pairs.hpp"
#include "driver/windows.hpp"
#include "signal/complex.hpp"
#include "signal/xcorr.hpp"

namespace xcn {

namespace {
// Products of this size run near BLAS's peak; larger ones gain little and hold much more.
constexpr int kMaxBlock = 128;
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

MatrixGrid matrix_grid(const Run& run, std::size_t budget) {
  const StationTable& table = *run.table;
  const int n = table.size();
  std::map<int, int> lengths;
  for (int i = 1; i <= n; ++i) {
    if (table.station(i).usable) ++lengths[pair_nptend(run, i, i)];
  }
  int common = 0;
  int most = 0;
  for (const auto& [length, count] : lengths) {
    if (count >= most) {
      common = length;
      most = count;
    }
  }
  std::vector<int> members;
  for (int i = 1; i <= n; ++i) {
    if (table.station(i).usable && pair_nptend(run, i, i) == common) members.push_back(i);
  }
  if (members.empty()) return {};
  const WindowSettings settings = window_settings(run.last.dt);
  const auto windows = static_cast<int>(window_offsets(settings, common).size());
  const std::size_t nb = static_cast<std::size_t>(cc_layout(settings.nptlen).npt) / 2 + 1;
  const std::size_t m = members.size();
  // Held besides the tiles, at most: each member's power spectrum and acceptance bits.
  const std::size_t words = (static_cast<std::size_t>(windows) + 63) / 64;
  const std::size_t fixed = m * (nb * sizeof(float) + words * sizeof(std::uint64_t));
  const MatrixPlan plan =
      plan_matrix(static_cast<int>(m), static_cast<std::size_t>(windows) * nb * sizeof(Complex),
                  nb * sizeof(Complex), budget > fixed ? budget - fixed : 0);
  return cut_grid(std::move(members), windows, plan);
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
