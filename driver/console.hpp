// The console line layout that every line the driver prints follows.
//
// A line with items begins with one blank; text items are written verbatim over their full
// width; integers are right-aligned in 11 columns; single-precision reals take 16 columns with
// 9 significant digits; one blank separates consecutive items, except two text items, which
// are joined directly. A line is built whole and written with one call, so lines printed by
// different workers never interleave.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace xcn {

// The 16-column layout of one single-precision real.
std::string format_real(float value);

class ConsoleLine {
 public:
  ConsoleLine& text(std::string_view item);
  ConsoleLine& integer(std::int64_t item);
  ConsoleLine& real(float item);

  // The line without its newline.
  const std::string& str() const { return line_; }
  // Writes the line and its newline with one call, then flushes the stream.
  void print(std::FILE* stream = stdout) const;

 private:
  enum class Last { kNone, kText, kNumber };
  void separate(Last next);

  std::string line_;
  Last last_ = Last::kNone;
};

// Lines to stdout gathered and written a few pages at a time, each line still whole: for the
// long tables of a large network, where one write per line would cost more than the lines.
class ConsoleBatch {
 public:
  ConsoleBatch() = default;
  ConsoleBatch(const ConsoleBatch&) = delete;
  ConsoleBatch& operator=(const ConsoleBatch&) = delete;
  ~ConsoleBatch() { flush(); }
  void add(const ConsoleLine& line);
  // Writes what is gathered with one call, then flushes stdout.
  void flush();

 private:
  std::string text_;
};

}  // namespace xcn
