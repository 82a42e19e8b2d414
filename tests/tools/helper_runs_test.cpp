// The built helpers run as a user runs them: they never write over what they read, and a list
// that never ends or never comes costs neither memory nor a wait for ever.
#include <gtest/gtest.h>
#include <omp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/process.hpp"
#include "tests/tools/tools_test_util.hpp"

namespace xcn::tools {
namespace {

namespace fs = std::filesystem;
using test::file_bytes;
using test::ScratchDir;
using test::write_text;
using xcn::test::run_program;
using xcn::test::RunResult;

// Every helper run here ends well within this, or the alarm fails the test.
void alarm_in_child() { alarm(60); }

RunResult run(const char* program, const std::vector<std::string>& args, const ScratchDir& dir) {
  return run_program(program, args, dir.path(), {}, alarm_in_child);
}

std::size_t lines_in(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// A network of three stations made by the built generator, and its files as bytes.
class HelperRuns : public ::testing::Test {
 protected:
  void SetUp() override {
    const RunResult r = run(XCN_SYNTH, {"--stations", "3", "--samples", "100"}, dir_);
    ASSERT_EQ(r.status, 0) << r.err;
    fs::create_directory(dir_ / "sub");
    fs::create_symlink("ST02.BHZ.sac", dir_ / "link.sac");
  }
  std::vector<std::pair<std::string, std::string>> files() const {
    std::vector<std::pair<std::string, std::string>> all;
    for (const auto& name : dir_.entries()) {
      if (fs::is_regular_file(dir_ / name)) all.emplace_back(name, file_bytes(dir_ / name));
    }
    return all;
  }
  ScratchDir dir_;
};

TEST_F(HelperRuns, NamesNeverWritesOverAListOrARecordItReads) {
  const auto before = files();
  const struct {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{"stations.txt", "ST01.BHZ.sac"},
       "the name list \"ST01.BHZ.sac\" is the station record \"ST01.BHZ.sac\" of stations.txt "
       "line 1; nothing written"},
      {{"stations.txt", "stations.txt"},
       "the name list \"stations.txt\" is the station list \"stations.txt\"; nothing written"},
      {{"stations.txt", "sub/../stations.txt"},
       "the name list \"sub/../stations.txt\" is the station list \"stations.txt\"; nothing "
       "written"},
      {{"stations.txt", "link.sac"},
       "the name list \"link.sac\" is the station record \"ST02.BHZ.sac\" of stations.txt line "
       "2; nothing written"},
      {{"stations.txt", "names.txt", "ccf"},
       "the folder \"ccf\" does not exist; names.txt not written"},
      {{"stations.txt", "names.txt", "stations.txt"},
       "the folder \"stations.txt\" is not a folder; names.txt not written"},
  };
  for (const auto& c : cases) {
    const RunResult r = run(XCN_NAMES, c.args, dir_);
    EXPECT_EQ(r.status, 2) << c.says;
    EXPECT_EQ(r.err, "xcn_names: " + c.says + "\n");
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(files(), before);
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.sac"));
}

// Row "a folder on the way that is a link of another user": in a folder others can write, the
// record folders of --folders and the name list's own folder are not taken through another
// user's link (`ccf/ST01.BHZ -> victim` would send xcorrnet_v3's results there).
TEST_F(HelperRuns, NamesFollowsNoLinkOfAnotherUserInASharedFolder) {
  if (geteuid() != 0) GTEST_SKIP() << "links of another user are planted by root";
  fs::create_directory(dir_ / "victim");
  fs::create_directory(dir_ / "ccf");
  fs::permissions(dir_ / "ccf", fs::perms::all | fs::perms::sticky_bit);
  for (const char* name : {"ST01.BHZ", "d"}) {
    const fs::path link = dir_ / "ccf" / name;
    ASSERT_EQ(symlink((dir_ / "victim").c_str(), link.c_str()), 0);
    ASSERT_EQ(lchown(link.c_str(), 65533, 65533), 0);
  }
  const std::string refusal =
      " is another user's, in a folder others can write; it is not followed\n";
  const struct {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{"--folders", "stations.txt", "names.txt", "ccf"},
       "xcn_names: cannot make the folder \"ccf/ST01.BHZ\": the symbolic link \"ccf/ST01.BHZ\"" +
           refusal + "xcn_names: names.txt not written\n"},
      {{"stations.txt", "ccf/d/names.txt"},
       "xcn_names: \"ccf/d/names.txt\" is not written: the symbolic link \"ccf/d\"" + refusal +
           "xcn_names: ccf/d/names.txt not written\n"},
  };
  const auto before = files();
  for (const auto& c : cases) {
    const RunResult r = run(XCN_NAMES, c.args, dir_);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err, c.says);
    EXPECT_TRUE(fs::is_empty(dir_ / "victim"));
    EXPECT_EQ(files(), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "ccf"), {}), 2);
  }
}

TEST_F(HelperRuns, ListsThatNeverEndOrNeverComeAreRefused) {
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0644), 0);
  const auto before = files();
  const struct {
    const char* program;
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {XCN_NAMES,
       {"/dev/zero", "nl.txt"},
       "xcn_names: cannot open the station list \"/dev/zero\": it is neither a regular file nor "
       "a pipe"},
      {XCN_DEMO_REPORT,
       {"stations.txt", "/dev/zero"},
       "xcn_demo_report: cannot open the name list \"/dev/zero\": it is neither a regular file "
       "nor a pipe"},
      // A named pipe nobody opens: refused after the tool's wait for a writer.
      {XCN_NAMES,
       {"fifo", "nl.txt"},
       "xcn_names: cannot open the station list \"fifo\": no program opened the pipe for writing "
       "within 10 s"},
  };
  for (const auto& c : cases) {
    const RunResult r = run(c.program, c.args, dir_);
    EXPECT_EQ(r.status, 1) << c.says;
    EXPECT_EQ(r.err, c.says + "\n");
  }
  EXPECT_EQ(files(), before);
  EXPECT_TRUE(fs::is_fifo(dir_ / "fifo"));
}

TEST_F(HelperRuns, NamesReadsAPipeAndRefusesARecordThatIsAPipeWithoutWaiting) {
  ASSERT_EQ(mkfifo((dir_ / "fifo.sac").c_str(), 0644), 0);
  const std::string list = file_bytes(dir_ / "stations.txt");
  write_text(dir_ / "with_fifo.txt", list + "fifo.sac\n");
  RunResult r = run(XCN_NAMES, {"with_fifo.txt", "nl.txt"}, dir_);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "xcn_names: with_fifo.txt line 4: \"fifo.sac\" cannot be read: it is not a regular "
            "file\nxcn_names: nl.txt not written\n");
  EXPECT_FALSE(fs::exists(dir_ / "nl.txt"));

  // The list through a pipe whose writer is there, as a shell passes <(cat stations.txt).
  r = run_program("/bin/sh", {"-c", "cat stations.txt | \"$0\" /dev/stdin nl.txt", XCN_NAMES},
                  dir_.path(), {}, alarm_in_child);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines_in(file_bytes(dir_ / "nl.txt")), 6u);
}

TEST_F(HelperRuns, HelpGoesToStandardOutputAndABadCommandLineGetsOneLine) {
  const auto before = files();
  const struct {
    const char* program;
    std::vector<std::string> args;
    int status;
    std::string out;  // its start
    std::string err;
  } cases[] = {
      {XCN_NAMES, {"--help"}, 0, "usage: xcn_names [--folders]", ""},
      {XCN_NAMES, {"stations.txt", "nl.txt", "-h"}, 0, "usage: xcn_names", ""},
      {XCN_NAMES,
       {"stations.txt"},
       2,
       "",
       "xcn_names: expected a station list, a name list and perhaps a folder; see xcn_names "
       "--help\n"},
      {XCN_NAMES,
       {"--flat", "stations.txt", "nl.txt"},
       2,
       "",
       "xcn_names: unknown option --flat; see xcn_names --help\n"},
      {XCN_SYNTH, {"--help"}, 0, "usage: xcn_synth", ""},
      {XCN_SYNTH, {"--sds", "--help"}, 0, "usage: xcn_synth", ""},
      {XCN_SYNTH,
       {"--out", "net", "--samples", "many"},
       2,
       "",
       "xcn_synth: --samples needs a number of samples from 1 to 34560000, not \"many\"; see "
       "xcn_synth --help\n"},
      // The archive's options wherever --sds stands.
      {XCN_SYNTH,
       {"--out", "net", "--rate", "0", "--sds"},
       2,
       "",
       "xcn_synth: --rate needs a number of samples per second from 1 to 1000, not \"0\"; see "
       "xcn_synth --help\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const RunResult r = run(c.program, c.args, dir_);
    EXPECT_EQ(r.status, c.status);
    // Help prints the usage; a refusal, nothing on standard output.
    EXPECT_TRUE(c.out.empty() ? r.out.empty() : r.out.starts_with(c.out)) << r.out;
    EXPECT_EQ(r.err, c.err);
  }
  EXPECT_EQ(files(), before);
  EXPECT_FALSE(fs::exists(dir_ / "net"));
}

// The parallel runtime crashed when asked for a team of 100000.
TEST_F(HelperRuns, SynthTakesFourWorkersPerProcessorAtMostWithOneWarning) {
  const RunResult one = run_program(XCN_SYNTH, {"--stations", "5", "--out", "one"}, dir_.path(),
                                    {"OMP_NUM_THREADS=1"}, alarm_in_child);
  ASSERT_EQ(one.status, 0) << one.err;
  const RunResult many = run_program(XCN_SYNTH, {"--stations", "5", "--out", "many"}, dir_.path(),
                                     {"OMP_NUM_THREADS=100000"}, alarm_in_child);
  ASSERT_EQ(many.status, 0) << many.err;
  EXPECT_EQ(many.err, "xcn_synth: warning: OMP_NUM_THREADS asks for 100000 workers; using " +
                          std::to_string(4 * omp_get_num_procs()) + ", four per processor\n");
  for (const auto& e : fs::directory_iterator(dir_ / "one")) {
    EXPECT_EQ(file_bytes(dir_ / "many" / e.path().filename()), file_bytes(e.path()))
        << e.path().filename();
  }
}

}  // namespace
}  // namespace xcn::tools
