// The xcn_stack command line: runs of results in, stacks over days out.
#pragma once

#include <cstdio>
#include <span>
#include <string>

namespace xcn::stack {

// xcn_stack --out DIR [--kind both|linear|pws] [--nu NU] [--substack LEN [--step STEP]] INPUT...
// Each INPUT is a run's results: a name list of xcorrnet_v3 (names relative to its folder) or a
// folder. Prints the runs and a summary on `out`, problems and progress on `err`; returns the
// exit status (0, 1 nothing to stack, 2 bad arguments or inputs, 3 some stack not written).
int run_stack(std::span<const std::string> args, std::FILE* out, std::FILE* err);

}  // namespace xcn::stack
