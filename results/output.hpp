// Writing what programs make of results: SAC files with a header taken from a result, and name
// lists, each written aside and renamed into place, never over an input or over anything but a
// writable regular file, with permissions that honour the umask.
#pragma once

#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "results/inputs.hpp"
#include "sacio/header_model.hpp"

namespace xcn::results {

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
  explicit OutputGuard(std::vector<FileKey> inputs);
  // Why `path` may not be written, or empty.
  std::string refusal(const std::string& path) const;

 private:
  std::vector<FileKey> inputs_;  // sorted
};

// Writes the samples under `header` as `change` leaves it (it runs on the current header under
// the lock), with E undefined and LOVROK and LEVEN true, as a file of ours. The reason it could
// not be written, or empty. The samples may be changed (the library leaves them in file byte
// order).
std::string write_sac(const std::string& path, const SavedHeader& header,
                      const std::function<void()>& change, std::span<float> samples,
                      const OutputGuard& guard);

// Writes the lines of a name list, each with a newline, aside and renamed into place.
std::string write_name_list(const std::string& path, std::span<const std::string> lines,
                            const OutputGuard& guard);

}  // namespace xcn::results
