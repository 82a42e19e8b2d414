// The command line of xcorrnet_v3: usage text, argument count, refused mode and replace values.
#include <gtest/gtest.h>

#include "tests/e2e/network.hpp"
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

// srun without its MPI plugin starts tasks that are each a whole run of their own: they would
// all compute and write every pair. Every task refuses before any file; the first says why.
TEST(CommandLine, TasksThatAreNotOneRunEndWithStatusTwoBeforeAnyFile) {
  Network net;
  Noise noise(3);
  for (const char* name : {"A", "B"}) net.add({name, "BHZ", 1.0f, 2.0f, 1.0f, noise.series(2400)});
  net.write_lists();
  const RunResult first = net.run("B", "Y", 1, {"SLURM_STEP_NUM_TASKS=2", "SLURM_PROCID=0"});
  EXPECT_EQ(first.status, 2);
  EXPECT_EQ(first.out, "");
  EXPECT_EQ(first.err,
            "xcorrnet_v3: error: started as one of 2 tasks that MPI does not join into one run, "
            "each of which would compute every pair; start the MPI build (make mpi) with mpirun "
            "or srun --mpi=pmix, or start one task\n");
  const RunResult second = net.run("B", "Y", 1, {"SLURM_STEP_NUM_TASKS=2", "SLURM_PROCID=1"});
  EXPECT_EQ(second.status, 2);
  EXPECT_EQ(second.out + second.err, "");
  EXPECT_FALSE(std::filesystem::exists(net.file(Network::pair_name(1, 2))));
  // One task of a step is an ordinary run.
  const RunResult one = net.run("B", "Y", 1, {"SLURM_STEP_NUM_TASKS=1", "SLURM_PROCID=0"});
  EXPECT_EQ(one.status, 0) << one.err;
  EXPECT_TRUE(std::filesystem::exists(net.file(Network::pair_name(1, 2))));
}

}  // namespace
}  // namespace xcn::test
