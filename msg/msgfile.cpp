// Loading of the message table from SACAUX/messages, and the one-time set-up of the store.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

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

// The warning about missing message texts is given once per process, however often the store
// is set up again.
bool texts_warned = false;

// Why the message file could not be opened, told by its folder or by the file itself.
std::string unavailable_reason(int nerr) {
  // The path of the file is the folder without its trailing blanks.
  std::string dir = sacaux();
  dir.erase(dir.find_last_not_of(' ') + 1);
  if (dir.empty()) return "SACAUX is empty";
  const std::string named = "SACAUX \"" + dir + "\"";
  if (nerr == 916) return named + " leaves no room for the file name (at most 119 characters)";
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0) {
    return named + (errno == ENOENT ? std::string(" does not exist")
                                    : ": " + std::string(std::strerror(errno)));
  }
  if (!S_ISDIR(st.st_mode)) return named + " is not a folder";
  const std::string file = dir + "/messages";
  if (::stat(file.c_str(), &st) != 0) {
    if (errno == ENOENT) return named + " holds no file \"messages\"";
    return "\"" + file + "\": " + std::strerror(errno);
  }
  if (!S_ISREG(st.st_mode)) return "\"" + file + "\" is not a regular file";
  if (::access(file.c_str(), R_OK) != 0) return "\"" + file + "\": " + std::strerror(errno);
  return "\"" + file + "\" cannot be opened";
}

// Without the table every message reads "Number" and its number: say so once, and why.
void warn_texts_unavailable(int nerr) {
  if (texts_warned || (nerr != 101 && nerr != 108 && nerr != 916)) return;
  texts_warned = true;
  const std::string line = "WARNING: message texts are unavailable (" + unavailable_reason(nerr) +
                           "); messages show their number only\n";
  std::fputs(line.c_str(), stderr);
}

}  // namespace

void detail::forget_texts_warning() { texts_warned = false; }

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
  warn_texts_unavailable(nerr);

  cmmsg.unit_count = 0;
  for (auto& unit : cmmsg.units) unit = nullptr;
  std::memset(cmmsg.send_flags, 0, sizeof cmmsg.send_flags);
  static constexpr int kStdoutFlags[kMsgTypes] = {1, 1, 1, 0, 0, 0};
  static constexpr int kStderrFlags[kMsgTypes] = {0, 0, 0, 0, 0, 0};
  sendmesg(stdout, 1, kStdoutFlags);
  sendmesg(stderr, 1, kStderrFlags);
}

}  // namespace xcn
