// Rotates the component correlations of three-component station pairs into R, T and Z.
#include <string>
#include <vector>

#include "rotate/command.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return xcn::rotate::run_rotate(args, stdout, stderr);
}
