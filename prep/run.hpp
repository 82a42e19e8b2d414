// xcn_prep: from miniSEED (an SDS archive or a list of files) to SAC records for xcorrnet_v3.
#pragma once

#include <cstdio>
#include <span>
#include <string>

namespace xcn::prep {

// Runs the program on its arguments (without the program name). Problems go to `err`, one line
// each, with the progress; the summary to `out`. Status 0, 1 (no data, nothing to do, or a
// folder that cannot be made), 2 (bad arguments) or 3 (some records could not be written, or
// some input file could not be read).
int run_prep(std::span<const std::string> args, std::FILE* out, std::FILE* err);

}  // namespace xcn::prep
