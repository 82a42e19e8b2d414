// Reading SAC files: both byte orders, version and evenness checks, capacity, damaged files.
#include "sacio/read.hpp"

#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "sacio/file.hpp"
#include "sacio/header_access.hpp"
#include "sacio/header_model.hpp"
#include "sacio_test_util.hpp"

namespace xcn {
namespace {

using namespace testing_util;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

constexpr int kNvhdrWord = 76;
constexpr int kNptsWord = 79;
constexpr int kLevenWord = 105;

SacImage sample_image() {
  SacImage img;
  img.set_float(0, 0.05f);   // DELTA
  img.set_float(5, 12.5f);   // B
  img.set_float(31, 45.5f);  // STLA
  img.set_int(70, 2024);     // NZYEAR
  std::memcpy(img.chars, "STA01   ", 8);
  std::memcpy(img.chars + 8, "EVENT-NAME-16CHR", 16);
  std::memcpy(img.chars + 160, "BHZ     ", 8);  // KCMPNM
  img.set_samples({1.5f, -2.25f, 3.0e-7f, 1.0e30f, -0.0f});
  return img;
}

struct ReadResult {
  int nerr = 0;
  int nlen = -1;
  float beg = 0.0f;
  float del = 0.0f;
  std::vector<float> y;
};

ReadResult read(const std::string& path, int capacity = 16, int name_length = -1) {
  ReadResult r;
  r.y.assign(static_cast<std::size_t>(capacity) + 4, 777.0f);
  rsac1(path.c_str(), r.y.data(), &r.nlen, &r.beg, &r.del, &capacity, &r.nerr, name_length);
  return r;
}

TEST(ReadSac, BothByteOrdersReadIdentically) {
  ScratchDir dir;
  const SacImage img = sample_image();
  write_file(dir.file("le.sac"), img.bytes(false));
  write_file(dir.file("be.sac"), img.bytes(true));

  newhdr();
  const ReadResult little = read(dir.file("le.sac"));
  const CmHdr little_header = cmhdr();
  const KmHdr little_chars = kmhdr();
  newhdr();
  const ReadResult big = read(dir.file("be.sac"));

  ASSERT_EQ(little.nerr, 0);
  ASSERT_EQ(big.nerr, 0);
  EXPECT_EQ(big.nlen, 5);
  EXPECT_EQ(big.beg, 12.5f);
  EXPECT_EQ(big.del, 0.05f);
  EXPECT_EQ(big.y, little.y);
  EXPECT_EQ(std::vector<float>(big.y.begin(), big.y.begin() + 5), img.samples);
  EXPECT_EQ(big.y[5], 777.0f);  // nothing beyond NPTS
  EXPECT_EQ(std::memcmp(&little_header.words, &cmhdr().words, sizeof little_header.words), 0);
  EXPECT_EQ(std::memcmp(&little_chars, &kmhdr(), sizeof little_chars), 0);
  EXPECT_EQ(Nhdr(kNvhdr), 6);
  EXPECT_EQ(Fhdr(kStla), 45.5f);
  EXPECT_EQ(Fhdr(kE), 12.5f + 4.0f * 0.05f);
  // The character block is taken as it is, never reversed.
  EXPECT_EQ(std::string(Khdr(kKstnm)), "STA01   ");
  EXPECT_EQ(std::string(Khdr(kKevnm)), "EVENT-NAME-16CHR");
  EXPECT_EQ(std::string(Khdr(21)), "BHZ     ");
}

TEST(ReadSac, VersionValidInNeitherOrderIsRefusedOnce) {
  ScratchDir dir;
  for (int version : {0, 7}) {
    for (bool big : {false, true}) {
      SacImage img = sample_image();
      img.set_int(kNvhdrWord, version);
      write_file(dir.file("v.sac"), img.bytes(big));
      newhdr();
      CaptureStdout();
      const ReadResult r = read(dir.file("v.sac"));
      const std::string out = GetCapturedStdout();
      EXPECT_EQ(r.nerr, 1317);
      EXPECT_EQ(r.nlen, 0);
      EXPECT_EQ(out, "\a ERROR 1317: " + message_text(1317) +
                         "\n not in sac format, nor byteswapped sac format.\n");
      EXPECT_EQ(r.y[0], 777.0f);
    }
  }
}

TEST(ReadSac, MoreSamplesThanCapacityAreCut) {
  ScratchDir dir;
  SacImage img;
  const float b = 0.1f;
  const float delta = 0.05f;
  img.set_float(0, delta);
  img.set_float(5, b);
  std::vector<float> y(172801);
  for (std::size_t i = 0; i < y.size(); ++i) y[i] = static_cast<float>(i);
  img.set_samples(y);
  write_file(dir.file("long.sac"), img.bytes(true));

  newhdr();
  const ReadResult r = read(dir.file("long.sac"), 172800);
  EXPECT_EQ(r.nerr, -803);
  EXPECT_EQ(r.nlen, 172800);
  EXPECT_EQ(r.y[172799], 172799.0f);
  EXPECT_EQ(r.y[172800], 777.0f);
  EXPECT_EQ(Nhdr(kNpts), 172800);
  const float cap_minus_one = 172799.0f;
  EXPECT_EQ(Fhdr(kE), b + cap_minus_one * delta);

  SacImage short_one;
  short_one.set_float(0, delta);
  short_one.set_float(5, b);
  short_one.set_float(6, 99.0f);  // a stale E is recomputed
  short_one.set_samples(std::vector<float>(1000, 1.0f));
  write_file(dir.file("short.sac"), short_one.bytes(false));
  const ReadResult s = read(dir.file("short.sac"), 172800);
  EXPECT_EQ(s.nerr, 0);
  EXPECT_EQ(s.nlen, 1000);
  EXPECT_EQ(Fhdr(kE), b + 999.0f * delta);
}

TEST(ReadSac, UnevenFileIsRefusedNamingIt) {
  ScratchDir dir;
  SacImage img = sample_image();
  img.set_int(kLevenWord, 0);
  const std::string path = dir.file("uneven.sac");
  write_file(path, img.bytes(false));
  newhdr();
  CaptureStdout();
  const ReadResult r = read(path);
  EXPECT_EQ(GetCapturedStdout(), error_line(801, path));
  EXPECT_EQ(r.nerr, 801);
  EXPECT_EQ(r.nlen, 0);
  EXPECT_EQ(r.y[0], 777.0f);
  EXPECT_EQ(Fhdr(kB), 12.5f);  // the header is loaded
}

// A damaged file: 114 composed and left to the caller, no sample count, and the reason in
// words (an empty file is said to be empty).
TEST(ReadSac, DamagedFilesReportAFailure) {
  ScratchDir dir;
  const Bytes good = sample_image().bytes(false);
  struct Case {
    const char* what;
    Bytes bytes;
    int nerr;
    const char* why;
  };
  SacImage overlong = sample_image();
  overlong.set_int(kNptsWord, 6);  // one sample more than the file holds
  SacImage huge = sample_image();
  huge.set_int(kNptsWord, 0x7fffffff);
  const char* shorter = "the file is shorter than its header says";
  const char* no_header = "it is not a SAC file (too short to hold a header)";
  const Case cases[] = {
      {"cut to 600 bytes", Bytes(good.begin(), good.begin() + 600), 114, no_header},
      {"cut inside the numeric block", Bytes(good.begin(), good.begin() + 100), 114, no_header},
      {"one byte", Bytes(1, 0), 114, no_header},
      {"header whole, no sample", Bytes(good.begin(), good.begin() + 632), 114, shorter},
      {"empty", Bytes(), 114, "the file is empty"},
      {"NPTS beyond the samples", overlong.bytes(false), 114, shorter},
      {"NPTS huge", huge.bytes(true), 114, shorter},
  };
  for (const Case& c : cases) {
    write_file(dir.file("bad.sac"), c.bytes);
    newhdr();
    CaptureStdout();
    const ReadResult r = read(dir.file("bad.sac"), 16);
    EXPECT_EQ(GetCapturedStdout(), "") << c.what;  // composed, left to the caller
    EXPECT_EQ(r.nerr, c.nerr) << c.what;
    EXPECT_EQ(r.nlen, 0) << c.what;
    EXPECT_EQ(read_failure(r.nerr), c.why) << c.what;
    EXPECT_EQ(message_store().current_number, c.nerr) << c.what;
  }
}

TEST(ReadSac, NegativeNptsStoresNothing) {
  ScratchDir dir;
  SacImage img = sample_image();
  img.set_int(kNptsWord, -5);
  const std::string path = dir.file("neg.sac");
  write_file(path, img.bytes(false));
  newhdr();
  CaptureStdout();
  const ReadResult r = read(path, 4);
  EXPECT_EQ(GetCapturedStdout(), error_line(1317, path) + " NPTS is negative: -5\n");
  EXPECT_EQ(r.nerr, 1317);
  EXPECT_EQ(r.nlen, 0);
  for (float v : r.y) EXPECT_EQ(v, 777.0f);
}

TEST(ReadSac, MissingFileLeavesHeaderAndConsoleAlone) {
  ScratchDir dir;
  newhdr();
  const float b = 3.0f;
  int nerr = 0;
  setfhv("B", &b, &nerr, -1);
  const CmHdr before = cmhdr();
  CaptureStdout();
  const ReadResult r = read(dir.file("absent.sac"));
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(r.nerr, 108);
  EXPECT_EQ(r.nlen, 0);
  EXPECT_EQ(std::memcmp(&before, &cmhdr(), sizeof before), 0);
}

TEST(ReadSac, BlankPaddedNameAndHeaderOnlyRead) {
  ScratchDir dir;
  const std::string path = dir.file("pad.sac");
  write_file(path, sample_image().bytes(true));
  std::string padded = path + std::string(20, ' ');
  newhdr();
  const ReadResult r = read(padded, 16, static_cast<int>(padded.size()));
  EXPECT_EQ(r.nerr, 0);
  EXPECT_EQ(r.nlen, 5);

  newhdr();
  int nerr = -1;
  rsach(padded.c_str(), &nerr, static_cast<int>(padded.size()));
  EXPECT_EQ(nerr, 0);
  EXPECT_EQ(Nhdr(kNpts), 5);
  EXPECT_EQ(Fhdr(kStla), 45.5f);
}

// A text ended by a NUL, then what an earlier value left behind.
std::string nul_ended(const std::string& text, const std::string& rest) {
  return text + '\0' + rest;
}

// Other programs end a shorter text with a NUL over the "-12345  " of a fresh header.
TEST(ReadSac, ACharacterFieldEndsAtItsFirstNul) {
  const struct {
    const char* name;
    std::size_t offset;  // in the character block
    std::string bytes;
    std::string text;  // getkhv into a blank-padded buffer of 16
  } cases[] = {
      {"KSTNM", 0, nul_ended("WBM", "45  "), "WBM"},
      {"KSTNM", 0, "STA01   ", "STA01"},
      {"KSTNM", 0, std::string(8, '\0'), ""},
      {"KEVNM", 8, nul_ended("CCC-CLC", "5       "), "CCC-CLC"},
      {"KEVNM", 8, nul_ended("ABCDEFGHIJ", "345  "), "ABCDEFGHIJ"},
      {"KEVNM", 8, "EVENT-NAME-16CHR", "EVENT-NAME-16CHR"},
      {"KCMPNM", 160, nul_ended("BHZ", "45  "), "BHZ"},
      {"KCMPNM", 160, nul_ended("BH Z", "\x01x "), "BH Z"},
  };
  ScratchDir dir;
  for (const auto& c : cases) {
    SacImage img = sample_image();
    std::memcpy(img.chars + c.offset, c.bytes.data(), c.bytes.size());
    write_file(dir.file("k.sac"), img.bytes(true));
    newhdr();
    ASSERT_EQ(read(dir.file("k.sac")).nerr, 0);
    char value[17] = {};
    int nerr = -1;
    getkhv(c.name, value, &nerr, -1, 16);
    // The field's width is that of its bytes in the file.
    EXPECT_EQ(std::string(value), c.text + std::string(c.bytes.size() - c.text.size(), ' '))
        << c.name << " " << c.text;
  }
}

TEST(ReadSac, NamesThatAreNotRegularFilesAreRefusedWithoutWaiting) {
  ScratchDir dir;
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  ASSERT_EQ(mkdir(dir.file("dir").c_str(), 0700), 0);
  newhdr();  // the message texts, for the expected lines
  for (const std::string& path : {dir.file("fifo"), dir.file("dir"), std::string("/dev/null")}) {
    // In a child that an alarm ends: a read that waits fails the test instead of hanging it.
    const ChildResult r = run_in_child([&] {
      alarm(10);
      newhdr();
      std::string seen;
      const ReadResult got = read(path);
      std::string composed(message_texts().lines[0]);
      composed.erase(composed.find_last_not_of(' ') + 1);
      seen += std::to_string(got.nerr) + " " + composed + "\n";
      int nerr = 0;
      rsach(path.c_str(), &nerr, -1);
      seen += std::to_string(nerr) + "\n";
      int handle = 0;
      zopen_sac(&handle, path.c_str(), -1, "DATA", 4, &nerr);
      seen += std::to_string(nerr) + " " + std::to_string(handle) + "\n";
      std::fputs(seen.c_str(), stdout);
      return 0;
    });
    EXPECT_EQ(r.status, 0) << path;
    EXPECT_EQ(r.out,
              "101 " + message_text(101) + " " + path + " (Not a regular file.)\n101\n101 1\n")
        << path;
  }
}

TEST(ByteSwap, ReversesTwoFourAndEightBytesOnly) {
  unsigned char v[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(byteswap(v, 2), 0);
  EXPECT_EQ(v[0], 2);
  EXPECT_EQ(v[1], 1);
  EXPECT_EQ(byteswap(v, 8), 0);
  EXPECT_EQ(v[0], 8);
  EXPECT_EQ(v[6], 1);
  EXPECT_EQ(v[7], 2);
  EXPECT_EQ(byteswap(v, 4), 0);
  EXPECT_EQ(v[0], 5);
  EXPECT_EQ(v[3], 8);
  EXPECT_EQ(byteswap(v, 3), -1);
  EXPECT_EQ(v[0], 5);
}

}  // namespace
}  // namespace xcn
