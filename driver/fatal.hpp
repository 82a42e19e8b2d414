// A fatal condition of the run: what ends it before or between its phases.
#pragma once

#include <string>

namespace xcn {

// One line on standard error, then this exit status.
struct Fatal {
  int status;
  std::string message;
};

}  // namespace xcn
