// Options, numbers and ranges of a command line, and its one-line error.
#include "cli/options.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <system_error>

namespace xcn::cli {
namespace {

bool read_real(std::string_view text, double& value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && std::isfinite(value);
}

bool is_help(const std::string& arg) { return arg == "--help" || arg == "-h"; }

}  // namespace

template <typename T>
bool parse_number(std::string_view text, T& value) {
  if constexpr (std::is_floating_point_v<T>) {
    double v = 0;
    // A float option must not turn a large value into infinity.
    if (!read_real(text, v) || std::fabs(v) > static_cast<double>(std::numeric_limits<T>::max())) {
      return false;
    }
    value = static_cast<T>(v);
    return true;
  } else {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec == std::errc() && ptr == end) return true;
    // Written as a real: whole, and within T (2^digits is the first value past its top).
    double v = 0;
    const double top = std::ldexp(1.0, std::numeric_limits<T>::digits);
    const double bottom = std::is_signed_v<T> ? -top : 0.0;
    if (!read_real(text, v) || v != std::trunc(v) || v < bottom || v >= top) return false;
    value = static_cast<T>(v);
    return true;
  }
}

template bool parse_number(std::string_view, int&);
template bool parse_number(std::string_view, long&);
template bool parse_number(std::string_view, long long&);
template bool parse_number(std::string_view, unsigned long&);
template bool parse_number(std::string_view, unsigned long long&);
template bool parse_number(std::string_view, float&);
template bool parse_number(std::string_view, double&);

bool parse_range(std::string_view text, double& low, double& high) {
  // The hyphen between the two is the first after which both sides read as numbers: one of
  // an exponent ("1e-2") leaves "1e" before it, which is none.
  for (std::size_t dash = text.find('-', 1); dash != std::string_view::npos;
       dash = text.find('-', dash + 1)) {
    if (read_real(text.substr(0, dash), low) && read_real(text.substr(dash + 1), high)) {
      return true;
    }
  }
  return false;
}

Option text_option(std::string name, std::string needs, std::string& target) {
  return {std::move(name), std::move(needs), [&target](const std::string& v) {
            target = v;
            return !v.empty();
          }};
}

Option flag_option(std::string name, bool& target) {
  return {std::move(name), "", [&target](const std::string&) {
            target = true;
            return true;
          }};
}

std::optional<int> Program::read(std::span<const std::string> args, std::span<const Option> options,
                                 std::vector<std::string>* operands, std::FILE* out,
                                 std::FILE* err) const {
  for (std::size_t k = 0; k < args.size(); ++k) {
    const std::string& arg = args[k];
    if (is_help(arg)) {
      std::fputs(usage, out);
      return 0;
    }
    if (!arg.starts_with("--")) {
      if (operands == nullptr) return refuse(err, "unexpected argument \"" + arg + "\"");
      operands->push_back(arg);
      continue;
    }
    const auto option = std::find_if(options.begin(), options.end(),
                                     [&](const Option& o) { return o.name == arg; });
    if (option == options.end()) return refuse(err, "unknown option " + arg);
    if (option->needs.empty()) {
      option->take("");
      continue;
    }
    if (k + 1 == args.size()) return refuse(err, arg + " needs " + option->needs);
    // A value is the next argument whatever it looks like, but for a request for help.
    if (is_help(args[k + 1])) continue;
    const std::string& value = args[++k];
    if (!option->take(value)) {
      return refuse(err, arg + " needs " + option->needs + ", not \"" + value + "\"");
    }
  }
  return std::nullopt;
}

int Program::refuse(std::FILE* err, const std::string& error) const {
  std::fprintf(err, "%s: %s; see %s --help\n", name, error.c_str(), name);
  return 2;
}

}  // namespace xcn::cli
