// Tests of the fixed-width text utilities: blanks, terminators, positions and field widths.
#include "msg/text.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

namespace xcn {
namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

// A field of `size` bytes filled with '#', so that any write past a width shows.
std::string sentinel(std::size_t size) { return std::string(size, '#'); }

TEST(TextMeasure, IndexbStopsAtTerminatorOrLastNonBlank) {
  struct Case {
    const char* field;
    int w, expected;
  };
  const Case cases[] = {{"DEPMEN  ", 9, 6},
                        {"ab  \0zzzzz", 10, 4},
                        {"        ", 9, 0},
                        {"abcdefghij", 5, 4},
                        {"", 0, 0}};
  for (const Case& c : cases) EXPECT_EQ(indexb(c.field, c.w), c.expected) << c.field;
  auto tight = std::make_unique<char[]>(5);  // a terminated text shorter than its width
  std::memcpy(tight.get(), "ab  ", 5);
  EXPECT_EQ(indexb(tight.get(), 10), 4);
  const char field[] = "a b  ";
  EXPECT_EQ(indexa(field, 6, '\0', 1, 1), 0);  // no terminator in the window
  EXPECT_EQ(indexa(field, 6, ' ', 1, 1), 2);
  EXPECT_EQ(indexa(field, 1, 'a', 1, 1), 1);  // width 1 still sees the first character
}

TEST(TextMeasure, NequalMatchesPrefixOfEntries) {
  const char table[] = "B       \0DELTA   \0DEPMEN  \0";
  EXPECT_EQ(nequal("DELTA   ", table, 9, 3), 2);
  EXPECT_EQ(nequal("", table, 9, 3), 1);
  EXPECT_EQ(nequal("DELTB   ", table, 9, 3), 0);
  EXPECT_EQ(nequal("DEPMEN  ", table, 9, 2), 0);  // entries past count are not searched
}

TEST(TextCopy, FstrncpyBlankFillsAndTerminatesAtWidthPlusOne) {
  std::string dest = sentinel(12);
  EXPECT_EQ(fstrncpy(dest.data(), 8, "abc", 3), dest.data());
  EXPECT_EQ(dest.substr(0, 10), std::string("abc     \0#", 10));
  dest = sentinel(12);
  EXPECT_EQ(fstrncpy(dest.data(), 8, "abc", 0), nullptr);
  EXPECT_EQ(dest, sentinel(12));
  fstrncpy(dest.data(), 4, "abcdefgh", 8);  // more than fits: cut at the width
  EXPECT_EQ(dest.substr(0, 6), std::string("abcd\0#", 6));
}

TEST(TextCopy, SubscpyFillsGapCutsAndPadsWithinField) {
  std::string dest = sentinel(16);
  dest.replace(0, 3, "ab\0", 3);
  subscpy(dest.data(), 5, 7, 10, "XYZW");  // gap 2..4 blank; the rest of the field untouched
  EXPECT_EQ(dest.substr(0, 12), std::string("ab   XYZ##\0#", 12));
  dest.replace(0, 11, "abcdefghij\0", 11);
  subscpy(dest.data(), 2, 5, 10, "x");
  EXPECT_STREQ(dest.c_str(), "abx   ghij");
  subscpy(dest.data(), -3, -1, 10, "0123456789ABC");  // slot clamps to the whole field
  EXPECT_STREQ(dest.c_str(), "0123456789");
  dest = sentinel(16);
  dest[0] = '\0';
  subscpy(dest.data(), 12, 14, 6, "xy");  // slot beyond the field: never written past it
  EXPECT_EQ(dest.substr(0, 8), std::string("      \0#", 8));
}

TEST(TextCopy, StrcutAndFstrdupMakeTrimmedCopies) {
  EXPECT_STREQ(HeapText(strcut("abcdef", 2, 2)).get(), "b");
  EXPECT_STREQ(HeapText(strcut("abcdef", 4, 99)).get(), "def");
  EXPECT_STREQ(HeapText(fstrdup("abc", 0)).get(), "");
  EXPECT_STREQ(HeapText(fstrdup("KSTNM   XYZ", 8)).get(), "KSTNM");
  CaptureStdout();
  EXPECT_EQ(strcut("abcdef", 3, 2), nullptr);
  EXPECT_EQ(GetCapturedStdout(), "strcut: end < start: 'abcdef' [start: 3, end: 2]\n");
}

TEST(TextTrim, BlanksVersusWhiteSpace) {
  struct Case {
    const char *in, *fstrtrim, *rstrip, *lstrip;
  };
  const Case cases[] = {{"   ", "", "", ""},
                        {" ab \t\n", " ab \t\n", " ab", "ab \t\n"},
                        {"\tab  ", "\tab", "\tab", "ab  "}};
  for (const Case& c : cases) {
    std::string a = c.in, b = c.in, d = c.in;
    EXPECT_STREQ(fstrtrim(a.data()), c.fstrtrim);
    EXPECT_STREQ(rstrip(b.data()), c.rstrip);
    EXPECT_STREQ(lstrip(d.data()), c.lstrip);
  }
}

TEST(TextTrim, LjustMovesTextOverLeadingBlanksWithoutTerminator) {
  std::string field = "      42##";
  ljust(field.data(), 9);
  EXPECT_EQ(field, "42      ##");
  std::string window = "  abcd";  // only the first w - 1 = 4 characters move
  ljust(window.data(), 5);
  EXPECT_EQ(window, "ab  cd");
}

TEST(TextCase, ModcaseKeepsQuotedStretchesAndHighBytes) {
  struct Case {
    int upper;
    const char *in, *out;
  };
  const Case cases[] = {{1, "a'b'c", "A'b'C"},
                        {1, "x\"y'z\"w", "X\"y'Z\"w"},  // both quote marks share one state
                        {0, "AbC'D'", "abc'D'"},
                        {1, "\xe9z9", "\xe9Z9"}};
  for (const Case& c : cases) {
    std::string out = sentinel(std::strlen(c.in) + 1);
    modcase(c.upper, c.in, static_cast<int>(std::strlen(c.in)), out.data());
    EXPECT_EQ(out, std::string(c.out) + "#") << c.in;
  }
}

TEST(TextNumbers, CnvitaRightAlignsWithinField) {
  struct Case {
    int value, w;
    const char* field;
  };
  const Case cases[] = {
      {7, 9, "       7"},       {5, 11, "         5"},
      {-42, 9, "     -42"},     {123456789, 9, "12345678"},  // too wide: cut, never past the field
      {INT_MIN, 9, "-2147483"}, {3, 1, ""}};
  for (const Case& c : cases) {
    std::string field = sentinel(16);
    cnvita(c.value, field.data(), c.w);
    EXPECT_STREQ(field.c_str(), c.field) << c.value;
    EXPECT_EQ(field[c.w], '#') << c.value;
  }
}

// Every line that fgetsp gives for the bytes with a buffer of `size`, each in brackets.
std::string read_lines(const std::string& bytes, int size) {
  std::FILE* f = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  std::string out;
  char buffer[64];
  while (fgetsp(buffer, size, f) != nullptr) out += std::string("[") + buffer + "]";
  std::fclose(f);
  return out;
}

TEST(TextLines, FgetspEndsLinesAtLfCrAndCrLf) {
  EXPECT_EQ(read_lines("x\r\ny", 64), "[x\n][y]");
  EXPECT_EQ(read_lines("x\ry", 64), "[x\n][y]");  // the character after CR is pushed back
  EXPECT_EQ(read_lines("a\nb\n", 64), "[a\n][b\n]");
  EXPECT_EQ(read_lines("x\r\r\n", 64), "[x\n][\n]");
  EXPECT_EQ(read_lines("abcdef\n", 4), "[abc][def][\n]");
  EXPECT_EQ(read_lines("ab\r\nc", 3), "[ab][\n][c]");
  EXPECT_EQ(read_lines("abc", 1), "");
}

TEST(TextNumbers, IpowAndSignEdges) {
  struct Case {
    int base, exponent, expected;
  };
  const Case cases[] = {{0, 0, 0}, {1, -3, 1},  {2, 10, 1024}, {3, -1, 0},
                        {7, 0, 1}, {-2, 3, -8}, {2, 32, 0},    {3, 21, 1870418611}};
  for (const Case& c : cases)
    EXPECT_EQ(ipow(c.base, c.exponent), c.expected) << c.base << "^" << c.exponent;
  EXPECT_EQ(isign(-5, 0), 5);
  EXPECT_EQ(isign(INT_MIN, -1), INT_MIN);
  EXPECT_EQ(sign(2.0, std::nan("")), -2.0);
}

TEST(TextFields, FstrsetAndMessagesToStandardError) {
  std::string field = sentinel(8);
  fstrset("abcdefgh", field.data(), 4);
  EXPECT_EQ(field.substr(0, 5), "abcd#");
  fstrset("ab", field.data(), 4);
  EXPECT_EQ(field.substr(0, 5), "ab  #");
  CaptureStderr();
  DEPRECATED("old", "new");
  EXPECT_EQ(GetCapturedStderr(), "old has been deprecated. Inform the developer or use new\n");
}

TEST(TextFiles, MkstempsCreatesExclusiveFileKeepingSuffix) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("xcn_text_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string pattern = (dir / "tmpXXXXXX.sac").string();
  std::string first = pattern, second = pattern;
  const int fd1 = mkstemps(first.data(), 4);
  const int fd2 = mkstemps(second.data(), 4);
  ASSERT_GE(fd1, 0);
  ASSERT_GE(fd2, 0);
  close(fd1);
  close(fd2);
  EXPECT_NE(first, pattern);
  EXPECT_NE(first, second);
  EXPECT_EQ(first.substr(0, first.size() - 10), pattern.substr(0, pattern.size() - 10));
  EXPECT_EQ(first.substr(first.size() - 4), ".sac");
  EXPECT_EQ(fs::status(first).permissions() & fs::perms::group_all, fs::perms::none);

  std::string no_room = (dir / "tmp.sac").string();
  EXPECT_EQ(mkstemps(no_room.data(), 4), -1);
  EXPECT_EQ(errno, EINVAL);
  std::string missing = (dir / "nodir" / "aXXXXXX").string();
  EXPECT_EQ(mkstemps(missing.data(), 0), -1);
  EXPECT_EQ(errno, ENOENT);  // not retried as if the name existed
  fs::remove_all(dir);
}

TEST(TextScan, SscanffReadsFixedWidthColumns) {
  int number = 0;
  char word[4];
  double value = 0;
  EXPECT_EQ(sscanff("  12abc 2.5", "%4d%3s%4lf", &number, word, &value), 3);
  EXPECT_EQ(number, 12);
  EXPECT_STREQ(word, "abc");
  EXPECT_EQ(value, 2.5);

  struct Case {
    const char *input, *format;
    int assigned;
    const char* error;
  };
  const Case cases[] = {
      {"12:34", "%2d-%2d", 1, "sscanff(): literal value does not match input '-' ':'\n"},
      {"12", "%d", 0, "sscanff(): Unknwon Width, returning\n"},
      {"12", "%2q", 0, "sscanff(): Unexpected character <q>\n"},
      {"12", "%4d", 0, "Error reading in 4 characters\n"},
      {"1x", "%2d", 0, "Error reading: 1x [%2d]\n"},
      {"12", "%2d:", 1, "Error reading entire input string\n"}};
  for (const Case& c : cases) {
    int a = 0;
    CaptureStderr();
    EXPECT_EQ(sscanff(c.input, c.format, &a, &a), c.assigned) << c.format;
    EXPECT_EQ(GetCapturedStderr(), c.error);
  }
}

}  // namespace
}  // namespace xcn
