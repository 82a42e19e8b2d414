// End-to-end runs with hostile result names: results that cannot be written. Each is reported
// on standard error, costs only its own pair, and a run that leaves a result unwritten or
// incomplete ends with a summary line and status 3.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/e2e/network.hpp"

namespace xcn::test {
namespace {

namespace fs = std::filesystem;

// Three stations of 2400 samples at 1 s: three windows per pair.
void three_stations(Network& net) {
  Noise noise(60);
  for (int k = 1; k <= 3; ++k) {
    net.add(
        {"S" + std::to_string(k), "BHZ", static_cast<float>(k), 10.0f, 1.0f, noise.series(2400)});
  }
}

// Runs the tool and waits at most a minute: a run that blocks is killed and reported.
RunResult run_bounded(const Network& net, const std::string& mode, const std::string& replace,
                      std::vector<std::string> env = {}) {
  env.push_back("OMP_NUM_THREADS=4");
  Started s = start_program(tool(), {"stations", "names", mode, replace}, net.dir(), env);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  for (;;) {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(s.pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
        info.si_pid != 0) {
      break;  // ended; finish_program collects it
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(s.pid, SIGKILL);
      ADD_FAILURE() << "the run blocked";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return finish_program(s);
}

bool has_final_header(const Network& net, const std::string& name) {
  const SacBytes b(net.file(name).string());
  return b.valid() && b.k(off::kKevnm, 1) == "S";
}

// Both lists, the name list holding `names`.
void write_names(const Network& net, const std::vector<std::string>& names) {
  net.write_lists();
  std::string text;
  for (const auto& n : names) text += n + "\n";
  write_bytes(net.file("names"), text);
}

// Rows "result folder that does not exist" and "status 3": each failed write on standard error,
// then the summary, with either engine.
TEST(HostileResults, ResultsThatCannotBeWrittenAreCountedAndEndWithStatusThree) {
  for (const char* engine : {"fast", "plain"}) {
    SCOPED_TRACE(engine);
    Network net;
    three_stations(net);
    write_names(net,
                {"p1_1.sac", "none/p1_2.sac", "p1_3.sac", "p2_2.sac", "none/p2_3.sac", "p3_3.sac"});
    const RunResult r = run_bounded(net, "B", "Y", {std::string("XCN_ENGINE=") + engine});
    EXPECT_EQ(r.status, 3);
    // Lines of different workers come in no fixed order; the summary comes last.
    const auto lines = split_lines(r.err);
    ASSERT_EQ(lines.size(), 3u) << r.err;
    for (const char* name : {"none/p1_2.sac", "none/p2_3.sac"}) {
      EXPECT_EQ(count_of(r.err, std::string("xcorrnet_v3: result \"") + name +
                                    "\" could not be written: No such file or directory\n"),
                1)
          << r.err;
      // The library's own message and the progress line stay as they were.
      EXPECT_EQ(count_of(r.out, std::string(" ERROR  101: Cannot open file ") + name +
                                    " (System error occurred.)\n"),
                1)
          << r.out;
      EXPECT_EQ(count_of(r.out, "%       " + pad(name, 50) + "Dist:"), 1);
    }
    EXPECT_EQ(lines.back(), "xcorrnet_v3: 2 of 6 results could not be written or completed");
    for (const char* name : {"p1_1.sac", "p1_3.sac", "p2_2.sac", "p3_3.sac"}) {
      EXPECT_TRUE(has_final_header(net, name)) << name;
    }
  }
}

}  // namespace
}  // namespace xcn::test
