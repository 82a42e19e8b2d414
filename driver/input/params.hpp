// Run parameters of xcorrnet_v3: the four command-line arguments as fixed-width fields, the run
// mode and the replace flag.
#pragma once

#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace xcn {

inline constexpr std::size_t kPathWidth = 100;  // station and name list paths
inline constexpr std::size_t kFlagWidth = 8;    // mode and replace arguments

struct RunParams {
  std::array<char, kPathWidth> sac_list;  // station list path, blank-padded
  std::array<char, kPathWidth> ccf_list;  // name list path, blank-padded
  std::array<char, kFlagWidth> inp3;      // mode argument
  std::array<char, kFlagWidth> inp4;      // replace argument
  char abc = ' ';                         // run mode: A, C, B (anything else computes nothing)
  char replace = ' ';                     // Y recomputes pairs whose output exists
};

// Copies text into a blank-padded field, cut at the field's width.
template <std::size_t N>
void fill_field(std::array<char, N>& field, std::string_view text) {
  field.fill(' ');
  text.copy(field.data(), std::min(text.size(), N));
}

// A field's text without its trailing blanks: the name used to open a file.
std::string trimmed(std::string_view field);

// The first character of the first item of a field: leading blanks skipped; the item ends
// before a blank, comma or slash; a quoted item runs to its closing mark. No value when the
// field is blank or its first item is empty.
std::optional<char> take_item(std::string_view field);

// Prints the seven-line usage text on standard output.
void print_usage();

// Fills the run parameters from the four arguments. A path cut at 100 characters is reported
// on `err`. Returns 0 on success, else the exit status after one error line on `err`.
int set_up_run(const char* const args[4], RunParams& params, std::FILE* err);

}  // namespace xcn
