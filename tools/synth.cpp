// Synthetic ambient-noise networks: random numbers, station layout, plane-wave and local noise.
#include "tools/synth.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace xcn::synth {
namespace {

std::uint64_t splitmix64(std::uint64_t& x) {
  std::uint64_t z = (x += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

constexpr double kPi = std::numbers::pi;
constexpr double kDegree = kPi / 180.0;

// Pairs 20 to 275 km apart, with the shortest pair at the low end of what the tool resolves.
constexpr std::array<PlanePoint, 6> kBuiltInLayout{{
    {0.0, 0.0},
    {17.0, 11.0},
    {-62.0, 48.0},
    {85.0, -40.0},
    {-95.0, -88.0},
    {110.0, 95.0},
}};

// Fixed, so that a layout never depends on the noise seed.
constexpr std::uint64_t kLayoutSeed = 0x6c61796f7574ULL;

// Keeps random placement far from jamming: the stations' 10 km discs cover under a third of
// the disc they are drawn in.
double layout_radius_km(int count) {
  return std::max(150.0, 18.3 * std::sqrt(static_cast<double>(count)));
}

double plane_distance(PlanePoint a, PlanePoint b) {
  return std::hypot(a.east_km - b.east_km, a.north_km - b.north_km);
}

}  // namespace

Random::Random(std::uint64_t seed) {
  for (auto& word : state_) word = splitmix64(seed);
}

std::uint64_t Random::next() {
  const std::uint64_t result = rotl(state_[1] * 5, 7) * 9;
  const std::uint64_t t = state_[1] << 17;
  state_[2] ^= state_[0];
  state_[3] ^= state_[1];
  state_[1] ^= state_[2];
  state_[0] ^= state_[3];
  state_[2] ^= t;
  state_[3] = rotl(state_[3], 45);
  return result;
}

double Random::uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

double Random::gaussian() {
  const double u1 = 1.0 - uniform();  // (0, 1]: the logarithm stays finite
  const double u2 = uniform();
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * kPi * u2);
}

GeoPoint geodesic_destination(GeoPoint from, double azimuth_deg, double distance_m) {
  constexpr double a = 6378137.0;
  constexpr double f = 1.0 / 298.257223563;
  constexpr double b = a * (1.0 - f);
  if (distance_m == 0.0) return from;
  const double alpha1 = azimuth_deg * kDegree;
  const double sin_alpha1 = std::sin(alpha1);
  const double cos_alpha1 = std::cos(alpha1);
  const double tan_u1 = (1.0 - f) * std::tan(from.lat_deg * kDegree);
  const double cos_u1 = 1.0 / std::sqrt(1.0 + tan_u1 * tan_u1);
  const double sin_u1 = tan_u1 * cos_u1;
  const double sigma1 = std::atan2(tan_u1, cos_alpha1);
  const double sin_alpha = cos_u1 * sin_alpha1;
  const double cos2_alpha = 1.0 - sin_alpha * sin_alpha;
  const double u2 = cos2_alpha * (a * a - b * b) / (b * b);
  const double big_a = 1.0 + u2 / 16384.0 * (4096.0 + u2 * (-768.0 + u2 * (320.0 - 175.0 * u2)));
  const double big_b = u2 / 1024.0 * (256.0 + u2 * (-128.0 + u2 * (74.0 - 47.0 * u2)));

  double sigma = distance_m / (b * big_a);
  double cos_2sigma_m = 0.0;
  double sin_sigma = 0.0;
  double cos_sigma = 0.0;
  for (int iteration = 0; iteration < 100; ++iteration) {
    cos_2sigma_m = std::cos(2.0 * sigma1 + sigma);
    sin_sigma = std::sin(sigma);
    cos_sigma = std::cos(sigma);
    const double c2 = cos_2sigma_m * cos_2sigma_m;
    const double delta_sigma =
        big_b * sin_sigma *
        (cos_2sigma_m + big_b / 4.0 *
                            (cos_sigma * (-1.0 + 2.0 * c2) -
                             big_b / 6.0 * cos_2sigma_m * (-3.0 + 4.0 * sin_sigma * sin_sigma) *
                                 (-3.0 + 4.0 * c2)));
    const double next = distance_m / (b * big_a) + delta_sigma;
    const bool settled = std::fabs(next - sigma) < 1e-14;
    sigma = next;
    if (settled) break;
  }
  cos_2sigma_m = std::cos(2.0 * sigma1 + sigma);
  sin_sigma = std::sin(sigma);
  cos_sigma = std::cos(sigma);

  const double tmp = sin_u1 * sin_sigma - cos_u1 * cos_sigma * cos_alpha1;
  const double lat = std::atan2(sin_u1 * cos_sigma + cos_u1 * sin_sigma * cos_alpha1,
                                (1.0 - f) * std::sqrt(sin_alpha * sin_alpha + tmp * tmp));
  const double lambda =
      std::atan2(sin_sigma * sin_alpha1, cos_u1 * cos_sigma - sin_u1 * sin_sigma * cos_alpha1);
  const double c = f / 16.0 * cos2_alpha * (4.0 + f * (4.0 - 3.0 * cos2_alpha));
  const double big_l =
      lambda -
      (1.0 - c) * f * sin_alpha *
          (sigma + c * sin_sigma *
                       (cos_2sigma_m + c * cos_sigma * (-1.0 + 2.0 * cos_2sigma_m * cos_2sigma_m)));
  return {lat / kDegree, from.lon_deg + big_l / kDegree};
}

GeoPoint to_geographic(PlanePoint p, GeoPoint centre) {
  const double azimuth = std::atan2(p.east_km, p.north_km) / kDegree;
  return geodesic_destination(centre, azimuth, 1000.0 * std::hypot(p.east_km, p.north_km));
}

std::vector<PlanePoint> station_layout(int count) {
  std::vector<PlanePoint> layout;
  if (count <= 0) return layout;
  layout.reserve(static_cast<std::size_t>(count));
  for (const auto& p : kBuiltInLayout) {
    if (static_cast<int>(layout.size()) == count) return layout;
    layout.push_back(p);
  }
  // Station m is drawn in the disc sized for m stations, so its place depends only on the
  // stations before it: a larger network keeps the stations of a smaller one.
  Random rng(kLayoutSeed);
  while (static_cast<int>(layout.size()) < count) {
    const double radius = layout_radius_km(static_cast<int>(layout.size()) + 1);
    // Uniform over the disc.
    const double r = radius * std::sqrt(rng.uniform());
    const double theta = 2.0 * kPi * rng.uniform();
    const PlanePoint candidate{r * std::sin(theta), r * std::cos(theta)};
    const bool clear = std::all_of(layout.begin(), layout.end(), [&](PlanePoint q) {
      return plane_distance(candidate, q) >= kMinSpacingKm;
    });
    if (clear) layout.push_back(candidate);
  }
  return layout;
}

double arrival_time(const PlaneWave& wave, PlanePoint p, double speed_km_s) {
  const double az = wave.azimuth_deg * kDegree;
  // Distance travelled past the centre along the direction of travel.
  const double along = p.east_km * std::sin(az) + p.north_km * std::cos(az);
  return wave.centre_time_s + along / speed_km_s;
}

double ricker(double t, double period_s) {
  const double x = kPi * t / period_s;
  const double x2 = x * x;
  return (1.0 - 2.0 * x2) * std::exp(-x2);
}

void add_wavelet(std::span<double> trace, double dt, double arrival, double period,
                 double amplitude) {
  // At 1.5 periods the wavelet is below 1e-8 of its peak.
  const double half_width = 1.5 * period;
  const double first = std::ceil((arrival - half_width) / dt);
  const double last = std::floor((arrival + half_width) / dt);
  const double n = static_cast<double>(trace.size());
  if (last < 0.0 || first >= n) return;
  const auto k0 = static_cast<std::size_t>(std::max(first, 0.0));
  const auto k1 = static_cast<std::size_t>(std::min(last, n - 1.0));
  for (std::size_t k = k0; k <= k1; ++k) {
    trace[k] += amplitude * ricker(static_cast<double>(k) * dt - arrival, period);
  }
}

std::vector<PlaneWave> draw_waves(Random& rng, const NoiseModel& model, double duration_s,
                                  double network_radius_km) {
  const double margin = network_radius_km / model.speed_km_s + 1.5 * model.max_period_s;
  const double span = duration_s + 2.0 * margin;
  const auto count = static_cast<std::size_t>(std::ceil(span * model.waves_per_second));
  std::vector<PlaneWave> waves(count);
  for (auto& w : waves) {
    w.azimuth_deg = rng.uniform(0.0, 360.0);
    w.centre_time_s = rng.uniform(-margin, duration_s + margin);
    w.period_s = rng.uniform(model.min_period_s, model.max_period_s);
    // Random polarity and a spread of sizes, yet no burst that would make a window stand out.
    w.amplitude = (rng.uniform() < 0.5 ? -1.0 : 1.0) * rng.uniform(0.5, 1.5);
  }
  return waves;
}

namespace {

// Samples summed at a time: the sums stay in cache while the wavelets of the stretch are added.
constexpr std::size_t kStretch = 8192;

// A wavelet's part of the record at one station, its samples first to last.
struct Hit {
  std::size_t first = 0;
  std::size_t last = 0;
  double arrival = 0;
  double period = 0;
  double amplitude = 0;
};

}  // namespace

std::vector<Scatterer> draw_scatterers(Random& rng, int count, double radius_km) {
  std::vector<Scatterer> scatterers(static_cast<std::size_t>(std::max(count, 0)));
  for (auto& s : scatterers) {
    const double r = radius_km * std::sqrt(rng.uniform());
    const double theta = rng.uniform(0.0, 2.0 * kPi);
    s.where = {r * std::sin(theta), r * std::cos(theta)};
    s.strength = (rng.uniform() < 0.5 ? -1.0 : 1.0) * rng.uniform(0.3, 0.6);
  }
  return scatterers;
}

std::vector<float> station_record(std::span<const PlaneWave> waves, const NoiseModel& model,
                                  PlanePoint where, int samples, double dt, Random local_noise,
                                  std::span<const Scatterer> scatterers) {
  const auto n = static_cast<std::size_t>(std::max(samples, 0));
  std::vector<float> record(n);
  if (n == 0) return record;
  // The wavelets of each stretch, in the order of the waves: every sample gets the same sum,
  // term by term, as adding whole wavelets to the whole record in turn (add_wavelet) would,
  // without scattering over a record far larger than the cache.
  const std::size_t stretches = (n + kStretch - 1) / kStretch;
  // Where a wave touches the record, as add_wavelet finds it; false when it does not.
  auto hit_of = [&](const Hit& part, Hit& out) {
    const double half_width = 1.5 * part.period;
    const double first = std::ceil((part.arrival - half_width) / dt);
    const double last = std::floor((part.arrival + half_width) / dt);
    if (last < 0.0 || first >= static_cast<double>(n)) return false;
    out = {static_cast<std::size_t>(std::max(first, 0.0)),
           static_cast<std::size_t>(std::min(last, static_cast<double>(n) - 1.0)), part.arrival,
           part.period, part.amplitude};
    return true;
  };
  // Each wave's wavelet at the station, followed by what each scatterer sends on.
  std::vector<Hit> parts;
  parts.reserve(waves.size() * (1 + scatterers.size()));
  for (const PlaneWave& w : waves) {
    parts.push_back({0, 0, arrival_time(w, where, model.speed_km_s), w.period_s, w.amplitude});
    for (const Scatterer& s : scatterers) {
      const double on = arrival_time(w, s.where, model.speed_km_s) +
                        plane_distance(where, s.where) / model.speed_km_s;
      parts.push_back({0, 0, on, w.period_s, w.amplitude * s.strength});
    }
  }
  // Counted, then filed by stretch in wave order; copies, not pointers, so that each stretch
  // reads its wavelets from one place in turn.
  std::vector<std::size_t> start(stretches + 1, 0);
  Hit hit;
  for (const Hit& part : parts) {
    if (!hit_of(part, hit)) continue;
    for (std::size_t s = hit.first / kStretch; s <= hit.last / kStretch; ++s) ++start[s + 1];
  }
  for (std::size_t s = 0; s < stretches; ++s) start[s + 1] += start[s];
  std::vector<Hit> by_stretch(start.back());
  std::vector<std::size_t> filled(start.begin(), start.end() - 1);
  for (const Hit& part : parts) {
    if (!hit_of(part, hit)) continue;
    for (std::size_t s = hit.first / kStretch; s <= hit.last / kStretch; ++s) {
      by_stretch[filled[s]++] = hit;
    }
  }
  std::vector<double> sum(kStretch);
  for (std::size_t s = 0; s < stretches; ++s) {
    const std::size_t begin = s * kStretch;
    const std::size_t end = std::min(begin + kStretch, n);
    std::fill(sum.begin(), sum.end(), 0.0);
    for (std::size_t h = start[s]; h < start[s + 1]; ++h) {
      const Hit& part = by_stretch[h];
      const std::size_t k1 = std::min(part.last, end - 1);
      for (std::size_t k = std::max(part.first, begin); k <= k1; ++k) {
        sum[k - begin] +=
            part.amplitude * ricker(static_cast<double>(k) * dt - part.arrival, part.period);
      }
    }
    for (std::size_t k = begin; k < end; ++k) {
      record[k] =
          static_cast<float>(sum[k - begin] + model.local_noise_rms * local_noise.gaussian());
    }
  }
  return record;
}

std::string station_name(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "ST%02d", i);
  return name;
}

}  // namespace xcn::synth
