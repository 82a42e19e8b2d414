// The xcn_rotate command line: results of three-component stations in, their correlations in
// the radial, transverse and vertical directions out.
#pragma once

#include <cstdio>
#include <span>
#include <string>

namespace xcn::rotate {

// xcn_rotate --out DIR INPUT...
// Each INPUT is a name list of results (names relative to its folder) or a folder of results,
// day results of xcorrnet_v3 or stacks of xcn_stack. For every pair of three-component sensors
// whose nine correlations are there, writes RR, RT, RZ, TR, TT, TZ, ZR, ZT and ZZ to DIR with
// the name list DIR/names.txt. Prints the summary on `out`, problems on `err`; returns the exit
// status (0, 1 nothing to rotate, 2 bad arguments or inputs, 3 some output not written).
int run_rotate(std::span<const std::string> args, std::FILE* out, std::FILE* err);

}  // namespace xcn::rotate
