// Writing SAC files: byte order, extrema, distance update, refusals, and safe replacement.
#include "sacio/write.hpp"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "sacio/header_access.hpp"
#include "sacio/header_model.hpp"
#include "sacio/read.hpp"
#include "sacio_test_util.hpp"

namespace xcn {
namespace {

using namespace testing_util;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

void set_f(const char* name, float v) {
  int nerr = 0;
  setfhv(name, &v, &nerr, -1);
  ASSERT_EQ(nerr, 0) << name;
}

void set_n(const char* name, int v) {
  int nerr = 0;
  setnhv(name, &v, &nerr, -1);
  ASSERT_EQ(nerr, 0) << name;
}

// The byte-order decision is made once per process: these tests need a process of their own,
// as CTest gives each test.
#define REQUIRE_UNDECIDED_BYTE_ORDER() \
  if (sac_byte_order(2) >= 0) GTEST_SKIP() << "byte order already decided in this process"

// A fresh header for n samples, written to path; returns nerr.
int write_fresh(const std::string& path, std::vector<float> y) {
  newhdr();
  set_n("NPTS", static_cast<int>(y.size()));
  set_f("DELTA", 0.5f);
  int nerr = -1;
  wsac0(path.c_str(), y.data(), y.data(), &nerr, -1);
  return nerr;
}

TEST(WriteByteOrder, EnvironmentPrefixesChooseTheOrder) {
  REQUIRE_UNDECIDED_BYTE_ORDER();
  const bool host_big = CheckByteOrder() == 1;
  struct Case {
    std::optional<std::string> value;
    bool big;
    bool warns = false;  // neither big nor little: the host's order, and a warning
  };
  const Case cases[] = {
      {std::nullopt, host_big},
      {"big", true},
      {"BIG", true},
      {"b", true},
      {"s", true},
      {"PowerPC", true},
      {"bigendian", true},
      {"ppc", true},
      {"little", false},
      {"LITTLE", false},
      {"x", false},
      {"i", false},
      {"littleendian", false},
      {"intel", false},
      {"", false},
      {"sun", host_big, true},
      {"network", host_big, true},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    // The decision is made once per process, so every value gets its own.
    const ChildResult r = run_in_child([&] {
      dup2(1, 2);  // the warning too
      if (c.value) {
        setenv("SAC_WRITE_BYTE_ORDER", c.value->c_str(), 1);
      } else {
        unsetenv("SAC_WRITE_BYTE_ORDER");
      }
      write_fresh(dir.file("o.sac"), {3.0f});
      return write_fresh(dir.file("o.sac"), {1.0f, 2.0f});
    });
    const std::string label = c.value ? "'" + *c.value + "'" : "unset";
    ASSERT_EQ(r.status, 0) << label;
    EXPECT_EQ(r.out, c.warns ? "WARNING: SAC_WRITE_BYTE_ORDER \"" + *c.value +
                                   "\" is neither big nor little: files are written in this "
                                   "machine's byte order (" +
                                   (host_big ? "big" : "little") + "-endian)\n"
                             : "")
        << label;
    const Bytes b = read_file(dir.file("o.sac"));
    const Bytes nvhdr(b.begin() + 304, b.begin() + 308);
    EXPECT_EQ(nvhdr, c.big ? Bytes({0, 0, 0, 6}) : Bytes({6, 0, 0, 0})) << label;
    EXPECT_EQ(float_at(b, 632, c.big), 1.0f) << label;
  }
}

TEST(WriteByteOrder, DecisionHoldsForTheProcess) {
  REQUIRE_UNDECIDED_BYTE_ORDER();
  ScratchDir dir;
  const ChildResult r = run_in_child([&] {
    setenv("SAC_WRITE_BYTE_ORDER", "big", 1);
    write_fresh(dir.file("1.sac"), {1.0f});
    setenv("SAC_WRITE_BYTE_ORDER", "little", 1);
    return write_fresh(dir.file("2.sac"), {1.0f});
  });
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(int_at(read_file(dir.file("2.sac")), 304, true), 6);
}

TEST(WriteByteOrder, ReversedWriteKeepsHeaderButNotSamples) {
  REQUIRE_UNDECIDED_BYTE_ORDER();
  ScratchDir dir;
  setenv("SAC_WRITE_BYTE_ORDER", CheckByteOrder() == 1 ? "little" : "big", 1);
  newhdr();
  set_n("NPTS", 3);
  set_f("B", 1.25f);
  set_f("DELTA", 0.5f);
  set_f("E", 2.25f);  // as a read recomputes it
  int nerr = 0;
  setkhv("KSTNM", "ABCD", &nerr, -1, -1);
  std::vector<float> y = {1.0f, -2.0f, 3.5f};
  const std::vector<float> original = y;
  wsac0(dir.file("r.sac").c_str(), y.data(), y.data(), &nerr, -1);
  ASSERT_EQ(nerr, 0);
  const CmHdr after = cmhdr();

  const bool big = CheckByteOrder() == 0;
  const Bytes b = read_file(dir.file("r.sac"));
  EXPECT_EQ(int_at(b, 304, big), 6);
  EXPECT_EQ(int_at(b, 316, big), 3);
  EXPECT_EQ(float_at(b, 20, big), 1.25f);
  EXPECT_EQ(text_at(b, 440, 8), "ABCD    ");
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(float_at(b, 632 + 4 * i, big), original[i]);
  EXPECT_EQ(Nhdr(kNpts), 3);
  EXPECT_EQ(Fhdr(kB), 1.25f);
  for (std::size_t i = 0; i < 3; ++i) {
    float back = y[i];
    byteswap(&back, 4);
    EXPECT_EQ(back, original[i]);
  }
  // Reading it back gives the host-order header again.
  newhdr();
  std::vector<float> z(3);
  int nlen = 0, cap = 3;
  float beg = 0.0f, del = 0.0f;
  rsac1(dir.file("r.sac").c_str(), z.data(), &nlen, &beg, &del, &cap, &nerr, -1);
  EXPECT_EQ(nerr, 0);
  EXPECT_EQ(z, original);
  EXPECT_EQ(std::memcmp(&after.words, &cmhdr().words, sizeof after.words), 0);
}

TEST(Extrema, MinimumMaximumMeanInSinglePrecision) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    std::vector<float> y;
    int increment;
    float lo, hi, mean;  // NaN means NaN
  };
  const Case cases[] = {
      {{1, 2, 3, 4}, 1, 1, 4, 2.5f},         {{5}, 1, 5, 5, 5},
      {{3, -1, 7, 100, 2, -50}, 2, 2, 7, 4}, {{nan, 1, 2}, 1, nan, nan, nan},
      {{1, nan, 3}, 1, 1, 3, nan},
  };
  for (const Case& c : cases) {
    float lo = 0, hi = 0, mean = 0;
    const int n = (static_cast<int>(c.y.size()) + c.increment - 1) / c.increment;
    extrma(c.y.data(), c.increment, n, &lo, &hi, &mean);
    auto same = [](float a, float b) { return std::isnan(b) ? std::isnan(a) : a == b; };
    EXPECT_TRUE(same(lo, c.lo)) << lo;
    EXPECT_TRUE(same(hi, c.hi)) << hi;
    EXPECT_TRUE(same(mean, c.mean)) << mean;
  }
}

// The one-pass loop every result's header values come from, as the format's own writer runs it.
void one_pass(const float* y, int n, float* lo, float* hi, float* mean) {
  *lo = *hi = y[0];
  float sum = y[0];
  for (int i = 1; i < n; ++i) {
    sum += y[i];
    if (y[i] - *lo < 0.0f) {
      *lo = y[i];
    } else if (y[i] - *hi > 0.0f) {
      *hi = y[i];
    }
  }
  *mean = sum / static_cast<float>(n);
}

TEST(Extrema, AgreeBitForBitWithTheOnePassLoopOnAwkwardValues) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float tiny = std::numeric_limits<float>::denorm_min();
  const float awkward[] = {0.0f, -0.0f, inf, -inf, nan, tiny, -tiny, 1.0f, -1.0f, 3e38f, -3e38f};
  std::uint32_t state = 12345;
  const auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  const auto bits = [](float v) {
    std::uint32_t b = 0;
    std::memcpy(&b, &v, sizeof b);
    return b;
  };
  for (int trial = 0; trial < 4000; ++trial) {
    const int n = trial < 3000 ? 1 + trial % 40 : 2047;
    std::vector<float> y(static_cast<std::size_t>(n));
    // Zeros of both signs as the lowest values, as the highest, or among any others.
    const float side = trial % 3 == 0 ? 1.0f : trial % 3 == 1 ? -1.0f : 0.0f;
    for (float& v : y) {
      const unsigned pick = next() % 8;
      if (side == 0.0f) {
        v = pick < 3 ? awkward[next() % std::size(awkward)]
                     : static_cast<float>(static_cast<int>(next() % 7) - 3);
      } else {
        v = pick < 2 ? 0.0f : pick < 4 ? -0.0f : pick < 5 ? nan : side * (1.0f + pick);
      }
    }
    float lo = 0, hi = 0, mean = 0, want_lo = 0, want_hi = 0, want_mean = 0;
    extremes(y.data(), 1, n, &lo, &hi, &mean);
    one_pass(y.data(), n, &want_lo, &want_hi, &want_mean);
    ASSERT_EQ(bits(lo), bits(want_lo)) << "trial " << trial;
    ASSERT_EQ(bits(hi), bits(want_hi)) << "trial " << trial;
    // A NaN sum's sign follows the order the compiler gives the operands of an addition.
    if (!std::isnan(want_mean)) {
      ASSERT_EQ(bits(mean), bits(want_mean)) << "trial " << trial;
    }
    ASSERT_EQ(std::isnan(mean), std::isnan(want_mean)) << "trial " << trial;
  }
}

TEST(Extrema, InfiniteSampleWarnsAndStillWrites) {
  ScratchDir dir;
  CaptureStdout();
  const int nerr = write_fresh(dir.file("inf.sac"), {1.0f, std::numeric_limits<float>::infinity()});
  EXPECT_EQ(GetCapturedStdout(),
            " WARNING: Data value outside system storage bounds\n"
            " Maxvalue = inf  Minvalue = 1\n");
  EXPECT_EQ(nerr, 0);
  EXPECT_EQ(read_file(dir.file("inf.sac")).size(), 632u + 8u);
}

struct DistanceCase {
  const char* what;
  bool lcalda;
  float evla, evlo, stla, stlo;
  float dist, az, baz, gcarc;  // before the write
  // After: NaN means "recomputed, checked against the reference values".
  float want_dist, want_az, want_baz, want_gcarc;
};

TEST(DistanceUpdate, OnlyFieldsAlreadyNonNegativeAreRecomputed) {
  const float u = -12345.0f;
  const float calc = std::numeric_limits<float>::quiet_NaN();
  const DistanceCase cases[] = {
      {"three requested", true, 35, 139, 40, -120, 0, 5, 0, u, calc, calc, calc, u},
      {"none requested", true, 35, 139, 40, -120, u, u, u, u, u, u, u, u},
      {"only dist", true, 35, 139, 40, -120, 0, u, u, u, calc, u, u, u},
      {"coincident", true, 10, 20, 10, 20, u, 77, u, u, u, 0, 0, u},
      {"event undefined", true, u, 20, 10, 20, 7, 8, 9, 10, 7, 8, 9, 10},
      {"lcalda false", false, 35, 139, 40, -120, 7, 8, 9, 10, 7, 8, 9, 10},
      {"negative kept", true, 35, 139, 40, -120, -1, 0, -2, 0, -1, calc, -2, calc},
  };
  // Reference values for event (35, 139), station (40, -120).
  const float ref_dist = 8423.95f, ref_az = 51.0601f, ref_baz = 303.7717f, ref_gcarc = 75.8035f;
  ScratchDir dir;
  for (const DistanceCase& c : cases) {
    newhdr();
    set_n("NPTS", 1);
    set_f("EVLA", c.evla);
    set_f("EVLO", c.evlo);
    set_f("STLA", c.stla);
    set_f("STLO", c.stlo);
    set_f("DIST", c.dist);
    set_f("AZ", c.az);
    set_f("BAZ", c.baz);
    set_f("GCARC", c.gcarc);
    Lhdr(kLcalda) = c.lcalda ? 1 : 0;
    float y = 0.0f;
    int nerr = -1;
    wsac0(dir.file("d.sac").c_str(), &y, &y, &nerr, -1);
    ASSERT_EQ(nerr, 0) << c.what;
    const Bytes b = read_file(dir.file("d.sac"));
    auto check = [&](std::size_t off, float want, float ref, double tol, const char* field) {
      if (std::isnan(want)) {
        EXPECT_NEAR(float_at(b, off), ref, tol) << c.what << " " << field;
      } else {
        EXPECT_EQ(float_at(b, off), want) << c.what << " " << field;
      }
    };
    check(200, c.want_dist, ref_dist, 0.01, "DIST");
    check(204, c.want_az, ref_az, 1e-4, "AZ");
    check(208, c.want_baz, ref_baz, 1e-4, "BAZ");
    check(212, c.want_gcarc, ref_gcarc, 1e-4, "GCARC");
  }
}

TEST(WriteRefusals, NoSamplesOrNoOverwriteCreateNothing) {
  ScratchDir dir;
  const std::string fresh = dir.file("fresh.sac");
  const std::string old = dir.file("old.sac");
  const Bytes old_bytes = {'o', 'l', 'd'};
  write_file(old, old_bytes);
  float y = 1.0f;
  for (const std::string& path : {fresh, old}) {
    newhdr();  // NPTS undefined
    int nerr = 0;
    CaptureStdout();
    wsac0(path.c_str(), &y, &y, &nerr, -1);
    EXPECT_EQ(GetCapturedStdout(), error_line(115, path));
    EXPECT_EQ(nerr, 115);

    newhdr();
    set_n("NPTS", 1);
    Lhdr(kLovrok) = 0;
    CaptureStdout();
    wsac0(path.c_str(), &y, &y, &nerr, -1);
    EXPECT_EQ(GetCapturedStdout(), error_line(1303, path));
    EXPECT_EQ(nerr, 1303);
  }
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"old.sac"});
  EXPECT_EQ(read_file(old), old_bytes);
}

// Row: a NUL byte inside a name given with its length is refused rather than cut there (the
// cut name is another file); NULs and blanks that only pad the name are no part of it.
TEST(WriteRefusals, ANulInsideTheNameIsRefused) {
  ScratchDir dir;
  const std::string folder = dir.path().string() + "/";
  write_file(dir.file("a.sac"), {'o', 'l', 'd'});
  const struct {
    const char* what;
    std::string name;  // within the folder, NULs included
    int nerr;
    std::string shown;
  } cases[] = {
      {"a NUL between two names", std::string("a.sac\0b.sac", 11), 1339, "a.sac\\0b.sac"},
      {"a NUL after a blank, then more", std::string("a.sac \0x", 8), 1339, "a.sac \\0x"},
      {"NULs and blanks that pad it", std::string("c.sac\0 \0  ", 10), 0, ""},
  };
  float y[2] = {1.0f, 2.0f};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    newhdr();
    set_n("NPTS", 2);
    const std::string name = folder + c.name;
    int nerr = -1;
    CaptureStdout();
    wsac0(name.data(), y, y, &nerr, static_cast<int>(name.size()));
    const std::string out = GetCapturedStdout();
    EXPECT_EQ(nerr, c.nerr);
    EXPECT_EQ(out, c.nerr == 0 ? "" : error_line(c.nerr, folder + c.shown));
  }
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.sac", "c.sac"}));
  EXPECT_EQ(read_file(dir.file("a.sac")), (Bytes{'o', 'l', 'd'}));
}

TEST(WriteReplace, OldFileIsReplacedNotAppended) {
  ScratchDir dir;
  const std::string path = dir.file("x.sac");
  ASSERT_EQ(write_fresh(path, std::vector<float>(100, 1.0f)), 0);
  std::string padded = path + "    ";
  newhdr();
  set_n("NPTS", 2);
  std::vector<float> y = {4.0f, 5.0f};
  int nerr = -1;
  wsac0(padded.c_str(), y.data(), y.data(), &nerr, static_cast<int>(padded.size()));
  ASSERT_EQ(nerr, 0);
  const Bytes b = read_file(path);
  EXPECT_EQ(b.size(), 632u + 8u);
  EXPECT_EQ(float_at(b, 636), 5.0f);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"x.sac"});
}

TEST(WriteReplace, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
  ScratchDir dir;
  const std::string path = dir.file("keep.sac");
  ASSERT_EQ(write_fresh(path, std::vector<float>(50, 2.0f)), 0);
  const Bytes old_bytes = read_file(path);
  // The disk fills up before the file, within the numeric block, within the character block,
  // and within the samples.
  for (const rlim_t room : {0, 300, 500, 2000}) {
    const ChildResult r = run_in_child([&] {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit = {room, room};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 250;
      return write_fresh(path, std::vector<float>(1000, 3.0f));
    });
    EXPECT_EQ(r.status, 115) << room;
    EXPECT_EQ(r.out, error_line(115, path)) << room;
    EXPECT_EQ(read_file(path), old_bytes) << room;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"keep.sac"}) << room;
  }
}

// A file is written again only when its bytes would change: the same header and samples leave
// it alone (same inode, nothing renamed over it); another header or other samples replace it.
TEST(WriteIfChanged, LeavesAFileThatHoldsTheSameBytesAlone) {
  ScratchDir dir;
  const std::string path = dir.file("same.sac");
  std::vector<float> y = {1.0f, -2.0f, 3.0f};
  ASSERT_EQ(write_fresh(path, y), 0);
  const Bytes first = read_file(path);
  struct stat before;
  ASSERT_EQ(stat(path.c_str(), &before), 0);

  auto rewrite = [&](float delta, std::vector<float> samples) {
    newhdr();
    set_n("NPTS", static_cast<int>(samples.size()));
    set_f("DELTA", delta);
    int nerr = -1;
    bool written = true;
    wsac0_if_changed(path.c_str(), samples.data(), samples.data(), &nerr, -1, &written);
    EXPECT_EQ(nerr, 0);
    return written;
  };
  EXPECT_FALSE(rewrite(0.5f, y));
  struct stat after;
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(read_file(path), first);

  EXPECT_TRUE(rewrite(0.25f, y));
  EXPECT_EQ(float_at(read_file(path), 0), 0.25f);
  EXPECT_TRUE(rewrite(0.25f, {1.0f, -2.0f, 4.0f}));
  EXPECT_EQ(float_at(read_file(path), 640), 4.0f);
  EXPECT_FALSE(rewrite(0.25f, {1.0f, -2.0f, 4.0f}));
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"same.sac"});
}

TEST(WriteFailure, ErrnoTellsTheSystemsReason) {
  ScratchDir dir;
  const std::string kept = dir.file("kept.sac");
  ASSERT_EQ(write_fresh(kept, {1.0f}), 0);
  ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
  const struct {
    const char* what;
    std::string path;
    rlim_t room;  // file size limit; 0: none
    int nerr, error;
  } cases[] = {
      {"missing folder", dir.file("none/x.sac"), 0, 101, ENOENT},
      {"a directory", dir.file("sub"), 0, 101, EISDIR},
      {"file size limit", kept, 700, 115, EFBIG},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ChildResult r = run_in_child([&] {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit = {c.room, c.room};
      if (c.room > 0 && setrlimit(RLIMIT_FSIZE, &limit) != 0) return 250;
      errno = 0;
      const int nerr = write_fresh(c.path, std::vector<float>(100, 3.0f));
      return nerr == c.nerr && errno == c.error ? 0 : 1;
    });
    EXPECT_EQ(r.status, 0) << r.out;
  }
  // No system call failed: errno says so.
  newhdr();
  float y = 1.0f;
  int nerr = 0;
  errno = EIO;
  CaptureStdout();
  wsac0(kept.c_str(), &y, &y, &nerr, -1);
  GetCapturedStdout();
  EXPECT_EQ(nerr, 115);
  EXPECT_EQ(errno, 0);
}

// A folder's name, also one ending in a slash, and a name ending in a slash for a folder that
// is not there: nothing is written, nor a file under the name without its slash.
TEST(WriteReplace, NameOfADirectoryIsRefusedWithoutLeftovers) {
  ScratchDir dir;
  ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
  const struct {
    std::string name;
    const char* why;
  } cases[] = {
      {dir.file("sub"), "(Not a regular file.)"},
      {dir.file("sub/"), "(Not a regular file.)"},
      {dir.file("none/"), "(System error occurred.)"},
  };
  for (const auto& c : cases) {
    CaptureStdout();
    const int nerr = write_fresh(c.name, {1.0f});
    EXPECT_EQ(GetCapturedStdout(), error_line(101, c.name + " " + c.why));
    EXPECT_EQ(nerr, 101) << c.name;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"sub"}) << c.name;
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("sub")));
  }
}

// A new result gets 0666 less the umask; one replaced never gets more than the old file had.
TEST(WritePermissions, NewFilesFollowTheUmaskAndReplacedOnesGetNoWider) {
  const struct {
    mode_t mask;
    int old;  // permissions of the file replaced, -1: a new file
    mode_t want;
  } cases[] = {
      {077, -1, 0600},   {022, -1, 0644},   {002, -1, 0664},   {000, -1, 0666},   {022, 0600, 0600},
      {077, 0664, 0600}, {002, 0640, 0640}, {000, 0644, 0644}, {002, 0664, 0664}, {000, 0200, 0200},
  };
  ScratchDir dir;
  const std::string path = dir.file("p.sac");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.mask) + " " + std::to_string(c.old));
    unlink(path.c_str());
    if (c.old >= 0) {
      write_file(path, {'x'});
      ASSERT_EQ(chmod(path.c_str(), static_cast<mode_t>(c.old)), 0);
    }
    const mode_t old_mask = umask(c.mask);
    const int nerr = write_fresh(path, {1.0f});
    umask(old_mask);
    ASSERT_EQ(nerr, 0);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.want);
    EXPECT_EQ(st.st_size, 636);
  }
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"p.sac"});
}

// What the folder saw happen, by the names it saw: "+name" created, ">name" renamed into it,
// "<name" renamed out of it, "-name" removed.
std::vector<std::string> folder_events(int watch) {
  std::vector<std::string> seen;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = read(watch, buffer, sizeof buffer);
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
      const char* kind = (e->mask & IN_CREATE)       ? "+"
                         : (e->mask & IN_MOVED_TO)   ? ">"
                         : (e->mask & IN_MOVED_FROM) ? "<"
                                                     : "-";
      seen.push_back(kind + std::string(e->len > 0 ? e->name : ""));
      at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
    }
  }
  return seen;
}

// A new file comes into the folder once, whole, under its own name: no temporary is ever seen
// beside it. A file replaced still goes through a temporary renamed over it.
TEST(WriteNew, ANewFileAppearsOnlyUnderItsNameWhole) {
  ScratchDir dir;
  const int probe = open(dir.path().c_str(), O_TMPFILE | O_WRONLY, 0600);
  if (probe < 0) GTEST_SKIP() << "no unnamed files in " << dir.path();
  close(probe);
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, dir.path().c_str(),
                              IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE),
            0);
  const std::string path = dir.file("new.sac");
  ASSERT_EQ(write_fresh(path, std::vector<float>(400, 1.5f)), 0);
  EXPECT_EQ(folder_events(watch), std::vector<std::string>{"+new.sac"});
  const Bytes b = read_file(path);
  ASSERT_EQ(b.size(), 632u + 1600u);
  EXPECT_EQ(float_at(b, 632 + 4 * 399), 1.5f);

  ASSERT_EQ(write_fresh(path, std::vector<float>(2, 2.5f)), 0);
  const std::vector<std::string> replaced = folder_events(watch);
  ASSERT_EQ(replaced.size(), 3u);
  EXPECT_EQ(replaced[0].substr(0, 8), "+.wsac0.");
  EXPECT_EQ(replaced[1], "<" + replaced[0].substr(1));
  EXPECT_EQ(replaced[2], ">new.sac");
  EXPECT_EQ(read_file(path).size(), 632u + 8u);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"new.sac"});
  close(watch);
}

TEST(WritePermissions, ReadOnlyDirectoryGivesAccessError) {
  ScratchDir dir;
  chmod(dir.path().c_str(), 0755);
  const std::string ro = dir.file("ro");
  ASSERT_EQ(mkdir(ro.c_str(), 0755), 0);
  // A writable old file in the read-only folder is not truncated and rewritten in place.
  const std::string old_file = ro + "/old.sac";
  std::ofstream(old_file) << "old result";
  chmod(old_file.c_str(), 0666);
  chmod(ro.c_str(), 0555);
  const std::string path = ro + "/x.sac";
  newhdr();  // load the message table before dropping privileges
  for (const std::string& target : {path, old_file}) {
    const ChildResult r = run_in_child([&] {
      drop_privileges();
      return write_fresh(target, {1.0f});
    });
    EXPECT_EQ(r.status, 101);
    EXPECT_EQ(r.out, error_line(101, target + " (Insufficient access rights.)"));
  }
  const Bytes kept = read_file(old_file);
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "old result");
  EXPECT_EQ(std::filesystem::directory_iterator(ro)->path().filename(), "old.sac");
}

TEST(WriteUneven, SecondComponentFollowsTheFirst) {
  ScratchDir dir;
  newhdr();
  set_n("NPTS", 2);
  Lhdr(kLeven) = 0;
  std::vector<float> x = {10.0f, 20.0f};
  std::vector<float> y = {1.0f, 2.0f};
  int nerr = -1;
  wsac0(dir.file("xy.sac").c_str(), x.data(), y.data(), &nerr, -1);
  ASSERT_EQ(nerr, 0);
  const Bytes b = read_file(dir.file("xy.sac"));
  ASSERT_EQ(b.size(), 632u + 16u);
  EXPECT_EQ(float_at(b, 632), 1.0f);
  EXPECT_EQ(float_at(b, 640), 10.0f);
  EXPECT_EQ(float_at(b, 644), 20.0f);
}

}  // namespace
}  // namespace xcn
