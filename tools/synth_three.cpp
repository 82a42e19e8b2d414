// Synthetic three-component stations: Rayleigh and Love waves on two horizontals and a vertical.
#include "tools/synth_three.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace xcn::synth {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDegree = kPi / 180.0;

// Fixed, so that a station's turned horizontals never depend on the noise seed.
constexpr std::uint64_t kTurnSeed = 0x7475726e6564ULL;

// East, north and up parts of a direction.
std::array<double, 3> unit(double azimuth_deg, double incidence_deg) {
  const double a = azimuth_deg * kDegree;
  const double i = incidence_deg * kDegree;
  return {std::sin(i) * std::sin(a), std::sin(i) * std::cos(a), std::cos(i)};
}

}  // namespace

std::vector<WaveKind> draw_kinds(Random& rng, std::size_t count, const ThreeComponentModel& model) {
  std::vector<WaveKind> kinds(count, model.love ? WaveKind::kLove : WaveKind::kRayleigh);
  if (!(model.love && model.rayleigh)) return kinds;
  for (auto& k : kinds) k = rng.uniform() < 0.5 ? WaveKind::kRayleigh : WaveKind::kLove;
  return kinds;
}

std::array<Component, 3> station_components(int station, bool turned) {
  const Component z{'Z', 0, 0};
  if (!turned) return {Component{'E', 90, 90}, Component{'N', 0, 90}, z};
  Random rng(kTurnSeed + static_cast<std::uint64_t>(station));
  // Whole degrees, as field notes give them.
  const double first = std::floor(rng.uniform(0.0, 360.0));
  return {Component{'1', first, 90}, Component{'2', std::fmod(first + 90.0, 360.0), 90}, z};
}

double ricker_quadrature(double t, double period_s) {
  const double x = kPi * t / period_s;
  return (2.0 * x * x * x - 3.0 * x) * std::exp(-x * x);
}

std::array<std::vector<float>, 3> three_component_records(
    std::span<const PlaneWave> waves, std::span<const WaveKind> kinds,
    const ThreeComponentModel& model, PlanePoint where, const std::array<Component, 3>& components,
    int samples, double dt, Random local_noise) {
  const auto n = static_cast<std::size_t>(std::max(samples, 0));
  std::array<std::vector<double>, 3> motion;  // along each component
  for (auto& m : motion) m.assign(n, 0.0);
  std::array<std::array<double, 3>, 3> axis;
  for (std::size_t c = 0; c < 3; ++c) {
    axis[c] = unit(components[c].azimuth_deg, components[c].incidence_deg);
  }
  for (std::size_t w = 0; w < waves.size() && n > 0; ++w) {
    const PlaneWave& wave = waves[w];
    const bool love = kinds[w] == WaveKind::kLove;
    const double arrival =
        arrival_time(wave, where, love ? model.love_speed_km_s : model.noise.speed_km_s);
    // The ground moves along `travel` with the quadrature wavelet and `other` with the wavelet.
    const std::array<double, 3> travel = unit(wave.azimuth_deg, 90);
    const std::array<double, 3> other = love ? unit(wave.azimuth_deg + 90, 90) : unit(0, 0);
    std::array<double, 3> along_travel{}, along_other{};
    for (std::size_t c = 0; c < 3; ++c) {
      for (std::size_t k = 0; k < 3; ++k) {
        along_travel[c] += axis[c][k] * travel[k];
        along_other[c] += axis[c][k] * other[k];
      }
    }
    // Both wavelets are below 1e-7 of their peak beyond 1.5 periods.
    const double half_width = 1.5 * wave.period_s;
    const double first = std::ceil((arrival - half_width) / dt);
    const double last = std::floor((arrival + half_width) / dt);
    if (last < 0.0 || first >= static_cast<double>(n)) continue;
    const auto k0 = static_cast<std::size_t>(std::max(first, 0.0));
    const auto k1 = static_cast<std::size_t>(std::min(last, static_cast<double>(n) - 1.0));
    for (std::size_t k = k0; k <= k1; ++k) {
      const double t = static_cast<double>(k) * dt - arrival;
      const double r = wave.amplitude * ricker(t, wave.period_s);
      const double q =
          love ? 0.0 : wave.amplitude * model.ellipticity * ricker_quadrature(t, wave.period_s);
      for (std::size_t c = 0; c < 3; ++c) motion[c][k] += q * along_travel[c] + r * along_other[c];
    }
  }
  std::array<std::vector<float>, 3> records;
  for (std::size_t c = 0; c < 3; ++c) {
    records[c].resize(n);
    for (std::size_t k = 0; k < n; ++k) {
      records[c][k] =
          static_cast<float>(motion[c][k] + model.noise.local_noise_rms * local_noise.gaussian());
    }
  }
  return records;
}

}  // namespace xcn::synth
