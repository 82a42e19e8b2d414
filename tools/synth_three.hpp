// Synthetic three-component stations: the plane waves of the network as Rayleigh waves (on the
// vertical and along their direction of travel) and Love waves (across it), recorded by two
// horizontals and a vertical at each station.
//
// Rayleigh waves travel at the noise model's speed; the vertical records the Ricker wavelet and
// the horizontal motion along the direction of travel is the wavelet a quarter period out of
// phase (its time derivative, scaled), `ellipticity` times as large. Love waves travel faster
// and move the ground across their direction of travel only: to the right of it, seen from
// above, for a wavelet of positive amplitude. A component records the motion along its
// direction (CMPAZ clockwise from north, CMPINC from up).
#pragma once

#include <array>
#include <span>
#include <vector>

#include "tools/synth.hpp"

namespace xcn::synth {

enum class WaveKind { kRayleigh, kLove };

struct ThreeComponentModel {
  NoiseModel noise;
  double love_speed_km_s = 3.5;
  double ellipticity = 0.8;  // horizontal against vertical amplitude of a Rayleigh wave
  bool rayleigh = true;      // which kinds the waves are drawn from
  bool love = true;
};

// The kind of each wave, drawn from `rng` after the waves themselves.
std::vector<WaveKind> draw_kinds(Random& rng, std::size_t count, const ThreeComponentModel& model);

// A component of a station: the last letter of its code and its direction.
struct Component {
  char letter = 'Z';
  double azimuth_deg = 0;    // CMPAZ
  double incidence_deg = 0;  // CMPINC
};

// The components of station `station` (one-based): E, N and Z, or with `turned` 1 and 2 (2 at
// 90 degrees clockwise from 1) at an azimuth of the station's own, the same for its index in
// every network, and Z.
std::array<Component, 3> station_components(int station, bool turned);

// The wavelet a quarter period out of phase with ricker(): its derivative times period / 2 pi.
double ricker_quadrature(double t, double period_s);

// The three records of a station at `where`: every wave as its kind moves the ground, along each
// component's direction, plus white noise of its own on each component drawn from `local_noise`.
std::array<std::vector<float>, 3> three_component_records(
    std::span<const PlaneWave> waves, std::span<const WaveKind> kinds,
    const ThreeComponentModel& model, PlanePoint where, const std::array<Component, 3>& components,
    int samples, double dt, Random local_noise);

}  // namespace xcn::synth
