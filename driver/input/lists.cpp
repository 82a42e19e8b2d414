// Reading the name list and the station list.
#include "driver/input/lists.hpp"

#include "driver/console.hpp"
#include "driver/input/params.hpp"
#include "msg/message.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {

std::vector<ListLine> read_list_file(const std::string& path, const char* what) {
  ListFileRules rules;
  rules.create_missing = true;
  std::vector<ListLine> lines;
  std::string error;
  if (!read_list_lines(path, what, rules, lines, error)) {
    throw Fatal{2, "xcorrnet_v3: error: " + error};
  }
  return lines;
}

std::vector<Name> read_name_list(const std::string& path, std::FILE* err) {
  const std::vector<ListLine> lines = read_list_file(path, "name list");
  std::vector<Name> names;
  names.reserve(lines.size());
  for (std::size_t k = 0; k < lines.size(); ++k) {
    bool cut = false;
    if (holds_nul(lines[k].text)) {
      // The name would end at the NUL and the result land under another name: no name.
      names.push_back(name_from_line("", &cut));
      std::fprintf(err,
                   "xcorrnet_v3: warning: line %zu of the name list holds a NUL byte; pair %zu "
                   "is skipped\n",
                   k + 1, k + 1);
      continue;
    }
    names.push_back(name_from_line(lines[k].text, &cut));
    const std::string used = trimmed(std::string_view(names.back().data(), kNameWidth));
    if (used.empty()) {
      // The pair keeps its place in the order, but a file cannot be named by nothing.
      std::fprintf(err,
                   "xcorrnet_v3: warning: line %zu of the name list is blank; pair %zu is "
                   "skipped\n",
                   k + 1, k + 1);
    } else if (cut) {
      std::fprintf(err,
                   "xcorrnet_v3: warning: line %zu of the name list has %zu characters; "
                   "using the name \"%s\"\n",
                   k + 1, lines[k].length, used.c_str());
    }
  }
  return names;
}

}  // namespace xcn
