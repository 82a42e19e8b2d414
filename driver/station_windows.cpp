// Window deviations of every station, measured once per run.
#include "driver/station_windows.hpp"

#include <algorithm>
#include <span>

#include "signal/stats.hpp"

namespace xcn {

WindowTable measure_windows(const Run& run) {
  const StationTable& table = *run.table;
  const int n = table.size();
  WindowTable wt;
  wt.settings = window_settings(run.last.dt);
  wt.stations.resize(static_cast<std::size_t>(n));
  int longest = 0;
  for (int i = 1; i <= n; ++i) {
    if (table.station(i).usable) longest = std::max(longest, pair_nptend(run, i, i));
  }
  wt.offsets = window_offsets(wt.settings, longest);
  const std::size_t nptlen = static_cast<std::size_t>(wt.settings.nptlen);
  parallel_for(n, [&](int k) {
    const int i = k + 1;
    if (!table.station(i).usable) return;
    StationWindows& s = wt.stations[static_cast<std::size_t>(k)];
    const float* row = table.row(i);
    s.nptend = pair_nptend(run, i, i);
    // Another rank's station: its record is not read here, its length is known to all.
    if (!run.share.holds(i)) return;
    s.windows = static_cast<int>(window_offsets(wt.settings, s.nptend).size());
    s.bound = rejection_bound(std(std::span<const float>(row, kCapacity), s.nptend));
    s.crt.resize(static_cast<std::size_t>(s.windows));
    for (std::size_t w = 0; w < s.crt.size(); ++w) {
      s.crt[w] = std(std::span<const float>(row + wt.offsets[w], nptlen), wt.settings.nptlen);
    }
  });
  return wt;
}

}  // namespace xcn
