// Correlation of two windows: taper, zero fill, transforms, cross-spectrum, rotation and cut.
#include "signal/xcorr.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "signal/fft.hpp"
#include "signal/xcorr_whiten.hpp"

namespace xcn {

namespace {

// ln 2 as the padded length has always been computed with.
constexpr float kLn2 = 0.6931472f;
constexpr float kTaperFraction = 0.05f;
constexpr int kMaxTransform = 1 << 30;

// Odd windows start the cut one sample later than the plain centring would, so that lag 0
// lands on nptlen/2 + 1 like the time axis of the result; even windows need no shift.
int cut_shift(int nptlen) { return nptlen % 2 == 1 && nptlen > 1 ? 1 : 0; }

// window placed at nhead, zeros around it, in out[0 .. npt-1].
void zero_fill(std::span<const float> window, std::size_t nhead, std::span<Complex> out) {
  const std::size_t end = std::min(nhead + window.size(), out.size());
  std::size_t p = 0;
  for (; p < nhead; ++p) out[p] = {0.0f, 0.0f};
  for (; p < end; ++p) out[p] = {window[p - nhead], 0.0f};
  for (; p < out.size(); ++p) out[p] = {0.0f, 0.0f};
}

}  // namespace

CcLayout cc_layout(int nptlen) {
  if (nptlen <= 0 || nptlen > kMaxTransform) return {0, 0, 0, 0};
  const float c = std::log(static_cast<float>(nptlen)) / kLn2;
  int e = static_cast<int>(c);
  if (static_cast<float>(e) < c) ++e;
  int npt = 1 << e;
  // The float logarithm is exact enough up to 2^21; beyond that it may fall one power short.
  while (npt < nptlen) npt *= 2;
  const int nhead = nptlen < npt ? (npt - nptlen) / 2 : 0;
  const int ntpr = static_cast<int>(kTaperFraction * static_cast<float>(nptlen));
  const int lag0 = npt / 2 + 1 - nhead - cut_shift(nptlen);
  return {npt, nhead, ntpr, lag0};
}

CcPlan::CcPlan(int nptlen) : nptlen_(nptlen), layout_(cc_layout(nptlen)), cut_start_(0) {
  if (layout_.npt == 0) return;
  cut_start_ = layout_.nhead + cut_shift(nptlen);
  const int ntpr = layout_.ntpr;
  if (ntpr <= 0) return;
  // Each weight from its own cosine (no recurrence), the count as a float times r.
  const float r = kPi / static_cast<float>(ntpr);
  weights_.resize(static_cast<std::size_t>(ntpr) + 1);
  for (int m = 0; m <= ntpr; ++m) {
    weights_[static_cast<std::size_t>(m)] = 0.5f - 0.5f * std::cos(static_cast<float>(m) * r);
  }
}

void CcPlan::taper(std::span<float> window) const {
  // The front ramp starts at weight 0, the back ramp one step later, so the last sample keeps
  // a small non-zero weight.
  const int ntpr = layout_.ntpr;
  for (int i = 1; i <= ntpr; ++i) {
    window[static_cast<std::size_t>(i - 1)] *= weights_[static_cast<std::size_t>(i - 1)];
    window[static_cast<std::size_t>(nptlen_ - i)] *= weights_[static_cast<std::size_t>(i)];
  }
}

void window_spectrum(const CcPlan& plan, std::span<float> window, std::span<Complex> spectrum) {
  const CcLayout& lay = plan.layout();
  const std::size_t npt = static_cast<std::size_t>(lay.npt);
  plan.taper(window);
  zero_fill(window.first(static_cast<std::size_t>(plan.nptlen())),
            static_cast<std::size_t>(lay.nhead), spectrum.first(npt));
  fork(lay.npt, +1, spectrum);
}

float modulus(Complex p) { return detail::modulus(p.re, p.im); }

void cross_spectrum(std::span<const Complex> y1, std::span<const Complex> y2,
                    std::span<Complex> yw) {
  if (yw.empty()) return;
  // Copies of one window agree in these values bit for bit; only they are compared.
  bool same = y1[0].re == y2[0].re;
  if (yw.size() > 1) same = same && y1[1].re == y2[1].re;
  detail::cross_spectrum_with(detail::spectrum_isa(), y1.data(), y2.data(), yw.data(), yw.size(),
                              same);
}

namespace {

// Calls put(k, value) for k = 0 .. nptlen-1 in order, value being lag k of the cut: the real
// part of the inverse-transformed yw, rotated so that lag L sits at zero-based npt/2 + L.
template <typename Put>
void for_each_cut(const CcPlan& plan, std::span<const Complex> yw, Put put) {
  const std::size_t h = static_cast<std::size_t>(plan.layout().npt) / 2;
  const std::size_t first = static_cast<std::size_t>(plan.cut_start());
  const std::size_t len = static_cast<std::size_t>(plan.nptlen());
  // Rotated positions below h come from the upper half of yw, the others from the lower half.
  const std::size_t upper = first < h ? std::min(len, h - first) : 0;
  for (std::size_t k = 0; k < upper; ++k) put(k, yw[h + first + k].re);
  for (std::size_t k = upper; k < len; ++k) put(k, yw[first + k - h].re);
}

}  // namespace

void correlation_cut(const CcPlan& plan, std::span<Complex> yw, std::span<float> yy,
                     std::span<float> full) {
  const int npt = plan.layout().npt;
  fork(npt, -1, yw);
  const std::size_t h = static_cast<std::size_t>(npt) / 2;
  const std::size_t keep = std::min(static_cast<std::size_t>(npt), full.size());
  for (std::size_t p = 0; p < keep; ++p) full[p] = p < h ? yw[h + p].re : yw[p - h].re;
  for_each_cut(plan, yw, [&](std::size_t k, float v) { yy[k] = v; });
}

void CcWorkspace::fit(int npt) {
  const std::size_t n = static_cast<std::size_t>(npt);
  if (y1.size() < n) y1.resize(n);
  if (y2.size() < n) y2.resize(n);
  if (yw.size() < n) yw.resize(n);
}

void ccfunction(std::span<float> yy1, std::span<float> yy2, float /*dt1*/, int nptlen,
                std::span<float> yy, float /*timelen*/, float /*dist*/, float /*counter*/,
                CcWorkspace& ws) {
  const CcLayout lay = cc_layout(nptlen);
  if (lay.npt == 0) return;
  const std::size_t len = static_cast<std::size_t>(nptlen);
  if (yy1.size() < len || yy2.size() < len || yy.size() < len) return;

  if (ws.plan.nptlen() != nptlen) ws.plan = CcPlan(nptlen);
  ws.fit(lay.npt);
  const std::size_t npt = static_cast<std::size_t>(lay.npt);
  const std::span<Complex> y1(ws.y1.data(), npt);
  const std::span<Complex> y2(ws.y2.data(), npt);
  const std::span<Complex> yw(ws.yw.data(), npt);

  window_spectrum(ws.plan, yy1, y1);
  window_spectrum(ws.plan, yy2, y2);
  cross_spectrum(y1, y2, yw);
  // The caller's first window doubles as the home of the full rotated correlation.
  correlation_cut(ws.plan, yw, yy, yy1);
}

void ccfunction(std::span<float> yy1, std::span<float> yy2, float dt1, int nptlen,
                std::span<float> yy, float timelen, float dist, float counter) {
  thread_local CcWorkspace ws;
  ccfunction(yy1, yy2, dt1, nptlen, yy, timelen, dist, counter, ws);
}

}  // namespace xcn
