// End-to-end runs on inputs that other programs and odd set-ups produce: station entries that are
// no record (FIFOs, directories, records without samples), coordinates off the earth, intervals
// that differ by float rounding, list lines with tabs, NULs, byte-order marks or no end, names
// ended by a NUL inside the header, and an unknown byte order. Each names its README row.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <thread>

#include "driver/console.hpp"
#include "tests/e2e/network.hpp"

namespace xcn::test {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kResultBytes = 632 + 4 * 2000;
constexpr float kUndef = -12345.0f;

// Runs the tool like Network::run, but a run that has not ended after a minute is killed and
// reported: the faults here used to hang it.
RunResult run_within_a_minute(const Network& net, const std::string& mode = "B",
                              std::vector<std::string> env = {}) {
  env.push_back("OMP_NUM_THREADS=2");
  Started s = start_program(tool(), {"stations", "names", mode, "Y"}, net.dir(), env);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  for (;;) {
    siginfo_t info{};  // si_pid stays 0 while the run goes on
    if (waitid(P_PID, static_cast<id_t>(s.pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
        info.si_pid == s.pid) {
      break;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(s.pid, SIGKILL);
      ADD_FAILURE() << "the run did not end";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return finish_program(s);
}

void three_stations(Network& net, std::uint64_t seed) {
  Noise noise(seed);
  for (int k = 1; k <= 3; ++k) {
    net.add(
        {"S" + std::to_string(k), "BHZ", static_cast<float>(k), 10.0f, 1.0f, noise.series(2400)});
  }
}

// The progress line of a pair, empty when it has none.
std::string progress_of(const std::string& out, const std::string& name) {
  for (const auto& l : split_lines(out)) {
    if (l.find(pad(name, 50) + "Dist:") != std::string::npos) return l;
  }
  return {};
}

void put_word(const fs::path& file, std::size_t offset, const void* word) {
  std::string bytes = read_bytes(file);
  std::memcpy(bytes.data() + offset, word, 4);
  write_bytes(file, bytes);
}

// Rows "a FIFO, device or socket listed as a station", "a directory listed as a station", "a
// record without samples".
TEST(HostileInputs, AnEntryThatIsNoRecordCostsOnlyItsPairs) {
  const struct {
    const char* what;
    void (*make)(const fs::path&);
    const char* reason;
  } cases[] = {
      {"FIFO", [](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); },
       "it is not a regular file"},
      {"directory", [](const fs::path& p) { fs::create_directory(p); }, "it is a directory"},
      {"NPTS 0",
       [](const fs::path& p) {
         const std::int32_t zero = 0;
         write_bytes(p, read_bytes(p).substr(0, 632));
         put_word(p, off::kNpts, &zero);
       },
       "it has no samples"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Network net;
    three_stations(net, 60);
    if (std::string(c.what) != "NPTS 0") fs::remove(net.file("st2.sac"));
    c.make(net.file("st2.sac"));
    net.write_lists();
    write_bytes(net.file("p1_2.sac"), "an old result");
    const RunResult r = run_within_a_minute(net);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, std::string("xcorrnet_v3: station 2 \"st2.sac\" cannot be read: ") + c.reason +
                         "; its pairs are skipped\n");
    EXPECT_EQ(count_of(r.out, "ERROR"), 0) << r.out;
    for (const char* name : {"p1_2.sac", "p2_2.sac", "p2_3.sac"}) {
      EXPECT_TRUE(has_line(r.out, kSkip + pad(name, 50))) << name;
    }
    for (const char* name : {"p1_1.sac", "p1_3.sac", "p3_3.sac"}) {
      EXPECT_EQ(fs::file_size(net.file(name)), kResultBytes) << name;
    }
    EXPECT_EQ(read_bytes(net.file("p1_2.sac")), "an old result");
    EXPECT_FALSE(fs::exists(net.file("p2_2.sac")));
  }
  // The FIFO itself is left as it is.
  Network net;
  three_stations(net, 61);
  fs::remove(net.file("st3.sac"));
  ASSERT_EQ(mkfifo(net.file("st3.sac").c_str(), 0644), 0);
  net.write_lists();
  EXPECT_EQ(run_within_a_minute(net).status, 0);
  EXPECT_TRUE(fs::is_fifo(net.file("st3.sac")));
}

// Row "coordinates off the earth": reported per field; the station's pairs are computed, with
// no distance or azimuths anywhere, and no coordinate of it in their headers.
TEST(HostileInputs, CoordinatesOffTheEarthGiveNoDistance) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const struct {
    float stla, stlo;
    std::vector<std::string> says;  // after `station 2 "st2.sac" has no position: `
  } cases[] = {
      {95.0f, 10.0f, {"STLA 95 is outside -90 to 90"}},
      {-1000.0f, 400.0f, {"STLA -1000 is outside -90 to 90", "STLO 400 is outside -180 to 360"}},
      {2.7e23f, 10.0f, {"STLA 2.7e+23 is outside -90 to 90"}},
      {90.000008f,
       -180.00002f,
       {"STLA 90.00001 is outside -90 to 90", "STLO -180.00002 is outside -180 to 360"}},
      {nan, inf, {"STLA is not a number", "STLO is infinite"}},
      {1.0f, -inf, {"STLO is infinite"}},
      {kUndef, kUndef, {"STLA is undefined", "STLO is undefined"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says.front());
    Network net;
    Noise noise(62);
    net.add({"S1", "BHZ", 1.0f, 10.0f, 1.0f, noise.series(2400)});
    net.add({"S2", "BHZ", c.stla, c.stlo, 1.0f, noise.series(2400)});
    // The limits themselves are positions.
    net.add({"S3", "BHZ", -90.0f, 360.0f, 1.0f, noise.series(2400)});
    net.write_lists();
    const RunResult r = run_within_a_minute(net);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string expected;
    for (const auto& problem : c.says) {
      expected += "xcorrnet_v3: warning: station 2 \"st2.sac\" has no position: " + problem +
                  "; its pairs get no distance or azimuths\n";
    }
    EXPECT_EQ(r.err, expected);
    // The Input line shows what the file holds.
    EXPECT_TRUE(has_line(r.out, " " + std::string(10, ' ') + "2 " + pad("st2.sac", 100) + " " +
                                    format_real(c.stla) + " " + format_real(c.stlo)))
        << r.out;
    const std::string undef = format_real(kUndef);
    EXPECT_NE(progress_of(r.out, "p1_2.sac").find("Dist:  " + undef), std::string::npos)
        << progress_of(r.out, "p1_2.sac");
    EXPECT_NE(progress_of(r.out, "p1_2.sac").find("2 " + undef), std::string::npos);
    for (const char* name : {"p1_2.sac", "p2_2.sac", "p2_3.sac"}) {
      const SacBytes result(net.file(name).string());
      ASSERT_EQ(result.npts(), 2000) << name;
      for (std::size_t field : {off::kDist, off::kAz, off::kBaz, off::kGcarc}) {
        EXPECT_EQ(result.f(field), kUndef) << name << " at byte " << field;
      }
    }
    const SacBytes p12(net.file("p1_2.sac").string());
    EXPECT_EQ(p12.f(off::kStla), kUndef);
    EXPECT_EQ(p12.f(off::kStlo), kUndef);
    EXPECT_EQ(p12.f(off::kEvla), 1.0f);
    EXPECT_EQ(p12.f(off::kEvlo), 10.0f);
    const SacBytes p23(net.file("p2_3.sac").string());
    EXPECT_EQ(p23.f(off::kEvla), kUndef);
    EXPECT_EQ(p23.f(off::kEvlo), kUndef);
    EXPECT_EQ(p23.f(off::kStla), -90.0f);
    const SacBytes p13(net.file("p1_3.sac").string());
    EXPECT_GT(p13.f(off::kDist), 10000.0f);
  }
}

// Row "sampling intervals that differ by float rounding".
TEST(HostileInputs, IntervalsThatDifferByRoundingAreOneInterval) {
  const struct {
    float delta;  // of the first record; the other two are at `run`
    float run;
    std::size_t samples;
    const char* refused;  // the interval texts of the report, or none
  } cases[] = {
      {std::nextafter(0.05f, 0.0f), 0.05f, 48000, nullptr},  // one unit in the last place
      {0.0500000343f, 0.05f, 48000, nullptr},                // as another program wrote it
      {0.0501f, 0.05f, 48000, "0.0501 s, not the run's 0.05"},
      // Half a sample over the record is a real difference, even where %g shows none.
      {1.000003f, 1.0f, 172800, "1.000003 s, not the run's 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.delta);
    Network net;
    Noise noise(63);
    net.add({"S1", "BHZ", 1.0f, 10.0f, c.delta, noise.series(c.samples)});
    net.add({"S2", "BHZ", 2.0f, 10.0f, c.run, noise.series(c.samples)});
    net.add({"S3", "BHZ", 3.0f, 10.0f, c.run, noise.series(c.samples)});
    net.write_lists();
    const RunResult r = run_within_a_minute(net);
    ASSERT_EQ(r.status, 0) << r.err;
    if (c.refused == nullptr) {
      EXPECT_EQ(r.err, "");
      EXPECT_NE(progress_of(r.out, "p1_2.sac"), "");
    } else {
      EXPECT_EQ(r.err, std::string("xcorrnet_v3: station 1 \"st1.sac\" has sampling interval ") +
                           c.refused + " s; its pairs are skipped\n");
      EXPECT_TRUE(has_line(r.out, kSkip + pad("p1_2.sac", 50)));
    }
  }
}

// Row "trailing blanks, tabs or a CR after a list line".
TEST(HostileInputs, TrailingWhiteSpaceIsNoPartOfANameInEitherList) {
  Network net;
  three_stations(net, 64);
  write_bytes(net.file("stations"), "st1.sac\t\nst2.sac \t \r\nst3.sac\t\t\n");
  write_bytes(net.file("names"),
              "p1_1.sac\t\np1_2.sac \t\r\np1_3.sac\t \np2_2.sac\t\n"
              "p2_3.sac\r\np3_3.sac\t");
  const RunResult r = run_within_a_minute(net);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.find('\t'), std::string::npos);
  for (const char* name :
       {"p1_1.sac", "p1_2.sac", "p1_3.sac", "p2_2.sac", "p2_3.sac", "p3_3.sac"}) {
    const SacBytes result(net.file(name).string());
    EXPECT_EQ(result.npts(), 2000) << name;
    EXPECT_NE(result.k(off::kKevnm, 16), "-12345          ") << name;  // the header pass was there
  }
  for (const auto& e : fs::directory_iterator(net.dir())) {
    EXPECT_EQ(e.path().filename().string().find_first_of("\t\r "), std::string::npos) << e.path();
  }
}

// Rows "a UTF-8 byte-order mark", "a NUL byte in a list line", "a list line over 64 KiB", "a
// list that is a device".
TEST(HostileInputs, ListsWithMarksNulsAndEndlessLines) {
  Network net;
  three_stations(net, 65);
  const std::string long_line = pad("st3.sac", 70000);
  const std::string bom = "\xEF\xBB\xBF";
  const std::string nul(1, '\0');
  write_bytes(net.file("stations"), bom + "st1.sac\nst2" + nul + ".sac\n" + long_line + "\n");
  write_bytes(net.file("names"),
              bom + "p1_1.sac\np1_2.sac\np1_3.sac" + nul + "junk\np2_2.sac\np2_3.sac\np3_3.sac\n");
  const RunResult r = run_within_a_minute(net);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "xcorrnet_v3: warning: line 3 of the name list holds a NUL byte; pair 3 is skipped\n"
            "xcorrnet_v3: station 2 \"st2\\0.sac\" cannot be read: line 2 of the station list "
            "holds a NUL byte; its pairs are skipped\n"
            "xcorrnet_v3: warning: line 3 of the station list has 70000 characters; using "
            "\"st3.sac\"\n");
  EXPECT_TRUE(has_line(r.out, " " + std::string(10, ' ') + "2 " + pad("st2\\0.sac", 100) + " " +
                                  format_real(kUndef) + " " + format_real(kUndef)));
  EXPECT_EQ(r.out.find('\0'), std::string::npos);
  EXPECT_EQ(fs::file_size(net.file("p1_1.sac")), kResultBytes);  // the marked first lines
  EXPECT_EQ(fs::file_size(net.file("p3_3.sac")), kResultBytes);  // the long line's station
  EXPECT_TRUE(has_line(r.out, kSkip + std::string(50, ' ')));    // pair 3, without a name
  for (const auto& e : fs::directory_iterator(net.dir())) {
    EXPECT_EQ(e.path().filename().string().find("p1_3"), std::string::npos) << e.path();
  }

  // A device is refused before any station; a pipe, as the shell passes <(...), is read.
  write_bytes(net.file("stations"), "st1.sac\nst3.sac\n");
  write_bytes(net.file("names"), "q1_1.sac\nq1_3.sac\nq3_3.sac\n");
  const RunResult device = run_program(tool(), {"/dev/zero", "names", "B", "Y"}, net.dir());
  EXPECT_EQ(device.status, 2);
  EXPECT_EQ(device.err,
            "xcorrnet_v3: error: cannot open the station list \"/dev/zero\": it is neither a "
            "regular file nor a pipe\n");
  EXPECT_FALSE(fs::exists(net.file("q1_1.sac")));
  const RunResult piped = run_program(
      "/bin/bash", {"-c", "exec '" + tool() + "' <(cat stations) <(cat names) C Y"}, net.dir());
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.err, "");
  EXPECT_EQ(fs::file_size(net.file("q1_3.sac")), kResultBytes);
}

// Row "a station or component name ended by a NUL in the header".
TEST(HostileInputs, StationNamesEndedByANulMakeTheEventName) {
  Network net;
  Noise noise(66);
  net.add({"CCC", "BHZ", 1.0f, 10.0f, 1.0f, noise.series(2400)});
  net.add({"CLC", "BHZ", 2.0f, 10.0f, 1.0f, noise.series(2400)});
  // As other programs write a shorter name over a fresh header: a NUL, then the old padding.
  const std::string rest = std::string(1, '\0') + "45  ";
  for (const char* file : {"st1.sac", "st2.sac"}) {
    std::string bytes = read_bytes(net.file(file));
    bytes.replace(off::kKstnm + 3, rest.size(), rest);
    bytes.replace(off::kKcmpnm + 3, rest.size(), rest);
    write_bytes(net.file(file), bytes);
  }
  net.write_lists();
  const RunResult r = run_within_a_minute(net);
  ASSERT_EQ(r.status, 0) << r.err;
  const SacBytes p12(net.file("p1_2.sac").string());
  EXPECT_EQ(p12.k(off::kKevnm, 16), "CCC-CLC         ");
  EXPECT_EQ(p12.k(off::kKcmpnm), "BHZ     ");
}

// Row "SAC_WRITE_BYTE_ORDER neither big nor little".
TEST(HostileInputs, AnUnknownByteOrderIsReportedOnceAndTheHostsIsWritten) {
  Network net;
  three_stations(net, 67);
  net.write_lists();
  const RunResult r = run_within_a_minute(net, "B", {"SAC_WRITE_BYTE_ORDER=sun"});
  ASSERT_EQ(r.status, 0) << r.err;
  const bool host_big = std::endian::native == std::endian::big;
  EXPECT_EQ(r.err, std::string("WARNING: SAC_WRITE_BYTE_ORDER \"sun\" is neither big nor little: "
                               "files are written in this machine's byte order (") +
                       (host_big ? "big" : "little") + "-endian)\n");
  const std::string p12 = read_bytes(net.file("p1_2.sac"));
  std::int32_t nvhdr;
  std::memcpy(&nvhdr, p12.data() + 304, 4);
  EXPECT_EQ(nvhdr, 6);  // in the host's order
}

}  // namespace
}  // namespace xcn::test
