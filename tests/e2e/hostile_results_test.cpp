// End-to-end runs with hostile result names: a pipe, a socket or a device under a name, names
// that are the run's own inputs, two pairs under one file, and results that cannot be written.
// Each is reported on standard error, costs only its own pair, and a run that leaves a result
// unwritten or incomplete ends with a summary line and status 3.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
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

const std::vector<std::string> kPairs = {"p1_1.sac", "p1_2.sac", "p1_3.sac",
                                         "p2_2.sac", "p2_3.sac", "p3_3.sac"};

// Row "a pipe, a socket or a device under a result's name".
TEST(HostileResults, APipeSocketOrDeviceUnderAResultNameIsLeftAloneAndNothingWaits) {
  const struct {
    const char* what;
    std::function<void(const fs::path&)> make;
    bool (*still)(const fs::path&);
  } cases[] = {
      {"pipe", [](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); },
       [](const fs::path& p) { return fs::is_fifo(p); }},
      {"socket",
       [](const fs::path& p) {
         const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un addr{};
         addr.sun_family = AF_UNIX;
         std::strncpy(addr.sun_path, p.c_str(), sizeof addr.sun_path - 1);
         ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
         close(fd);
       },
       [](const fs::path& p) { return fs::is_socket(p); }},
      {"device", [](const fs::path& p) { fs::create_symlink("/dev/null", p); },
       [](const fs::path& p) { return fs::is_symlink(p); }},
  };
  for (const auto& c : cases) {
    for (const char* replace : {"Y", "N"}) {
      SCOPED_TRACE(std::string(c.what) + " replace " + replace);
      Network net;
      three_stations(net);
      net.write_lists();
      // With N every other result exists already and is only completed.
      if (std::string(replace) == "N") {
        ASSERT_EQ(run_bounded(net, "B", "Y").status, 0);
      }
      fs::remove(net.file("p1_2.sac"));
      c.make(net.file("p1_2.sac"));
      const RunResult r = run_bounded(net, "B", replace);
      EXPECT_EQ(r.status, 3);
      EXPECT_EQ(r.err,
                "xcorrnet_v3: result \"p1_2.sac\" is not a regular file; left as it is\n"
                "xcorrnet_v3: 1 of 6 results could not be written or completed\n");
      EXPECT_TRUE(has_line(r.out, kSkip + pad("p1_2.sac", 50))) << r.out;
      EXPECT_EQ(r.out.find("ERROR"), std::string::npos) << r.out;
      EXPECT_TRUE(c.still(net.file("p1_2.sac")));
      // Later results still get their final header.
      for (const auto& name : kPairs) {
        if (name != "p1_2.sac") {
          EXPECT_TRUE(has_final_header(net, name)) << name;
        }
      }
    }
  }
}

// Row "a result name that is one of the run's inputs".
TEST(HostileResults, ANameThatIsAnInputOfTheRunIsRefusedBeforeThePairLoop) {
  for (const char* replace : {"Y", "N"}) {
    SCOPED_TRACE(replace);
    Network net;
    three_stations(net);
    fs::create_symlink("st3.sac", net.file("link.sac"));
    write_names(net, {"p1_1.sac", "./st2.sac", "stations", "names", "link.sac", "p3_3.sac"});
    const std::map<std::string, std::string> inputs = {
        {"st1.sac", read_bytes(net.file("st1.sac"))},
        {"st2.sac", read_bytes(net.file("st2.sac"))},
        {"st3.sac", read_bytes(net.file("st3.sac"))},
        {"stations", read_bytes(net.file("stations"))},
        {"names", read_bytes(net.file("names"))}};
    const RunResult r = run_bounded(net, "B", replace);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err,
              "xcorrnet_v3: result \"./st2.sac\" of pair 2 is the station record \"st2.sac\" of "
              "station 2; the pair is skipped and the file left as it is\n"
              "xcorrnet_v3: result \"stations\" of pair 3 is the station list \"stations\"; the "
              "pair is skipped and the file left as it is\n"
              "xcorrnet_v3: result \"names\" of pair 4 is the name list \"names\"; the pair is "
              "skipped and the file left as it is\n"
              "xcorrnet_v3: result \"link.sac\" of pair 5 is the station record \"st3.sac\" of "
              "station 3; the pair is skipped and the file left as it is\n"
              "xcorrnet_v3: 4 of 6 results could not be written or completed\n");
    for (const char* name : {"./st2.sac", "stations", "names", "link.sac"}) {
      EXPECT_TRUE(has_line(r.out, kSkip + pad(name, 50))) << name;
    }
    for (const auto& [name, bytes] : inputs) EXPECT_EQ(read_bytes(net.file(name)), bytes) << name;
    EXPECT_TRUE(fs::is_symlink(net.file("link.sac")));
    EXPECT_TRUE(has_final_header(net, "p1_1.sac"));
    EXPECT_TRUE(has_final_header(net, "p3_3.sac"));
  }
}

// Row "one file named for two pairs".
TEST(HostileResults, AFileNamedForTwoPairsIsWrittenByTheFirstOnly) {
  // The first pair's result as a run with unique names writes it.
  Network reference;
  three_stations(reference);
  reference.write_lists();
  ASSERT_EQ(reference.run("B", "Y").status, 0);
  const std::string p1_2 = read_bytes(reference.file("p1_2.sac"));

  const struct {
    const char* what;
    std::vector<std::string> names;
    std::string says;
    std::vector<int> skipped;
  } cases[] = {
      {"one spelling",
       {"p1_1.sac", "x.sac", "x.sac", "p2_2.sac", "x.sac", "p3_3.sac"},
       "xcorrnet_v3: warning: the name \"x.sac\" is on lines 2, 3 and 5 of the name list; only "
       "pair 2 uses it, pairs 3 and 5 are skipped\n",
       {3, 5}},
      {"three spellings",
       {"p1_1.sac", "x.sac", "p1_3.sac", "./x.sac", "sub/../x.sac", "p3_3.sac"},
       "xcorrnet_v3: warning: the names on lines 2 (\"x.sac\"), 4 (\"./x.sac\") and 5 "
       "(\"sub/../x.sac\") of the name list are one file; only pair 2 uses it, pairs 4 and 5 "
       "are skipped\n",
       {4, 5}},
  };
  for (const auto& c : cases) {
    for (const bool exists : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (exists ? ", file there" : ", no file"));
      Network net;
      three_stations(net);
      fs::create_directory(net.file("sub"));
      write_names(net, c.names);
      if (exists) write_bytes(net.file("x.sac"), p1_2);
      const RunResult r = run_bounded(net, "B", "Y");
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.err, c.says);
      std::map<std::string, int> skip_lines;
      for (const int ij : c.skipped) ++skip_lines[c.names[static_cast<std::size_t>(ij - 1)]];
      for (const auto& [name, count] : skip_lines) {
        EXPECT_EQ(count_of(r.out, kSkip + pad(name, 50) + "\n"), count) << name;
      }
      EXPECT_EQ(count_of(r.out, "# of stacking:"), 6 - static_cast<int>(c.skipped.size()));
      // Pair 2's samples under pair 2's header, whichever worker came last.
      EXPECT_EQ(read_bytes(net.file("x.sac")), p1_2);
    }
  }
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

// Row "a folder of a result's name that is a link of another user": in a folder others can
// write, another user's link `shared/d -> victim` would put the result over the victim's file;
// it is refused, naming the link. A link of the user's own there is followed.
TEST(HostileResults, AnotherUsersLinkOnTheWayToAResultIsNotFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "links of another user are planted by root";
  const struct {
    const char* what;
    uid_t link_owner;
    bool followed;
  } cases[] = {
      {"another user's link", 65533, false},
      {"our own link", geteuid(), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Network net;
    three_stations(net);
    const fs::path victim = net.file("victim");
    const fs::path shared = net.file("shared");
    fs::create_directory(victim);
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    write_bytes(victim / "p1_2.sac", "mine");
    ASSERT_EQ(symlink(victim.c_str(), (shared / "d").c_str()), 0);
    ASSERT_EQ(lchown((shared / "d").c_str(), c.link_owner, c.link_owner), 0);
    write_names(net,
                {"p1_1.sac", "shared/d/p1_2.sac", "p1_3.sac", "p2_2.sac", "p2_3.sac", "p3_3.sac"});
    const RunResult r = run_bounded(net, "B", "Y");
    if (c.followed) {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_TRUE(has_final_header(net, "victim/p1_2.sac"));
      continue;
    }
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err,
              "xcorrnet_v3: result \"shared/d/p1_2.sac\" could not be written: the symbolic link "
              "\"shared/d\" is another user's, in a folder others can write; it is not followed\n"
              "xcorrnet_v3: 1 of 6 results could not be written or completed\n");
    EXPECT_EQ(count_of(r.out,
                       " ERROR  101: Cannot open file shared/d/p1_2.sac (Insufficient "
                       "access rights.)\n"),
              1)
        << r.out;
    EXPECT_EQ(read_bytes(victim / "p1_2.sac"), "mine");
    EXPECT_EQ(std::distance(fs::directory_iterator(victim), fs::directory_iterator()), 1);
    EXPECT_TRUE(has_final_header(net, "p1_3.sac"));
  }
}

}  // namespace
}  // namespace xcn::test
