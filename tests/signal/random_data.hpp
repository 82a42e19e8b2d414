// Reproducible random inputs for the signal tests: uniform in [-1, 1) from a seeded generator.
#pragma once

#include <cstddef>
#include <random>
#include <vector>

#include "signal/complex.hpp"

namespace xcn::test {

// n real samples.
inline std::vector<float> noise(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> v(static_cast<std::size_t>(n));
  for (auto& x : v) x = dist(gen);
  return v;
}

// n complex values: the samples of noise(2n, seed) taken as (re, im) pairs.
inline std::vector<Complex> random_signal(int n, unsigned seed) {
  const std::vector<float> parts = noise(2 * n, seed);
  std::vector<Complex> x(static_cast<std::size_t>(n));
  for (std::size_t k = 0; k < x.size(); ++k) x[k] = {parts[2 * k], parts[2 * k + 1]};
  return x;
}

}  // namespace xcn::test
