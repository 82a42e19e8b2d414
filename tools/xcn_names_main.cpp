// Writes the name list of a station list, in the tool's pair order.
#include <string>
#include <vector>

#include "tools/commands.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return xcn::tools::run_names(args, stdout, stderr);
}
