// The two input lists: the name list (output file name of every pair) and the station list
// (one SAC file per line).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "driver/fatal.hpp"
#include "driver/limits.hpp"
#include "driver/input/list_file.hpp"
#include "msg/text.hpp"

namespace xcn {

// The lines of a list as the tool reads them (see read_list_lines); a list that does not exist
// is created empty. Throws Fatal when the list is anything else or cannot be opened or read.
std::vector<ListLine> read_list_file(const std::string& path, const char* what);

// Reads the name list; every cut or blank name is reported on `err` with its line number.
std::vector<Name> read_name_list(const std::string& path, std::FILE* err);

}  // namespace xcn
