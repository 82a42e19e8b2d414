// Growable heap strings: power-of-two growth, printf-style appending and small text operations.
#include "msg/strbuf.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace xcn {

namespace {

string_realloc_fn g_realloc = nullptr;

void* reallocate(void* p, std::size_t size) {
  return g_realloc != nullptr ? g_realloc(p, size) : std::realloc(p, size);
}

// Makes room for `needed` text bytes and a terminator. On failure the record keeps its old buffer
// and the caller must leave the text alone.
bool string_grow(string* s, std::size_t needed) {
  if (needed >= SIZE_MAX / 2) {
    std::fprintf(stderr, "string: error expanding\n");
    return false;
  }
  std::size_t capacity = 2;
  while (capacity <= needed) capacity *= 2;
  if (capacity < s->alloc) capacity = s->alloc;
  auto* buffer = static_cast<char*>(reallocate(s->str, capacity));
  if (buffer == nullptr) {
    std::fprintf(stderr, "string: error expanding\n");
    return false;
  }
  std::memset(buffer + s->n, 0, capacity - s->n);
  s->str = buffer;
  s->alloc = capacity;
  return true;
}

bool has_room(string* s, std::size_t added) {
  return s->alloc > s->n + added || string_grow(s, s->n + added);
}

// Inserts `length` bytes at `at`. The text may point into the record's own buffer, which growth
// can move, so such text is copied first.
string* insert_bytes(string* s, std::size_t at, const char* text, std::size_t length) {
  if (length == 0) return s;
  std::string own;
  const auto address = reinterpret_cast<std::uintptr_t>(text);
  const auto buffer = reinterpret_cast<std::uintptr_t>(s->str);
  if (address >= buffer && address < buffer + s->alloc) {
    own.assign(text, length);
    text = own.data();
  }
  if (!has_room(s, length)) return s;
  std::memmove(s->str + at + length, s->str + at, s->n - at);
  std::memcpy(s->str + at, text, length);
  s->n += length;
  s->str[s->n] = '\0';
  return s;
}

// Formats into a heap text; nullptr (after the error line) when formatting fails.
char* format_text(const char* format, std::va_list args) {
  std::va_list sizing;
  va_copy(sizing, args);
  const int length = std::vsnprintf(nullptr, 0, format, sizing);
  va_end(sizing);
  char* text = nullptr;
  if (length >= 0) {
    text = static_cast<char*>(std::malloc(static_cast<std::size_t>(length) + 1));
    if (text != nullptr) std::vsnprintf(text, static_cast<std::size_t>(length) + 1, format, args);
  }
  if (text == nullptr) std::fprintf(stderr, "libstring: Error allocting space for string\n");
  return text;
}

string* make_string(const char* text, std::size_t length) {
  string* s = string_alloc();
  if (s != nullptr) insert_bytes(s, 0, text, length);
  return s;
}

bool escaped(const char* text, const char* at) { return at > text && at[-1] == '\\'; }

// First occurrence of pattern at or after text + from that no backslash precedes; a backslash
// before `from` still counts.
const char* find_unescaped(const char* text, std::size_t from, const char* pattern) {
  for (const char* hit = std::strstr(text + from, pattern); hit != nullptr;
       hit = *hit != '\0' ? std::strstr(hit + 1, pattern) : nullptr) {
    if (!escaped(text, hit)) return hit;
  }
  return nullptr;
}

}  // namespace

void string_set_realloc(string_realloc_fn fn) { g_realloc = fn; }

string* string_alloc() {
  auto* s = static_cast<string*>(std::malloc(sizeof(string)));
  if (s == nullptr) return nullptr;
  s->str = static_cast<char*>(std::calloc(2, 1));
  if (s->str == nullptr) {
    std::free(s);
    return nullptr;
  }
  s->alloc = 2;
  s->n = 0;
  return s;
}

string* string_check(string* s) { return s != nullptr ? s : string_alloc(); }

string* string_new(const char* text) { return string_prepend(nullptr, text); }

string* string_append(string* s, const char* text) {
  s = string_check(s);
  if (s == nullptr || text == nullptr) return s;
  return insert_bytes(s, s->n, text, std::strlen(text));
}

string* string_prepend(string* s, const char* text) {
  s = string_check(s);
  if (s == nullptr || text == nullptr) return s;
  return insert_bytes(s, 0, text, std::strlen(text));
}

string* string_vprintf_append(string* s, const char* format, std::va_list args) {
  s = string_check(s);
  if (s == nullptr || format == nullptr) return s;
  char* text = format_text(format, args);
  if (text == nullptr) return s;
  string_append(s, text);
  std::free(text);
  return s;
}

string* string_printf_append(string* s, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  s = string_vprintf_append(s, format, args);
  va_end(args);
  return s;
}

int string_length(const string* s) { return s != nullptr ? static_cast<int>(s->n) : 0; }

char* string_string(string* s) { return s != nullptr ? s->str : nullptr; }

void string_free(string** handle) {
  if (handle == nullptr || *handle == nullptr) return;
  string* s = *handle;
  s->n = 0;
  s->alloc = 0;
  std::free(s->str);
  std::free(s);
  *handle = nullptr;
}

int string_nalloc(const string* s) { return s != nullptr ? static_cast<int>(s->alloc) : 0; }

string* string_trunc(string* s) {
  s = string_check(s);
  if (s == nullptr) return s;
  std::memset(s->str, 0, s->n);  // keep the buffer zeroed behind the text
  s->n = 0;
  return s;
}

string* string_printf(string* s, const char* format, ...) {
  s = string_trunc(s);
  std::va_list args;
  va_start(args, format);
  s = string_vprintf_append(s, format, args);
  va_end(args);
  return s;
}

string* string_printf_prepend(string* s, const char* format, ...) {
  s = string_check(s);
  if (s == nullptr || format == nullptr) return s;
  std::va_list args;
  va_start(args, format);
  char* text = format_text(format, args);
  va_end(args);
  // On a formatting failure the caller keeps its record and text.
  if (text == nullptr) return s;
  string_prepend(s, text);
  std::free(text);
  return s;
}

string* string_append_int(string* s, int value) { return string_printf_append(s, "%d", value); }

string* string_prepend_int(string* s, int value) { return string_printf_prepend(s, "%d", value); }

string* string_copy(const string* s) {
  return s != nullptr && s->str != nullptr ? make_string(s->str, s->n) : string_alloc();
}

string* string_insert(string* s, int position, const char* text) {
  s = string_check(s);
  if (s == nullptr || text == nullptr) return s;
  std::size_t at = position < 0 ? 0 : static_cast<std::size_t>(position);
  if (at > s->n) at = s->n;
  return insert_bytes(s, at, text, std::strlen(text));
}

string* string_remove(string* s, int start, int count) {
  s = string_check(s);
  if (s == nullptr) return s;
  const std::size_t from = start < 0 ? 0 : static_cast<std::size_t>(start);
  if (from >= s->n) return s;
  if (count < 0 || static_cast<std::size_t>(count) >= s->n - from) {
    std::memset(s->str + from, 0, s->n - from);
    s->n = from;
    return s;
  }
  const auto removed = static_cast<std::size_t>(count);
  std::memmove(s->str + from, s->str + from + removed, s->n - from - removed);
  std::memset(s->str + s->n - removed, 0, removed);
  s->n -= removed;
  return s;
}

string* string_replace(string* s, const char* pattern, const char* replacement) {
  s = string_check(s);
  if (s == nullptr || pattern == nullptr || replacement == nullptr || *pattern == '\0') return s;
  // One pass left to right: searching again from the start after each replacement would never
  // end when the replacement itself contains the pattern.
  const std::size_t pattern_length = std::strlen(pattern);
  const std::size_t replacement_length = std::strlen(replacement);
  for (const char* hit = find_unescaped(s->str, 0, pattern); hit != nullptr;) {
    const auto at = static_cast<std::size_t>(hit - s->str);
    // Room first, so that a failed growth leaves no occurrence half replaced.
    if (replacement_length > pattern_length && !has_room(s, replacement_length - pattern_length))
      break;
    string_remove(s, static_cast<int>(at), static_cast<int>(pattern_length));
    insert_bytes(s, at, replacement, replacement_length);
    hit = find_unescaped(s->str, at + replacement_length, pattern);
  }
  return s;
}

string* string_substr(const string* s, int start, int count) {
  char* text = string_substr_char(s, start, count);
  if (text == nullptr) return nullptr;
  string* out = string_new(text);
  std::free(text);
  return string_pack(out);
}

char* string_substr_char(const string* s, int start, int count) {
  const std::size_t n = s != nullptr && s->str != nullptr ? s->n : 0;
  std::size_t from = start < 0 ? 0 : static_cast<std::size_t>(start);
  if (from > n) from = n;
  std::size_t length = n - from;
  if (count >= 0 && static_cast<std::size_t>(count) < length)
    length = static_cast<std::size_t>(count);
  auto* text = static_cast<char*>(std::malloc(length + 1));
  if (text == nullptr) return nullptr;
  if (length > 0) std::memcpy(text, s->str + from, length);
  text[length] = '\0';
  return text;
}

string* string_pack(string* s) {
  s = string_check(s);
  if (s == nullptr || s->alloc == s->n + 1) return s;
  auto* buffer = static_cast<char*>(reallocate(s->str, s->n + 1));
  if (buffer == nullptr) {
    std::fprintf(stderr, "libstring: Error during packing, string unmodified\n");
    return s;
  }
  s->str = buffer;
  s->alloc = s->n + 1;
  return s;
}

int string_compare(const string* a, const string* b) {
  const bool has_a = a != nullptr && a->str != nullptr;
  const bool has_b = b != nullptr && b->str != nullptr;
  if (!has_a || !has_b) return static_cast<int>(has_a) - static_cast<int>(has_b);
  const std::size_t common = a->n < b->n ? a->n : b->n;
  const int order = std::memcmp(a->str, b->str, common);
  if (order != 0) return order;
  return (a->n > b->n) - (a->n < b->n);
}

int string_compare_v(const void* a, const void* b) {
  return string_compare(*static_cast<string* const*>(a), *static_cast<string* const*>(b));
}

int string_compare_v_inv(const void* a, const void* b) { return string_compare_v(b, a); }

int string_equal(const string* a, const string* b) {
  return a != nullptr && b != nullptr && a->str != nullptr && b->str != nullptr && a->n == b->n &&
         std::memcmp(a->str, b->str, a->n) == 0;
}

int string_equal_char(const string* s, const char* text) {
  return s != nullptr && s->str != nullptr && text != nullptr && std::strcmp(s->str, text) == 0;
}

int string_count(const string* s, const char* pattern) {
  if (s == nullptr || s->str == nullptr || pattern == nullptr || *pattern == '\0') return 0;
  const std::size_t length = std::strlen(pattern);
  int count = 0;
  for (const char* hit = find_unescaped(s->str, 0, pattern); hit != nullptr;
       hit = find_unescaped(s->str, static_cast<std::size_t>(hit - s->str) + length, pattern))
    ++count;
  return count;
}

const char* strstr_escape(const char* text, const char* pattern) {
  if (text == nullptr || pattern == nullptr) return nullptr;
  return find_unescaped(text, 0, pattern);
}

const char* strchr_reverse(const char* text, char c) {
  if (text == nullptr) return nullptr;
  for (std::size_t i = std::strlen(text); i > 0; --i)
    if (text[i - 1] == c) return text + i - 1;
  return text;
}

const char* strchr_reverse_isnot(const char* text, char c) {
  if (text == nullptr) return nullptr;
  for (std::size_t i = std::strlen(text); i > 0; --i)
    if (text[i - 1] != c) return text + i - 1;
  return text;
}

string* string_from_field(const char* field, int width) {
  if (field == nullptr) return string_alloc();
  std::size_t length =
      width < 0 ? std::strlen(field) : strnlen(field, static_cast<std::size_t>(width));
  while (length > 0 && field[length - 1] == ' ') --length;
  return make_string(field, length);
}

string* string_tilde_expand(string* s) {
  s = string_check(s);
  // Only a leading "~" names a home directory, as in the shell; elsewhere it is a plain letter.
  if (s == nullptr || s->n == 0 || s->str[0] != '~') return s;
  const char* slash = std::strchr(s->str, '/');
  const std::size_t name_end = slash != nullptr ? static_cast<std::size_t>(slash - s->str) : s->n;
  const std::string user(s->str + 1, name_end - 1);

  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> scratch(hint > 0 ? static_cast<std::size_t>(hint) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (user.empty())
    getpwuid_r(getuid(), &entry, scratch.data(), scratch.size(), &found);
  else
    getpwnam_r(user.c_str(), &entry, scratch.data(), scratch.size(), &found);
  if (found == nullptr || found->pw_dir == nullptr) return s;

  const std::string home = found->pw_dir;
  const std::size_t before = s->n;
  insert_bytes(s, name_end, home.data(), home.size());
  if (s->n == before + home.size()) string_remove(s, 0, static_cast<int>(name_end));
  return s;
}

void string_dump(const string* s) {
  if (s == nullptr) {
    std::fprintf(stderr, "string: %p\n", static_cast<const void*>(nullptr));
    return;
  }
  std::fprintf(stderr, "string: %p alloc: %d n: %d str: <%s>\n", static_cast<const void*>(s),
               static_cast<int>(s->alloc), static_cast<int>(s->n),
               s->str != nullptr ? s->str : "(null)");
}

void string_dump_v(const void* s) { string_dump(static_cast<const string*>(s)); }

void string_free_v(void* handle) { string_free(static_cast<string**>(handle)); }

}  // namespace xcn
