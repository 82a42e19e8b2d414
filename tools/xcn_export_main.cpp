// Writes the results of a run container as SAC files.
#include <string>
#include <vector>

#include "tools/commands.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return xcn::tools::run_export(args, stdout, stderr);
}
