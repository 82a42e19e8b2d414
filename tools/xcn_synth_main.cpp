// Writes a synthetic station network as SAC files with its station and name lists.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/commands.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  // The archive's options, wherever --sds stands among them.
  if (std::find(args.begin(), args.end(), "--sds") != args.end()) {
#ifdef XCN_HAVE_ARCHIVE
    return xcn::tools::run_synth_archive(args, stdout, stderr);
#else
    std::fputs("xcn_synth: --sds needs libmseed, libxml2 and libsoxr, which this build lacks\n",
               stderr);
    return 2;
#endif
  }
  if (std::find(args.begin(), args.end(), "--three") != args.end()) {
    return xcn::tools::run_synth_three(args, stdout, stderr);
  }
  return xcn::tools::run_synth(args, stdout, stderr);
}
