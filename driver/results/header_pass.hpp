// The header pass: the final header of every listed result, once all pairs are done.
#pragma once

#include <cstdio>

#include "driver/pairs.hpp"

namespace xcn {

// Gives every listed result file that exists its final header, writing only those whose bytes
// change (results of earlier runs, spoiled headers, another byte order): after a run that wrote
// its results itself it writes nothing. Results are visited on all workers; a result whose header
// is final already costs one read of its header, its samples are read only to be written.
void header_pass(const Run& run, std::FILE* err);

}  // namespace xcn
