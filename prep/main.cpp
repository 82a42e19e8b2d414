// Prepares miniSEED archives as SAC records, station lists and name lists for xcorrnet_v3.
#include <string>
#include <vector>

#include "prep/run.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return xcn::prep::run_prep(args, stdout, stderr);
}
