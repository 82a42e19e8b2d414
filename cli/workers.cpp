// The cap on the workers of a program's parallel regions.
#include "cli/workers.hpp"

#include <omp.h>

#include <algorithm>

namespace xcn::cli {

int most_workers() { return 4 * std::max(omp_get_num_procs(), 1); }

void cap_workers(std::FILE* err, const char* program, int asked, const char* option) {
  const char* source = asked > 0 ? option : "OMP_NUM_THREADS";
  const int wanted = asked > 0 ? asked : omp_get_max_threads();
  const int most = most_workers();
  if (wanted > most) {
    std::fprintf(err, "%s: warning: %s asks for %d workers; using %d, four per processor\n",
                 program, source, wanted, most);
  }
  if (asked > 0 || wanted > most) omp_set_num_threads(std::min(wanted, most));
}

}  // namespace xcn::cli
