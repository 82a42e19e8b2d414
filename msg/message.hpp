// The numbered message store, its printf-style front end, the routing of messages to output
// units, and the loading of the message table from the message file.
//
// One store per process, without locks: callers serialise every use.
#pragma once

#include <cstdarg>
#include <cstdio>

namespace xcn {

inline constexpr int kMsgLines = 5;         // message lines
inline constexpr int kMsgColumns = 1001;    // columns of a line (plus a terminator)
inline constexpr int kMsgLine1Limit = 991;  // line 1 keeps ten columns for the error header
inline constexpr int kMsgUnits = 5;         // output units
inline constexpr int kMsgTypes = 6;         // message types
inline constexpr int kMsgTableSize = 500;   // entries of the message table

// Message type codes (position in type_names).
enum MsgType : int {
  MERRORS = 1,
  MWARNINGS = 2,
  MOUTPUT = 3,
  MCOMMANDS = 4,
  MMACROS = 5,
  MPROCESSED = 6,
};

struct CmMsg {
  int current_number;
  int current_type;
  int line_count;
  int line_fill;
  int unit_count;
  std::FILE* units[kMsgUnits];
  int send_flags[kMsgUnits][kMsgTypes];
  int table_count;
  int table_numbers[kMsgTableSize];
};

struct KmMsg {
  char type_names[kMsgTypes][9];
  char lines[kMsgLines][kMsgColumns + 1];
  char table_texts[kMsgTableSize][kMsgColumns + 1];
};

// Read-only views of the store, for inspection.
const CmMsg& message_store();
const KmMsg& message_texts();
// Entry k (1-based) of the table numbers.
int Ifmsg(int k);

// Composition.
void setmsg(const char* kind, int number);
void typmsg(const char* kind);
void apcmsg(const char* text, int width);
void apcmsg2(const char* text, int length);
void aplmsg(const char* text, int width);
void apimsg(int value);
void apfmsg(double value);
void apcmsgnum(int number);
void clrmsg();

// Table lookup.
void getsmsg(int number, char* buffer, int width);
char* getsmsg2(int number);  // heap copy (release with std::free) or nullptr

// Printf-style front end.
int msg(int number, int type, const char* format, ...) __attribute__((format(printf, 3, 4)));
int vmsg(int number, int type, const char* format, std::va_list args);
int error(int number, const char* format, ...) __attribute__((format(printf, 2, 3)));
int warning(int number, const char* format, ...) __attribute__((format(printf, 2, 3)));
int message(int type, int number, const char* format, ...) __attribute__((format(printf, 3, 4)));
int processed(int number, const char* format, ...) __attribute__((format(printf, 2, 3)));
int out(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Routing.
void outmsg();
void sendmesg(std::FILE* unit, int activate, const int flags[kMsgTypes]);
void sac_message_control(int type, std::FILE* unit, int flag);
void sac_error_control(std::FILE* unit, int flag);
void sac_warning_control(std::FILE* unit, int flag);
void check_message_subsystem();
void bell();
void bell_on();
void bell_off();

// Message table and initialisation. When the message file cannot be opened (SACAUX empty, not
// a folder, without a regular file `messages`, or too long for the file's name), inimsg says
// once per process on standard error that messages show their number only.
void sacmsg(int* nerr);
void inimsg();

namespace detail {
// Test hook: lets the next inimsg warn again about message texts it cannot load.
void forget_texts_warning();
}  // namespace detail

}  // namespace xcn

// The nine routing switches are part of the public C interface (include/xcorrnet/sacio.h).
