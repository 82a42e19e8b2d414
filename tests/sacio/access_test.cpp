// Header access by name: matching rules, both text modes, and the exact report lines.
#include <cstring>
#include <string>

#include "sacio/header_access.hpp"
#include "sacio/header_model.hpp"
#include "sacio_test_util.hpp"

namespace xcn {
namespace {

using namespace testing_util;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

struct Snapshot {
  CmHdr numbers = cmhdr();
  KmHdr texts = kmhdr();
  bool same_as_now() const {
    return std::memcmp(&numbers, &cmhdr(), sizeof numbers) == 0 &&
           std::memcmp(&texts, &kmhdr(), sizeof texts) == 0;
  }
};

TEST(GetFloatByName, UndefinedAndUnknownFieldsWarnWithTheirName) {
  newhdr();
  float value = 1.0f;
  int nerr = 0;
  CaptureStdout();
  getfhv("DELTA", &value, &nerr, 5);
  EXPECT_EQ(GetCapturedStdout(), warning_line(1336, "DELTA"));
  EXPECT_EQ(nerr, 1336);
  EXPECT_EQ(value, -12345.0f);

  value = 1.0f;
  CaptureStdout();
  getfhv("XYZ", &value, &nerr, -1);
  EXPECT_EQ(GetCapturedStdout(), warning_line(1337, "XYZ"));
  EXPECT_EQ(nerr, 1337);
  EXPECT_EQ(value, -12345.0f);
}

TEST(GetIntegerByName, ValuesUndefinedAndUnknownFields) {
  newhdr();
  const int npts = 1728000;
  int nerr = 0;
  setnhv("NPTS", &npts, &nerr, -1);
  const struct {
    const char* name;
    int value;
    int nerr;
  } cases[] = {
      {"npts", 1728000, 0},
      {"NZYEAR", -12345, 1336},
      {"DELTA", -12345, 1337},  // a float name is not an integer field
  };
  for (const auto& c : cases) {
    int value = 0;
    CaptureStdout();
    getnhv(c.name, &value, &nerr, -1);
    const std::string out = GetCapturedStdout();
    EXPECT_EQ(value, c.value) << c.name;
    EXPECT_EQ(nerr, c.nerr) << c.name;
    EXPECT_EQ(out, c.nerr == 0 ? "" : warning_line(c.nerr, c.name)) << c.name;
  }
}

TEST(SetByName, UnknownNameIsAnErrorAndChangesNothing) {
  newhdr();
  const Snapshot before;
  const float f = 1.0f;
  const int n = 1;
  int nerr = 0;
  CaptureStdout();
  setfhv("XYZ", &f, &nerr, 3);
  EXPECT_EQ(GetCapturedStdout(), error_line(1337, "XYZ"));
  EXPECT_EQ(nerr, 1337);
  CaptureStdout();
  setnhv("DELTA", &n, &nerr, -1);  // a float name is not an integer field
  EXPECT_EQ(GetCapturedStdout(), error_line(1337, "DELTA"));
  EXPECT_EQ(nerr, 1337);
  CaptureStdout();
  setkhv("KXYZ", "AB", &nerr, -1, -1);
  EXPECT_EQ(GetCapturedStdout(), error_line(1337, "KXYZ"));
  EXPECT_EQ(nerr, 1337);
  EXPECT_TRUE(before.same_as_now());
}

TEST(NameMatching, CaseBlanksAndLengthsDecide) {
  struct Case {
    const char* name;
    int length;
    bool found;
  };
  const Case cases[] = {
      {"b", 1, true},      {"B   ", 4, true},         {"B", -1, true},     {"Bxyz", 1, true},
      {"delta", -1, true}, {"DEPMINXX", -1, false},   {"DEPMIN", 6, true}, {" B", -1, false},
      {"", -1, false},     {"DELTA   junk", 8, true}, {"DELT", -1, false}, {"B", 0, false},
  };
  newhdr();
  const float v = 2.5f;
  int nerr = 0;
  setfhv("B", &v, &nerr, -1);
  setfhv("DELTA", &v, &nerr, -1);
  setfhv("DEPMIN", &v, &nerr, -1);
  for (const Case& c : cases) {
    float got = 0.0f;
    CaptureStdout();
    getfhv(c.name, &got, &nerr, c.length);
    GetCapturedStdout();
    EXPECT_EQ(nerr, c.found ? 0 : 1337) << '"' << c.name << "\" length " << c.length;
    EXPECT_EQ(got, c.found ? 2.5f : -12345.0f) << c.name;
  }
}

TEST(SetCharacterByName, ValuesAreCutPaddedOrIgnored) {
  newhdr();
  int nerr = 0;
  setkhv("KSTNM", "ABCDEFGHIJ", &nerr, 5, 10);
  EXPECT_EQ(std::string(Khdr(kKstnm), 8), "ABCDEFGH");
  setkhv("kstnm", "   ", &nerr, -1, 3);
  EXPECT_EQ(nerr, 0);
  EXPECT_EQ(std::string(Khdr(kKstnm), 8), "ABCDEFGH");
  setkhv("KSTNM", "XY", &nerr, -1, 0);  // length 0: empty value
  EXPECT_EQ(std::string(Khdr(kKstnm), 8), "ABCDEFGH");
  setkhv("KSTNM", "XY   Z", &nerr, -1, 3);
  EXPECT_EQ(std::string(Khdr(kKstnm), 8), "XY      ");
  setkhv("KEVNM", "AB-CD", &nerr, -1, -1);
  EXPECT_EQ(std::string(Khdr(kKevnm), 17), std::string("AB-CD           \0", 17));
}

TEST(GetCharacterByName, BufferModesAndWidths) {
  newhdr();
  int nerr = 0;
  setkhv("KCMPNM", "BHZ", &nerr, -1, -1);
  setkhv("KEVNM", "EVENT-NAME-16CHR", &nerr, -1, -1);
  setkhv("KNETWK", "-1A", &nerr, -1, -1);
  struct Case {
    const char* name;
    int name_length;
    int buffer_length;
    std::string expected;  // all bytes the routine may write
    int nerr;
  };
  const Case cases[] = {
      // Blank-padded buffers: padded to the buffer beyond the field, else cut with a NUL.
      {"KSTNM", 5, 10, "-12345    ", 1336},
      {"KCMPNM", 6, 10, "BHZ       ", 0},
      {"KCMPNM", 6, 8, std::string("BHZ    \0", 8), 0},
      {"KCMPNM", 6, 3, std::string("BH\0", 3), 0},
      {"KEVNM", 5, 20, "EVENT-NAME-16CHR    ", 0},
      {"KEVNM", 5, 10, std::string("EVENT-NAM\0", 10), 0},
      {"KXYZ", 4, 10, "-12345    ", 1337},
      // Room for no character of the field: the buffer is too small, whatever the field holds.
      {"KCMPNM", 6, 1, std::string("\0", 1), 1340},
      {"KSTNM", 5, 1, std::string("\0", 1), 1340},
      {"KEVNM", 5, 0, "", 1340},
      {"KXYZ", 4, 1, std::string("\0", 1), 1337},
      // A defined field cut to what looks like the start of the undefined text.
      {"KNETWK", 6, 3, std::string("-1\0", 3), 0},
      // Terminated: the field cut to the buffer and terminated.
      {"KCMPNM", -1, 12, std::string("BHZ     \0   \0", 13), 0},
      {"KEVNM", -1, 20, std::string("EVENT-NAME-16CHR\0   \0", 21), 0},
      {"KCMPNM", -1, 2, std::string("BH\0", 3), 0},
      {"KSTNM", -1, 3, std::string("-12\0", 4), 1336},
  };
  for (const Case& c : cases) {
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    CaptureStdout();
    getkhv(c.name, buffer, &nerr, c.name_length, c.buffer_length);
    const std::string out = GetCapturedStdout();
    EXPECT_EQ(std::string(buffer, c.expected.size()), c.expected)
        << c.name << " " << c.buffer_length;
    EXPECT_EQ(buffer[c.expected.size()], '#') << c.name << " wrote past its buffer";
    EXPECT_EQ(nerr, c.nerr) << c.name;
    if (c.nerr == 1340) {
      EXPECT_EQ(out, error_line(c.nerr, c.name));
    } else if (c.nerr != 0) {
      EXPECT_EQ(out, warning_line(c.nerr, c.name));
    } else {
      EXPECT_EQ(out, "");
    }
  }
}

// Row: text without a terminator (a Fortran caller's) gets the field blank-padded or cut to
// exactly its length, never a NUL, also for fields that fill the text.
TEST(GetCharacterByName, PaddedTextHasNoTerminatorAtAnyWidth) {
  newhdr();
  int nerr = 0;
  setkhv("KCMPNM", "BHZ", &nerr, -1, -1);
  setkhv("KEVNM", "EVENT-NAME-16CHR", &nerr, -1, -1);
  setkhv("KNETWK", "ABCDEFGH", &nerr, -1, -1);
  setkhv("KSTNM", "WBM", &nerr, -1, -1);
  const struct {
    const char* name;
    int name_length;
    int length;
    std::string expected;
    int nerr;
  } cases[] = {
      {"KSTNM", 5, 8, "WBM     ", 0},
      {"KSTNM", -1, 8, "WBM     ", 0},  // a terminated name changes nothing for the text
      {"KCMPNM", 6, 3, "BHZ", 0},
      {"KCMPNM", 6, 2, "BH", 0},
      {"KNETWK", 6, 8, "ABCDEFGH", 0},
      {"KEVNM", 5, 16, "EVENT-NAME-16CHR", 0},
      {"KEVNM", 5, 17, "EVENT-NAME-16CHR ", 0},
      {"KEVNM", 5, 24, "EVENT-NAME-16CHR        ", 0},
      {"KEVNMC", 6, 8, "ME-16CHR", 0},
      {"KHOLE", 5, 8, "-12345  ", 1336},
      {"KXYZ", 4, 6, "-12345", 1337},
      {"KSTNM", 5, 0, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.length));
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    CaptureStdout();
    getkhvf(c.name, buffer, &nerr, c.name_length, c.length);
    const std::string out = GetCapturedStdout();
    EXPECT_EQ(std::string(buffer, c.expected.size()), c.expected);
    EXPECT_EQ(buffer[c.expected.size()], '#') << "wrote past the text";
    EXPECT_EQ(nerr, c.nerr);
    EXPECT_EQ(out, c.nerr != 0 ? warning_line(c.nerr, c.name) : "");
  }
}

TEST(GetCharacterByName, TerminatedModeWithoutRoomReturnsAtOnce) {
  newhdr();
  char buffer[4] = {'x', 'y', 'z', 'w'};
  int nerr = 5;
  CaptureStdout();
  getkhv("KSTNM", buffer, &nerr, -1, 0);
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(nerr, 0);
  EXPECT_EQ(std::string(buffer, 4), "xyzw");
}

}  // namespace
}  // namespace xcn
