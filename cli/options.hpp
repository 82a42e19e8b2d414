// Reading a program's command line: options and their values, numbers and ranges, and the one
// line that a bad command line gets.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace xcn::cli {

// The whole of `text` as a number of type T. Reals are read as from_chars reads them, with or
// without an exponent ("0.01", "1e-2"), and must be finite; whole numbers may be written either
// way ("86400", "8.64e4") and must fit T.
template <typename T>
bool parse_number(std::string_view text, T& value);

// "LOW-HIGH": two numbers joined by a hyphen, either of them with an exponent ("1e-2-0.1").
bool parse_range(std::string_view text, double& low, double& high);

// One option of a program.
struct Option {
  std::string name;   // "--out"
  std::string needs;  // what its value must be ("a number of 0 or more"); empty for a flag
  // Takes the value (an empty string for a flag); false when it cannot serve.
  std::function<bool(const std::string& value)> take;
};

// An option whose value is a number from `low` to `high`.
template <typename T>
Option number_option(std::string name, std::string needs, T& target, T low, T high) {
  return {std::move(name), std::move(needs), [&target, low, high](const std::string& v) {
            T n{};
            if (!parse_number(v, n) || n < low || n > high) return false;
            target = n;
            return true;
          }};
}
// An option whose value is any text but an empty one.
Option text_option(std::string name, std::string needs, std::string& target);
// An option without a value.
Option flag_option(std::string name, bool& target);

// A program as its command line shows it.
struct Program {
  const char* name;   // "xcn_stack"
  const char* usage;  // what --help prints

  // Reads the arguments (without the program name): each option with its value, the rest into
  // `operands` (null for a program that takes none). --help or -h prints the usage on `out` and
  // gives status 0; an unknown option, a missing or bad value or an operand where none is taken
  // prints the one line of `refuse` and gives 2. Nothing: the program runs.
  std::optional<int> read(std::span<const std::string> args, std::span<const Option> options,
                          std::vector<std::string>* operands, std::FILE* out, std::FILE* err) const;

  // The one line of a bad command line, "xcn_stack: ERROR; see xcn_stack --help"; status 2.
  int refuse(std::FILE* err, const std::string& error) const;
};

}  // namespace xcn::cli
