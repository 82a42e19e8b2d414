// Measures velocity changes over time from stacks of correlations, pair by pair.
#include <string>
#include <vector>

#include "dvv/command.hpp"

// fontconfig, under cairo's text, keeps its font cache for the life of the process; a build
// with LeakSanitizer would report it, and then its suppression, at every exit.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return xcn::dvv::run_dvv(args, stdout, stderr);
}
