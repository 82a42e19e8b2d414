// The two input lists: the name list (output file name of every pair) and the station list
// (one SAC file per line).
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "driver/fatal.hpp"
#include "msg/text.hpp"

namespace xcn {

inline constexpr std::size_t kNameWidth = 50;    // output names
inline constexpr std::size_t kEntryWidth = 100;  // station list entries

using Name = std::array<char, kNameWidth>;

// Lines of a text file; LF and CR LF end a line, and a last line without an end counts too.
// A file that does not exist is created empty. Throws Fatal when it cannot be opened.
std::vector<std::string> read_list_file(const std::string& path, const char* what);

// The name of one name-list line: a line of up to 50 characters is the name, a longer one gives
// the last 50 of its first 100 characters. `cut` tells whether characters were dropped.
Name name_from_line(std::string_view line, bool* cut);
// The 100-character station entry of one station-list line.
std::array<char, kEntryWidth> entry_from_line(std::string_view line, bool* cut);

// Reads the name list; every cut or blank name is reported on `err` with its line number.
std::vector<Name> read_name_list(const std::string& path, std::FILE* err);

}  // namespace xcn
