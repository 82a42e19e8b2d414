// The phases of one run of xcorrnet_v3, from the argument check to the header pass.
#pragma once

namespace xcn {

// Runs the tool on its command line; returns the exit status.
int run_tool(int argc, char** argv);

}  // namespace xcn
