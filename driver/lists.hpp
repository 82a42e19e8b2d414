// The two input lists: the name list (output file name of every pair) and the station list
// (one SAC file per line).
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "driver/fatal.hpp"
#include "driver/limits.hpp"
#include "msg/text.hpp"

namespace xcn {

inline constexpr std::size_t kMaxLine = 65536;  // characters kept of one list line

using Name = std::array<char, kNameWidth>;

// One line of a list file: its first kMaxLine characters, and how many it has in all.
struct ListLine {
  std::string text;
  std::size_t length = 0;
  bool operator==(const ListLine&) const = default;
};

// Lines of a list file: LF, CR LF and CR end a line, and a last line without an end counts
// too; a UTF-8 byte-order mark before the first line is not part of it. Only regular files and
// pipes are read (a list may be `<(ls *.sac)`); a file that does not exist is created empty.
// Throws Fatal when the list is anything else or cannot be opened or read.
std::vector<ListLine> read_list_file(const std::string& path, const char* what);

// The name of one name-list line: a line of up to 50 characters is the name, a longer one gives
// the last 50 of its first 100 characters; trailing white space is not part of it. `cut` tells
// whether characters were dropped.
Name name_from_line(std::string_view line, bool* cut);
// The 100-character station entry of one station-list line, without trailing white space.
std::array<char, kEntryWidth> entry_from_line(std::string_view line, bool* cut);

// A NUL cannot be part of a file name: a line holding one names no file.
bool holds_nul(std::string_view line);
// The line as it can be shown, each NUL written as \0.
std::string shown_line(std::string_view line);

// Reads the name list; every cut or blank name is reported on `err` with its line number.
std::vector<Name> read_name_list(const std::string& path, std::FILE* err);

}  // namespace xcn
