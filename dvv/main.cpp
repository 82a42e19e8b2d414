// Measures velocity changes over time from stacks of correlations, pair by pair.
#include <string>
#include <vector>

#include "dvv/command.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return xcn::dvv::run_dvv(args, stdout, stderr);
}
