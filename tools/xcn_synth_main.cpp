// Writes a synthetic station network as SAC files with its station and name lists.
#include <string>
#include <vector>

#include "tools/commands.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
#ifdef XCN_HAVE_ARCHIVE
  if (!args.empty() && args[0] == "--sds")
    return xcn::tools::run_synth_archive(args, stdout, stderr);
#endif
  return xcn::tools::run_synth(args, stdout, stderr);
}
