// The library's first use keeps the message routes a caller chose before it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "xcorrnet/sacio.h"

namespace {

// Each case runs in a fresh process (the library's state is process-wide and other tests have
// used it): a switch, then the first header call, then a warning of an undefined field.
TEST(FirstUseDeathTest, SwitchesSetBeforeTheFirstCallStayInForce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto warn_once = [] {
    float v = 0;
    int nerr = 0;
    newhdr();
    getfhv("USER0", &v, &nerr, -1);
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(0);
  };
  EXPECT_EXIT(
      {
        sac_warning_stderr();
        warn_once();
      },
      testing::ExitedWithCode(0), "WARNING: Header field holds its undefined value: USER0");
}

}  // namespace
