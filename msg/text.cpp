// Fixed-width text fields, line reading and small numeric helpers.
#include "msg/text.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

namespace xcn {

namespace {

bool is_white(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Length of a text that may lack a terminator within `limit` bytes.
std::size_t bounded_length(const char* text, std::size_t limit) { return strnlen(text, limit); }

char* heap_copy(const char* text, std::size_t length) {
  auto* out = static_cast<char*>(std::malloc(length + 1));
  if (out == nullptr) return nullptr;
  std::memcpy(out, text, length);
  out[length] = '\0';
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Measuring and searching

int indexa(const char* text, int w, int c, int forward, int match) {
  if (text == nullptr || w <= 0) return 0;
  const int span = w == 1 ? 1 : w - 1;
  const char wanted = static_cast<char>(c);
  auto hit = [&](int i) { return (text[i] == wanted) == (match != 0); };
  if (forward != 0) {
    for (int i = 0; i < span; ++i)
      if (hit(i)) return i + 1;
  } else {
    for (int i = span - 1; i >= 0; --i)
      if (hit(i)) return i + 1;
  }
  return 0;
}

int indexb(const char* text, int w) {
  // The terminator is looked for first: a terminated text may be shorter than the width, and
  // nothing after its terminator may be read. A terminator is itself non-blank, so when one is
  // present it always caps the last non-blank.
  const int first_terminator = indexa(text, w, '\0', 1, 1);
  if (first_terminator > 0) return first_terminator - 1;
  return indexa(text, w, ' ', 0, 0);
}

int nequal(const char* name, const char* table, int entry_width, int count) {
  if (name == nullptr || table == nullptr || count <= 0) return 0;
  const std::size_t limit = entry_width > 0 ? static_cast<std::size_t>(entry_width) : 0;
  const std::size_t k = bounded_length(name, limit);
  for (int i = 0; i < count; ++i) {
    const char* entry = table + static_cast<std::size_t>(i) * limit;
    if (std::memcmp(name, entry, k) == 0) return i + 1;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Copying and cutting

char* fstrncpy(char* dest, int w, const char* src, int count) {
  if (dest == nullptr || src == nullptr || w < 1 || count < 1) return nullptr;
  const int copied = count < w ? count : w;
  std::memmove(dest, src, static_cast<std::size_t>(copied));
  std::memset(dest + copied, ' ', static_cast<std::size_t>(w - copied));
  dest[w] = '\0';
  return dest;
}

char* subscpy(char* dest, int start, int end, int w, const char* src) {
  if (dest == nullptr || src == nullptr) return nullptr;
  if (w < 0) return dest;  // no field to write into
  if (start < 0) start = 0;
  if (end < 0 || end > w - 1) end = w - 1;

  // Blank the gap between the current text and the slot, but never past the field.
  const int text_length = static_cast<int>(bounded_length(dest, static_cast<std::size_t>(w)));
  const int gap_end = start < w ? start : w;
  if (text_length < gap_end)
    std::memset(dest + text_length, ' ', static_cast<std::size_t>(gap_end - text_length));

  if (end >= start) {
    const int slot = end - start + 1;
    const int taken = static_cast<int>(bounded_length(src, static_cast<std::size_t>(slot)));
    std::memmove(dest + start, src, static_cast<std::size_t>(taken));
    std::memset(dest + start + taken, ' ', static_cast<std::size_t>(slot - taken));
  }
  dest[w] = '\0';
  return dest;
}

char* strcut(const char* text, int start, int end) {
  if (text == nullptr) return nullptr;
  if (end < start) {
    std::printf("strcut: end < start: '%s' [start: %d, end: %d]\n", text, start, end);
    return nullptr;
  }
  // Positions before the first character hold nothing.
  const long first = start < 1 ? 1 : start;
  const std::size_t length = std::strlen(text);
  if (static_cast<std::size_t>(first) > length || end < 1) return heap_copy("", 0);
  const std::size_t last =
      static_cast<std::size_t>(end) < length ? static_cast<std::size_t>(end) : length;
  return heap_copy(text + first - 1, last - static_cast<std::size_t>(first) + 1);
}

char* fstrdup(const char* field, int w) {
  if (field == nullptr) return nullptr;
  const std::size_t length =
      w < 0 ? std::strlen(field) : bounded_length(field, static_cast<std::size_t>(w));
  return fstrtrim(heap_copy(field, length));
}

// ---------------------------------------------------------------------------
// Trimming and justifying

char* fstrtrim(char* text) {
  if (text == nullptr) return nullptr;
  std::size_t n = std::strlen(text);
  while (n > 0 && text[n - 1] == ' ') --n;
  text[n] = '\0';
  return text;
}

char* rstrip(char* text) {
  if (text == nullptr) return nullptr;
  std::size_t n = std::strlen(text);
  while (n > 0 && is_white(text[n - 1])) --n;
  text[n] = '\0';
  return text;
}

char* lstrip(char* text) {
  if (text == nullptr) return nullptr;
  while (*text != '\0' && is_white(*text)) ++text;
  return text;
}

void ljust(char* field, int w) {
  if (field == nullptr || w < 2) return;
  const std::size_t window = bounded_length(field, static_cast<std::size_t>(w - 1));
  std::size_t blanks = 0;
  while (blanks < window && field[blanks] == ' ') ++blanks;
  if (blanks == 0 || blanks == window) return;
  std::memmove(field, field + blanks, window - blanks);
  std::memset(field + window - blanks, ' ', blanks);
}

// ---------------------------------------------------------------------------
// Case and numbers into text

void modcase(int upper, const char* input, int count, char* output) {
  if (input == nullptr || output == nullptr) return;
  bool quoted = false;
  for (int i = 0; i < count; ++i) {
    const char c = input[i];
    char out = c;
    if (c == '"' || c == '\'') {
      quoted = !quoted;
    } else if (!quoted) {
      if (upper != 0 && c >= 'a' && c <= 'z') out = static_cast<char>(c - 32);
      if (upper == 0 && c >= 'A' && c <= 'Z') out = static_cast<char>(c + 32);
    }
    output[i] = out;
  }
}

void cnvita(int value, char* field, int w) {
  if (field == nullptr || w < 1) return;
  const std::size_t columns = static_cast<std::size_t>(w - 1);
  char digits[16];
  const int made = std::snprintf(digits, sizeof digits, "%d", value);
  const char* text = made > 0 ? digits : "BADINPUT";
  const std::size_t length = std::strlen(text);
  if (made > 0 && length <= columns) {
    // Right-aligned, as "%<w-1>d" lays it out.
    std::memset(field, ' ', columns - length);
    std::memcpy(field + columns - length, text, length);
  } else {
    // A number wider than the field keeps its leading characters; the field is never overrun.
    const std::size_t kept = length < columns ? length : columns;
    std::memcpy(field, text, kept);
    std::memset(field + kept, ' ', columns - kept);
  }
  field[columns] = '\0';
}

// ---------------------------------------------------------------------------
// Reading lines

char* fgetsp(char* buffer, int size, std::FILE* stream) {
  if (buffer == nullptr || stream == nullptr || size <= 1) return nullptr;
  int stored = 0;
  while (stored < size - 1) {
    const int c = std::getc(stream);
    if (c == EOF) break;
    if (c == '\r') {
      buffer[stored++] = '\n';
      const int next = std::getc(stream);
      if (next != '\n' && next != EOF) std::ungetc(next, stream);
      break;
    }
    buffer[stored++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buffer[stored] = '\0';
  return stored == 0 ? nullptr : buffer;
}

// ---------------------------------------------------------------------------
// Numeric helpers

int min(int a, int b) { return a < b ? a : b; }

int max(int a, int b) { return a > b ? a : b; }

double powi(double base, int exponent) { return std::pow(base, static_cast<double>(exponent)); }

int isign(int a, int b) {
  // Negation in unsigned arithmetic so that the most negative value wraps instead of trapping.
  const auto ua = static_cast<std::uint32_t>(a);
  const std::uint32_t magnitude = a < 0 ? 0u - ua : ua;
  return static_cast<int>(b >= 0 ? magnitude : 0u - magnitude);
}

double sign(double a, double b) { return b >= 0.0 ? std::fabs(a) : -std::fabs(a); }

int ipow(int base, int exponent) {
  if (base == 0) return 0;
  if (base == 1) return 1;
  if (exponent < 0) return 0;
  // Products modulo 2^32 do not depend on grouping, so squaring gives the same wrapped value as
  // repeated multiplication.
  std::uint32_t result = 1;
  std::uint32_t factor = static_cast<std::uint32_t>(base);
  for (auto e = static_cast<std::uint32_t>(exponent); e != 0; e >>= 1) {
    if ((e & 1u) != 0) result *= factor;
    factor *= factor;
  }
  return static_cast<int>(result);
}

// ---------------------------------------------------------------------------
// Further members

void fstrset(const char* text, char* field, int w) {
  if (field == nullptr || w < 1) return;
  std::memset(field, ' ', static_cast<std::size_t>(w));
  if (text == nullptr) return;
  std::memcpy(field, text, bounded_length(text, static_cast<std::size_t>(w)));
}

void DEPRECATED(const char* old_name, const char* new_name) {
  std::fprintf(stderr, "%s has been deprecated. Inform the developer or use %s\n", old_name,
               new_name);
}

void debug(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
}

int mkstemps(char* name_template, int suffix_length) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static constexpr int kTries = 62 * 62 * 62;
  if (name_template == nullptr || suffix_length < 0) {
    errno = EINVAL;
    return -1;
  }
  const std::size_t length = std::strlen(name_template);
  if (static_cast<std::size_t>(suffix_length) > length) {
    errno = EINVAL;
    return -1;
  }
  const std::size_t run_end = length - static_cast<std::size_t>(suffix_length);
  std::size_t run_start = run_end;
  while (run_start > 0 && name_template[run_start - 1] == 'X') --run_start;
  if (run_start == run_end) {
    errno = EINVAL;
    return -1;
  }

  static std::mt19937_64 engine{std::random_device{}()};
  std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof kLetters) - 2);
  for (int attempt = 0; attempt < kTries; ++attempt) {
    for (std::size_t i = run_start; i < run_end; ++i) name_template[i] = kLetters[pick(engine)];
    const int fd = ::open(name_template, O_RDWR | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR);
    if (fd >= 0) return fd;
    if (errno != EEXIST) return -1;  // a missing directory will not appear by retrying
  }
  errno = EEXIST;
  return -1;
}

// sscanff: every conversion names its width and takes exactly that many characters, so
// adjacent fixed-width columns scan without separators. Conversions: %Nd %Nld %Nf %Nlf %Ne
// %Ng (numbers, surrounding blanks allowed), %Ns (N characters, terminated), %Nc (N
// characters, no terminator), and %% for a literal percent. Returns the count assigned.
namespace {

bool read_chars(const char* input, std::size_t& pos, int width, std::string& field) {
  const std::size_t available = bounded_length(input + pos, static_cast<std::size_t>(width));
  if (available < static_cast<std::size_t>(width)) {
    std::fprintf(stderr, "Error reading in %d characters\n", width);
    return false;
  }
  field.assign(input + pos, available);
  pos += available;
  return true;
}

bool only_blanks(const char* p) {
  while (*p == ' ') ++p;
  return *p == '\0';
}

}  // namespace

int sscanff(const char* input, const char* format, ...) {
  if (input == nullptr || format == nullptr) return 0;
  std::va_list args;
  va_start(args, format);
  int assigned = 0;
  std::size_t pos = 0;
  std::string field;
  const char* f = format;
  bool failed = false;

  while (*f != '\0' && !failed) {
    if (*f != '%' || f[1] == '%') {
      const char literal = *f;
      f += (*f == '%') ? 2 : 1;
      if (input[pos] == '\0') {
        std::fprintf(stderr, "Error reading entire input string\n");
        failed = true;
      } else if (input[pos] != literal) {
        std::fprintf(stderr, "sscanff(): literal value does not match input '%c' '%c'\n", literal,
                     input[pos]);
        failed = true;
      } else {
        ++pos;
      }
      continue;
    }
    const char* directive_start = f++;
    int width = 0;
    while (*f >= '0' && *f <= '9' && width < 100000) width = width * 10 + (*f++ - '0');
    if (width == 0) {
      std::fprintf(stderr, "sscanff(): Unknwon Width, returning\n");
      break;
    }
    const bool is_long = *f == 'l';
    if (is_long) ++f;
    const char conversion = *f;
    if (conversion == '\0' || std::strchr("dfegsc", conversion) == nullptr) {
      std::fprintf(stderr, "sscanff(): Unexpected character <%c>\n", conversion);
      break;
    }
    ++f;
    if (!read_chars(input, pos, width, field)) break;

    const std::string directive(directive_start, f);
    const char* text = field.c_str();
    char* rest = nullptr;
    errno = 0;
    if (conversion == 's' || conversion == 'c') {
      char* out = va_arg(args, char*);
      std::memcpy(out, text, field.size());
      if (conversion == 's') out[field.size()] = '\0';
    } else if (conversion == 'd') {
      const long value = std::strtol(text, &rest, 10);
      if (rest == text || errno != 0 || !only_blanks(rest) ||
          (!is_long && (value < INT32_MIN || value > INT32_MAX))) {
        std::fprintf(stderr, "Error reading: %s [%s]\n", text, directive.c_str());
        break;
      }
      if (is_long)
        *va_arg(args, long*) = value;
      else
        *va_arg(args, int*) = static_cast<int>(value);
    } else {
      const double value = std::strtod(text, &rest);
      if (rest == text || !only_blanks(rest)) {
        std::fprintf(stderr, "Error reading: %s [%s]\n", text, directive.c_str());
        break;
      }
      if (is_long)
        *va_arg(args, double*) = value;
      else
        *va_arg(args, float*) = static_cast<float>(value);
    }
    ++assigned;
  }
  va_end(args);
  return assigned;
}

}  // namespace xcn
