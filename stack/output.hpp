// Writing stacks and their name lists: a SAC file per stack through our library with the header
// of the pair's day results, each file written aside and renamed into place, never over an
// input or over anything but a regular file, with permissions that honour the umask.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "results/inputs.hpp"
#include "sacio/header_model.hpp"

namespace xcn::stack {

// The library's one lock: every sequence from a read or a header change to the file image.
std::mutex& library_lock();

// A copy of the current header (take and put it back under library_lock()).
struct SavedHeader {
  NumericBlock words;
  char khdr[kCharSlots * kSlotWidth];
};
SavedHeader save_header();
void restore_header(const SavedHeader& h);

// What no output may replace.
class OutputGuard {
 public:
  explicit OutputGuard(std::vector<results::FileKey> inputs);
  // Why `path` may not be written, or empty.
  std::string refusal(const std::string& path) const;

 private:
  std::vector<results::FileKey> inputs_;  // sorted
};

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

// Writes the lines of a name list, each with a newline, aside and renamed into place.
std::string write_name_list(const std::string& path, std::span<const std::string> lines,
                            const OutputGuard& guard);

// Makes the folder (and its parents); the reason when it cannot, or empty.
std::string make_folder(const std::string& path);

}  // namespace xcn::stack
