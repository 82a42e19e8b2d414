// End-to-end: the files a run leaves in a shared folder: permissions from the umask, never
// wider than a file replaced, read-only results kept, links of the user written through.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/e2e/network.hpp"

namespace xcn::test {
namespace {

namespace fs = std::filesystem;

// Three stations of 2400 samples at 1 s: six results.
void three_stations(Network& net) {
  Noise noise(61);
  for (int k = 1; k <= 3; ++k) {
    net.add(
        {"S" + std::to_string(k), "BHZ", static_cast<float>(k), 10.0f, 1.0f, noise.series(2400)});
  }
  net.write_lists();
}

const std::vector<std::string> kResults = {"p1_1.sac", "p1_2.sac", "p1_3.sac",
                                           "p2_2.sac", "p2_3.sac", "p3_3.sac"};

mode_t mode_of(const fs::path& p) {
  struct stat st {};
  EXPECT_EQ(stat(p.c_str(), &st), 0) << p;
  return st.st_mode & 07777;
}

// Runs the tool under a umask of the test's (the child inherits it).
RunResult run_with_umask(const Network& net, mode_t mask, const std::string& replace) {
  const mode_t old = umask(mask);
  RunResult r = net.run("B", replace);
  umask(old);
  return r;
}

// Row: results are created with 0666 less the umask (077 keeps them private, 002 shares them
// with the group).
TEST(ResultFiles, NewResultsFollowTheUmask) {
  for (const mode_t mask : {077, 022, 002}) {
    SCOPED_TRACE(mask);
    Network net;
    three_stations(net);
    const RunResult r = run_with_umask(net, mask, "Y");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const auto& name : kResults) EXPECT_EQ(mode_of(net.file(name)), 0666 & ~mask) << name;
  }
}

// Row: a result replaced keeps at most the permissions it had, whatever the umask.
TEST(ResultFiles, AReplacedResultGetsNoWiderPermissions) {
  Network net;
  three_stations(net);
  ASSERT_EQ(run_with_umask(net, 022, "Y").status, 0);
  ASSERT_EQ(chmod(net.file("p1_2.sac").c_str(), 0600), 0);
  ASSERT_EQ(chmod(net.file("p2_3.sac").c_str(), 0640), 0);
  const RunResult r = run_with_umask(net, 0, "Y");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(mode_of(net.file("p1_2.sac")), 0600u);
  EXPECT_EQ(mode_of(net.file("p2_3.sac")), 0640u);
  EXPECT_EQ(mode_of(net.file("p1_1.sac")), 0644u);
}

// Row: a read-only result is neither replaced (Y) nor completed (N), also for root; the run
// names it and ends with status 3.
TEST(ResultFiles, AReadOnlyResultIsLeftAsItIs) {
  for (const char* replace : {"Y", "N"}) {
    SCOPED_TRACE(replace);
    Network net;
    three_stations(net);
    ASSERT_EQ(net.run("B", "Y").status, 0);
    // A header that needs completing, so that N has something to write too.
    std::string raw = read_bytes(net.file("p1_2.sac"));
    raw.replace(448, 16, "SPOILED         ");
    write_bytes(net.file("p1_2.sac"), raw);
    ASSERT_EQ(chmod(net.file("p1_2.sac").c_str(), 0444), 0);
    const RunResult r = net.run("B", replace);
    EXPECT_EQ(r.status, 3);
    // Said once: the header pass does not try again what the pair loop could not write.
    EXPECT_EQ(count_of(r.err, "result \"p1_2.sac\""), 1) << r.err;
    EXPECT_NE(r.err.find("Permission denied"), std::string::npos) << r.err;
    EXPECT_EQ(read_bytes(net.file("p1_2.sac")), raw);
    EXPECT_EQ(mode_of(net.file("p1_2.sac")), 0444u);
  }
}

// Row: a result name that is a symbolic link of the user's is written through: the private
// file it leads to gets the result and keeps its permissions; the link stays.
TEST(ResultFiles, AResultNameThatIsALinkOfOursIsWrittenThrough) {
  Network reference;
  three_stations(reference);
  ASSERT_EQ(reference.run("B", "Y").status, 0);

  for (const char* replace : {"Y", "N"}) {
    SCOPED_TRACE(replace);
    Network net;
    three_stations(net);
    fs::create_directory(net.file("private"));
    const fs::path target = net.file("private/p1_2.sac");
    write_bytes(target,
                std::string(replace) == "Y" ? "old" : read_bytes(reference.file("p1_2.sac")));
    if (std::string(replace) == "N") {
      // A result of an earlier run with a header to complete.
      std::string raw = read_bytes(target);
      raw.replace(448, 16, "SPOILED         ");
      write_bytes(target, raw);
    }
    ASSERT_EQ(chmod(target.c_str(), 0600), 0);
    fs::create_symlink("private/p1_2.sac", net.file("p1_2.sac"));
    const RunResult r = run_with_umask(net, 0, replace);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(net.file("p1_2.sac")));
    EXPECT_EQ(read_bytes(target), read_bytes(reference.file("p1_2.sac")));
    EXPECT_EQ(mode_of(target), 0600u);
    std::vector<std::string> in_private;
    for (const auto& e : fs::directory_iterator(net.file("private"))) {
      in_private.push_back(e.path().filename().string());
    }
    EXPECT_EQ(in_private, std::vector<std::string>{"p1_2.sac"});
  }
}

}  // namespace
}  // namespace xcn::test
