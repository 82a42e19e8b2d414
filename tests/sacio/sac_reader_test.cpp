// The reader that touches no process-wide state: the same header, samples, error numbers and
// printed messages as rsac1, files of any length read whole, and the header a write would give.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "sacio/header_access.hpp"
#include "sacio/header_model.hpp"
#include "sacio/read.hpp"
#include "sacio/write.hpp"
#include "sacio_test_util.hpp"

namespace xcn {
namespace {

using namespace testing_util;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

constexpr int kNptsWord = 79;
constexpr int kLevenWord = 105;

// A result of n samples whose station name ends early with a NUL, as other programs write it.
testing_util::SacImage record(std::size_t n) {
  testing_util::SacImage img;
  img.set_float(0, 0.01f);  // DELTA
  img.set_float(5, -1.0f);  // B
  std::memcpy(img.chars, "STA01\0\0\0S1-S2", 13);
  std::vector<float> y(n);
  for (std::size_t k = 0; k < n; ++k) y[k] = static_cast<float>(k) * 0.5f - 3.0f;
  img.set_samples(y);
  return img;
}

// Longer than any record row, in either byte order: the header and the samples rsac1 gives.
TEST(SacReader, ReadsEitherByteOrderWholeAsRsac1Does) {
  ScratchDir dir;
  const std::string path = dir.file("r.sac");
  const testing_util::SacImage img = record(200000);
  for (const bool big : {false, true}) {
    const Bytes bytes = img.bytes(big);
    write_file(path, bytes);
    newhdr();
    std::vector<float> y(200000);
    int nlen = 0, nerr = 0, max = 200000;
    float b = 0, dt = 0;
    rsac1(path.c_str(), y.data(), &nlen, &b, &dt, &max, &nerr, -1);
    ASSERT_EQ(nerr, 0);

    SacReader file(path);
    std::vector<float> samples;
    ASSERT_EQ(file.read_samples(samples), 0);
    const SacHeader& h = file.header();
    EXPECT_EQ(samples, y);
    EXPECT_EQ(samples, img.samples);
    EXPECT_TRUE(std::equal(h.bytes.begin(), h.bytes.end(), bytes.begin())) << big;
    NumericBlock words = h.words;
    words.fhdr[kE - 1] = Fhdr(kE);  // which rsac1 sets from B, NPTS and DELTA
    EXPECT_EQ(std::memcmp(&words, &cmhdr().words, sizeof words), 0) << big;
    EXPECT_EQ(h.text(kKstnm), std::string(Khdr(kKstnm), 8));
    EXPECT_EQ(h.text(kKevnm), std::string(Khdr(kKevnm), 16));
    EXPECT_EQ(h.text(kKstnm), "STA01   ");
  }
}

// Every refusal has rsac1's error number, wording and printed message; nothing is sized by a
// header that promises more than the file holds.
TEST(SacReader, RefusesWhatRsac1RefusesWithItsNumberAndMessage) {
  ScratchDir dir;
  const Bytes good = record(5).bytes(true);
  auto with = [](int word, std::int32_t value) {
    testing_util::SacImage img = record(5);
    img.set_int(word, value);
    return img.bytes(false);
  };
  Bytes not_sac = good;
  std::memset(not_sac.data() + 304, 0x7f, 4);  // NVHDR valid in neither order
  const struct Case {
    const char* what;
    Bytes bytes;
    int nerr;
    const char* why;
  } cases[] = {
      {"empty", {}, 114, "the file is empty"},
      {"cut inside the header", Bytes(good.begin(), good.begin() + 500), 114,
       "it is not a SAC file (too short to hold a header)"},
      {"cut inside the numeric block", Bytes(good.begin(), good.begin() + 439), 114,
       "it is not a SAC file (too short to hold a header)"},
      {"NPTS one beyond the file", with(kNptsWord, 6), 114,
       "the file is shorter than its header says"},
      {"NPTS huge", with(kNptsWord, 0x7fffffff), 114, "the file is shorter than its header says"},
      {"not SAC", not_sac, 1317, "it is not a SAC file"},
      {"NPTS negative", with(kNptsWord, -5), 1317, "it is not a SAC file"},
      {"uneven", with(kLevenWord, 0), 801, "the record is not evenly sampled (LEVEN is false)"},
  };
  newhdr();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir.file("bad.sac");
    write_file(path, c.bytes);
    std::vector<float> y(8, 777.0f);
    int nlen = 0, nerr = 0, max = 8;
    float b = 0, dt = 0;
    CaptureStdout();
    rsac1(path.c_str(), y.data(), &nlen, &b, &dt, &max, &nerr, -1);
    const std::string printed = GetCapturedStdout();
    ASSERT_EQ(nerr, c.nerr);
    clrmsg();

    const CmHdr before = cmhdr();
    SacReader file(path);
    std::vector<float> samples(3, 1.0f);
    CaptureStdout();
    EXPECT_EQ(file.read_samples(samples), c.nerr);
    EXPECT_EQ(GetCapturedStdout(), "");  // the read itself prints nothing
    EXPECT_EQ(file.nerr(), c.nerr);
    EXPECT_TRUE(samples.empty());
    EXPECT_EQ(file.failure(), c.why);
    EXPECT_EQ(std::memcmp(&before, &cmhdr(), sizeof before), 0);  // the current header untouched
    CaptureStdout();
    file.report(path.c_str(), -1);
    EXPECT_EQ(GetCapturedStdout(), printed);
  }
  // No such file, and a name that is not a regular file.
  ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0700), 0);
  EXPECT_EQ(SacReader(dir.file("absent.sac")).nerr(), 108);
  EXPECT_EQ(SacReader(dir.file("absent.sac")).failure(), "the file does not exist");
  EXPECT_EQ(SacReader(dir.file("folder")).nerr(), 101);
}

// A program looking at its own results leaves their access times as they were, on any mount.
TEST(SacReader, LooksAtItsOwnFileWithoutRecordingAnAccess) {
  ScratchDir dir;
  const std::string path = dir.file("own.sac");
  write_file(path, record(10).bytes(false));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  // Accessed long before it was last written: any mount but noatime records the next read.
  const timespec old[2] = {{st.st_mtim.tv_sec - 86400 * 3, 0}, st.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
  for (int k = 0; k < 2; ++k) {
    const SacReader file(path, SacReader::Access::kUnrecorded);
    EXPECT_EQ(file.nerr(), 0);
    EXPECT_EQ(file.header().integer(kNpts), 10);
  }
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_atim.tv_sec, old[0].tv_sec);
  EXPECT_EQ(st.st_atim.tv_nsec, 0);
}

// The header a write would give the current header, known without the samples: the first 632
// bytes of the file wsac0 writes, in either byte order; none where wsac0 refuses.
TEST(HeaderImage, IsTheHeaderWsac0Writes) {
  ScratchDir dir;
  const std::string path = dir.file("w.sac");
  const int host = CheckByteOrder();
  for (const int order : {host, 1 - host}) {
    sac_byte_order(order);
    const auto header = [] {
      newhdr();
      Nhdr(kNpts) = 4;
      Fhdr(kDelta) = 0.5f;
      Fhdr(kStla) = 10.0f;
      Fhdr(kEvla) = 11.0f;
      Fhdr(kStlo) = Fhdr(kEvlo) = 20.0f;
    };
    header();
    std::vector<float> y = {1.0f, -2.0f, 4.0f, 0.5f};
    int nerr = 0;
    wsac0(path.c_str(), y.data(), y.data(), &nerr, -1);
    ASSERT_EQ(nerr, 0);
    const Bytes written = read_file(path);
    header();
    EXPECT_EQ(header_image(-2.0f, 4.0f, 0.875f), Bytes(written.begin(), written.begin() + 632));
    header();
    EXPECT_NE(header_image(-2.0f, 4.5f, 0.875f), Bytes(written.begin(), written.begin() + 632));
  }
  sac_byte_order(host);
  Lhdr(kLovrok) = 0;  // what wsac0 refuses has no header
  EXPECT_TRUE(header_image(0, 0, 0).empty());
}

}  // namespace
}  // namespace xcn
