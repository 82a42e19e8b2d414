// Writing stacks: a SAC file per stack with the header of the pair's day results, through the
// writing that every program making files of results shares.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "results/output.hpp"

namespace xcn::stack {

using results::library_lock;
using results::OutputGuard;
using results::restore_header;
using results::save_header;
using results::SavedHeader;
using results::write_name_list;

// One stack file.
struct StackFile {
  std::string path;
  const SavedHeader* header = nullptr;  // of the pair's first stacked day
  std::optional<std::int64_t> time;     // the stack's reference time; none: undefined
  int days = 0;                         // day results it holds (USER0)
  const char* kind = "LINEAR";          // KUSER0
  std::optional<float> nu;              // USER1, for a phase-weighted stack
};

// Writes the stack; the reason it could not be written, or empty. The samples may be changed
// (the library leaves them in file byte order).
std::string write_stack(const StackFile& f, std::span<float> samples, const OutputGuard& guard);

// Makes the folder (and its parents); the reason when it cannot, or empty.
std::string make_folder(const std::string& path);

}  // namespace xcn::stack
