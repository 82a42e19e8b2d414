// Loading of the message table from SACAUX/messages, and the one-time set-up of the store.
#include <cstdio>
#include <cstring>

#include "msg/auxfile.hpp"
#include "msg/message.hpp"
#include "msg/message_store.hpp"
#include "msg/text.hpp"

namespace xcn {

using detail::cmmsg;
using detail::kmmsg;

namespace {

constexpr int kPathField = 129;  // 128 columns of directory and name, plus a terminator
constexpr int kLineSize = 1001;  // a line of up to 1000 characters, plus a terminator
constexpr int kTextColumn = 5;   // texts start in column 6, whatever the digits took

// A bad line, or a failed read, ends loading; the line number tells the user where.
void report_bad_line(int line_number, const char* path, int* nerr) {
  setmsg("ERROR", 100);
  apimsg(line_number);
  apcmsgnum(114);
  apcmsg(path, kPathField);
  *nerr = 100;
}

void add_entry(int number, const char* line) {
  const int k = cmmsg.table_count;
  const std::size_t length = std::strlen(line);
  const char* text = length > kTextColumn ? line + kTextColumn : "";
  const std::size_t n = strnlen(text, kMsgColumns);
  std::memcpy(kmmsg.table_texts[k], text, n);
  kmmsg.table_texts[k][n] = '\0';
  cmmsg.table_numbers[k] = number;
  cmmsg.table_count = k + 1;
}

void load_lines(std::FILE* file, const char* path, int* nerr) {
  char line[kLineSize];
  int line_number = 0;
  while (true) {
    if (cmmsg.table_count >= kMsgTableSize) {
      setmsg("ERROR", 919);
      *nerr = 919;
      return;
    }
    ++line_number;
    if (fgetsp(line, kLineSize, file) == nullptr) {
      if (std::ferror(file)) report_bad_line(line_number, path, nerr);
      return;
    }
    const std::size_t length = std::strlen(line);
    if (length > 0 && line[length - 1] == '\n') line[length - 1] = ' ';
    int number = 0;
    if (std::sscanf(line, "%4d", &number) != 1) {
      std::fputs("error reading SAC message file-sacmsg\n", stdout);
      report_bad_line(line_number, path, nerr);
      return;
    }
    add_entry(number, line);
  }
}

}  // namespace

void sacmsg(int* nerr) {
  *nerr = 0;
  char path[kPathField];
  zbasename(path, kPathField);
  static constexpr char kName[] = "messages";
  crname(path, kPathField, '/', kName, sizeof kName, nerr);
  if (*nerr != 0) return;

  std::FILE* file = nullptr;
  zopens(&file, path, kPathField, "ROTEXT", 7, nerr);
  if (*nerr != 0) return;
  load_lines(file, path, nerr);
  int close_status = 0;
  zcloses(&file, &close_status);
}

void inimsg() {
  detail::store_type_names(kmmsg);
  // A message half-composed before a reload would otherwise garble the load error.
  clrmsg();
  cmmsg.table_count = 0;

  int nerr = 0;
  sacmsg(&nerr);
  if (nerr != 0) outmsg();

  cmmsg.unit_count = 0;
  for (auto& unit : cmmsg.units) unit = nullptr;
  std::memset(cmmsg.send_flags, 0, sizeof cmmsg.send_flags);
  static constexpr int kStdoutFlags[kMsgTypes] = {1, 1, 1, 0, 0, 0};
  static constexpr int kStderrFlags[kMsgTypes] = {0, 0, 0, 0, 0, 0};
  sendmesg(stdout, 1, kStdoutFlags);
  sendmesg(stderr, 1, kStderrFlags);
}

}  // namespace xcn
