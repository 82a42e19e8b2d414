// Synthetic ambient-noise networks: random numbers, station layout, plane-wave and local noise.
//
// Plane waves of Ricker wavelets cross a flat network at a fixed speed from uniformly random
// directions; each station also gets its own white noise. Every delay is computed exactly from
// the station's position on the tangent plane and the wavelet is evaluated at that time, so a
// record holds no interpolation error. Everything is drawn from our own generator, so a seed
// gives the same bytes on every platform.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace xcn::synth {

// xoshiro256** seeded through splitmix64.
class Random {
 public:
  explicit Random(std::uint64_t seed);
  std::uint64_t next();
  // Uniform in [0, 1), 53 random bits.
  double uniform();
  double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  // Standard normal (Box-Muller, one value per call).
  double gaussian();

 private:
  std::array<std::uint64_t, 4> state_;
};

// A position on the plane tangent to the Earth at the network centre, in km.
struct PlanePoint {
  double east_km = 0;
  double north_km = 0;
};

// Geographic latitude and longitude in degrees (WGS 84).
struct GeoPoint {
  double lat_deg = 0;
  double lon_deg = 0;
};

inline constexpr GeoPoint kNetworkCentre{36.0, -117.5};
inline constexpr double kMinSpacingKm = 20.0;
// Enough for the end-to-end benchmark's thousand-station day; the disc the stations are drawn
// in then spans about 1600 km.
inline constexpr int kMaxStations = 2000;

// The point at `distance_m` along the geodesic that leaves `from` at `azimuth_deg` (clockwise
// from north), on the WGS 84 ellipsoid (Vincenty's direct solution, sub-millimetre here).
GeoPoint geodesic_destination(GeoPoint from, double azimuth_deg, double distance_m);

// The tangent-plane point mapped to the ellipsoid along the geodesic from the centre with the
// point's distance and bearing. Between two stations within a few hundred km of the centre the
// geodesic distance matches the plane distance to well under 100 m.
GeoPoint to_geographic(PlanePoint p, GeoPoint centre = kNetworkCentre);

// Positions of `count` stations (1 to kMaxStations): a fixed six-station layout whose pairs
// lie 20 to 300 km apart, then further stations drawn in a disc wide enough for `count`, each
// at least kMinSpacingKm from every other. The same count always gives the same layout, and a
// larger count keeps the stations of a smaller one.
std::vector<PlanePoint> station_layout(int count);

struct PlaneWave {
  double azimuth_deg = 0;    // direction of travel, clockwise from north
  double centre_time_s = 0;  // arrival time of the wavelet's peak at the network centre
  double period_s = 0;       // Ricker peak period
  double amplitude = 0;
};

struct NoiseModel {
  double speed_km_s = 3.0;
  double waves_per_second = 0.5;
  double min_period_s = 3.0;
  double max_period_s = 8.0;
  double local_noise_rms = 0.3;  // per station, white, against wavelets of amplitude about 1
};

// Arrival time of the wave's peak at `p`.
double arrival_time(const PlaneWave& wave, PlanePoint p, double speed_km_s);

// Ricker wavelet of peak period `period_s` at time `t` after its peak (1 at t = 0).
double ricker(double t, double period_s);

// Adds amplitude * ricker(k * dt - arrival, period) to trace[k] where the wavelet is not
// negligible (within 1.5 periods of its peak).
void add_wavelet(std::span<double> trace, double dt, double arrival, double period,
                 double amplitude);

// Waves whose peaks cross the centre during [-margin, duration + margin], where the margin
// covers the crossing time of a network of the given radius and a wavelet's length, so every
// part of the record is equally busy.
std::vector<PlaneWave> draw_waves(Random& rng, const NoiseModel& model, double duration_s,
                                  double network_radius_km);

// A point of the ground that sends on every wave passing it, scaled by its strength, as a
// circular wave at the model's speed: the coda of the correlations.
struct Scatterer {
  PlanePoint where;
  double strength = 0;
};

// `count` scatterers drawn uniformly in a disc of `radius_km` around the centre, of strengths
// 0.3 to 0.6 and random sign.
std::vector<Scatterer> draw_scatterers(Random& rng, int count, double radius_km);

// One station's record: every wave at the station's arrival times (and, sent on by each
// scatterer, at its arrival there plus its distance to the station at the model's speed) plus
// the station's own white noise from `local_noise`, as floats. Every travel time scales with
// 1 / speed, so a network with speed v / (1 - x) has its correlations' lags at (1 - x) times
// those at speed v.
std::vector<float> station_record(std::span<const PlaneWave> waves, const NoiseModel& model,
                                  PlanePoint where, int samples, double dt, Random local_noise,
                                  std::span<const Scatterer> scatterers = {});

// What the generator writes.
struct Options {
  int stations = 6;
  int samples = 86400;
  double delta_s = 1.0;
  std::uint64_t seed = 20240611;
  std::string folder = ".";
  std::string component = "BHZ";
  bool folders = false;  // the name list puts each result in its first record's folder
};

// Station name of the one-based index i: ST01, ST02, ..., ST99, ST100, ...
std::string station_name(int i);

}  // namespace xcn::synth
