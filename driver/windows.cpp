// Window layout of a record, and the stack of a pair.
#include "driver/windows.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/stations.hpp"
#include "signal/stats.hpp"

namespace xcn {

WindowSettings window_settings(float dt) {
  // The step is timelen * (1 - ovlp) in single precision, 200.0000457763671875, not 200.
  const float step = kTimelen * (1.0f - kOvlp);
  return {static_cast<int>(std::labs(std::lroundf(kTimelen / dt))),
          static_cast<float>(std::labs(std::lroundf(step / dt)))};
}

std::size_t window_bytes(double samples) {
  // The padded transform: the smallest power of two not below the window.
  double npt = 1.0;
  while (npt < samples) npt *= 2.0;
  const double bytes = samples * sizeof(float) + npt * 2.0 * sizeof(float);
  return bytes < 1e18 ? static_cast<std::size_t>(bytes) : static_cast<std::size_t>(1e18);
}

std::string refuse_sampling(float dt, std::size_t budget) {
  if (!std::isfinite(dt) || dt <= 0.0f) return "it is not a positive finite number";
  // The window as window_settings rounds it, kept in double: a tiny interval gives one beyond
  // any integer of the settings.
  const float ratio = kTimelen / dt;
  const double samples =
      std::round(std::isfinite(ratio) ? static_cast<double>(ratio)
                                      : static_cast<double>(kTimelen) / static_cast<double>(dt));
  const std::size_t need = window_bytes(samples);
  if (samples > 1e9 || need > budget) {
    constexpr double kMiB = 1048576.0;
    char why[256];
    std::snprintf(why, sizeof why,
                  "its %g s window of %.0f samples needs about %.0f MiB per worker, more than "
                  "XCN_MEMORY_BUDGET allows (%.*f MiB)",
                  static_cast<double>(kTimelen), samples,
                  std::ceil(static_cast<double>(need) / kMiB), budget < 1048576 ? 2 : 0,
                  static_cast<double>(budget) / kMiB);
    return why;
  }
  if (window_settings(dt).overlap < 1.0f) return "the window step would be below one sample";
  return {};
}

std::vector<std::size_t> window_offsets(const WindowSettings& w, int nptend) {
  std::vector<std::size_t> offsets;
  // While the window ends at or before the last sample; the start is a float sum of steps.
  for (float startp = 0.0f; startp + static_cast<float>(w.nptlen) < static_cast<float>(nptend + 1);
       startp += w.overlap) {
    offsets.push_back(static_cast<std::size_t>(startp));
  }
  return offsets;
}

float record_bound(std::span<const float> record, int nptlen) {
  const std::size_t n = record.size();
  const std::size_t gap = static_cast<std::size_t>(std::max(nptlen, 1));
  std::vector<float> live;
  bool gaps = false;
  std::size_t kept = 0;  // samples before `kept` are in `live` or left out
  for (std::size_t k = 0; k < n;) {
    if (record[k] != 0.0f) {
      ++k;
      continue;
    }
    std::size_t end = k;
    while (end < n && record[end] == 0.0f) ++end;
    if (end - k >= gap) {
      if (!gaps) live.reserve(n);
      gaps = true;
      live.insert(live.end(), record.begin() + static_cast<std::ptrdiff_t>(kept),
                  record.begin() + static_cast<std::ptrdiff_t>(k));
      kept = end;
    }
    k = end;
  }
  // Without a gap, the deviation of the record as it is.
  if (!gaps) return rejection_bound(std(record, static_cast<int>(n)));
  live.insert(live.end(), record.begin() + static_cast<std::ptrdiff_t>(kept), record.end());
  return rejection_bound(std(live, static_cast<int>(live.size())));
}

bool all_zero(std::span<const float> window) {
  return std::all_of(window.begin(), window.end(), [](float v) { return v == 0.0f; });
}

CommonWindows common_windows(const GridPlace& a, const GridPlace& b) {
  const long long first = std::max(a.first, b.first);
  const long long end = std::min(a.first + a.windows, b.first + b.windows);
  return {first, end > first ? static_cast<int>(end - first) : 0};
}

namespace {

// Seconds from start (ms, s) a to start b.
double seconds_between(long long a_ms, double a_s, long long b_ms, double b_s) {
  return static_cast<double>(b_ms - a_ms) * 1e-3 + (b_s - a_s);
}

struct Start {
  long long ms = 0;
  double s = 0.0;
};

}  // namespace

TimeGrid lay_out_grid(const StationTable& table, float dt, std::FILE* err) {
  TimeGrid grid;
  grid.dt = dt;
  grid.settings = window_settings(dt);
  const int n = table.size();
  grid.places.resize(static_cast<std::size_t>(n));
  // Records without a reference time are placed by B from the earliest dated start.
  int dated = 0, undated = 0, invalid = 0;
  Start origin;
  for (int i = 1; i <= n; ++i) {
    const Station& s = table.station(i);
    if (!s.usable) continue;
    if (!s.dated) {
      ++undated;
      if (s.invalid_reference) ++invalid;
      continue;
    }
    if (dated++ == 0 || seconds_between(origin.ms, origin.s, s.reference_ms, s.begin) < 0.0) {
      origin = {s.reference_ms, s.begin};
    }
  }
  if (dated > 0 && undated > 0) {
    // A reference time that is no date was reported with its record; it is not missing.
    const int missing = undated - invalid;
    const std::string which =
        invalid == 0 ? std::to_string(missing) + " of " + std::to_string(dated + undated) +
                           " records have no reference time (NZYEAR undefined)"
        : missing == 0 ? std::to_string(invalid) + " of " + std::to_string(dated + undated) +
                             " records have an invalid reference time (no date)"
                       : std::to_string(missing) + " of " + std::to_string(dated + undated) +
                             " records have no reference time (NZYEAR undefined) and " +
                             std::to_string(invalid) + " an invalid one (no date)";
    std::fprintf(err,
                 "xcorrnet_v3: warning: %s; they are placed by their begin time B from the "
                 "earliest start of the others\n",
                 which.c_str());
  }
  std::vector<Start> starts(static_cast<std::size_t>(n));
  bool any = false;
  Start earliest;
  for (int i = 1; i <= n; ++i) {
    const Station& s = table.station(i);
    if (!s.usable) continue;
    Start& t = starts[static_cast<std::size_t>(i - 1)];
    t = s.dated ? Start{s.reference_ms, s.begin} : Start{origin.ms, origin.s + s.begin};
    if (!any || seconds_between(earliest.ms, earliest.s, t.ms, t.s) < 0.0) earliest = t;
    any = true;
  }
  grid.dated = dated > 0;
  grid.start_ms = earliest.ms;
  grid.start_s = earliest.s;
  const long long step = static_cast<long long>(grid.settings.overlap);
  const long long nptlen = grid.settings.nptlen;
  for (int i = 1; i <= n; ++i) {
    const Station& s = table.station(i);
    if (!s.usable) continue;
    const Start& t = starts[static_cast<std::size_t>(i - 1)];
    const double at = seconds_between(earliest.ms, earliest.s, t.ms, t.s) / static_cast<double>(dt);
    GridPlace& p = grid.places[static_cast<std::size_t>(i - 1)];
    p.shift = std::llround(at);
    if (std::fabs(at - static_cast<double>(p.shift)) > 0.1) {
      std::fprintf(err,
                   "xcorrnet_v3: warning: station %d \"%s\" starts %.2f samples off the run's "
                   "window grid; its samples are taken at the nearest whole sample\n",
                   i, station_path(s).c_str(), std::fabs(at - static_cast<double>(p.shift)));
    }
    if (s.npts < nptlen) {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%g", static_cast<double>(s.npts) * dt);
      std::fprintf(err,
                   "xcorrnet_v3: warning: station %d \"%s\" holds %d samples (%s s), fewer than "
                   "one %g s window; its pairs stack nothing\n",
                   i, station_path(s).c_str(), s.npts, seconds, static_cast<double>(kTimelen));
      continue;
    }
    // Windows k with k * step >= shift and k * step + nptlen <= shift + npts.
    p.first = (p.shift + step - 1) / step;
    const long long last = (p.shift + s.npts - nptlen) / step;
    p.windows = last >= p.first ? static_cast<int>(last - p.first + 1) : 0;
  }
  return grid;
}

void Stack::reset(int nptlen) {
  yall.assign(static_cast<std::size_t>(nptlen), 0.0f);
  count_ = 0.0f;
  counter = 0;
  shared = 0;
}

void Stack::add(std::span<const float> yyc) {
  for (std::size_t k = 0; k < yall.size(); ++k) yall[k] += yyc[k];
  count_ += 1.0f;
}

void Stack::set_sum(std::span<const float> sum, int count) {
  yall.assign(sum.begin(), sum.end());
  count_ = static_cast<float>(count);
}

void Stack::finish() {
  for (float& v : yall) v /= count_;
  counter = static_cast<int>(count_);
}

}  // namespace xcn
