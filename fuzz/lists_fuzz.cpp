// Fuzz target: the station and name list readers on arbitrary files (CR, CR LF, NUL bytes,
// byte-order marks, tabs, very long lines), and the cutting of one line into a name or a
// station entry.
#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "driver/input/lists.hpp"
#include "fuzz/common.hpp"

namespace {

using xcn::fuzz::broken;

// The field holds `text` from its start, then blanks.
template <std::size_t N>
bool holds(const std::array<char, N>& field, std::string_view text) {
  if (text.size() > N) return false;
  return std::equal(text.begin(), text.end(), field.begin()) &&
         std::all_of(field.begin() + static_cast<std::ptrdiff_t>(text.size()), field.end(),
                     [](char c) { return c == ' '; });
}

std::string_view without_trailing_space(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n\v\f";
  while (!text.empty() && kSpace.find(text.back()) != std::string_view::npos) {
    text.remove_suffix(1);
  }
  return text;
}

void check_line(std::string_view line) {
  bool cut = false;
  const auto entry = xcn::entry_from_line(line, &cut);
  if (cut != (line.size() > xcn::kEntryWidth)) broken("entry cut flag");
  if (!holds(entry, without_trailing_space(line.substr(0, xcn::kEntryWidth)))) {
    broken("entry is not the line's start");
  }

  const xcn::Name name = xcn::name_from_line(line, &cut);
  if (cut != (line.size() > xcn::kNameWidth)) broken("name cut flag");
  const std::string_view head = line.substr(0, 2 * xcn::kNameWidth);
  const std::string_view used =
      head.size() > xcn::kNameWidth ? head.substr(head.size() - xcn::kNameWidth) : head;
  if (!holds(name, without_trailing_space(used))) {
    broken("name is not the end of the first 100 characters");
  }
  if (xcn::holds_nul(xcn::shown_line(line))) broken("a shown line holds a NUL");
}

}  // namespace

const xcn::fuzz::Messages xcn::fuzz::kMessages = xcn::fuzz::Messages::kNone;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  check_line(bytes);

  const std::string path = xcn::fuzz::scratch_file("list");
  xcn::fuzz::write_file(path, data, size);
  const std::vector<xcn::ListLine> lines = xcn::read_list_file(path, "station list");
  std::size_t chars = 0;
  for (const auto& line : lines) {
    if (line.text.find_first_of("\r\n") != std::string::npos) broken("a line holds a line end");
    if (line.text.size() != std::min(line.length, xcn::kMaxLine)) broken("line kept in part");
    chars += line.length;
    check_line(line.text);
  }
  if (chars > size || lines.size() > size) broken("more text than the file holds");
  const bool only_mark = bytes == "\xEF\xBB\xBF";
  if (size > 0 && bytes.back() != '\n' && bytes.back() != '\r' && lines.empty() && !only_mark) {
    broken("a last line without its end was lost");
  }
  const std::vector<xcn::Name> names = xcn::read_name_list(path, xcn::fuzz::null_stream());
  if (names.size() != lines.size()) broken("name count differs from the line count");
  return 0;
}
