// Draws the cross-correlations of a name list as a record section.
#include <string>
#include <vector>

#include "tools/commands.hpp"

// fontconfig, under cairo's text, keeps its font cache for the life of the process; a build
// with LeakSanitizer would report it, and then its suppression, at every exit.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return xcn::tools::run_section(args, stdout, stderr);
}
