// Reading the name list and the station list.
#include "driver/lists.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "driver/console.hpp"
#include "driver/params.hpp"
#include "msg/message.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {

std::vector<std::string> read_list_file(const std::string& path, const char* what) {
  auto fail = [&](const char* reason) {
    return Fatal{2, std::string("xcorrnet_v3: error: cannot open the ") + what + " \"" + path +
                        "\": " + reason};
  };
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) throw fail(std::strerror(errno));
    // A list that does not exist is created empty and holds no line.
    std::ofstream create(path);
    if (!create) throw fail(std::strerror(errno));
    return {};
  }
  if (S_ISDIR(st.st_mode)) throw fail("it is a directory");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw fail(std::strerror(errno));
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return lines;
}

Name name_from_line(std::string_view line, bool* cut) {
  // Of a longer line the last 50 of its first 100 characters name the file.
  const std::string_view head = line.substr(0, 2 * kNameWidth);
  const std::string_view used =
      head.size() > kNameWidth ? head.substr(head.size() - kNameWidth) : head;
  *cut = line.size() > kNameWidth;
  Name name;
  fill_field(name, used);
  return name;
}

std::array<char, kEntryWidth> entry_from_line(std::string_view line, bool* cut) {
  *cut = line.size() > kEntryWidth;
  std::array<char, kEntryWidth> entry;
  fill_field(entry, line);
  return entry;
}

std::vector<Name> read_name_list(const std::string& path, std::FILE* err) {
  const std::vector<std::string> lines = read_list_file(path, "name list");
  std::vector<Name> names;
  names.reserve(lines.size());
  for (std::size_t k = 0; k < lines.size(); ++k) {
    bool cut = false;
    names.push_back(name_from_line(lines[k], &cut));
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
                   k + 1, lines[k].size(), used.c_str());
    }
  }
  return names;
}

}  // namespace xcn
