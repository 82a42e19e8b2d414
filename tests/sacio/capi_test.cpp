// The C entry points: every pointer a routine uses is checked before use.
#include <functional>
#include <string>
#include <vector>

#include "sacio/header_model.hpp"
#include "sacio_test_util.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {
namespace {

using namespace testing_util;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// Row: a NULL pointer where a routine needs one is refused with 1338, before anything is read
// or written, and named in the message; nothing crashes.
TEST(CInterface, NullPointersAreRefusedBeforeUse) {
  ScratchDir dir;
  const std::string path = dir.file("n.sac");
  float f = 1.0f;
  int i = 4;
  float y[4] = {1, 2, 3, 4};
  const int max = 4;
  int nlen = -1;
  const struct {
    const char* what;
    std::function<void(int*)> call;
  } cases[] = {
      {"getfhv fvalue", [&](int* nerr) { ::getfhv("DELTA", nullptr, nerr, -1); }},
      {"setfhv fvalue", [&](int* nerr) { ::setfhv("DELTA", nullptr, nerr, -1); }},
      {"setnhv nvalue", [&](int* nerr) { ::setnhv_("NPTS", nullptr, nerr, 4); }},
      {"getkhv kvalue", [&](int* nerr) { ::getkhv("KSTNM", nullptr, nerr, -1, 8); }},
      {"getkhvf kvalue", [&](int* nerr) { ::getkhvf__("KSTNM", nullptr, nerr, 5, 8); }},
      {"setkhv kvalue", [&](int* nerr) { ::setkhv("KSTNM", nullptr, nerr, -1, -1); }},
      {"rsac1 yarray",
       [&](int* nerr) { ::rsac1(path.c_str(), nullptr, &nlen, &f, &f, &max, nerr, -1); }},
      {"rsac1 nlen", [&](int* nerr) { ::rsac1(path.c_str(), y, nullptr, &f, &f, &max, nerr, -1); }},
      {"rsac1 beg",
       [&](int* nerr) { ::rsac1(path.c_str(), y, &nlen, nullptr, &f, &max, nerr, -1); }},
      {"rsac1 del",
       [&](int* nerr) { ::rsac1(path.c_str(), y, &nlen, &f, nullptr, &max, nerr, -1); }},
      {"rsac1 max", [&](int* nerr) { ::rsac1(path.c_str(), y, &nlen, &f, &f, nullptr, nerr, -1); }},
      {"wsac0 yarray", [&](int* nerr) { ::wsac0(path.c_str(), y, nullptr, nerr, -1); }},
      {"wsac3 yarray", [&](int* nerr) { ::wsac3_(path.c_str(), y, nullptr, nerr, -1); }},
      {"znfilef handle",
       [&](int* nerr) { ::znfilef(nullptr, path.c_str(), "DATA", &i, nerr, -1, 4); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ::newhdr();
    int set = 0;
    ::setnhv("NPTS", &i, &set, -1);  // a header wsac0 would write
    int nerr = -1;
    CaptureStdout();
    c.call(&nerr);
    const std::string out = GetCapturedStdout();
    EXPECT_EQ(nerr, SACIO_ERR_NULL_ARGUMENT);
    // The routine by its own name, whichever link name was called.
    EXPECT_EQ(out, error_line(1338, c.what));
    // A NULL nerr: still reported, nothing else done.
    CaptureStdout();
    c.call(nullptr);
    EXPECT_NE(GetCapturedStdout().find(message_text(1338)), std::string::npos);
  }
  EXPECT_TRUE(dir.entries().empty());

  // The second component is used only when the file has one.
  ::newhdr();
  int nerr = -1;
  ::setnhv("NPTS", &i, &nerr, -1);
  ::wsac0(path.c_str(), nullptr, y, &nerr, -1);
  EXPECT_EQ(nerr, 0);
  Lhdr(kLeven) = 0;
  CaptureStdout();
  ::wsac0(path.c_str(), nullptr, y, &nerr, -1);
  EXPECT_EQ(GetCapturedStdout(), error_line(1338, "wsac0 xarray"));
  EXPECT_EQ(nerr, SACIO_ERR_NULL_ARGUMENT);

  // zopenc has no nerr: a failed open, reported, where handle and status can say so.
  const int create = 1, readonly = 0;
  int handle = 0, status = 0;
  CaptureStdout();
  ::zopenc(&handle, path.c_str(), nullptr, &readonly, &status, -1);
  EXPECT_EQ(GetCapturedStdout(), error_line(1338, "zopenc create"));
  EXPECT_EQ(handle, 1);
  EXPECT_EQ(status, 2);
  CaptureStdout();
  ::zopenc(nullptr, path.c_str(), &create, &readonly, nullptr, -1);
  EXPECT_EQ(GetCapturedStdout(), error_line(1338, "zopenc handle"));

  // A read into no room needs no array: an empty vector's data() is NULL.
  int none = 0, count = -1, read_nerr = -1;
  ::rsac1(path.c_str(), nullptr, &count, &f, &f, &none, &read_nerr, -1);
  EXPECT_NE(read_nerr, SACIO_ERR_NULL_ARGUMENT);
  EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace xcn
