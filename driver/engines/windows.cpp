// Window layout of a record, and the stack of a pair.
#include "driver/engines/windows.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/input/stations.hpp"
#include "sacio/ref_time.hpp"
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

Gaps find_gaps(std::span<const float> record, const WindowSettings& w, float dt) {
  // At least 1 s, with room for an interval rounded to single precision (0.01f is a hair under
  // 0.01 s, so 100 of its samples make a second).
  const double per_second = std::ceil(1.0 / static_cast<double>(dt) * (1.0 - 1e-6));
  const std::size_t shortest = static_cast<std::size_t>(
      std::max(1.0, std::min(static_cast<double>(w.nptlen), std::max(10.0, per_second))));
  Gaps gaps;
  const std::size_t n = record.size();
  for (std::size_t k = 0; k < n;) {
    if (record[k] != 0.0f) {
      ++k;
      continue;
    }
    std::size_t end = k;
    while (end < n && record[end] == 0.0f) ++end;
    if (end - k >= shortest) gaps.runs.push_back({k, end});
    k = end;
  }
  return gaps;
}

bool Gaps::touch(std::size_t from, std::size_t length) const {
  // The first run that ends after `from`.
  const auto it = std::upper_bound(runs.begin(), runs.end(), from,
                                   [](std::size_t at, const Run& r) { return at < r.end; });
  return it != runs.end() && it->first < from + length;
}

float record_bound(std::span<const float> record, const Gaps& gaps) {
  // Without a gap, the deviation of the record as it is.
  if (gaps.runs.empty()) return rejection_bound(std(record, static_cast<int>(record.size())));
  std::vector<float> live;
  live.reserve(record.size());
  std::size_t kept = 0;  // samples before `kept` are in `live` or left out
  for (const Gaps::Run& r : gaps.runs) {
    live.insert(live.end(), record.begin() + static_cast<std::ptrdiff_t>(kept),
                record.begin() + static_cast<std::ptrdiff_t>(r.first));
    kept = r.end;
  }
  live.insert(live.end(), record.begin() + static_cast<std::ptrdiff_t>(kept), record.end());
  return rejection_bound(std(live, static_cast<int>(live.size())));
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

// The grid windows a record of npts samples holds when its first sample lies `shift` samples
// after the grid's start: windows k with k * step >= shift and k * step + nptlen <= shift + npts.
CommonWindows held_windows(long long shift, long long npts, const WindowSettings& w) {
  const long long step = static_cast<long long>(w.overlap);
  const long long nptlen = w.nptlen;
  if (npts < nptlen) return {};
  // Floor division: a record may start before the grid's start only by rounding, never by more.
  auto floor_div = [](long long a, long long b) { return a >= 0 ? a / b : -((-a + b - 1) / b); };
  const long long first = -floor_div(-shift, step);
  const long long last = floor_div(shift + npts - nptlen, step);
  return {first, last >= first ? static_cast<int>(last - first + 1) : 0};
}

// The grid time of window k, as the warnings give it.
std::string window_time(const TimeGrid& grid, long long k) {
  const double seconds = static_cast<double>(k) * grid.settings.overlap * interval_of(grid.dt);
  if (!grid.dated) {
    char text[48];
    std::snprintf(text, sizeof text, "%.10g s", grid.start_s + seconds);
    return text;
  }
  return format_time(grid.start_ms + std::llround((grid.start_s + seconds) * 1000.0));
}

}  // namespace

double interval_of(float dt) {
  // A header holds 0.01 s as 0.0099999998: counted in those, a record that starts 80 000 s
  // after another on the same 0.01 s grid would lie 0.19 samples off it.
  const double micros = std::round(static_cast<double>(dt) * 1e6) / 1e6;
  return static_cast<float>(micros) == dt ? micros : static_cast<double>(dt);
}

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
  for (int i = 1; i <= n; ++i) {
    const Station& s = table.station(i);
    if (!s.usable) continue;
    const Start& t = starts[static_cast<std::size_t>(i - 1)];
    const double at = seconds_between(earliest.ms, earliest.s, t.ms, t.s) / interval_of(dt);
    GridPlace& p = grid.places[static_cast<std::size_t>(i - 1)];
    p.shift = std::llround(at);
    const CommonWindows held = held_windows(p.shift, s.npts, grid.settings);
    p.first = held.first;
    p.windows = held.count;
    const double off = std::fabs(at - static_cast<double>(p.shift));
    if (off > 0.1) {
      // The windows the record would hold at its other whole sample, which moving it onto the
      // grid by the fraction could give it: those it loses to the nearest sample.
      const CommonWindows other = held_windows(
          at > static_cast<double>(p.shift) ? p.shift + 1 : p.shift - 1, s.npts, grid.settings);
      long long lost_first = 0;
      int lost = 0;
      for (long long k = other.first; k < other.first + other.count; ++k) {
        if (k >= held.first && k < held.first + held.count) continue;
        if (lost++ == 0) lost_first = k;
      }
      std::string cost;
      if (lost > 0) {
        cost = ", which leaves out " + std::to_string(lost) + (lost == 1 ? " window" : " windows") +
               " from " + window_time(grid, lost_first) +
               " (xcn_prep moves records onto the grid by a fraction of a sample)";
      }
      std::fprintf(err,
                   "xcorrnet_v3: warning: station %d \"%s\" starts %.2f samples off the run's "
                   "window grid; its samples are taken at the nearest whole sample%s\n",
                   i, station_path(s).c_str(), off, cost.c_str());
    }
    if (s.npts < grid.settings.nptlen) {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%g", static_cast<double>(s.npts) * dt);
      std::fprintf(err,
                   "xcorrnet_v3: warning: station %d \"%s\" holds %d samples (%s s), fewer than "
                   "one %g s window; its pairs stack nothing\n",
                   i, station_path(s).c_str(), s.npts, seconds, static_cast<double>(kTimelen));
    }
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
  const float count = count_;
  std::size_t k = 0;
#if defined(__SSE2__)
  // Four at a time: each quotient is the one the plain loop makes.
  const __m128 c = _mm_set1_ps(count);
  for (; k + 4 <= yall.size(); k += 4) {
    _mm_storeu_ps(yall.data() + k, _mm_div_ps(_mm_loadu_ps(yall.data() + k), c));
  }
#endif
  for (; k < yall.size(); ++k) yall[k] /= count;
  counter = static_cast<int>(count_);
}

}  // namespace xcn
