// Growable, terminated text strings on the heap with printf-style appending.
//
// Capacities are powers of two; a failed growth leaves the record and its text unchanged.
// Modifying operations accept nullptr in place of a record and then work on a new empty one,
// which they return; queries return 0 or nullptr for nullptr.
#pragma once

#include <cstddef>
#include <cstdarg>

namespace xcn {

struct string {
  std::size_t alloc;  // bytes allocated for str, terminator included
  std::size_t n;      // length of the text, terminator excluded
  char* str;
};

// Used by the message front end.
string* string_alloc();
string* string_check(string* s);
string* string_new(const char* text);
string* string_append(string* s, const char* text);
string* string_prepend(string* s, const char* text);
string* string_printf_append(string* s, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
string* string_vprintf_append(string* s, const char* format, std::va_list args);
int string_length(const string* s);
char* string_string(string* s);
void string_free(string** handle);

// Further members.
int string_nalloc(const string* s);
string* string_trunc(string* s);
string* string_printf(string* s, const char* format, ...) __attribute__((format(printf, 2, 3)));
string* string_printf_prepend(string* s, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
string* string_append_int(string* s, int value);
string* string_prepend_int(string* s, int value);
string* string_copy(const string* s);
string* string_insert(string* s, int position, const char* text);
string* string_remove(string* s, int start, int count);
string* string_replace(string* s, const char* pattern, const char* replacement);
string* string_substr(const string* s, int start, int count);
char* string_substr_char(const string* s, int start, int count);
string* string_pack(string* s);
int string_compare(const string* a, const string* b);
int string_compare_v(const void* a, const void* b);
int string_compare_v_inv(const void* a, const void* b);
int string_equal(const string* a, const string* b);
int string_equal_char(const string* s, const char* text);
int string_count(const string* s, const char* pattern);
const char* strstr_escape(const char* text, const char* pattern);
const char* strchr_reverse(const char* text, char c);
const char* strchr_reverse_isnot(const char* text, char c);
string* string_from_field(const char* field, int width);
string* string_tilde_expand(string* s);
void string_dump(const string* s);
void string_dump_v(const void* s);
void string_free_v(void* handle);

// Test hook: the reallocation function used when a buffer grows (nullptr restores realloc).
using string_realloc_fn = void* (*)(void*, std::size_t);
void string_set_realloc(string_realloc_fn fn);

}  // namespace xcn
