// Window deviations of every station, measured once per run.
#include "driver/engines/station_windows.hpp"

#include <span>

#include "driver/input/stations.hpp"
#include "signal/stats.hpp"

namespace xcn {

WindowTable measure_windows(const Run& run) {
  const StationTable& table = *run.table;
  const int n = table.size();
  WindowTable wt;
  wt.settings = run.time.settings;
  wt.stations.resize(static_cast<std::size_t>(n));
  const std::size_t nptlen = static_cast<std::size_t>(wt.settings.nptlen);
  const std::vector<bool> in_use = stations_in_use(run);
  parallel_for(n, [&](int k) {
    const int i = k + 1;
    if (!table.station(i).usable) return;
    StationWindows& s = wt.stations[static_cast<std::size_t>(k)];
    s.place = run.time.place(i);
    // Another rank's station: its record is not read here, its place is known to all. A
    // station of no pair to compute (a rerun that finds its results) is not measured either.
    if (!run.share.holds(i) || !in_use[static_cast<std::size_t>(k)]) return;
    s.crt.resize(static_cast<std::size_t>(s.place.windows));
    s.accepted.resize(s.crt.size());
    // A record that reads otherwise now accepts nothing; its pairs are skipped.
    const HeldRecord record(table, i);
    const float* row = record.data();
    if (row == nullptr) return;
    const std::span<const float> samples(row, static_cast<std::size_t>(table.station(i).npts));
    const Gaps gaps = find_gaps(samples, wt.settings, run.time.dt);
    s.bound = record_bound(samples, gaps);
    for (std::size_t w = 0; w < s.crt.size(); ++w) {
      const std::size_t offset =
          s.place.offset(s.place.first + static_cast<long long>(w), wt.settings);
      s.crt[w] = std(samples.subspan(offset, nptlen), wt.settings.nptlen);
      s.accepted[w] = window_taken(s.crt[w], s.bound, gaps.touch(offset, nptlen));
    }
  });
  for (int i = 1; i <= n; ++i) {
    wt.measured +=
        table.station(i).usable && run.share.holds(i) && in_use[static_cast<std::size_t>(i - 1)];
  }
  return wt;
}

}  // namespace xcn
