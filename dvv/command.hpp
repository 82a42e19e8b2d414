// The xcn_dvv command line: a reference stack and dated results in, dv/v per pair and for the
// network out.
#pragma once

#include <cstdio>
#include <span>
#include <string>

namespace xcn::dvv {

// xcn_dvv --ref REF --band LOW-HIGH --out DIR [options] INPUT...
// REF and each INPUT are a name list of results or a folder of them; each INPUT is one time
// (its results' reference time). Writes DIR/dvv.csv, DIR/network.csv and DIR/dvv.png. Prints
// the inputs and a summary on `out`, problems and progress on `err`; returns the exit status
// (0, 1 nothing to measure, 2 bad arguments or inputs, 3 some output not written).
int run_dvv(std::span<const std::string> args, std::FILE* out, std::FILE* err);

}  // namespace xcn::dvv
