// Result names checked once before the pair loop: which pairs may write their result.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace xcn {

struct Run;

// What a pair may do with its result name.
enum class ResultUse : unsigned char {
  kWrite,       // write and complete it
  kUnnamed,     // no name: a blank line, or beyond the name list
  kRepeated,    // an earlier pair has the same file
  kInput,       // the name is one of the run's own inputs
  kNotRegular,  // something other than a regular file stands under the name
  kForeign,     // a SAC file kept as it is: no correlation (a station record), or locked
};

// Decides, for every pair, whether it may use its result name, and reports on `err` every
// name used by more than one pair, every name that is one of the run's inputs (a listed record
// or either list) and every name taken by something other than a regular file. The last two
// are checked only for pairs whose stations are both usable: no other pair touches its file.
// With replace Y an existing result is read first, and one whose time axis is not a result's
// (a station record under a result's name, when the two lists were swapped) or whose LOVROK
// is false is reported and kept; with N the header pass makes the same test (kept_as_is)
// before it completes a file.
// When `present` is given it tells, per pair, whether something stood under its name.
std::vector<ResultUse> check_result_names(const Run& run, std::FILE* err,
                                          std::vector<char>* present = nullptr);

// "a, b and c": at most `shown` items, then how many more there are.
std::string and_list(const std::vector<std::string>& items, std::size_t shown = 10);

}  // namespace xcn
