// The outcome of one measurement of dv/v, and what each outcome means.
#pragma once

#include <limits>
#include <string_view>

namespace xcn::dvv {

enum class Status {
  ok,            // dvv, error and cc hold the measurement
  at_limit,      // stretching: the best fit lies at +-max_dvv; dvv is that limit, cc its fit
  no_windows,    // MWCS: no window reached the coherence asked for; cc is their mean coherence
  silent,        // the filtered current is zero over the lag window
  not_finite,    // the current holds samples that are not finite
  empty,         // the current is all not-a-number (a pair without a window that day)
  wrong_length,  // the current has another number of samples than the reference
  not_measured,  // the method was not asked for
};

// A short text for messages: "the best fit lies at the edge of the search", ...
std::string_view status_text(Status status);

struct Measurement {
  Status status = Status::not_measured;
  double dvv = std::numeric_limits<double>::quiet_NaN();
  double error = std::numeric_limits<double>::quiet_NaN();  // one standard deviation of dvv
  // Stretching: the correlation coefficient of the best fit. MWCS: the mean coherence of the
  // windows kept (of all windows when none was kept).
  double cc = std::numeric_limits<double>::quiet_NaN();
  int windows = 0;  // MWCS: the windows kept
};

struct Measurements {
  Measurement stretching;
  Measurement mwcs;
};

}  // namespace xcn::dvv
