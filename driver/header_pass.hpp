// The header pass: the final header of every listed result, once all pairs are done.
#pragma once

#include <cstdio>

#include "driver/pairs.hpp"

namespace xcn {

// Rewrites every listed result file that exists with its final header.
void header_pass(const Run& run, std::FILE* err);

}  // namespace xcn
