// Run set-up: argument fields, the mode and replace items, and refused arguments.
#include "driver/input/params.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace xcn {
namespace {

std::string read_all(std::FILE* f) {
  std::rewind(f);
  std::string s;
  for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
  return s;
}

TEST(RunSetUp, TakesTheFirstCharacterOfTheFirstItem) {
  const struct {
    const char* field;
    char value;
  } cases[] = {
      {"B", 'B'},       {"Both", 'B'},    {"B,x", 'B'},   {"ACF", 'A'},  {"CCF", 'C'},
      {"Yes", 'Y'},     {"  y", 'y'},     {"b", 'b'},     {"'Y'", 'Y'},  {"\"AB\",C", 'A'},
      {" 'B", 'B'},     {"N/", 'N'},      {"x y", 'x'},
  };
  for (const auto& c : cases) {
    std::array<char, kFlagWidth> field;
    fill_field(field, c.field);
    const auto v = take_item(std::string_view(field.data(), field.size()));
    ASSERT_TRUE(v.has_value()) << c.field;
    EXPECT_EQ(*v, c.value) << c.field;
  }
}

TEST(RunSetUp, BlankOrEmptyFirstItemsHaveNoValue) {
  for (const char* field : {"", "        ", ",B", " /Y", "''", "\"\""}) {
    std::array<char, kFlagWidth> f;
    fill_field(f, field);
    EXPECT_FALSE(take_item(std::string_view(f.data(), f.size())).has_value()) << field;
  }
}

TEST(RunSetUp, FillsTheParametersAndCutsLongArguments) {
  const std::string long_path(130, 'p');
  const char* args[4] = {long_path.c_str(), "names.txt", "Both    extra", "Yes"};
  RunParams p;
  std::FILE* err = std::tmpfile();
  EXPECT_EQ(set_up_run(args, p, err), 0);
  EXPECT_EQ(std::string(p.sac_list.data(), kPathWidth), std::string(100, 'p'));
  EXPECT_EQ(trimmed(std::string_view(p.ccf_list.data(), kPathWidth)), "names.txt");
  EXPECT_EQ(std::string(p.inp3.data(), kFlagWidth), "Both    ");
  EXPECT_EQ(p.abc, 'B');
  EXPECT_EQ(p.replace, 'Y');
  const std::string warning = read_all(err);
  std::fclose(err);
  EXPECT_NE(warning.find("station list"), std::string::npos) << warning;
  EXPECT_NE(warning.find(std::string(100, 'p') + "\""), std::string::npos) << warning;
  EXPECT_EQ(std::count(warning.begin(), warning.end(), '\n'), 1);
}

TEST(RunSetUp, RefusesAModeOrReplaceWithoutValueWithStatusTwo) {
  const struct {
    const char* mode;
    const char* replace;
    const char* named;
  } cases[] = {{"   ", "Y", "mode"}, {",B", "Y", "mode"}, {"B", "/Y", "replace"},
               {"B", "", "replace"}};
  for (const auto& c : cases) {
    const char* args[4] = {"s", "c", c.mode, c.replace};
    RunParams p;
    std::FILE* err = std::tmpfile();
    EXPECT_EQ(set_up_run(args, p, err), 2);
    const std::string line = read_all(err);
    std::fclose(err);
    EXPECT_NE(line.find(c.named), std::string::npos) << line;
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
  }
}

TEST(RunSetUp, TrimmedDropsOnlyTrailingBlanks) {
  EXPECT_EQ(trimmed("  a b  "), "  a b");
  EXPECT_EQ(trimmed("    "), "");
}

}  // namespace
}  // namespace xcn
