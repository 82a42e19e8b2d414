// Console line layout: real-number columns, item separation and whole lines.
#include "driver/console.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace xcn {
namespace {

struct RealCase {
  float value;
  const char* printed;
};

TEST(ConsoleLayout, RealsTakeSixteenColumnsWithNineSignificantDigits) {
  const RealCase cases[] = {
      {1.0f, "  1.00000000    "},
      {2000.0f, "  2000.00000    "},
      {0.0f, "  0.00000000    "},
      {-0.0f, " -0.00000000    "},
      {0.05f, "  5.00000007E-02"},
      {-0.05f, " -5.00000007E-02"},
      {0.5f, " 0.500000000    "},
      {-0.5f, "-0.500000000    "},
      {0.1f, " 0.100000001    "},
      {0.099999994f, "  9.99999940E-02"},
      {-12345.0f, " -12345.0000    "},
      {96.4859619f, "  96.4859619    "},
      {123456792.0f, "  123456792.    "},
      {999999936.0f, "  999999936.    "},
      {1e9f, "  1.00000000E+09"},
      {-3.40282347e38f, " -3.40282347E+38"},
      {1e-40f, "  9.99994610E-41"},
      {std::numeric_limits<float>::quiet_NaN(), "             NaN"},
      {std::numeric_limits<float>::infinity(), "        Infinity"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(format_real(c.value), c.printed) << c.value;
  }
}

TEST(ConsoleLayout, ItemsAreSeparatedByOneBlankExceptBetweenTexts) {
  EXPECT_EQ(ConsoleLine().str(), "");
  EXPECT_EQ(ConsoleLine().text("ab").str(), " ab");
  EXPECT_EQ(ConsoleLine().text("ab").text("cd ").text("e").str(), " abcd e");
  EXPECT_EQ(ConsoleLine().integer(7).str(), "           7");
  EXPECT_EQ(ConsoleLine().integer(-12345678901LL).str(), " -12345678901");
  EXPECT_EQ(ConsoleLine().integer(1).text("x").integer(2).str(),
            "           1 x           2");
  EXPECT_EQ(ConsoleLine().text("D:").real(1.0f).text("t").str(), " D:   1.00000000     t");
}

TEST(ConsoleLayout, PrintWritesTheWholeLineAndANewline) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  ConsoleLine().text(" ").print(f);
  ConsoleLine().print(f);
  std::rewind(f);
  char buf[16] = {};
  const std::size_t n = std::fread(buf, 1, sizeof buf, f);
  std::fclose(f);
  EXPECT_EQ(std::string(buf, n), "  \n\n");
}

}  // namespace
}  // namespace xcn
