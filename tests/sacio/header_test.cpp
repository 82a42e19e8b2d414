// Header model on disk: offsets of every named field, defaults of a new header, undefined values.
#include <cstring>
#include <string>
#include <vector>

#include "sacio/header_access.hpp"
#include "sacio/header_model.hpp"
#include "sacio/write.hpp"
#include "sacio_test_util.hpp"

namespace xcn {
namespace {

using namespace testing_util;

const std::vector<std::string> kFloatOrder = {
    "DELTA", "DEPMIN", "DEPMAX", "SCALE",  "ODELTA", "B",        "E",        "O",        "A",
    "FMT",   "T0",     "T1",     "T2",     "T3",     "T4",       "T5",       "T6",       "T7",
    "T8",    "T9",     "F",      "RESP0",  "RESP1",  "RESP2",    "RESP3",    "RESP4",    "RESP5",
    "RESP6", "RESP7",  "RESP8",  "RESP9",  "STLA",   "STLO",     "STEL",     "STDP",     "EVLA",
    "EVLO",  "EVEL",   "EVDP",   "MAG",    "USER0",  "USER1",    "USER2",    "USER3",    "USER4",
    "USER5", "USER6",  "USER7",  "USER8",  "USER9",  "DIST",     "AZ",       "BAZ",      "GCARC",
    "SB",    "SDELTA", "DEPMEN", "CMPAZ",  "CMPINC", "XMINIMUM", "XMAXIMUM", "YMINIMUM", "YMAXIMUM",
    "ADJTM", "FHDR65", "FHDR66", "FHDR67", "FHDR68", "FHDR69",   "FHDR70"};

const std::vector<std::string> kIntOrder = {"NZYEAR", "NZJDAY", "NZHOUR", "NZMIN",  "NZSEC",
                                            "NZMSEC", "NVHDR",  "NORID",  "NEVID",  "NPTS",
                                            "NSNPTS", "NWFID",  "NXSIZE", "NYSIZE", "NHDR15"};

// A value of its own for each integer field, where the file can take it: NPTS a count, NVHDR
// a version the reader takes (not the fresh header's 6).
int int_value(std::size_t k) {
  if (kIntOrder[k] == "NPTS") return 2;
  if (kIntOrder[k] == "NVHDR") return 5;
  return 5000 + static_cast<int>(k);
}

struct CharOffset {
  const char* name;
  std::size_t offset;
};
const std::vector<CharOffset> kCharOffsets = {
    {"KSTNM", 440},  {"KHOLE", 464},  {"KO", 472},     {"KA", 480},     {"KT0", 488},
    {"KT1", 496},    {"KT2", 504},    {"KT3", 512},    {"KT4", 520},    {"KT5", 528},
    {"KT6", 536},    {"KT7", 544},    {"KT8", 552},    {"KT9", 560},    {"KF", 568},
    {"KUSER0", 576}, {"KUSER1", 584}, {"KUSER2", 592}, {"KCMPNM", 600}, {"KNETWK", 608},
    {"KDATRD", 616}, {"KINST", 624}};

Bytes write_current(const ScratchDir& dir, std::vector<float> samples) {
  int nerr = -1;
  const std::string path = dir.file("h.sac");
  wsac0(path.c_str(), samples.data(), samples.data(), &nerr, -1);
  EXPECT_EQ(nerr, 0);
  return read_file(path);
}

TEST(HeaderLayout, EveryNamedFieldLandsAtItsOffset) {
  ScratchDir dir;
  newhdr();
  int nerr = 0;
  for (std::size_t k = 0; k < kFloatOrder.size(); ++k) {
    const float v = 1000.0f + static_cast<float>(k);
    setfhv(kFloatOrder[k].c_str(), &v, &nerr, -1);
    ASSERT_EQ(nerr, 0) << kFloatOrder[k];
  }
  for (std::size_t k = 0; k < kIntOrder.size(); ++k) {
    const int v = int_value(k);
    setnhv(kIntOrder[k].c_str(), &v, &nerr, -1);
    ASSERT_EQ(nerr, 0) << kIntOrder[k];
  }
  for (std::size_t k = 0; k < kCharOffsets.size(); ++k) {
    const std::string v = "c" + std::to_string(k) + "xyzABC";  // 8 or 9 characters
    setkhv(kCharOffsets[k].name, v.c_str(), &nerr, -1, -1);
    ASSERT_EQ(nerr, 0) << kCharOffsets[k].name;
  }
  setkhv("KEVNM", "0123456789abcdefXX", &nerr, -1, -1);
  Lhdr(kLcalda) = 0;  // keep the distance fields as set

  const Bytes b = write_current(dir, {-7.0f, 9.0f});
  ASSERT_EQ(b.size(), 632u + 8u);
  for (std::size_t k = 0; k < kFloatOrder.size(); ++k) {
    const std::string& name = kFloatOrder[k];
    float expected = 1000.0f + static_cast<float>(k);
    if (name == "DEPMIN") expected = -7.0f;
    if (name == "DEPMAX") expected = 9.0f;
    if (name == "DEPMEN") expected = 1.0f;
    EXPECT_EQ(float_at(b, 4 * k), expected) << name;
  }
  for (std::size_t k = 0; k < kIntOrder.size(); ++k) {
    EXPECT_EQ(int_at(b, 280 + 4 * k), int_value(k)) << kIntOrder[k];
  }
  for (std::size_t k = 0; k < kCharOffsets.size(); ++k) {
    const std::string v = "c" + std::to_string(k) + "xyzABC";
    EXPECT_EQ(text_at(b, kCharOffsets[k].offset, 8), v.substr(0, 8)) << kCharOffsets[k].name;
  }
  EXPECT_EQ(text_at(b, 448, 16), "0123456789abcdef");
}

TEST(HeaderLayout, FreshHeaderDefaultsOnDisk) {
  ScratchDir dir;
  newhdr();
  int nerr = 0;
  const int npts = 3;
  setnhv("npts", &npts, &nerr, 4);
  const Bytes b = write_current(dir, {1.0f, 2.0f, 6.0f});

  for (int k = 0; k < 70; ++k) {
    const std::size_t off = 4 * static_cast<std::size_t>(k);
    if (off == 4 || off == 8 || off == 224) continue;  // extrema of the samples
    EXPECT_EQ(word_at(b, off, false), 0xC640E400u) << "float at " << off;
  }
  EXPECT_EQ(float_at(b, 4), 1.0f);
  EXPECT_EQ(float_at(b, 8), 6.0f);
  EXPECT_EQ(float_at(b, 224), 3.0f);
  for (std::size_t off = 280; off < 420; off += 4) {
    std::int32_t expected = -12345;
    if (off == 304) expected = 6;  // NVHDR
    if (off == 316) expected = 3;  // NPTS
    if (off == 340) expected = 1;  // IFTYPE = ITIME
    EXPECT_EQ(int_at(b, off), expected) << "word at " << off;
  }
  const std::int32_t logicals[5] = {1, 0, 1, 1, 0};  // LEVEN LPSPOL LOVROK LCALDA LHDR5
  for (int k = 0; k < 5; ++k)
    EXPECT_EQ(int_at(b, 420 + 4 * static_cast<std::size_t>(k)), logicals[k]);
  EXPECT_EQ(text_at(b, 440, 8), "-12345  ");
  EXPECT_EQ(text_at(b, 448, 16), "-12345          ");
  for (std::size_t off = 464; off < 632; off += 8) EXPECT_EQ(text_at(b, off, 8), "-12345  ");
}

TEST(HeaderModel, NewHeaderIsRepeatableAndUndefinedIsExact) {
  newhdr();
  const int npts = 7;
  int nerr = 0;
  setnhv("NPTS", &npts, &nerr, -1);
  setkhv("KSTNM", "ABC", &nerr, -1, -1);
  newhdr();
  CmHdr first = cmhdr();
  KmHdr first_k = kmhdr();
  newhdr();
  EXPECT_EQ(std::memcmp(&first, &cmhdr(), sizeof first), 0);
  EXPECT_EQ(std::memcmp(&first_k, &kmhdr(), sizeof first_k), 0);
  EXPECT_EQ(Nhdr(kNpts), -12345);
  EXPECT_EQ(Niv(830), 830);

  float v = -12345.5f;
  setfhv("B", &v, &nerr, -1);
  float got = 0.0f;
  testing::internal::CaptureStdout();
  getfhv("B", &got, &nerr, -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(nerr, 0);
  EXPECT_EQ(got, -12345.5f);
}

TEST(HeaderModel, KevnmcIsTheSecondHalfOfKevnm) {
  ScratchDir dir;
  newhdr();
  int nerr = 0;
  setkhv("KEVNM", "AB-CD", &nerr, -1, -1);
  const int one = 1;
  setnhv("NPTS", &one, &nerr, -1);
  EXPECT_EQ(text_at(write_current(dir, {0.0f}), 448, 16), "AB-CD           ");

  setkhv("KEVNM", "FIRSTEV1SECOND22", &nerr, -1, -1);
  char half[9] = {};
  getkhv("KEVNMC", half, &nerr, -1, 8);
  EXPECT_STREQ(half, "SECOND22");
  setkhv("KEVNMC", "tail", &nerr, -1, -1);
  const Bytes b = write_current(dir, {0.0f});
  EXPECT_EQ(text_at(b, 448, 16), "FIRSTEV1tail    ");
  EXPECT_EQ(text_at(b, 464, 8), "-12345  ");  // KHOLE untouched
}

}  // namespace
}  // namespace xcn
