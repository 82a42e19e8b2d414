// Correlation of two windows: taper, zero fill, transforms, cross-spectrum, rotation and cut.
#include "signal/xcorr.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "signal/fft.hpp"

namespace xcn {

namespace {

// ln 2 as the padded length has always been computed with.
constexpr float kLn2 = 0.6931472f;
constexpr float kTaperFraction = 0.05f;
constexpr int kMaxTransform = 1 << 30;

// Odd windows start the cut one sample later than the plain centring would, so that lag 0
// lands on nptlen/2 + 1 like the time axis of the result; even windows need no shift.
int cut_shift(int nptlen) { return nptlen % 2 == 1 && nptlen > 1 ? 1 : 0; }

// Cosine ramps at both ends. The front ramp starts at weight 0, the back ramp one step later,
// so the last sample keeps a small non-zero weight.
void taper(std::span<float> yy1, std::span<float> yy2, int nptlen, int ntpr) {
  if (ntpr <= 0) return;
  const float r = kPi / static_cast<float>(ntpr);
  for (int i = 1; i <= ntpr; ++i) {
    const float front = 0.5f - 0.5f * std::cos(static_cast<float>(i - 1) * r);
    yy1[i - 1] *= front;
    yy2[i - 1] *= front;
    const float back = 0.5f - 0.5f * std::cos(static_cast<float>(i) * r);
    yy1[nptlen - i] *= back;
    yy2[nptlen - i] *= back;
  }
}

void zero_fill(std::span<const float> window, int nhead, std::span<Complex> out) {
  const std::size_t begin = static_cast<std::size_t>(nhead);
  const std::size_t end = begin + window.size();
  for (std::size_t p = 0; p < out.size(); ++p) {
    out[p] = p >= begin && p < end ? Complex{window[p - begin], 0.0f} : Complex{0.0f, 0.0f};
  }
}

// Phase-only cross-spectrum, or the plain power spectrum when both windows are the same.
void cross_spectrum(std::span<const Complex> y1, std::span<const Complex> y2,
                    std::span<Complex> yw) {
  // Copies of one window agree in these values bit for bit; only they are compared.
  bool same = y1[0].re == y2[0].re;
  if (y1.size() > 1) same = same && y1[1].re == y2[1].re;
  for (std::size_t k = 0; k < yw.size(); ++k) {
    const Complex p = mul(y1[k], conj(y2[k]));
    const float a = std::hypot(p.re, p.im);
    if (a == 0.0f) {
      yw[k] = {0.0f, 0.0f};
    } else if (same) {
      yw[k] = p;
    } else {
      yw[k] = {p.re / a, p.im / a};  // a NaN modulus lands here too
    }
  }
}

// Real part of the correlation rotated so that lag L sits at zero-based index npt/2 + L.
float rotated(std::span<const Complex> yw, std::size_t p) {
  const std::size_t h = yw.size() / 2;
  return p < h ? yw[h + p].re : yw[p - h].re;
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

  ws.fit(lay.npt);
  const std::size_t npt = static_cast<std::size_t>(lay.npt);
  const std::span<Complex> y1(ws.y1.data(), npt);
  const std::span<Complex> y2(ws.y2.data(), npt);
  const std::span<Complex> yw(ws.yw.data(), npt);

  taper(yy1, yy2, nptlen, lay.ntpr);
  zero_fill(yy1.first(len), lay.nhead, y1);
  zero_fill(yy2.first(len), lay.nhead, y2);
  fork(lay.npt, +1, y1);
  fork(lay.npt, +1, y2);
  cross_spectrum(y1, y2, yw);
  fork(lay.npt, -1, yw);

  // The caller's first window doubles as the home of the full rotated correlation.
  const std::size_t keep = std::min(npt, yy1.size());
  for (std::size_t p = 0; p < keep; ++p) yy1[p] = rotated(yw, p);
  const std::size_t first = static_cast<std::size_t>(lay.nhead + cut_shift(nptlen));
  for (std::size_t k = 0; k < len; ++k) yy[k] = rotated(yw, first + k);
}

void ccfunction(std::span<float> yy1, std::span<float> yy2, float dt1, int nptlen,
                std::span<float> yy, float timelen, float dist, float counter) {
  thread_local CcWorkspace ws;
  ccfunction(yy1, yy2, dt1, nptlen, yy, timelen, dist, counter, ws);
}

}  // namespace xcn
