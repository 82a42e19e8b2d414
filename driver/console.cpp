// Console line layout: text, integer and real items, and whole-line output.
#include "driver/console.hpp"

#include <cmath>

#include "driver/ranks.hpp"

namespace xcn {

namespace {

constexpr int kIntegerWidth = 11;
constexpr int kRealWidth = 16;
constexpr int kFixedWidth = 12;  // fixed notation: right-aligned in 12, then 4 blanks
constexpr int kDigits = 9;

std::string right_align(const std::string& s, std::size_t width) {
  return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

}  // namespace

std::string format_real(float value) {
  char buf[64];
  const double v = value;
  const double mag = std::fabs(v);
  if (std::isnan(v)) return right_align("NaN", kRealWidth);
  if (std::isinf(v)) return right_align(v < 0 ? "-Infinity" : "Infinity", kRealWidth);
  if (mag == 0.0 || (mag >= 0.1 && mag < 1e9)) {
    // As many decimals as leave 9 significant digits; below 1 the leading zero is not one of
    // them (0.500000000), and zero itself prints as 0.00000000.
    int int_digits = 0;
    for (double p = 1.0; mag >= p; p *= 10.0) ++int_digits;
    const int decimals = mag == 0.0 ? kDigits - 1 : kDigits - int_digits;
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    std::string s(buf);
    if (decimals == 0) s += '.';
    return right_align(s, kFixedWidth) + "    ";
  }
  std::snprintf(buf, sizeof buf, "%.*E", kDigits - 1, v);
  return right_align(buf, kRealWidth);
}

void ConsoleLine::separate(Last next) {
  if (last_ == Last::kNone) {
    line_ += ' ';
  } else if (!(last_ == Last::kText && next == Last::kText)) {
    line_ += ' ';
  }
  last_ = next;
}

ConsoleLine& ConsoleLine::text(std::string_view item) {
  separate(Last::kText);
  line_ += item;
  return *this;
}

ConsoleLine& ConsoleLine::integer(std::int64_t item) {
  separate(Last::kNumber);
  line_ += right_align(std::to_string(item), kIntegerWidth);
  return *this;
}

ConsoleLine& ConsoleLine::real(float item) {
  separate(Last::kNumber);
  line_ += format_real(item);
  return *this;
}

void ConsoleLine::print(std::FILE* stream) const {
  std::string whole = line_;
  whole += '\n';
  if (stream == stdout) {
    ranks::print_lines(whole);
    return;
  }
  std::fwrite(whole.data(), 1, whole.size(), stream);
  std::fflush(stream);
}

void ConsoleBatch::add(const ConsoleLine& line) {
  constexpr std::size_t kBytes = std::size_t{64} << 10;
  text_ += line.str();
  text_ += '\n';
  if (text_.size() >= kBytes) flush();
}

void ConsoleBatch::flush() {
  if (text_.empty()) return;
  ranks::print_lines(text_);
  text_.clear();
}

}  // namespace xcn
