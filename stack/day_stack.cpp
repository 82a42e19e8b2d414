// Linear and phase-weighted stacks of one pair's day results.
#include "stack/day_stack.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "signal/analytic.hpp"

namespace xcn::stack {
namespace {

// |re + i im| rounded once to single precision: the squares in double cannot overflow for any
// float, and the square root is correctly rounded, so every machine gives the same bits.
float modulus(float re, float im) {
  const double r = re;
  const double i = im;
  return static_cast<float>(std::sqrt(r * r + i * i));
}

}  // namespace

DayStack::DayStack(int npts, bool phases)
    : npts_(npts), phases_(phases), work_(phases ? analytic_length(npts) : 0) {}

void DayStack::add(std::span<const float> trace) {
  const std::size_t n = static_cast<std::size_t>(npts_);
  const std::size_t at = static_cast<std::size_t>(days_) * n;
  if (samples_.size() < at + n) samples_.resize(at + n);
  std::copy_n(trace.begin(), n, samples_.begin() + static_cast<std::ptrdiff_t>(at));
  if (phases_) {
    if (unit_.size() < at + n) unit_.resize(at + n);
    analytic_signal(trace.first(n), work_);
    for (std::size_t k = 0; k < n; ++k) {
      const Complex a = work_[k];
      const float m = modulus(a.re, a.im);
      unit_[at + k] = m > 0.0f && std::isfinite(m) ? Complex{a.re / m, a.im / m} : Complex{0, 0};
    }
  }
  ++days_;
}

void DayStack::linear(std::span<const int> days, std::span<float> out) const {
  const std::size_t n = static_cast<std::size_t>(npts_);
  if (days.empty()) {
    std::fill_n(out.begin(), n, std::numeric_limits<float>::quiet_NaN());
    return;
  }
  std::fill_n(out.begin(), n, 0.0f);
  for (const int d : days) {
    const float* y = samples_.data() + static_cast<std::size_t>(d) * n;
    for (std::size_t k = 0; k < n; ++k) out[k] += y[k];
  }
  const float count = static_cast<float>(days.size());
  for (std::size_t k = 0; k < n; ++k) out[k] /= count;
}

float coherence_power(float c, float nu) {
  if (nu >= 0.0f && nu <= 64.0f && nu == std::floor(nu)) {
    float p = 1.0f;
    for (int k = 0; k < static_cast<int>(nu); ++k) p *= c;
    return p;
  }
  return std::pow(c, nu);
}

void DayStack::phase_weighted(std::span<const int> days, float nu, std::span<const float> linear,
                              std::span<float> out) const {
  const std::size_t n = static_cast<std::size_t>(npts_);
  if (days.empty() || !phases_) {
    std::fill_n(out.begin(), n, std::numeric_limits<float>::quiet_NaN());
    return;
  }
  // Day by day over the samples, so each sample's sum runs over the days in order.
  sum_.assign(n, Complex{0.0f, 0.0f});
  for (const int d : days) {
    const Complex* u = unit_.data() + static_cast<std::size_t>(d) * n;
    for (std::size_t k = 0; k < n; ++k) sum_[k] = {sum_[k].re + u[k].re, sum_[k].im + u[k].im};
  }
  const float count = static_cast<float>(days.size());
  for (std::size_t k = 0; k < n; ++k) {
    const float c = modulus(sum_[k].re / count, sum_[k].im / count);
    out[k] = linear[k] * coherence_power(c, nu);
  }
}

}  // namespace xcn::stack
