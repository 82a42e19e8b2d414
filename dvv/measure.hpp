// Measuring dv/v of a pair: its reference prepared once (filtered, its stretch grid and its
// MWCS spectra), then any number of current traces measured against it.
//
// Use: one Workspace per worker; per pair, prepare() the reference stack, then measure() the
// pair's current traces (its sub-stacks or days), all at once (two traces share each
// band-pass transform) or one by one; the two agree to the rounding of the transform. Nothing is
// allocated per measurement once the workspace has grown to the pair's sizes. A Reference is
// read-only after prepare and may be shared by workers.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "dvv/curve.hpp"
#include "dvv/lags.hpp"
#include "dvv/measurement.hpp"
#include "dvv/mwcs.hpp"
#include "dvv/settings.hpp"
#include "dvv/stretching.hpp"
#include "signal/complex.hpp"

namespace xcn::dvv {

// What prepare() makes of a reference; measure() reads it.
struct Reference {
  Settings settings;
  int npts = 0;
  double delta = 0;
  int length = 0;            // the band-pass transform's length
  std::vector<float> gains;  // the band-pass's gains of bins 0 .. length/2
  Lags lags;
  ReferenceCurve curve;
  StretchGrid grid;  // with settings.stretching
  MwcsPlan mwcs;     // with settings.mwcs
};

// Buffers of one worker; their contents mean nothing between calls.
struct Workspace {
  std::vector<Complex> transform;
  std::vector<Complex> upsampled;
  std::vector<float> filtered;
  std::vector<double> taps;
  std::vector<double> grid;
  StretchWork stretch;
  MwcsWork mwcs;
};

// Prepares a reference of reference.size() samples at delta s. False with `error` (a reason
// for a message, such as "the band must lie below the Nyquist frequency of 0.5 Hz") when the
// settings do not fit the trace or the reference cannot serve: not finite, or zero over the
// lag window after the band-pass.
bool prepare(std::span<const float> reference, double delta, const Settings& settings,
             Reference& ref, Workspace& work, std::string& error);

// Measures each current trace against the reference into out (as many as currents; extra
// currents are not measured), by the methods the settings ask for. Two traces share each band-pass
// transform, each scaled to a largest magnitude of 1 first (the measurements do not depend on the
// scale), so that neither drowns the other's rounding.
void measure(const Reference& ref, std::span<const std::span<const float>> currents,
             std::span<Measurements> out, Workspace& work);

// One current trace.
Measurements measure(const Reference& ref, std::span<const float> current, Workspace& work);

}  // namespace xcn::dvv
