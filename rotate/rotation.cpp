// Rotating component correlations: directions, the inverse of a station's components, sums.
#include "rotate/rotation.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "sacio/header_model.hpp"

namespace xcn::rotate {
namespace {

constexpr double kDegree = std::numbers::pi / 180.0;
constexpr double kTiny = 1e-12;

double snapped(double v) { return std::fabs(v) < kTiny ? 0.0 : v; }

// A header angle that says something: defined and finite.
bool told(float v) { return v != kUndefFloat && std::isfinite(v); }

}  // namespace

double azimuth_in_circle(double deg) {
  const double a = std::fmod(deg, 360.0);
  return a < 0 ? a + 360.0 : a;
}

Direction direction(double azimuth_deg, double incidence_deg) {
  const double a = azimuth_deg * kDegree;
  const double i = incidence_deg * kDegree;
  return {snapped(std::sin(i) * std::sin(a)), snapped(std::sin(i) * std::cos(a)),
          snapped(std::cos(i))};
}

std::optional<Orientation> orientation(char letter, float cmpaz, float cmpinc) {
  // What the letter says where the header is silent.
  double azimuth = 0;
  double incidence = 90;
  bool known = told(cmpaz);
  switch (letter) {
    case 'Z':
      incidence = 0;
      known = true;
      break;
    case 'N':
      known = true;
      break;
    case 'E':
      azimuth = 90;
      known = true;
      break;
    default:
      break;
  }
  if (told(cmpaz)) azimuth = cmpaz;
  if (told(cmpinc)) incidence = cmpinc;
  // A vertical needs no azimuth.
  if (!known && told(cmpinc) && std::fabs(std::sin(incidence * kDegree)) < kTiny) known = true;
  if (!known) return std::nullopt;
  return Orientation{azimuth, incidence};
}

std::optional<std::array<Weights, 3>> solve(const std::array<Direction, 3>& axes,
                                            const std::array<Direction, 3>& wanted) {
  const auto& m = axes;
  // The inverse by cofactors: inv[k][c] = cofactor[c][k] / det.
  std::array<std::array<double, 3>, 3> cof{};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      const int r1 = (r + 1) % 3, r2 = (r + 2) % 3, c1 = (c + 1) % 3, c2 = (c + 2) % 3;
      cof[r][c] = m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1];
    }
  }
  const double det = m[0][0] * cof[0][0] + m[0][1] * cof[0][1] + m[0][2] * cof[0][2];
  if (!(std::fabs(det) >= kLeastVolume)) return std::nullopt;
  std::array<Weights, 3> weights{};
  for (int p = 0; p < 3; ++p) {
    double largest = 0;
    for (int c = 0; c < 3; ++c) {
      double w = 0;
      for (int k = 0; k < 3; ++k) w += wanted[p][k] * cof[c][k];
      weights[p][c] = w / det;
      largest = std::max(largest, std::fabs(weights[p][c]));
    }
    for (double& w : weights[p]) {
      if (std::fabs(w) < kTiny * largest) w = 0;
    }
  }
  return weights;
}

void combine(const Weights& wa, const Weights& wb,
             const std::array<std::array<std::span<const float>, 3>, 3>& c, std::span<float> out) {
  std::vector<double> sum(out.size(), 0.0);
  for (int a = 0; a < 3; ++a) {
    for (int b = 0; b < 3; ++b) {
      const double w = wa[a] * wb[b];
      if (w == 0) continue;
      const std::span<const float> y = c[a][b];
      for (std::size_t k = 0; k < out.size(); ++k) sum[k] += w * static_cast<double>(y[k]);
    }
  }
  for (std::size_t k = 0; k < out.size(); ++k) out[k] = static_cast<float>(sum[k]);
}

Frame frame(double radial_deg) {
  return {{Orientation{azimuth_in_circle(radial_deg), 90},
           Orientation{azimuth_in_circle(radial_deg + 90), 90}, Orientation{0, 0}}};
}

}  // namespace xcn::rotate
