// Row printing, ten values of six columns per line.
#include "signal/print.hpp"

#include <cmath>
#include <cstdio>
#include <string>

namespace xcn {

namespace {

constexpr int kPerLine = 10;
constexpr int kWidth = 6;

bool put_line(const std::string& line) {
  return std::fwrite(line.data(), 1, line.size(), stdout) == line.size();
}

// One value with one decimal, right-justified in six columns, or asterisks if it is too wide.
void append_field(std::string& line, float v) {
  char buf[64];
  if (std::isnan(v)) {
    std::snprintf(buf, sizeof buf, "%*s", kWidth, "NaN");
  } else if (std::isinf(v)) {
    std::snprintf(buf, sizeof buf, "%*s", kWidth, v < 0 ? "-Inf" : "Inf");
  } else {
    const int len = std::snprintf(buf, sizeof buf, "%*.1f", kWidth, static_cast<double>(v));
    if (len != kWidth) {
      line.append(kWidth, '*');
      return;
    }
  }
  line.append(buf);
}

}  // namespace

void twrit(int n, std::span<const float> arr) {
  if (!put_line("  \n")) return;
  if (n <= 0) {
    put_line("\n");
    return;
  }
  std::string line;
  for (int i = 0; i < n; ++i) {
    append_field(line, arr[i]);
    if ((i + 1) % kPerLine == 0 || i + 1 == n) {
      line += '\n';
      if (!put_line(line)) return;
      line.clear();
    }
  }
}

}  // namespace xcn
