// How many workers a program's parallel regions get.
#pragma once

#include <cstdio>

namespace xcn::cli {

// The most workers a parallel region is given: four per processor.
int most_workers();

// Sets the workers of the parallel regions to come: `asked` of them (0: as OMP_NUM_THREADS or
// the runtime's default has it), at most four per processor, with one warning on `err` when
// more are asked (a team of 100000 cannot be started, and the parallel runtime crashes trying).
// `option` names the option that asked ("--threads").
void cap_workers(std::FILE* err, const char* program, int asked = 0,
                 const char* option = "--threads");

}  // namespace xcn::cli
