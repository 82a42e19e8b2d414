// Run set-up: usage text, argument fields, and the mode and replace items.
#include "driver/input/params.hpp"

#include <cstring>

#include "driver/console.hpp"

namespace xcn {

std::string trimmed(std::string_view field) {
  const auto end = field.find_last_not_of(' ');
  return std::string(end == std::string_view::npos ? std::string_view{} : field.substr(0, end + 1));
}

std::optional<char> take_item(std::string_view field) {
  const auto start = field.find_first_not_of(' ');
  if (start == std::string_view::npos) return std::nullopt;
  const char first = field[start];
  if (first == '\'' || first == '"') {
    // What lies between the marks; an unclosed quote runs to the end of the field.
    const std::string_view rest = field.substr(start + 1);
    const std::string_view item = rest.substr(0, rest.find(first));
    if (item.empty()) return std::nullopt;
    return item.front();
  }
  if (first == ',' || first == '/') return std::nullopt;
  return first;
}

void print_usage() {
  ConsoleLine().print();
  ConsoleLine().text("xcorrnet_v3 is used to compute the cross-correlation function!").print();
  ConsoleLine().print();
  ConsoleLine()
      .text("Usage: xcorrnet_v3 [sac_list] [ccf_list] [ACF(A)/CCF(C)/Both(B)] [replace(Y/N)]")
      .print();
  ConsoleLine()
      .text("  Ex.: xcorrnet_v3  sac_list   ccf_list         B                     Y")
      .print();
  ConsoleLine().print();
  ConsoleLine().text("     replace = Y, the exist CCFs will be replace with the new one").print();
}

namespace {

template <std::size_t N>
void take_path(std::array<char, N>& field, const char* arg, const char* what, std::FILE* err) {
  fill_field(field, arg);
  if (std::strlen(arg) > N) {
    std::fprintf(err,
                 "xcorrnet_v3: warning: the %s argument is longer than %zu characters; "
                 "using \"%s\"\n",
                 what, N, trimmed(std::string_view(field.data(), N)).c_str());
  }
}

// Takes the one-character value of a mode or replace argument, or reports it and gives 0.
template <std::size_t N>
char take_flag(std::array<char, N>& field, const char* arg, const char* what, std::FILE* err) {
  fill_field(field, arg);
  const auto value = take_item(std::string_view(field.data(), N));
  if (!value) {
    std::fprintf(err, "xcorrnet_v3: error: the %s argument \"%s\" has no value\n", what, arg);
    return 0;
  }
  return *value;
}

}  // namespace

int set_up_run(const char* const args[4], RunParams& params, std::FILE* err) {
  take_path(params.sac_list, args[0], "station list (sac_list)", err);
  take_path(params.ccf_list, args[1], "name list (ccf_list)", err);
  params.abc = take_flag(params.inp3, args[2], "mode", err);
  if (params.abc == 0) return 2;
  params.replace = take_flag(params.inp4, args[3], "replace", err);
  if (params.replace == 0) return 2;
  // Kept as they work (only upper-case A, C, B and Y select), but said: a lower-case letter
  // would otherwise compute or replace nothing without a word.
  if (params.abc != 'A' && params.abc != 'C' && params.abc != 'B') {
    std::fprintf(err,
                 "xcorrnet_v3: warning: the mode \"%c\" selects no pair: only A, C or B (upper "
                 "case) select auto-correlations, cross-correlations or both; nothing is "
                 "computed\n",
                 params.abc);
  }
  if (params.replace != 'Y' && params.replace != 'N') {
    std::fprintf(err,
                 "xcorrnet_v3: warning: the replace flag \"%c\" is not Y: existing results are "
                 "kept (only an upper-case Y replaces them)\n",
                 params.replace);
  }
  return 0;
}

}  // namespace xcn
