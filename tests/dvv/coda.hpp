// Analytic codas for the measurement tests: Gaussian wave packets scattered over both sides
// of zero lag, evaluated at any time, so a stretched copy is exact and nothing interpolated.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace xcn::dvv::test {

struct Packet {
  double arrival;    // s, either sign
  double frequency;  // Hz
  double phase;      // rad
  double amplitude;
};

// Packets of width `width` s (the Gaussian's sigma) every ~`spacing` s from 5 s to `extent` s
// on both sides, frequencies in [f1, f2], amplitudes decaying by e over 300 s and `negative`
// times as strong at negative lags.
struct Coda {
  std::vector<Packet> packets;
  double width = 20;

  double at(double t) const {
    double sum = 0;
    for (const Packet& p : packets) {
      const double u = t - p.arrival;
      if (std::fabs(u) > 8 * width) continue;
      sum += p.amplitude * std::exp(-0.5 * u * u / (width * width)) *
             std::cos(2 * std::numbers::pi * p.frequency * u + p.phase);
    }
    return sum;
  }
};

// Uniform in [0, 1) from the generator's raw words, the same on every standard library.
inline double uniform(std::mt19937& gen) { return (gen() >> 5) * (1.0 / 134217728.0); }

inline Coda make_coda(unsigned seed, double f1, double f2, double negative = 0.6,
                      double extent = 1000, double spacing = 4) {
  std::mt19937 gen(seed);
  Coda coda;
  for (double t = 5; t < extent; t += spacing) {
    for (int side : {+1, -1}) {
      const double arrival = side * (t + spacing * uniform(gen));
      coda.packets.push_back({arrival, f1 + (f2 - f1) * uniform(gen),
                              2 * std::numbers::pi * uniform(gen),
                              std::exp(-t / 300) * (side < 0 ? negative : 1.0)});
    }
  }
  return coda;
}

// A correlation of npts samples at delta (zero lag at npts / 2) holding coda(t * factor) at
// positive lags and coda(t * negative_factor) at negative ones.
inline std::vector<float> sample(const Coda& coda, int npts, double delta, double factor,
                                 double negative_factor) {
  std::vector<float> x(static_cast<std::size_t>(npts));
  for (int k = 0; k < npts; ++k) {
    const double t = (k - npts / 2) * delta;
    x[static_cast<std::size_t>(k)] =
        static_cast<float>(coda.at(t * (t >= 0 ? factor : negative_factor)));
  }
  return x;
}

inline std::vector<float> sample(const Coda& coda, int npts, double delta, double factor = 1) {
  return sample(coda, npts, delta, factor, factor);
}

// Adds white Gaussian noise of standard deviation `rms` (Box-Muller on the raw generator).
inline void add_noise(std::vector<float>& x, double rms, unsigned seed) {
  std::mt19937 gen(seed);
  for (float& v : x) {
    const double u1 = 1.0 - uniform(gen), u2 = uniform(gen);
    v += static_cast<float>(rms * std::sqrt(-2 * std::log(u1)) *
                            std::cos(2 * std::numbers::pi * u2));
  }
}

}  // namespace xcn::dvv::test
