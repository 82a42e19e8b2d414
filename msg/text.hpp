// Fixed-width text fields: measuring, copying, trimming, case folding, number formatting,
// line reading, and a few small numeric helpers.
//
// A field of width w holds up to w - 1 characters, blank-filled, with one position for a
// terminator. Positions returned by indexa, indexb, nequal and strcut are 1-based; subscpy
// takes 0-based positions. Heap results (strcut, fstrdup) are released by the caller with
// std::free (HeapText does it automatically).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace xcn {

struct FreeDeleter {
  void operator()(void* p) const noexcept { std::free(p); }
};
using HeapText = std::unique_ptr<char, FreeDeleter>;

// Measuring and searching.
int indexa(const char* text, int w, int c, int forward, int match);
int indexb(const char* text, int w);
int nequal(const char* name, const char* table, int entry_width, int count);

// Copying and cutting.
char* fstrncpy(char* dest, int w, const char* src, int count);
char* subscpy(char* dest, int start, int end, int w, const char* src);
char* strcut(const char* text, int start, int end);
char* fstrdup(const char* field, int w);

// Trimming and justifying.
char* fstrtrim(char* text);
char* rstrip(char* text);
char* lstrip(char* text);
void ljust(char* field, int w);

// Case and numbers into text.
void modcase(int upper, const char* input, int count, char* output);
void cnvita(int value, char* field, int w);

// Reading lines: LF, CR and CR LF each end a line (a CR is stored as LF).
char* fgetsp(char* buffer, int size, std::FILE* stream);

// Numeric helpers.
int min(int a, int b);
int max(int a, int b);
double powi(double base, int exponent);
int isign(int a, int b);
double sign(double a, double b);
int ipow(int base, int exponent);

// Further members.
void fstrset(const char* text, char* field, int w);
void DEPRECATED(const char* old_name, const char* new_name);
void debug(const char* format, ...) __attribute__((format(printf, 1, 2)));
int mkstemps(char* name_template, int suffix_length);
int sscanff(const char* input, const char* format, ...);

}  // namespace xcn
