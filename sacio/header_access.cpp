// Getting and setting float, integer and character fields of the current header by name.
#include "sacio/header_access.hpp"

#include <cstring>
#include <string>

#include "msg/message.hpp"
#include "msg/text.hpp"
#include "sacio/header_model.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {

namespace {

// The trimmed copy of a caller's name and the upper-case 8-character key made from it.
struct FieldName {
  HeapText copy;
  char key[9];

  FieldName(const char* name, int length) : copy(fstrdup(name != nullptr ? name : "", length)) {
    std::memset(key, ' ', 8);
    key[8] = '\0';
    const char* text = copy ? copy.get() : "";
    int n = indexb(text, static_cast<int>(std::strlen(text)) + 1);
    if (n > 8) n = 8;
    if (n > 0) modcase(1, text, n, key);
  }

  const char* text() const { return copy ? copy.get() : ""; }
};

// Outputs a one-message report naming the field, then clears the store.
void report(const char* kind, int nerr, const FieldName& name) {
  if (nerr == 0) return;
  setmsg(kind, nerr);
  apcmsg(name.text(), static_cast<int>(std::strlen(name.text())) + 1);
  outmsg();
  clrmsg();
}

int find_float(const FieldName& name) {
  return find_header_name(name.key, kmlhf().kfhdr, kFloatFields);
}

// Start and width of the characters a character name stands for. KEVNMC is characters 9 to
// 16 of KEVNM: its own slot would begin one byte later and reach KEVNM's terminator.
struct CharField {
  char* start;
  int width;
};

CharField char_field(int slot) {
  if (slot == kKevnm) return {Khdr(kKevnm), 16};
  if (slot == kKevnmc) return {Khdr(kKevnm) + 8, 8};
  return {Khdr(slot), 8};
}

// Copies up to `count` characters of src into dest as a field of `width` characters: the
// characters, blanks up to width, then a terminator at position width.
void put_field(char* dest, int width, const char* src, int count) {
  if (width < 0) return;
  int n = count < width ? count : width;
  std::memcpy(dest, src, static_cast<std::size_t>(n));
  std::memset(dest + n, ' ', static_cast<std::size_t>(width - n));
  dest[width] = '\0';
}

}  // namespace

int find_header_name(const char* name, const char (*table)[9], int count) {
  for (int i = 0; i < count; ++i) {
    if (std::memcmp(name, table[i], 8) == 0) return i + 1;
  }
  return 0;
}

void getfhv(const char* kname, float* fvalue, int* nerr, int kname_len) {
  *nerr = 0;
  FieldName name(kname, kname_len);
  if (int k = find_float(name); k > 0) {
    *fvalue = Fhdr(k);
    if (*fvalue == kUndefFloat) *nerr = SACIO_WARN_UNDEFINED;
  } else {
    *nerr = SACIO_ERR_NO_FIELD;
    *fvalue = kUndefFloat;
  }
  report("WARNING", *nerr, name);
}

void setfhv(const char* kname, const float* fvalue, int* nerr, int kname_len) {
  *nerr = 0;
  FieldName name(kname, kname_len);
  if (int k = find_float(name); k > 0) {
    Fhdr(k) = *fvalue;
  } else {
    *nerr = SACIO_ERR_NO_FIELD;
  }
  report("ERROR", *nerr, name);
}

void getnhv(const char* kname, int* nvalue, int* nerr, int kname_len) {
  *nerr = 0;
  FieldName name(kname, kname_len);
  if (int k = find_header_name(name.key, kmlhf().knhdr, kIntFields); k > 0) {
    *nvalue = Nhdr(k);
    if (*nvalue == kUndefInt) *nerr = SACIO_WARN_UNDEFINED;
  } else {
    *nerr = SACIO_ERR_NO_FIELD;
    *nvalue = kUndefInt;
  }
  report("WARNING", *nerr, name);
}

void setnhv(const char* kname, const int* nvalue, int* nerr, int kname_len) {
  *nerr = 0;
  FieldName name(kname, kname_len);
  if (int k = find_header_name(name.key, kmlhf().knhdr, kIntFields); k > 0) {
    Nhdr(k) = *nvalue;
  } else {
    *nerr = SACIO_ERR_NO_FIELD;
  }
  report("ERROR", *nerr, name);
}

void getkhv(const char* kname, char* kvalue, int* nerr, int kname_len, int kvalue_len) {
  *nerr = 0;
  const bool terminated = kname_len < 0;
  if (terminated && kvalue_len <= 0) return;
  // Usable width of the buffer and the bytes it holds.
  const int width = terminated ? kvalue_len : kvalue_len - 1;
  const int total = terminated ? kvalue_len + 1 : kvalue_len;

  FieldName name(kname, kname_len);
  const int slot = find_header_name(name.key, kmlhf().kkhdr, kCharSlots);
  if (total > 0) std::memset(kvalue, 0, static_cast<std::size_t>(total));

  if (slot > 0 && width < 1) {
    // Not one character of the field fits: saying it is undefined would be false.
    *nerr = SACIO_ERR_SMALL_BUFFER;
  } else if (slot > 0) {
    CharField field = char_field(slot);
    put_field(kvalue, width, field.start, field.width);
    // Told by the field itself: a buffer that holds "-1" of "-1A" holds no undefined field.
    if (std::strncmp(field.start, kUndefText8, 8) == 0) *nerr = SACIO_WARN_UNDEFINED;
  } else {
    *nerr = SACIO_ERR_NO_FIELD;
    put_field(kvalue, width, kUndefText8, 8);
  }

  report(*nerr == SACIO_ERR_SMALL_BUFFER ? "ERROR" : "WARNING", *nerr, name);

  const int w = slot == kKevnm ? 16 : 8;
  if (terminated) {
    kvalue[w < width ? w : width] = '\0';
  } else if (kvalue_len > w) {
    std::memset(kvalue + w, ' ', static_cast<std::size_t>(kvalue_len - w));
  }
}

void setkhv(const char* kname, const char* kvalue, int* nerr, int kname_len, int kvalue_len) {
  *nerr = 0;
  FieldName name(kname, kname_len);
  HeapText value(fstrdup(kvalue != nullptr ? kvalue : "", kvalue_len));
  const int slot = find_header_name(name.key, kmlhf().kkhdr, kCharSlots);
  if (slot == 0) {
    *nerr = SACIO_ERR_NO_FIELD;
  } else if (value && value.get()[0] != '\0') {
    // Each 8-character half is blank-padded on its own; anything past the field is dropped.
    const CharField field = char_field(slot);
    const char* text = value.get();
    const int length = static_cast<int>(std::strlen(text));
    for (int half = 0; half * 8 < field.width; ++half) {
      const int from = half * 8;
      const int n = length > from ? (length - from < 8 ? length - from : 8) : 0;
      std::memset(field.start + from, ' ', 8);
      if (n > 0) std::memcpy(field.start + from, text + from, static_cast<std::size_t>(n));
    }
  }
  report("ERROR", *nerr, name);
}

void getkhvf(const char* kname, char* kvalue, int* nerr, int kname_len, int kvalue_len) {
  // Through a buffer longer than any field, so that the terminator the blank-padded mode puts
  // into short buffers never reaches the caller's text; a terminated name is given by its
  // length, since a negative length would choose the terminated result.
  const int width = kvalue_len > 16 ? kvalue_len + 1 : 17;
  std::string buffer(static_cast<std::size_t>(width), ' ');
  const int name_length = kname_len >= 0 || kname == nullptr ? (kname_len >= 0 ? kname_len : 0)
                                                             : static_cast<int>(std::strlen(kname));
  getkhv(kname, buffer.data(), nerr, name_length, width);
  if (kvalue_len > 0) std::memcpy(kvalue, buffer.data(), static_cast<std::size_t>(kvalue_len));
}

void report_null_argument(const char* routine, const char* argument) {
  setmsg("ERROR", SACIO_ERR_NULL_ARGUMENT);
  apcmsg(routine, static_cast<int>(std::strlen(routine)) + 1);
  apcmsg(argument, static_cast<int>(std::strlen(argument)) + 1);
  outmsg();
  clrmsg();
}

}  // namespace xcn
