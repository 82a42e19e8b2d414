// Stacks the results of several runs (days) of xcorrnet_v3, pair by pair.
#include <string>
#include <vector>

#include "stack/command.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return xcn::stack::run_stack(args, stdout, stderr);
}
