// End-to-end runs where a result or a setting is not what the run expects: results of other
// pairs under this run's names, results their owner locked, lower-case arguments, settings out
// of range, standard output that cannot be written, and stations at one place.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <filesystem>
#include <functional>
#include <map>

#include "tests/e2e/network.hpp"

namespace xcn::test {
namespace {

namespace fs = std::filesystem;

// Four stations S1..S4 at different places, 2400 samples at 1 s.
void four_stations(Network& net) {
  Noise noise(71);
  for (int k = 1; k <= 4; ++k) {
    net.add({"S" + std::to_string(k), "BHZ", 10.0f + static_cast<float>(k), 20.0f, 1.0f,
             noise.series(2400)});
  }
}

std::map<std::string, std::string> results_of(const Network& net) {
  std::map<std::string, std::string> bytes;
  for (const auto& e : fs::directory_iterator(net.dir())) {
    const std::string name = e.path().filename().string();
    if (name.rfind("p", 0) == 0) bytes[name] = read_bytes(e.path());
  }
  return bytes;
}

// Puts `text` at `offset` of a file, as another program editing a header would.
void patch(const fs::path& p, std::size_t offset, const std::string& text) {
  std::string b = read_bytes(p);
  b.replace(offset, text.size(), text);
  write_bytes(p, b);
}

void patch_word(const fs::path& p, std::size_t offset, std::int32_t value) {
  patch(p, offset, std::string(reinterpret_cast<const char*>(&value), 4));
}

// Every way a list can come to name other pairs' results: a station taken out, a station put
// in, one result copied over another's name, and a result known only by its positions.
TEST(ResultIdentity, AResultOfAnotherPairIsNeverRelabelled) {
  Network net;
  four_stations(net);
  net.write_lists();
  ASSERT_EQ(net.run("B", "Y").status, 0);
  const auto before = results_of(net);

  // The last station taken out of the list: the names now fall on other pairs.
  write_bytes(net.file("stations"), "st1.sac\nst2.sac\nst3.sac\n");
  RunResult r = net.run("B", "N");
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("xcorrnet_v3: result \"p1_4.sac\" holds the pair S1-S4, not S2-S2 of this "
                       "list; left as it is\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(count_of(r.err, "names 7 to 10 are not used"), 1) << r.err;
  EXPECT_EQ(results_of(net), before);

  // A station put in front: every name but the first is another pair's.
  fs::copy_file(net.file("st4.sac"), net.file("st0.sac"));
  write_bytes(net.file("stations"), "st1.sac\nst0.sac\nst2.sac\nst3.sac\nst4.sac\n");
  r = net.run("B", "N");
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("result \"p1_2.sac\" holds the pair S1-S2, not S1-S4 of this list"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(results_of(net), before);

  // One result copied over another's name, and one whose event name was wiped, which still
  // names its pair by the positions.
  net.write_lists();
  fs::copy_file(net.file("p1_2.sac"), net.file("p1_3.sac"), fs::copy_options::overwrite_existing);
  fs::copy_file(net.file("p2_4.sac"), net.file("p2_3.sac"), fs::copy_options::overwrite_existing);
  patch(net.file("p2_3.sac"), off::kKevnm, "-12345          ");
  const std::string copied = read_bytes(net.file("p1_3.sac"));
  const std::string wiped = read_bytes(net.file("p2_3.sac"));
  r = net.run("B", "N");
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("result \"p1_3.sac\" holds the pair S1-S2, not S1-S3 of this list; left "
                       "as it is"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("result \"p2_3.sac\" holds the pair of event 12, 20 and station 14, 20, "
                       "not S2-S3 of this list at 12, 20 and 13, 20; left as it is"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(read_bytes(net.file("p1_3.sac")), copied);
  EXPECT_EQ(read_bytes(net.file("p2_3.sac")), wiped);
  EXPECT_EQ(count_of(r.err, "holds the pair"), 2) << r.err;
  EXPECT_NE(r.err.find("2 of 10 results could not be written or completed"), std::string::npos);

  // With Y the pairs are computed again and the names hold their own pairs once more.
  r = net.run("B", "Y");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(results_of(net), before);
}

// Two components of one station share their event name; the component tells their pairs apart.
TEST(ResultIdentity, TwoComponentsOfOneStationAreToldApart) {
  Network net;
  Noise noise(72);
  net.add({"S1", "BHZ", 10.0f, 20.0f, 1.0f, noise.series(2400)});
  net.add({"S1", "BHN", 10.0f, 20.0f, 1.0f, noise.series(2400)});
  net.write_lists();
  ASSERT_EQ(net.run("B", "Y").status, 0);
  fs::copy_file(net.file("p1_1.sac"), net.file("p1_2.sac"), fs::copy_options::overwrite_existing);
  const RunResult r = net.run("B", "N");
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("result \"p1_2.sac\" holds the pair S1-S1 (component BHZ), not S1-S1 "
                       "(component BHN) of this list; left as it is"),
            std::string::npos)
      << r.err;
}

// The same pair of another day is not given this run's date: a day run into the folder of the
// day before, with N, leaves the older day's results as they are.
TEST(ResultIdentity, AResultOfAnotherDayIsNotRedated) {
  Network net;
  Noise noise(74);
  const auto add_day = [&](int jday) {
    for (int k = 1; k <= 2; ++k) {
      Record r{"S" + std::to_string(k), "BHZ", 10.0f + static_cast<float>(k), 20.0f, 1.0f,
               noise.series(2400)};
      r.reference = {2024, jday, 0, 0, 0, 0};
      EXPECT_EQ(write_record(net.file("st" + std::to_string(k) + ".sac").string(), r), 0);
    }
  };
  add_day(100);
  write_bytes(net.file("stations"), "st1.sac\nst2.sac\n");
  write_bytes(net.file("names"), "p1_1.sac\np1_2.sac\np2_2.sac\n");
  ASSERT_EQ(net.run("B", "Y").status, 0);
  const auto day100 = results_of(net);
  ASSERT_EQ(SacBytes(net.file("p1_2.sac").string()).i(off::kNzjday), 100);

  add_day(101);
  const RunResult r = net.run("B", "N");
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("xcorrnet_v3: result \"p1_2.sac\" holds the pair S1-S2 of 2024.100 "
                       "00:00:00.000, not of this run's 2024.101 00:00:00.000; left as it is\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(results_of(net), day100);
}

// A result whose owner set LOVROK false is rewritten neither by the header pass, even when
// its header is not the final one, nor by a rerun that replaces results (Y): one rule.
TEST(ResultIdentity, AResultLockedByLovrokIsLeftAndReported) {
  const struct {
    const char* replace;
    const char* said;
  } cases[] = {
      {"N",
       "xcorrnet_v3: result \"p1_2.sac\" may not be overwritten (LOVROK is false); left as "
       "it is\n"},
      {"Y",
       "xcorrnet_v3: result \"p1_2.sac\" may not be overwritten (LOVROK is false); the pair "
       "is skipped and the file left as it is\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.replace);
    Network net;
    four_stations(net);
    net.write_lists();
    ASSERT_EQ(net.run("B", "Y").status, 0);
    const fs::path locked = net.file("p1_2.sac");
    patch_word(locked, 428, 0);                      // LOVROK false
    patch(locked, off::kKevnm, "-12345          ");  // and its event name gone
    patch_word(locked, off::kDist, 0x7fc00000);      // and a distance to be mended
    const std::string kept = read_bytes(locked);
    const fs::path other = net.file("p1_3.sac");
    fs::remove(other);
    const RunResult r = net.run("B", c.replace);
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("xcorrnet_v3: 1 of 10 results could not be written or completed\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(read_bytes(locked), kept);
    EXPECT_TRUE(fs::exists(other));  // the other pairs are computed as ever
  }
}

// Three records that carry their codes and orientation as xcn_prep writes them, or part of them.
void coded_stations(Network& net) {
  Noise noise(75);
  Record a{"AAA", "BHZ", 10.0f, 20.0f, 1.0f, noise.series(2400)};
  a.knetwk = "XX";
  a.khole = "00";
  a.cmpaz = 0.0f;
  a.cmpinc = 0.0f;
  Record b{"BBBBBBBB", "BH1", 11.0f, 20.5f, 1.0f, noise.series(2400)};
  b.knetwk = "YY";
  b.khole = "10";
  b.cmpaz = 33.5f;
  b.cmpinc = 90.0f;
  Record c{"CCC", "HH2", 12.0f, 21.0f, 1.0f, noise.series(2400)};  // no network, location, angles
  for (const Record& r : {a, b, c}) net.add(r);
}

// Every result keeps both records' network, station, location, component and orientation: the
// second record's in the station's fields, the first record's in KDATRD, KUSER1, KINST, KUSER2,
// USER2 and USER3; what a record leaves undefined stays undefined.
TEST(ResultIdentity, EveryResultKeepsBothRecordsCodesAndOrientation) {
  Network net;
  coded_stations(net);
  net.write_lists();
  const RunResult r = net.run("B", "Y");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const struct {
    std::string network, station, location, component;
    float cmpaz, cmpinc;
  } records[] = {{"XX      ", "AAA     ", "00      ", "BHZ     ", 0.0f, 0.0f},
                 {"YY      ", "BBBBBBBB", "10      ", "BH1     ", 33.5f, 90.0f},
                 {"-12345  ", "CCC     ", "-12345  ", "HH2     ", -12345.0f, -12345.0f}};
  for (int i = 1; i <= 3; ++i) {
    for (int j = i; j <= 3; ++j) {
      SCOPED_TRACE(Network::pair_name(i, j));
      const SacBytes b(net.file(Network::pair_name(i, j)).string());
      const auto& first = records[i - 1];
      const auto& second = records[j - 1];
      EXPECT_EQ(b.k(off::kKdatrd), first.network);
      EXPECT_EQ(b.k(off::kKuser1), first.station);
      EXPECT_EQ(b.k(off::kKinst), first.location);
      EXPECT_EQ(b.k(off::kKuser2), first.component);
      EXPECT_EQ(b.f(off::kUser2), first.cmpaz);
      EXPECT_EQ(b.f(off::kUser3), first.cmpinc);
      EXPECT_EQ(b.k(off::kKnetwk), second.network);
      EXPECT_EQ(b.k(off::kKstnm), second.station);
      EXPECT_EQ(b.k(off::kKhole), second.location);
      EXPECT_EQ(b.k(off::kKcmpnm), second.component);
      EXPECT_EQ(b.f(off::kCmpaz), second.cmpaz);
      EXPECT_EQ(b.f(off::kCmpinc), second.cmpinc);
      // The rest of the header is what it was: the event name, both positions, E undefined.
      EXPECT_EQ(b.f(off::kEvla), net.record(i).stla);
      EXPECT_EQ(b.f(off::kStla), net.record(j).stla);
      EXPECT_EQ(b.f(off::kE), -12345.0f);
    }
  }
  EXPECT_EQ(SacBytes(net.file("p1_2.sac").string()).k(off::kKevnm, 16), "AAA-BBBBBBBB    ");
}

// The inode and the time of last change of a file: what a rewrite changes.
std::pair<ino_t, std::int64_t> stamp(const fs::path& p) {
  struct stat st {};
  ::stat(p.c_str(), &st);
  return {st.st_ino,
          static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

std::map<std::string, std::pair<ino_t, std::int64_t>> stamps_of(const Network& net) {
  std::map<std::string, std::pair<ino_t, std::int64_t>> stamps;
  for (const auto& [name, bytes] : results_of(net)) stamps[name] = stamp(net.file(name));
  return stamps;
}

// A result of an earlier version, without the records' new fields, is completed by the header
// pass like any header: its samples stay, and it gets the very bytes a fresh result has. A run's
// own results, and complete ones, are never written again.
TEST(ResultIdentity, TheHeaderPassCompletesResultsOfEarlierVersionsAndThenWritesNothing) {
  Network net;
  coded_stations(net);
  net.write_lists();
  ASSERT_EQ(net.run("B", "Y").status, 0);
  const auto fresh = results_of(net);
  const auto written = stamps_of(net);
  RunResult r = net.run("B", "N");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(stamps_of(net), written);

  // p1_2 as an earlier version wrote it: KSTNM and the new fields undefined.
  const fs::path old = net.file("p1_2.sac");
  for (const std::size_t at : {off::kKstnm, off::kKhole, off::kKuser1, off::kKuser2, off::kKnetwk,
                               off::kKdatrd, off::kKinst}) {
    patch(old, at, "-12345  ");
  }
  for (const std::size_t at : {off::kUser2, off::kUser3, off::kCmpaz, off::kCmpinc}) {
    patch_word(old, at, std::bit_cast<std::int32_t>(-12345.0f));
  }
  ASSERT_NE(read_bytes(old), fresh.at("p1_2.sac"));
  r = net.run("B", "N");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(results_of(net), fresh);
  auto after = stamps_of(net);
  EXPECT_NE(after.at("p1_2.sac"), written.at("p1_2.sac"));
  after.erase("p1_2.sac");
  auto others = written;
  others.erase("p1_2.sac");
  EXPECT_EQ(after, others);
  // Complete now: the next rerun writes nothing.
  const auto completed = stamps_of(net);
  r = net.run("B", "N");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(stamps_of(net), completed);
}

// A record whose codes changed since its results were written (another component, another
// network) makes those results another pair's: they are left as they are.
TEST(ResultIdentity, AResultOfAnotherComponentOrNetworkOfTheFirstRecordIsNotRelabelled) {
  const struct {
    const char* what;
    std::function<void(Record&)> change;
    std::string said;
  } cases[] = {
      {"component", [](Record& r) { r.kcmpnm = "BHE"; },
       "xcorrnet_v3: result \"p1_2.sac\" holds the pair AAA-BBBBBBBB (the first record's "
       "component BHZ), not AAA-BBBBBBBB (the first record's component BHE) of this list; left as "
       "it is\n"},
      {"network", [](Record& r) { r.knetwk = "ZZ"; },
       "xcorrnet_v3: result \"p1_2.sac\" holds the pair AAA-BBBBBBBB (the first record's network "
       "XX), not AAA-BBBBBBBB (the first record's network ZZ) of this list; left as it is\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Network net;
    coded_stations(net);
    net.write_lists();
    ASSERT_EQ(net.run("B", "Y").status, 0);
    const auto before = results_of(net);
    Record first = net.record(1);
    c.change(first);
    ASSERT_EQ(write_record(net.file("st1.sac").string(), first), 0);
    const RunResult r = net.run("B", "N");
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    EXPECT_EQ(results_of(net), before);
  }
}

// Arguments and settings that do nothing or cannot be honoured say so once on standard error;
// the run itself is what it was.
TEST(Settings, LowerCaseArgumentsAndSettingsOutOfRangeAreReported) {
  Network net;
  four_stations(net);
  net.write_lists();

  RunResult r = net.run("b", "y");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("xcorrnet_v3: warning: the mode \"b\" selects no pair: only A, C or B "
                       "(upper case) select auto-correlations, cross-correlations or both; "
                       "nothing is computed\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("xcorrnet_v3: warning: the replace flag \"y\" is not Y: existing results "
                       "are kept (only an upper-case Y replaces them)\n"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(results_of(net).empty());

  ASSERT_EQ(net.run("B", "Y").status, 0);
  const auto reference = results_of(net);
  r = net.run("B", "Y", 100000, {"XCN_FFT_ISA=avx3", "XCN_SPECTRUM_ISA=sse"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(count_of(r.err, "warning: OMP_NUM_THREADS asks for 100000 workers; using "), 1)
      << r.err;
  EXPECT_NE(r.err.find("warning: XCN_FFT_ISA=\"avx3\" is not plain, portable, avx2 or avx512; "
                       "using the fastest path of this processor\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("warning: XCN_SPECTRUM_ISA=\"sse\" is not portable, avx2 or avx512"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(results_of(net), reference);
}

// Lines that never reached standard output are a failure the run's status tells.
TEST(Settings, StandardOutputThatCannotBeWrittenEndsWithStatus3) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  Network net;
  four_stations(net);
  net.write_lists();
  const RunResult r =
      run_program(tool(), {"stations", "names", "B", "Y"}, net.dir(), {"OMP_NUM_THREADS=2"}, [] {
        const int full = open("/dev/full", O_WRONLY);
        if (full >= 0) dup2(full, 1);
      });
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(count_of(r.err,
                     "xcorrnet_v3: error: standard output could not be written: No space "
                     "left on device\n"),
            1)
      << r.err;
  EXPECT_EQ(results_of(net).size(), 10u);
}

// Two stations at one place are 0 km apart in the header, not a rounding remainder that a
// record section would draw as a distance.
TEST(Settings, StationsAtOnePlaceAreExactlyZeroKilometresApart) {
  Network net;
  Noise noise(73);
  net.add({"S1", "BHZ", 35.123456f, -117.654321f, 1.0f, noise.series(2400)});
  net.add({"S2", "BHZ", 35.123456f, -117.654321f, 1.0f, noise.series(2400)});
  net.write_lists();
  const RunResult r = net.run("B", "Y");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* name : {"p1_1.sac", "p1_2.sac", "p2_2.sac"}) {
    const SacBytes b(net.file(name).string());
    EXPECT_EQ(b.f(off::kDist), 0.0f) << name;
    EXPECT_EQ(b.f(off::kAz), 0.0f) << name;
    EXPECT_EQ(b.f(off::kBaz), 0.0f) << name;
  }
}

}  // namespace
}  // namespace xcn::test
