// Frequency-domain correlation of two equal-length windows (ccfunction) and its work storage.
//
// Two different windows give a phase-only cross-correlation: every non-zero cross-spectral
// value is divided by its modulus, so the result lies within [-1, 1]. Two identical windows
// (detected on the real parts of the first two spectral values) give the plain, unnormalised
// autocorrelation of the tapered window. A positive lag means a feature occurs later in yy1
// than in yy2. Lag 0 lies at yy(nptlen/2 + 1) (one-based, integer division) for every length,
// which is where the result's time axis puts time 0.
//
// Scaling: the inverse transform carries the 1/npt factor; nothing else is normalised.
// Aliasing: yy1, yy2 and yy must be three distinct arrays.
// Threads: no shared state. Concurrent calls need their own arrays and their own workspace;
// the overload without a workspace uses one per thread.
#pragma once

#include <span>
#include <vector>

#include "signal/complex.hpp"

namespace xcn {

// How a window of nptlen samples is laid out in the transform. Every member is 0 when
// nptlen <= 0 or the window is too long to transform (above 2^30 samples).
struct CcLayout {
  int npt;    // padded transform length, the smallest power of two not below nptlen
  int nhead;  // zeros ahead of the data
  int ntpr;   // taper length at each end (0: no taper)
  int lag0;   // one-based index of lag 0 in the result
};
CcLayout cc_layout(int nptlen);

// Work storage of one worker: grows to the largest transform seen and never shrinks, so
// repeated calls allocate nothing once the worker has met its longest window.
struct CcWorkspace {
  std::vector<Complex> y1;  // first window, zero-filled and transformed
  std::vector<Complex> y2;  // second window, zero-filled and transformed
  std::vector<Complex> yw;  // cross-spectrum, then the correlation
  void fit(int npt);
};

// Correlates the windows yy1[0 .. nptlen-1] and yy2[0 .. nptlen-1] into yy[0 .. nptlen-1].
// Both windows come back tapered; yy1 is then overwritten with the full rotated correlation of
// npt values (lag L at one-based index npt/2 + 1 + L), as far as yy1 has room for it.
// dt1, timelen, dist and counter are accepted for the caller's convenience and ignored.
// nptlen <= 0, or any of the three arrays shorter than nptlen, leaves everything untouched.
void ccfunction(std::span<float> yy1, std::span<float> yy2, float dt1, int nptlen,
                std::span<float> yy, float timelen, float dist, float counter, CcWorkspace& ws);

// The same with the calling thread's own workspace.
void ccfunction(std::span<float> yy1, std::span<float> yy2, float dt1, int nptlen,
                std::span<float> yy, float timelen, float dist, float counter);

}  // namespace xcn
