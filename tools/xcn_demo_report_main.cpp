// Tables where the correlation peaks of a demo run lie against the travel times.
#include <string>
#include <vector>

#include "tools/commands.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return xcn::tools::run_report(args, stdout, stderr);
}
