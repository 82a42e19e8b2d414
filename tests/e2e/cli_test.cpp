// The command line of xcorrnet_v3: usage text, argument count, refused mode and replace values.
#include <gtest/gtest.h>

#include "tests/e2e/process.hpp"

namespace xcn::test {
namespace {

const char kUsage[] =
    "\n"
    " xcorrnet_v3 is used to compute the cross-correlation function!\n"
    "\n"
    " Usage: xcorrnet_v3 [sac_list] [ccf_list] [ACF(A)/CCF(C)/Both(B)] [replace(Y/N)]\n"
    "   Ex.: xcorrnet_v3  sac_list   ccf_list         B                     Y\n"
    "\n"
    "      replace = Y, the exist CCFs will be replace with the new one\n";

TEST(CommandLine, WrongArgumentCountPrintsUsageAndSucceeds) {
  ScratchDir dir;
  const std::vector<std::vector<std::string>> arg_lists = {
      {}, {"s", "c", "B"}, {"s", "c", "B", "Y", "extra"}};
  for (const auto& args : arg_lists) {
    const RunResult r = run_program(tool(), args, dir.path());
    EXPECT_EQ(r.out, kUsage);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "no file may be opened";
}

TEST(CommandLine, ModeOrReplaceWithoutValueEndsWithStatusTwoBeforeAnyFile) {
  ScratchDir dir;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"   ", "Y"}, {"", "Y"}, {",B", "Y"}, {"B", "/"}, {"B", "  "}};
  for (const auto& [mode, replace] : cases) {
    const RunResult r = run_program(tool(), {"stations", "names", mode, replace}, dir.path());
    EXPECT_EQ(r.status, 2) << mode << "|" << replace;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(mode == "B" ? "replace" : "mode"), std::string::npos) << r.err;
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "list files must not be touched";
}

}  // namespace
}  // namespace xcn::test
