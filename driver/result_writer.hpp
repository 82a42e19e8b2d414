// The result writer: the progress line of a computed pair and its result file, written under
// the one lock that every use of the SAC library from the workers takes.
#pragma once

#include <mutex>
#include <string>

#include "driver/geometry.hpp"
#include "driver/pairs.hpp"
#include "driver/windows.hpp"

namespace xcn {

// One process-wide lock around every use of the SAC library from the pair loop.
std::mutex& library_lock();

// Prints the progress line of a computed pair and writes its result file; a write that fails
// gets a line on standard error and counts in the run's tally.
void finish_pair(const Run& run, int ij, const Geometry& g, Stack& stack);

// Why wsac0 failed: the system's reason (`error`, errno after the call) or, when no system
// call failed, the meaning of its error number.
std::string write_failure(int nerr, int error);

// Header fields of the current header by name, from blank-padded text or a value.
void set_text(const char* field, const char* value, int length);
void set_real(const char* field, float value);
void set_integer(const char* field, int value);

}  // namespace xcn
