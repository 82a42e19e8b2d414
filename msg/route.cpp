// Routing of the current message to the output units, the routing switches and the bell.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "msg/message.hpp"
#include "msg/message_store.hpp"
#include "msg/text.hpp"
#include "xcorrnet/switches.h"

namespace xcn {

using detail::cmmsg;
using detail::kmmsg;

namespace {

int bell_switch = 1;

// Text of a message line: up to its last non-blank, at least one column.
int line_text_length(const char* line) { return std::max(1, indexb(line, kMsgColumns + 1)); }

// Header, number, ": ", text and newline: " ERROR 1337: " is the widest header.
constexpr int kLineBuffer = kMsgColumns + 64;

int format_first_line(char* buffer, int type, int number, const char* line) {
  const int n = line_text_length(line);
  switch (type) {
    case MERRORS:
      if (number > 999) {
        return std::snprintf(buffer, kLineBuffer, "%s%4d%s%.*s\n", " ERROR ", number, ": ", n,
                             line);
      }
      return std::snprintf(buffer, kLineBuffer, "%s %3d%s%.*s\n", " ERROR ", number, ": ", n, line);
    case MWARNINGS:
      return std::snprintf(buffer, kLineBuffer, "%s%.*s\n", " WARNING: ", n, line);
    case MPROCESSED:
      return std::snprintf(buffer, kLineBuffer, "%s%.*s\n", " ==> ", n, line);
    default:
      return std::snprintf(buffer, kLineBuffer, " %.*s\n", n, line);
  }
}

// Each line is written with one call so that lines of concurrent writers never mix.
void write_line(std::FILE* unit, const char* buffer, int length) {
  if (length > 0)
    std::fwrite(buffer, 1, static_cast<std::size_t>(std::min(length, kLineBuffer - 1)), unit);
}

int find_unit(std::FILE* unit) {
  const int count = std::clamp(cmmsg.unit_count, 0, kMsgUnits);
  for (int i = 0; i < count; ++i) {
    if (cmmsg.units[i] == unit) return i;
  }
  return -1;
}

void route(int type, int to_stdout, int to_stderr) {
  sac_message_control(type, stdout, to_stdout);
  sac_message_control(type, stderr, to_stderr);
}

}  // namespace

void outmsg() {
  const int type = cmmsg.current_type;
  if (type < 1 || type > kMsgTypes) return;
  const int count = std::clamp(cmmsg.unit_count, 0, kMsgUnits);
  const int lines = std::clamp(cmmsg.line_count, 1, kMsgLines);
  char buffer[kLineBuffer];

  const int first = format_first_line(buffer, type, cmmsg.current_number, kmmsg.lines[0]);
  for (int u = 0; u < count; ++u) {
    if (cmmsg.send_flags[u][type - 1] == 0) continue;
    if (type == MERRORS) bell();
    write_line(cmmsg.units[u], buffer, first);
  }
  for (int l = 1; l < lines; ++l) {
    const char* line = kmmsg.lines[l];
    const int length = std::snprintf(buffer, kLineBuffer, " %.*s\n", line_text_length(line), line);
    for (int u = 0; u < count; ++u) {
      if (cmmsg.send_flags[u][type - 1] == 0) continue;
      write_line(cmmsg.units[u], buffer, length);
      std::fflush(cmmsg.units[u]);
    }
  }
}

void sendmesg(std::FILE* unit, int activate, const int flags[kMsgTypes]) {
  const int slot = find_unit(unit);
  if (activate != 0) {
    int target = slot;
    if (target < 0) {
      if (cmmsg.unit_count >= kMsgUnits) return;
      target = cmmsg.unit_count++;
      cmmsg.units[target] = unit;
    }
    for (int t = 0; t < kMsgTypes; ++t) {
      cmmsg.send_flags[target][t] = flags != nullptr ? flags[t] : 0;
    }
    return;
  }
  if (slot < 0) return;
  // Later units move up one slot, each with its flags.
  for (int i = slot; i + 1 < cmmsg.unit_count; ++i) {
    cmmsg.units[i] = cmmsg.units[i + 1];
    std::memcpy(cmmsg.send_flags[i], cmmsg.send_flags[i + 1], sizeof cmmsg.send_flags[i]);
  }
  --cmmsg.unit_count;
  cmmsg.units[cmmsg.unit_count] = nullptr;
  std::memset(cmmsg.send_flags[cmmsg.unit_count], 0, sizeof cmmsg.send_flags[0]);
}

void sac_message_control(int type, std::FILE* unit, int flag) {
  check_message_subsystem();
  const int slot = find_unit(unit);
  if (slot < 0 || type < 1 || type > kMsgTypes) return;
  cmmsg.send_flags[slot][type - 1] = flag;
}

void sac_error_control(std::FILE* unit, int flag) { sac_message_control(MERRORS, unit, flag); }

void sac_warning_control(std::FILE* unit, int flag) { sac_message_control(MWARNINGS, unit, flag); }

void check_message_subsystem() {
  if (cmmsg.unit_count < 2) inimsg();
}

void bell() {
  if (bell_switch != 0) std::fputc('\a', stdout);
}

void bell_on() { bell_switch = 1; }
void bell_off() { bell_switch = 0; }

}  // namespace xcn

// Public switches, each under its own name and the two Fortran link names.
#define XCN_DEFINE_SWITCH(name, type, to_stdout, to_stderr)              \
  extern "C" void name(void) { xcn::route(type, to_stdout, to_stderr); } \
  extern "C" void name##_(void) { name(); }                              \
  extern "C" void name##__(void) { name(); }

XCN_DEFINE_SWITCH(sac_error_stdout, xcn::MERRORS, 1, 0)
XCN_DEFINE_SWITCH(sac_error_stderr, xcn::MERRORS, 0, 1)
XCN_DEFINE_SWITCH(sac_error_off, xcn::MERRORS, 0, 0)
XCN_DEFINE_SWITCH(sac_warning_stdout, xcn::MWARNINGS, 1, 0)
XCN_DEFINE_SWITCH(sac_warning_stderr, xcn::MWARNINGS, 0, 1)
XCN_DEFINE_SWITCH(sac_warning_off, xcn::MWARNINGS, 0, 0)
XCN_DEFINE_SWITCH(sac_output_stdout, xcn::MOUTPUT, 1, 0)
XCN_DEFINE_SWITCH(sac_output_stderr, xcn::MOUTPUT, 0, 1)
XCN_DEFINE_SWITCH(sac_output_off, xcn::MOUTPUT, 0, 0)

#undef XCN_DEFINE_SWITCH
