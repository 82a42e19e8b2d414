// End-to-end runs with damaged records, odd lists, a bad message setup and failing writes: each
// is reported once in its own words, and every result not concerned is still written.
//
// The README's robustness table has one row per bad input; each test here names its rows. Rows
// tested elsewhere:
// - "not a SAC file", "a listed file that does not exist", "LEVEN false":
//   BadInput.UnreadableStationsAreReportedAndTheirPairsLeftAlone (faults_test.cpp)
// - "mixed sampling intervals": BadInput.RecordsAtAnotherSamplingIntervalAreSkipped
// - "a sampling interval that cannot be run":
//   BadInput.SamplingIntervalsThatCannotBeRunEndTheRunBeforeAnyPair
// - "empty or missing station list": BadInput.AnEmptyOrMissingStationListRunsNoPair
// - "short name list": BadInput.AShortNameListWarnsOnceAndSkipsThePairsWithoutName
// - "an existing result that is not a SAC file": BadInput.AnUnreadableResultIsReportedAndLeftAlone
// - "mode or replace argument without a value":
//   CommandLine.ModeOrReplaceWithoutValueEndsWithStatusTwoBeforeAnyFile (cli_test.cpp)
// - "list path argument over 100 characters": RunSetUp.FillsTheParametersAndCutsLongArguments
//   (tests/driver/params_test.cpp)
// - "the run killed in the middle":
//   Results.AKilledRunLeavesOnlyCompleteFilesAndARerunCompletesTheRest (results_test.cpp)
// - "a pipe, a socket or a device under a result's name", "a result name that is an input of
//   the run", "one file named for two pairs", "a result folder that does not exist":
//   HostileResults (hostile_results_test.cpp)
// - "a named pipe as a list that no program opens for writing":
//   ListFiles.ANamedPipeIsReadFromItsWriterAndRefusedWhenNoneComes (tests/driver/lists_test.cpp)
//   and HelperRuns.ListsThatNeverEndOrNeverComeAreRefused
// - "a record changed while a run reads it again":
//   StreamedTable.ARecordThatReadsOtherwiseIsLostAndReportedOnce (tests/driver/stations_test.cpp)
// - the helpers' rows (an output that is an input, a folder that does not exist, an output
//   name taken by something else, a device or a pipe as a list or a record): HelperRuns
//   (tests/tools/helper_runs_test.cpp) and SectionRun (tests/section/section_test.cpp)
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>

#include "tests/e2e/network.hpp"

namespace xcn::test {
namespace {

namespace fs = std::filesystem;

void put_int(std::string& file, std::size_t offset, std::int32_t v) {
  std::memcpy(file.data() + offset, &v, 4);
}

// "# of stacking:" of the pair's progress line, -1 when it has none.
int stacking_of(const std::string& out, const std::string& name) {
  for (const auto& l : split_lines(out)) {
    if (l.find(pad(name, 50) + "Dist:") != std::string::npos) {
      return std::stoi(l.substr(l.find("# of stacking:") + 14, 12));
    }
  }
  return -1;
}

constexpr std::size_t kResultBytes = 632 + 4 * 2000;

// Three stations, by default of 2400 samples at 1 s: three windows per pair.
void three_stations(Network& net, std::uint64_t seed, std::size_t samples = 2400,
                    float delta = 1.0f) {
  Noise noise(seed);
  for (int k = 1; k <= 3; ++k) {
    net.add({"S" + std::to_string(k), "BHZ", static_cast<float>(k), 10.0f, delta,
             noise.series(samples)});
  }
}

// Every pair's result, by name, as bytes.
std::map<std::string, std::string> results_of(const Network& net, int n) {
  std::map<std::string, std::string> files;
  for (int i = 1; i <= n; ++i) {
    for (int j = i; j <= n; ++j) {
      const std::string name = Network::pair_name(i, j);
      files[name] = read_bytes(net.file(name));
    }
  }
  return files;
}

bool temporaries_left(const fs::path& dir) {
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (e.path().filename().string().rfind(".wsac0.", 0) == 0) return true;
  }
  return false;
}

// Rows "truncated file", "wrong header version", "NPTS negative", "NPTS larger than the file".
TEST(Robustness, DamagedRecordsCostOnlyTheirOwnPairs) {
  const struct {
    const char* what;
    std::function<void(std::string&)> damage;
    const char* reason;
    const char* library_says;  // lines the library prints on standard output
  } cases[] = {
      {"empty", [](std::string& f) { f.clear(); }, "the file is empty", ""},
      {"header cut", [](std::string& f) { f.resize(600); },
       "it is not a SAC file (too short to hold a header)", ""},
      {"samples cut", [](std::string& f) { f.resize(632 + 4 * 1000); },
       "the file is shorter than its header says", ""},
      {"NPTS negative", [](std::string& f) { put_int(f, 316, -5); }, "it is not a SAC file",
       " ERROR 1317: Cannot read the file header: st2.sac\n NPTS is negative: -5\n"},
      {"NPTS huge", [](std::string& f) { put_int(f, 316, INT_MAX); },
       "the file is shorter than its header says", ""},
      {"version 7", [](std::string& f) { put_int(f, 304, 7); }, "it is not a SAC file",
       " ERROR 1317: Cannot read the file header:\n"
       " not in sac format, nor byteswapped sac format.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Network net;
    three_stations(net, 40);
    std::string file = read_bytes(net.file("st2.sac"));
    c.damage(file);
    write_bytes(net.file("st2.sac"), file);
    net.write_lists();
    write_bytes(net.file("p1_2.sac"), "an old result");
    const RunResult r = net.run("B", "Y", 4);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, std::string("xcorrnet_v3: station 2 \"st2.sac\" cannot be read: ") + c.reason +
                         "; its pairs are skipped\n");
    EXPECT_EQ(count_of(r.out, " ERROR"), std::string(c.library_says).empty() ? 0 : 1) << r.out;
    EXPECT_NE(r.out.find(c.library_says), std::string::npos) << r.out;
    for (const char* name : {"p1_1.sac", "p1_3.sac", "p3_3.sac"}) {
      EXPECT_EQ(stacking_of(r.out, name), 3) << name;
      EXPECT_EQ(fs::file_size(net.file(name)), kResultBytes) << name;
    }
    for (const char* name : {"p1_2.sac", "p2_2.sac", "p2_3.sac"}) {
      EXPECT_TRUE(has_line(r.out, kSkip + pad(name, 50))) << name;
    }
    EXPECT_EQ(read_bytes(net.file("p1_2.sac")), "an old result");
    EXPECT_FALSE(fs::exists(net.file("p2_2.sac")));
  }
}

// Row "NPTS over 172800": a long record is read whole, without a word.
TEST(Robustness, RecordsLongerThan172800SamplesAreUsedWhole) {
  Network net;
  std::vector<float> y(200000);
  for (std::size_t k = 0; k < y.size(); ++k)
    y[k] = std::sin(static_cast<float>(k % 50) * 0.1256637f);
  net.add({"LONG", "BHZ", 1.0f, 2.0f, 1.0f, y});
  net.write_lists();
  const RunResult r = net.run("A", "Y");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(count_of(r.out, "ERROR"), 0);
  // Windows start every 200 samples up to 198000: 991 of them, all as calm as the record.
  EXPECT_EQ(stacking_of(r.out, "p1_1.sac"), 991);
}

// Row "NaN or infinite samples".
TEST(Robustness, NonFiniteSamplesRejectEveryWindowOfTheirRecordOnly) {
  Network net;
  three_stations(net, 41);
  for (const auto& [name, value] :
       {std::pair{"st2.sac", std::nanf("")}, std::pair{"st3.sac", INFINITY}}) {
    std::string file = read_bytes(net.file(name));
    std::memcpy(file.data() + 632 + 4 * 100, &value, 4);
    write_bytes(net.file(name), file);
  }
  net.write_lists();
  const RunResult r = net.run("B", "Y", 4);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "xcorrnet_v3: 5 pairs share windows but accept none of them together; their results "
            "hold no stack\n");
  EXPECT_EQ(count_of(r.out, "ERROR"), 0);
  EXPECT_EQ(stacking_of(r.out, "p1_1.sac"), 3);
  EXPECT_TRUE(std::isfinite(SacBytes(net.file("p1_1.sac").string()).samples()[1000]));
  for (const char* name : {"p1_2.sac", "p1_3.sac", "p2_2.sac", "p2_3.sac", "p3_3.sac"}) {
    EXPECT_EQ(stacking_of(r.out, name), 0) << name;
    const auto y = SacBytes(net.file(name).string()).samples();
    ASSERT_EQ(y.size(), 2000u) << name;
    EXPECT_TRUE(std::all_of(y.begin(), y.end(), [](float v) { return std::isnan(v); })) << name;
  }
}

// Rows "blank line in the station list", "blank line in the name list", "CR LF line ends".
TEST(Robustness, BlankAndCrLfLinesInTheLists) {
  Network net;
  three_stations(net, 42);
  write_bytes(net.file("stations"), "st1.sac\r\n\r\nst3.sac\r\n");
  write_bytes(net.file("names"), "a.sac\r\nb.sac\r\n\r\nd.sac\r\ne.sac\r\nf.sac\r\n");
  const RunResult r = net.run("B", "Y", 4);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "xcorrnet_v3: warning: line 3 of the name list is blank; pair 3 is skipped\n"
            "xcorrnet_v3: station 2 \"\" cannot be read: the file does not exist; its pairs are "
            "skipped\n");
  // Pair 3 joins two good stations, but has no name to be written to: a skip line.
  EXPECT_EQ(count_of(r.out, "          skip " + std::string(50, ' ') + "\n"), 1) << r.out;
  EXPECT_EQ(r.out.find("ERROR"), std::string::npos) << r.out;
  EXPECT_EQ(fs::file_size(net.file("a.sac")), kResultBytes);
  EXPECT_EQ(fs::file_size(net.file("f.sac")), kResultBytes);
  for (const char* name : {"b.sac", "d.sac", "e.sac"}) EXPECT_FALSE(fs::exists(net.file(name)));
  for (const auto& e : fs::directory_iterator(net.dir())) {
    EXPECT_EQ(e.path().filename().string().find('\r'), std::string::npos) << e.path();
  }
  EXPECT_FALSE(temporaries_left(net.dir()));
}

// Rows "station list line over 100 characters" and "name over 50 characters".
TEST(Robustness, OverlongListLinesAreCutAndReported) {
  Network net;
  Noise noise(43);
  net.add({"ONE", "BHZ", 1.0f, 2.0f, 1.0f, noise.series(2400)});
  // A note after the path, beyond column 100, is cut off with the blanks before it.
  const std::string station_line = pad("st1.sac", 100) + "# vault 3";
  write_bytes(net.file("stations"), station_line + "\n");
  const std::string name_line = "0123456789" + pad("p1_1.sac", 50);
  write_bytes(net.file("names"), name_line + "\n");
  const RunResult r = net.run("A", "Y");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "xcorrnet_v3: warning: line 1 of the name list has 60 characters; using the name "
            "\"p1_1.sac\"\n"
            "xcorrnet_v3: warning: line 1 of the station list has 109 characters; using "
            "\"st1.sac\"\n");
  EXPECT_EQ(stacking_of(r.out, "p1_1.sac"), 3);
  EXPECT_EQ(fs::file_size(net.file("p1_1.sac")), kResultBytes);
}

// Row "empty name list".
TEST(Robustness, AnEmptyNameListSkipsEveryPairWithOneWarning) {
  Network net;
  three_stations(net, 44);
  net.write_lists(0);
  const RunResult r = net.run("B", "Y");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "xcorrnet_v3: warning: the name list has 0 names for 6 pairs; pairs 1 to 6 have no "
            "name and are skipped\n");
  EXPECT_EQ(count_of(r.out, kSkip + std::string(50, ' ') + "\n"), 6);
  EXPECT_EQ(count_of(r.out, "# of stacking:"), 0);
}

// A folder for SACAUX of exactly `length` characters, holding `messages` unless it is empty.
fs::path aux_folder(const fs::path& base, std::size_t length, const std::string& messages) {
  fs::path dir = base / "aux";
  while (dir.string().size() + 11 < length) dir /= "aaaaaaaaaa";
  dir /= std::string(length - dir.string().size() - 1, 'b');
  fs::create_directories(dir);
  if (!messages.empty()) write_bytes(dir / "messages", messages);
  return dir;
}

// Rows "message file with bad lines" and "SACAUX of 120 to 128 characters".
TEST(Robustness, ABadMessageFileCostsOnlyTheMessageTexts) {
  const std::string shipped = read_bytes(fs::path(std::getenv("SACAUX")) / "messages");
  const struct {
    const char* what;
    std::size_t length;
    std::string messages;
    int load_errors;  // "error reading SAC message file-sacmsg" lines
  } cases[] = {
      {"blank line", 60, " 101 Cannot open file\n\n" + shipped, 1},
      {"letters", 60, "1336 Undefined\nno number here\n" + shipped, 1},
      {"no room for the file name", 120, shipped, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Network net;
    three_stations(net, 45);
    std::string file = read_bytes(net.file("st2.sac"));
    put_int(file, 304, 7);
    write_bytes(net.file("st2.sac"), file);
    net.write_lists();
    const fs::path aux = aux_folder(net.dir(), c.length, c.messages);
    ASSERT_EQ(aux.string().size(), c.length);
    const RunResult r = net.run("B", "Y", 4, {"SACAUX=" + aux.string()});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(count_of(r.out, "error reading SAC message file-sacmsg\n"), c.load_errors);
    // Messages read their number where the text is missing; nothing else changes.
    EXPECT_NE(r.out.find(" ERROR 1317: Number 1317\n not in sac format"), std::string::npos)
        << r.out;
    // Without any text, the one warning says why.
    const std::string warning =
        c.load_errors > 0 ? ""
                          : "WARNING: message texts are unavailable (SACAUX \"" + aux.string() +
                                "\" leaves no room for the file name (at most 119 characters)); "
                                "messages show their number only\n";
    EXPECT_EQ(r.err, warning +
                         "xcorrnet_v3: station 2 \"st2.sac\" cannot be read: it is not a SAC "
                         "file; its pairs are skipped\n");
    for (const char* name : {"p1_1.sac", "p1_3.sac", "p3_3.sac"}) {
      EXPECT_EQ(fs::file_size(net.file(name)), kResultBytes) << name;
    }
  }
}

// Rows "SACAUX empty, not a folder, or without a regular file messages": one warning, and the
// run as it would be with texts. A pipe under the name must not hold the run.
TEST(Robustness, MessageTextsThatCannotBeLoadedAreAnnouncedOnceAndCostNothingElse) {
  const struct {
    const char* what;
    std::function<std::string(const fs::path&)> make;  // SACAUX for the run's folder
    std::string because;                               // with {} for SACAUX
  } cases[] = {
      {"empty", [](const fs::path&) { return std::string(); }, "SACAUX is empty"},
      {"missing folder", [](const fs::path& d) { return (d / "none").string(); },
       "SACAUX \"{}\" does not exist"},
      {"a file", [](const fs::path& d) { return (d / "stations").string(); },
       "SACAUX \"{}\" is not a folder"},
      {"no messages",
       [](const fs::path& d) {
         fs::create_directory(d / "aux");
         return (d / "aux").string();
       },
       "SACAUX \"{}\" holds no file \"messages\""},
      {"a pipe",
       [](const fs::path& d) {
         fs::create_directory(d / "aux");
         mkfifo((d / "aux" / "messages").c_str(), 0644);
         return (d / "aux").string();
       },
       "\"{}/messages\" is not a regular file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Network net;
    three_stations(net, 45);
    std::string file = read_bytes(net.file("st2.sac"));
    put_int(file, 304, 7);
    write_bytes(net.file("st2.sac"), file);
    net.write_lists();
    const std::string aux = c.make(net.dir());
    std::string because = c.because;
    if (const auto at = because.find("{}"); at != std::string::npos) because.replace(at, 2, aux);
    const RunResult r = run_program(tool(), {"stations", "names", "B", "Y"}, net.dir(),
                                    {"OMP_NUM_THREADS=2", "SACAUX=" + aux}, [] { alarm(60); });
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" ERROR 1317: Number 1317\n not in sac format"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.err, "WARNING: message texts are unavailable (" + because +
                         "); messages show their number only\n"
                         "xcorrnet_v3: station 2 \"st2.sac\" cannot be read: it is not a SAC "
                         "file; its pairs are skipped\n");
    for (const char* name : {"p1_1.sac", "p1_3.sac", "p3_3.sac"}) {
      EXPECT_EQ(fs::file_size(net.file(name)), kResultBytes) << name;
    }
  }
}

// Rows "SACAUX missing" and "SACAUX over 128 characters": the run ends at the first read.
TEST(Robustness, MissingOrOverlongSacauxEndsTheRunBeforeAnyResult) {
  const struct {
    const char* what;
    std::size_t length;  // 0: SACAUX unset
    std::string says;
  } cases[] = {
      {"unset", 0, "ERROR: Environmental variable SACAUX not defined.\n"},
      {"130 characters", 130,
       "ERROR: Enviornment variable SACAUX too long: max: 128 SACAUX: 130\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Network net;
    three_stations(net, 46);
    net.write_lists();
    write_bytes(net.file("p1_1.sac"), "an old result");
    const std::string env =
        c.length == 0 ? "SACAUX" : "SACAUX=" + aux_folder(net.dir(), c.length, "").string();
    const RunResult r = net.run("B", "Y", 4, {env});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.says);
    EXPECT_EQ(r.out, "           Input:\n");
    EXPECT_EQ(read_bytes(net.file("p1_1.sac")), "an old result");
    EXPECT_FALSE(fs::exists(net.file("p1_2.sac")));
  }
}

// Row "disk full while writing": each failed write is reported and every old result stays whole
// with its final header, which the header pass then has no reason to write again.
TEST(WriteFaults, ADiskThatFillsUpKeepsEveryOldResult) {
  // The longest window there is (172800 samples): results of 691832 bytes, so that the limit
  // below leaves room for the console output and for what sanitizer runtimes write at start
  // (ThreadSanitizer maps a 512 KiB file), yet none for a result.
  Network net;
  three_stations(net, 47, 172800, 2000.0f / 172800.0f);
  net.write_lists();
  ASSERT_EQ(net.run("B", "Y").status, 0);
  const auto before = results_of(net, 3);
  ASSERT_EQ(before.at("p2_3.sac").size(), 632u + 4u * 172800u);

  const RunResult r =
      run_program(tool(), {"stations", "names", "B", "Y"}, net.dir(), {"OMP_NUM_THREADS=4"}, [] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{600000, 600000};
        setrlimit(RLIMIT_FSIZE, &limit);
      });
  EXPECT_EQ(r.status, 3) << r.err;
  for (const auto& [name, bytes] : before) {
    // Once, in the pair loop: the old file is final already, so the header pass leaves it.
    EXPECT_EQ(count_of(r.out,
                       " ERROR  115: Cannot write the file: no samples to write, or "
                       "fewer bytes written than requested " +
                           name + "\n"),
              1)
        << name << "\n"
        << r.out;
    EXPECT_EQ(stacking_of(r.out, name), 1) << name;
    EXPECT_EQ(count_of(r.err, "xcorrnet_v3: result \"" + name +
                                  "\" could not be written: File too large\n"),
              1)
        << r.err;
  }
  EXPECT_EQ(count_of(r.err, "could not be completed"), 0) << r.err;
  EXPECT_EQ(split_lines(r.err).size(), 7u) << r.err;
  EXPECT_EQ(split_lines(r.err).back(),
            "xcorrnet_v3: 6 of 6 results could not be written or completed");
  EXPECT_EQ(results_of(net, 3), before);
  EXPECT_FALSE(temporaries_left(net.dir()));
}

// Row "result folder without write permission": run as an ordinary user.
TEST(WriteFaults, AResultFolderWithoutWritePermissionKeepsEveryOldResult) {
  Network net;
  three_stations(net, 48);
  net.write_lists();
  std::ofstream names(net.file("names"));
  for (int i = 1; i <= 3; ++i) {
    for (int j = i; j <= 3; ++j) names << "out/" << Network::pair_name(i, j) << '\n';
  }
  names.close();
  fs::create_directory(net.file("out"));
  ASSERT_EQ(net.run("B", "Y").status, 0);
  std::map<std::string, std::string> before;
  for (const auto& e : fs::directory_iterator(net.file("out"))) {
    before[e.path().filename().string()] = read_bytes(e.path());
  }
  ASSERT_EQ(before.size(), 6u);

  // The user needs the tool, its messages and the inputs, none of which may lie in a folder
  // that only root can enter.
  const fs::path aux = net.file("aux");
  fs::create_directory(aux);
  fs::copy_file(fs::path(std::getenv("SACAUX")) / "messages", aux / "messages");
  fs::copy_file(tool(), net.file("xcorrnet_v3"));
  chmod(net.dir().c_str(), 0755);
  chmod(net.file("out").c_str(), 0555);
  const RunResult r =
      run_program(net.file("xcorrnet_v3").string(), {"stations", "names", "B", "Y"}, net.dir(),
                  {"OMP_NUM_THREADS=4", "SACAUX=" + aux.string()}, [] {
                    if (geteuid() != 0) return;
                    const gid_t nobody = 65534;
                    if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(65534) != 0) {
                      _exit(126);
                    }
                  });
  chmod(net.file("out").c_str(), 0755);
  EXPECT_EQ(r.status, 3) << r.err;
  for (const auto& [name, bytes] : before) {
    EXPECT_EQ(count_of(r.out, " ERROR  101: Cannot open file out/" + name +
                                  " (Insufficient access rights.)\n"),
              1)
        << name << "\n"
        << r.out;
    EXPECT_EQ(read_bytes(net.file("out") / name), bytes) << name;
    EXPECT_EQ(count_of(r.err, "xcorrnet_v3: result \"out/" + name +
                                  "\" could not be written: Permission denied\n"),
              1)
        << r.err;
  }
  EXPECT_EQ(count_of(r.err, "could not be completed"), 0) << r.err;
  EXPECT_EQ(split_lines(r.err).size(), 7u) << r.err;
  EXPECT_EQ(split_lines(r.err).back(),
            "xcorrnet_v3: 6 of 6 results could not be written or completed");
}

// Row "a result's name taken by a directory".
TEST(WriteFaults, AResultNameTakenByADirectoryIsLeftAlone) {
  Network net;
  three_stations(net, 49);
  net.write_lists();
  fs::create_directory(net.file("p1_2.sac"));
  write_bytes(net.file("p1_2.sac") / "keep", "kept");
  const RunResult r = net.run("B", "Y", 4);
  // Found before the pair loop: the pair is skipped rather than computed for nothing.
  EXPECT_EQ(r.status, 3);
  EXPECT_TRUE(has_line(r.out, kSkip + pad("p1_2.sac", 50))) << r.out;
  EXPECT_EQ(count_of(r.out, "ERROR"), 0) << r.out;
  EXPECT_EQ(r.err,
            "xcorrnet_v3: result \"p1_2.sac\" is a directory; left as it is\n"
            "xcorrnet_v3: 1 of 6 results could not be written or completed\n");
  EXPECT_EQ(read_bytes(net.file("p1_2.sac") / "keep"), "kept");
  for (const char* name : {"p1_1.sac", "p1_3.sac", "p2_2.sac", "p2_3.sac", "p3_3.sac"}) {
    EXPECT_EQ(fs::file_size(net.file(name)), kResultBytes) << name;
  }
  EXPECT_FALSE(temporaries_left(net.dir()));
}

}  // namespace
}  // namespace xcn::test
