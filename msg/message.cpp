// The numbered message store: composition of message lines, table lookup, printf front end.
#include "msg/message.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "msg/message_store.hpp"
#include "msg/strbuf.hpp"
#include "msg/text.hpp"

namespace xcn {
namespace detail {
namespace {

constexpr const char* kTypeNames[kMsgTypes] = {"ERRORS  ", "WARNINGS", "OUTPUT  ",
                                               "COMMANDS", "MACROS  ", "PROCESSE"};

constexpr void fill_type_names(KmMsg& texts) {
  for (int t = 0; t < kMsgTypes; ++t) {
    for (int c = 0; c < 8; ++c) texts.type_names[t][c] = kTypeNames[t][c];
    texts.type_names[t][8] = '\0';
  }
}

// The store is usable before any initialisation: blank lines, known type names, empty table.
constexpr KmMsg initial_texts() {
  KmMsg texts{};
  fill_type_names(texts);
  for (auto& line : texts.lines) {
    for (int c = 0; c < kMsgColumns; ++c) line[c] = ' ';
    line[kMsgColumns] = '\0';
  }
  return texts;
}

}  // namespace

constinit CmMsg cmmsg = {0, 0, 1, 0, 0, {}, {}, 0, {}};
constinit KmMsg kmmsg = initial_texts();

void store_type_names(KmMsg& texts) { fill_type_names(texts); }

}  // namespace detail

using detail::cmmsg;
using detail::kmmsg;

namespace {

// Columns of a line plus its terminator: the field in which table texts are looked up.
constexpr int kLineField = kMsgColumns + 1;

char* current_line() { return kmmsg.lines[cmmsg.line_count - 1]; }

void blank_line(char* line) {
  std::memset(line, ' ', kMsgColumns);
  line[kMsgColumns] = '\0';
}

// Duplicate numbers are all kept; the first entry wins.
const char* table_text(int number) {
  const int count = std::clamp(cmmsg.table_count, 0, kMsgTableSize);
  for (int k = 0; k < count; ++k) {
    if (cmmsg.table_numbers[k] == number) return kmmsg.table_texts[k];
  }
  return nullptr;
}

void append_text_of(int number) {
  char text[kLineField];
  getsmsg(number, text, kLineField);
  apcmsg(text, kLineField);
}

// Appends a formatted text of any length as one piece.
void append_formatted(string* s) {
  apcmsg(string_string(s), string_length(s) + 1);
  string_free(&s);
}

}  // namespace

const CmMsg& message_store() { return cmmsg; }
const KmMsg& message_texts() { return kmmsg; }

int Ifmsg(int k) {
  if (k < 1 || k > kMsgTableSize) return 0;
  return cmmsg.table_numbers[k - 1];
}

void setmsg(const char* kind, int number) {
  // A repeated number keeps composing the same message.
  if (number != 0 && number == cmmsg.current_number) return;
  clrmsg();
  typmsg(kind);
  if (number >= 100) append_text_of(number);
  cmmsg.current_number = number;
}

void typmsg(const char* kind) {
  char upper[9] = {};
  if (kind != nullptr) {
    const int n = static_cast<int>(strnlen(kind, 8));
    modcase(1, kind, n, upper);
  }
  cmmsg.current_type = MOUTPUT;
  for (int t = 0; t < kMsgTypes; ++t) {
    if (upper[0] == kmmsg.type_names[t][0]) {
      cmmsg.current_type = t + 1;
      return;
    }
  }
}

void apcmsg(const char* text, int width) {
  const int d = text != nullptr ? std::max(indexb(text, width), 0) : 0;
  const int limit = cmmsg.line_count == 1 ? kMsgLine1Limit : kMsgColumns;
  if (cmmsg.line_fill + d + 1 > limit) {
    if (cmmsg.line_count < kMsgLines) {
      ++cmmsg.line_count;
    } else {
      blank_line(current_line());
    }
    cmmsg.line_fill = 0;
  }
  if (d > 0) {
    // The piece is cut at the end of the line; its separating blank goes with it.
    const std::string piece(text, static_cast<std::size_t>(d));
    subscpy(current_line(), cmmsg.line_fill, cmmsg.line_fill + d + 1, kMsgColumns, piece.c_str());
  }
  cmmsg.line_fill += d + 1;
}

void apcmsg2(const char* text, int length) {
  const std::size_t most = static_cast<std::size_t>(std::clamp(length, 0, 1000));
  const int n = text != nullptr ? static_cast<int>(strnlen(text, most)) : 0;
  const std::string piece(text != nullptr ? text : "", static_cast<std::size_t>(n));
  apcmsg(piece.c_str(), n + 1);
}

void aplmsg(const char* text, int width) {
  if (cmmsg.line_count < kMsgLines) ++cmmsg.line_count;
  const int d = text != nullptr ? std::clamp(indexb(text, width), 0, kMsgColumns) : 0;
  char* line = current_line();
  blank_line(line);
  // An empty piece still occupies its first column; a terminator there would end the line.
  if (d > 0) std::memcpy(line, text, static_cast<std::size_t>(d));
  cmmsg.line_fill = d + 1;
}

void apimsg(int value) {
  // cnvita writes numbers wider than its 8 columns whole; only the first 8 count.
  char field[16];
  cnvita(value, field, 9);
  ljust(field, 9);
  apcmsg(field, 9);
}

void apfmsg(double value) {
  char field[32];
  std::snprintf(field, sizeof field, "%16.5g", value);
  ljust(field, 17);
  apcmsg(field, 17);
}

void apcmsgnum(int number) { append_text_of(number); }

void clrmsg() {
  cmmsg.current_number = 0;
  cmmsg.current_type = 0;
  for (auto& line : kmmsg.lines) blank_line(line);
  cmmsg.line_count = 1;
  cmmsg.line_fill = 0;
}

void getsmsg(int number, char* buffer, int width) {
  if (buffer == nullptr || width < 1) return;
  const char* text = table_text(number);
  if (text == nullptr) {
    std::snprintf(buffer, static_cast<std::size_t>(width), "%s%5d", "Number", number);
    return;
  }
  const int columns = width - 1;
  const int n = static_cast<int>(strnlen(text, static_cast<std::size_t>(columns)));
  std::memcpy(buffer, text, static_cast<std::size_t>(n));
  std::memset(buffer + n, ' ', static_cast<std::size_t>(columns - n));
  buffer[columns] = '\0';
}

char* getsmsg2(int number) {
  const char* text = table_text(number);
  return text != nullptr ? fstrdup(text, -1) : nullptr;
}

int vmsg(int number, int type, const char* format, std::va_list args) {
  // Numbers without a table text read "Number" and the number, as in the table lookup.
  char fallback[16];
  HeapText text(number >= 100 ? getsmsg2(number) : nullptr);
  const char* prefix = text.get();
  if (prefix == nullptr) {
    std::snprintf(fallback, sizeof fallback, "%s%5d", "Number", number);
    prefix = fallback;
  }
  cmmsg.current_number = number;
  cmmsg.current_type = type;
  string* s = (type == MERRORS || type == MWARNINGS) ? string_new(prefix) : string_new("");
  s = string_append(s, " ");
  if (format != nullptr) s = string_vprintf_append(s, format, args);
  append_formatted(s);
  return 1;
}

int msg(int number, int type, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const int result = vmsg(number, type, format, args);
  va_end(args);
  return result;
}

int error(int number, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const int result = vmsg(number, MERRORS, format, args);
  va_end(args);
  return result;
}

int warning(int number, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const int result = vmsg(number, MWARNINGS, format, args);
  va_end(args);
  return result;
}

int message(int type, int number, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const int result = vmsg(number, type, format, args);
  va_end(args);
  return result;
}

int processed(int number, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const int result = vmsg(number, MPROCESSED, format, args);
  va_end(args);
  outmsg();
  clrmsg();
  return result;
}

int out(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  string* s = string_vprintf_append(nullptr, format, args);
  va_end(args);
  append_formatted(s);
  return 1;
}

}  // namespace xcn
