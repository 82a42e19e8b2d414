// Draws the cross-correlations of a name list as a record section.
#include <string>
#include <vector>

#include "tools/commands.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return xcn::tools::run_section(args, stdout, stderr);
}
