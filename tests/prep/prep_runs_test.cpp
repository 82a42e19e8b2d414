// The built xcn_prep run as a user runs it: its records on the tool's grid, metadata that never
// end or grow without bound, runs at once into one folder, a grid finer than the data.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "prep/archive_writer.hpp"
#include "prep/time.hpp"
#include "tests/e2e/process.hpp"
#include "tests/tools/tools_test_util.hpp"

namespace xcn::prep {
namespace {

namespace fs = std::filesystem;
using tools::test::file_bytes;
using tools::test::ScratchDir;
using tools::test::write_text;
using xcn::test::RunResult;

const Micros kJan5 = day_start(2024, 5);

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMeasured = false;  // the sanitizer's shadow memory is not the program's
#else
constexpr bool kMeasured = true;
#endif

// Every run here ends within a minute and, measured, within 3 GiB of address space, or fails.
void bounded_child() {
  alarm(60);
  if (!kMeasured) return;
  const rlimit limit{std::size_t{3} << 30, std::size_t{3} << 30};
  setrlimit(RLIMIT_AS, &limit);
}

std::vector<double> noise(std::size_t n, unsigned seed) {
  std::vector<double> x(n);
  for (std::size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    x[i] = static_cast<double>((seed >> 16) % 2001) - 1000.0;
  }
  return x;
}

std::string fdsn(const std::vector<ChannelId>& ids) {
  std::string text;
  for (const ChannelId& id : ids) {
    text += id.network + "|" + id.station + "|" + id.location + "|" + id.channel +
            "|10|20|100|0|0|-90|s|1|1|M/S|100|2020-01-01|\n";
  }
  return text;
}

class PrepRuns : public ::testing::Test {
 protected:
  void put(const std::string& name, const ChannelId& id, Micros start, double rate, std::size_t n) {
    std::string error;
    ASSERT_TRUE(write_bytes(dir_.file(name),
                            pack_records(id, start, rate, noise(n, static_cast<unsigned>(start)),
                                         Encoding::kSteim2, 4096),
                            error))
        << error;
  }
  RunResult prep(const std::vector<std::string>& args) {
    return xcn::test::run_program(XCN_PREP, args, dir_.path(), {}, bounded_child);
  }
  ScratchDir dir_;
};

TEST_F(PrepRuns, RecordsOfOneFolderLieOnTheToolsGridAtEveryInterval) {
  // 100 Hz data from a few milliseconds after midnight and after 22:00: 79 200 s apart.
  const ChannelId a{"XC", "AAA", "00", "BHZ"};
  const ChannelId b{"XC", "BBB", "00", "BHZ"};
  put("a.mseed", a, kJan5 + 3000, 100, 100 * 2100);
  put("b.mseed", b, kJan5 + 79200 * kSecond + 7000, 100, 100 * 2100);
  write_text(dir_ / "meta.txt", fdsn({a, b}));
  for (const char* delta : {"1", "0.05", "0.01"}) {
    SCOPED_TRACE(delta);
    fs::remove_all(dir_ / "out");
    const RunResult r =
        prep({"--meta", "meta.txt", "--out", "out", "--delta", delta, "a.mseed", "b.mseed"});
    ASSERT_EQ(r.status, 0) << r.err;
    const RunResult tool = xcn::test::run_program(XCN_TOOL, {"stations.txt", "names.txt", "B", "N"},
                                                  dir_ / "out/2024.005", {}, bounded_child);
    EXPECT_EQ(tool.status, 0) << tool.err;
    EXPECT_EQ(tool.err.find("off the run's window grid"), std::string::npos) << tool.err;
  }
}

TEST_F(PrepRuns, MetadataThatIsNoFileNeverEndsOrGrowsWithoutBoundIsRefused) {
  const ChannelId a{"XC", "AAA", "00", "BHZ"};
  put("a.mseed", a, kJan5 + 3600 * kSecond, 20, 20 * 600);
  write_text(dir_ / "meta.txt", fdsn({a}));
  fs::create_directory(dir_ / "folder");
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  // 160 KB whose latitude would be 20 000 copies of an 8 KB entity.
  std::string refs;
  for (int i = 0; i < 20000; ++i) refs += "&e;";
  write_text(dir_ / "bomb.xml",
             "<?xml version=\"1.0\"?>\n<!DOCTYPE FDSNStationXML [<!ENTITY e \"" +
                 std::string(8000, '1') +
                 "\">]>\n<FDSNStationXML><Network code=\"XC\"><Station code=\"AAA\">"
                 "<Channel code=\"BHZ\" locationCode=\"00\"><Latitude>" +
                 refs +
                 "</Latitude><Longitude>20</Longitude></Channel></Station></Network>"
                 "</FDSNStationXML>\n");
  const struct {
    std::string meta;
    std::string says;
  } cases[] = {
      {"folder", "xcn_prep: cannot open the metadata file \"folder\": it is a directory"},
      {"/dev/zero",
       "xcn_prep: cannot open the metadata file \"/dev/zero\": it is neither a regular file nor "
       "a pipe"},
      {"fifo",
       "xcn_prep: cannot open the metadata file \"fifo\": no program opened the pipe for "
       "writing within 10 s"},
      {"bomb.xml",
       "xcn_prep: bomb.xml: 1 channel epoch without readable coordinates or dates is left out"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.meta);
    fs::remove_all(dir_ / "out");
    const RunResult r = prep({"--meta", c.meta, "--meta", "meta.txt", "--out", "out", "a.mseed"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), c.says) << r.err;
    if (kMeasured) {
      EXPECT_LT(r.max_rss_kib, 400 * 1024);
    }
    EXPECT_EQ(file_bytes(dir_ / "out/2024.005/stations.txt"), "XC.AAA.00.BHZ.sac\n");
  }
  // Through a pipe that never ends: read to the bound, then refused.
  const RunResult r = xcn::test::run_program(
      "/bin/sh",
      {"-c", "cat /dev/zero | \"$0\" --meta /dev/stdin --meta meta.txt a.mseed", XCN_PREP},
      dir_.path(), {}, bounded_child);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.substr(0, r.err.find('\n')),
            "xcn_prep: cannot read the metadata file \"/dev/stdin\": it holds more than 512 MiB");
}

TEST_F(PrepRuns, RunsAtOnceIntoOneFolderListEveryRecord) {
  std::vector<ChannelId> ids;
  std::string expected;
  for (const char* sta : {"AAA", "BBB", "CCC", "DDD"}) {
    ids.push_back({"XC", sta, "00", "BHZ"});
    put(std::string(sta) + ".mseed", ids.back(), kJan5 + 3600 * kSecond, 20, 20 * 600);
    expected += ids.back().text() + ".sac\n";
  }
  write_text(dir_ / "meta.txt", fdsn(ids));
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    fs::remove_all(dir_ / "out");
    std::vector<xcn::test::Started> runs;
    for (const ChannelId& id : ids) {
      runs.push_back(xcn::test::start_program(
          XCN_PREP, {"--meta", "meta.txt", "--out", "out", id.station + ".mseed"}, dir_.path(), {},
          bounded_child));
    }
    for (auto& run : runs) {
      const RunResult r = xcn::test::finish_program(run);
      EXPECT_EQ(r.status, 0) << r.err;
    }
    EXPECT_EQ(file_bytes(dir_ / "out/2024.005/stations.txt"), expected);
    // Ten pairs of four records.
    const std::string names = file_bytes(dir_ / "out/2024.005/names.txt");
    EXPECT_EQ(std::count(names.begin(), names.end(), '\n'), 10);
  }
}

TEST_F(PrepRuns, AGridFinerThanTheDataIsRefusedBeforeItsMemoryIsTaken) {
  const ChannelId a{"XC", "AAA", "00", "LHZ"};
  put("a.mseed", a, kJan5, 1, 3600);
  write_text(dir_ / "meta.txt", fdsn({a}));
  // The finest interval a day may have: 86 400 000 samples, 0.7 GB in double precision.
  const RunResult r = prep({"--meta", "meta.txt", "--out", "out", "--delta", "0.001", "a.mseed"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("xcn_prep: XC.AAA.00.LHZ 2024.005: its samples come every 1 s, farther "
                       "apart than --delta 0.001 s; skipped"),
            std::string::npos)
      << r.err;
  if (kMeasured) {
    EXPECT_LT(r.max_rss_kib, 400 * 1024);
  }
}

}  // namespace
}  // namespace xcn::prep
