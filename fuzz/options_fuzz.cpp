// Fuzz target: a program's command line read through the shared piece (options with numbers,
// ranges, text and flags, operands), and numbers and ranges on their own.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/options.hpp"
#include "fuzz/common.hpp"

using xcn::fuzz::broken;

const xcn::fuzz::Messages xcn::fuzz::kMessages = xcn::fuzz::Messages::kNone;

namespace {

// Every way a number or a range may be read agrees with the others.
void check_numbers(const std::string& arg) {
  double real = 0;
  const bool is_real = xcn::cli::parse_number(arg, real);
  if (is_real && !std::isfinite(real)) broken("a real that is not finite");
  int whole = 0;
  if (xcn::cli::parse_number(arg, whole)) {
    if (!is_real || real != whole) broken("a whole number that is not the same real");
    std::uint64_t big = 0;
    if (whole >= 0 &&
        (!xcn::cli::parse_number(arg, big) || big != static_cast<std::uint64_t>(whole))) {
      broken("a whole number that does not fit 64 bits");
    }
  }
  float single = 0;
  if (xcn::cli::parse_number(arg, single) && !std::isfinite(single)) broken("an infinite float");
  double low = 0;
  double high = 0;
  if (xcn::cli::parse_range(arg, low, high) && !(std::isfinite(low) && std::isfinite(high))) {
    broken("a range that is not finite");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte: whether the program takes operands; the rest, arguments split at NUL.
  const bool operands = (data[0] & 1) != 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  std::vector<std::string> args;
  for (std::size_t start = 0; start <= bytes.size() && args.size() < 32;) {
    const std::size_t end = std::min(bytes.find('\0', start), bytes.size());
    args.emplace_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  for (const std::string& arg : args) check_numbers(arg);

  int count = 0;
  double rate = 0;
  double low = 0;
  double high = 0;
  std::string name;
  bool flag = false;
  const xcn::cli::Option options[] = {
      xcn::cli::number_option("--count", "a whole number from 1 to 9", count, 1, 9),
      xcn::cli::number_option("--rate", "a rate over 0", rate, 1e-9, 1e9),
      {"--band", "a band LOW-HIGH",
       [&](const std::string& v) { return xcn::cli::parse_range(v, low, high) && low < high; }},
      xcn::cli::text_option("--name", "a name", name),
      xcn::cli::flag_option("--flag", flag),
  };
  std::vector<std::string> taken;
  xcn::fuzz::Memory out;
  xcn::fuzz::Memory err;
  const xcn::cli::Program program{"prog", "usage: prog\n"};
  const auto status =
      program.read(args, options, operands ? &taken : nullptr, out.stream, err.stream);
  const std::string said = err.taken();
  if (status && *status != 0 && *status != 2) broken("a status other than 0 or 2");
  if (status == 0 && (out.taken() != "usage: prog\n" || !said.empty())) broken("help");
  if (status == 2 && (!said.starts_with("prog: ") || !said.ends_with("; see prog --help\n"))) {
    broken("a refusal that is not one line pointing to --help");
  }
  if (!status) {
    if (!said.empty()) broken("a run with something said");
    if (count != 0 && (count < 1 || count > 9)) broken("a count outside its range");
    if (rate != 0 && !(rate >= 1e-9 && rate <= 1e9)) broken("a rate outside its range");
    for (const std::string& operand : taken) {
      if (operand.starts_with("--")) broken("an option taken for an operand");
    }
  }
  return 0;
}
