// Tests of xcn_prep on miniSEED packed by libmseed and metadata written here: the records and
// lists it writes, what real archives hold, and bad input.
#include <gtest/gtest.h>
#include <omp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "prep/archive_writer.hpp"
#include "prep/run.hpp"
#include "prep/sac_output.hpp"
#include "prep/time.hpp"
#include "tests/e2e/process.hpp"
#include "tests/prep/stderr_lines.hpp"
#include "tests/tools/tools_test_util.hpp"

namespace xcn::prep {
namespace {

using tools::test::Capture;
using tools::test::file_bytes;
using tools::test::ScratchDir;
using tools::test::write_text;

constexpr double kPi = std::numbers::pi;
const Micros kJan5 = day_start(2024, 5);
constexpr double kFrequency = 0.2;   // Hz: below the 1 s grid's Nyquist frequency
constexpr double kAmplitude = 1000;  // counts

// Counts of a sine at the sample times start + i / rate (seconds of the day from kJan5).
std::vector<double> counts(Micros start, double rate, std::size_t n) {
  std::vector<double> x(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(start - kJan5) / 1e6 + static_cast<double>(i) / rate;
    x[i] = std::round(kAmplitude * std::sin(2 * kPi * kFrequency * t));
  }
  return x;
}

std::vector<char> pack(const ChannelId& id, Micros start, double rate, std::size_t n,
                       Encoding encoding = Encoding::kSteim2, int reclen = 4096) {
  return pack_records(id, start, rate, counts(start, rate, n), encoding, reclen);
}

std::vector<char> operator+(std::vector<char> a, const std::vector<char>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A SAC file read back by its bytes, in this machine's byte order.
struct Sac {
  std::string bytes;
  float real(int index) const { return word<float>(4 * index); }
  int integer(int index) const { return word<int>(280 + 4 * index); }
  std::string text(int offset) const {
    std::string s = bytes.substr(static_cast<std::size_t>(offset), 8);
    return s.erase(s.find_last_not_of(' ') + 1);
  }
  int npts() const { return integer(9); }
  // Seconds from midnight of 2024-01-05 to the first sample: the reference time plus B.
  double start() const {
    const double reference = (integer(1) - 5) * 86400.0 + integer(2) * 3600.0 + integer(3) * 60.0 +
                             integer(4) + integer(5) / 1000.0;
    return reference + real(5);
  }
  float sample(int k) const { return word<float>(632 + 4 * k); }
  template <typename T>
  T word(int offset) const {
    T v;
    std::memcpy(&v, bytes.data() + offset, sizeof v);
    return v;
  }
};

const ChannelId kZ{"XC", "AAA", "00", "BHZ"};
const ChannelId kN{"XC", "AAA", "00", "BHN"};
const ChannelId kB{"XC", "BBB", "", "BHZ"};

std::string fdsn_line(const ChannelId& id, double lat, double lon, const char* start = "2020-01-01",
                      const char* end = "") {
  char line[256];
  std::snprintf(line, sizeof line, "%s|%s|%s|%s|%g|%g|123|4.5|90|0|sensor|1|1|M/S|20|%s|%s\n",
                id.network.c_str(), id.station.c_str(), id.location.c_str(), id.channel.c_str(),
                lat, lon, start, end);
  return line;
}

class Prep : public ::testing::Test {
 protected:
  void SetUp() override {
    write_text(dir_ / "meta.txt",
               "#Network|Station|Location|Channel|Latitude|Longitude|Elevation|Depth|Azimuth|"
               "Dip|SensorDescription|Scale|ScaleFreq|ScaleUnits|SampleRate|StartTime|EndTime\n" +
                   fdsn_line(kZ, 10, 20) + fdsn_line(kN, 10, 20) + fdsn_line(kB, -30.5, 140.25));
  }
  std::string path(const std::string& name) const { return dir_.file(name); }
  void write(const std::string& name, const std::vector<char>& bytes) {
    std::string error;
    ASSERT_TRUE(write_bytes(path(name), bytes, error)) << error;
  }
  // Runs on the named files with the test's metadata, out to DIR/out.
  int run_files(const std::vector<std::string>& names, std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"--meta", path("meta.txt"), "--out", path("out")};
    args.insert(args.end(), extra.begin(), extra.end());
    for (const auto& n : names) args.push_back(path(n));
    return run(args);
  }
  int run(const std::vector<std::string>& args) {
    Capture out;
    Capture err;
    const int status = run_prep(args, out.stream(), err.stream());
    out_ = out.text();
    err_ = err.text();
    return status;
  }
  Sac record(const std::string& day, const ChannelId& id) const {
    return {file_bytes(dir_ / "out" / day / (id.text() + ".sac"))};
  }
  // Lines of standard error that are not progress lines ("xcn_prep: 2/6 ...").
  std::vector<std::string> problems() const { return test::problem_lines(err_); }
  // Largest difference from the sine at the record's grid times, away from the ends of the
  // data and of gaps by `margin` samples; zeros (gaps) are left out.
  static double worst_error(const Sac& s, int margin = 120) {
    const double b = s.start();
    double worst = 0;
    for (int k = margin; k + margin < s.npts(); ++k) {
      bool near_gap = false;
      for (int m = -margin; m <= margin && !near_gap; m += 10) near_gap = s.sample(k + m) == 0.0f;
      if (near_gap) continue;
      const double t = b + k * static_cast<double>(s.real(0));
      worst =
          std::max(worst, std::fabs(s.sample(k) - kAmplitude * std::sin(2 * kPi * kFrequency * t)));
    }
    return worst;
  }

  ScratchDir dir_;
  std::string out_;
  std::string err_;
};

TEST_F(Prep, WritesRecordsWithTheirHeadersAndTheListsForTheTool) {
  // An SDS archive of two stations, each starting a few milliseconds after 01:00.
  const Micros a = kJan5 + 3600 * kSecond + 3000;
  const Micros b = kJan5 + 3600 * kSecond + 7000;
  std::string error;
  ASSERT_TRUE(write_bytes(sds_path(path("sds"), kZ, kJan5), pack(kZ, a, 20, 20 * 7200), error));
  ASSERT_TRUE(write_bytes(sds_path(path("sds"), kB, kJan5), pack(kB, b, 20, 20 * 7200), error));
  // A station folder that is a file: it cannot be read, and is said so once.
  write_text(dir_ / "sds/2024/XC/ZZZ", "");
  ASSERT_EQ(run({"--sds", path("sds"), "--start", "2024-01-05", "--meta", path("meta.txt"), "--out",
                 path("out")}),
            0)
      << err_;
  EXPECT_EQ(problems(), std::vector<std::string>{"xcn_prep: cannot read the folder " + path("sds") +
                                                 "/2024/XC/ZZZ: Not a directory"});
  EXPECT_EQ(out_, "xcn_prep: 2 channels, 1 day: 2 records written in " + path("out") +
                      ", 0 gaps (0 s zero-filled), 0 conflicting overlaps, 0 channels skipped, "
                      "0 short breaks bridged\n");
  EXPECT_EQ(file_bytes(dir_ / "out/2024.005/stations.txt"), "XC.AAA.00.BHZ.sac\nXC.BBB..BHZ.sac\n");
  EXPECT_EQ(file_bytes(dir_ / "out/2024.005/names.txt"),
            "XC.AAA.00.BHZ_XC.AAA.00.BHZ.sac\nXC.AAA.00.BHZ_XC.BBB..BHZ.sac\n"
            "XC.BBB..BHZ_XC.BBB..BHZ.sac\n");

  const Sac z = record("2024.005", kZ);
  EXPECT_EQ(z.real(0), 1.0f);  // DELTA
  // The reference time is the first sample's, the first grid time after 01:00:00.003.
  EXPECT_EQ(z.real(5), 0.0f);                 // B
  EXPECT_EQ(z.real(6), float(z.npts() - 1));  // E
  EXPECT_EQ(z.npts(), 7199);
  const std::vector<int> reference{z.integer(0), z.integer(1), z.integer(2),
                                   z.integer(3), z.integer(4), z.integer(5)};
  EXPECT_EQ(reference, (std::vector<int>{2024, 5, 1, 0, 1, 0}));
  EXPECT_EQ(z.text(608), "XC");                           // KNETWK
  EXPECT_EQ(z.text(440), "AAA");                          // KSTNM
  EXPECT_EQ(z.text(464), "00");                           // KHOLE
  EXPECT_EQ(z.text(600), "BHZ");                          // KCMPNM
  EXPECT_EQ(z.real(31), 10.0f);                           // STLA
  EXPECT_EQ(z.real(32), 20.0f);                           // STLO
  EXPECT_EQ(z.real(33), 123.0f);                          // STEL
  EXPECT_EQ(z.real(34), 4.5f);                            // STDP
  EXPECT_EQ(z.real(57), 90.0f);                           // CMPAZ
  EXPECT_EQ(z.real(58), 90.0f);                           // CMPINC: horizontal
  EXPECT_EQ(record("2024.005", kB).text(464), "-12345");  // no location: KHOLE undefined

  // Both on the grid: their samples are the sine at the grid times, not 3 or 7 ms later.
  EXPECT_LT(worst_error(z), 2.0);
  EXPECT_LT(worst_error(record("2024.005", kB)), 2.0);

  // Records follow the umask.
  struct stat st;
  ASSERT_EQ(stat((dir_ / "out/2024.005" / (kZ.text() + ".sac")).c_str(), &st), 0);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

// What real archives hold, each kept once, merged, split by channel or ordered.
TEST_F(Prep, HandlesWhatRealArchivesHold) {
  const Micros t0 = kJan5 + 3600 * kSecond + 2000;
  struct Case {
    const char* what;
    std::vector<std::vector<char>> files;
    std::vector<ChannelId> records;
    int gaps;
    int conflicts;
  };
  const auto whole = pack(kZ, t0, 20, 20 * 3600);
  const auto first = pack(kZ, t0, 20, 20 * 1800 + 1);  // shares its last sample with `second`
  const auto second = pack(kZ, t0 + 1800 * kSecond, 20, 20 * 1800);
  std::vector<char> reversed;
  for (std::size_t at = whole.size(); at > 0; at -= 4096) {
    reversed.insert(reversed.end(), whole.begin() + static_cast<std::ptrdiff_t>(at - 4096),
                    whole.begin() + static_cast<std::ptrdiff_t>(at));
  }
  // One record of other samples over a stretch already held.
  std::vector<double> twice = counts(t0 + 1000 * kSecond, 20, 100);
  for (double& c : twice) c *= 2;
  const auto other = pack_records(kZ, t0 + 1000 * kSecond, 20, twice, Encoding::kInt32, 512);
  const std::vector<Case> cases = {
      {"every record stored twice", {whole + whole}, {kZ}, 0, 0},
      {"consecutive files sharing their boundary sample", {first, second}, {kZ}, 0, 0},
      {"one file holding two channels one after the other",
       {whole + pack(kN, t0, 20, 20 * 3600)},
       {kN, kZ},
       0,
       0},
      {"Steim-1 and Steim-2 with different record lengths in one channel",
       {pack(kZ, t0, 20, 20 * 1800, Encoding::kSteim1, 512) +
        pack(kZ, t0 + 1800 * kSecond, 20, 20 * 1800, Encoding::kSteim2, 4096)},
       {kZ},
       0,
       0},
      {"integer and float encodings",
       {pack(kZ, t0, 20, 20 * 1800, Encoding::kInt32, 1024) +
        pack(kZ, t0 + 1800 * kSecond, 20, 20 * 1800, Encoding::kFloat32, 8192)},
       {kZ},
       0,
       0},
      {"records out of time order", {reversed}, {kZ}, 0, 0},
      {"a gap", {first, pack(kZ, t0 + 2400 * kSecond, 20, 20 * 1200)}, {kZ}, 1, 0},
      {"a conflicting overlap", {whole, other}, {kZ}, 0, 1},
      {"mixed rates in two channels",
       {pack(kZ, t0, 40, 40 * 3600), pack(kN, t0 + 4000, 100, 100 * 3600)},
       {kN, kZ},
       0,
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(dir_ / "out");
    std::vector<std::string> names;
    for (std::size_t f = 0; f < c.files.size(); ++f) {
      names.push_back("f" + std::to_string(f) + ".mseed");
      write(names.back(), c.files[f]);
    }
    ASSERT_EQ(run_files(names), 0) << err_;
    std::string list;
    for (const auto& id : c.records) list += id.text() + ".sac\n";
    EXPECT_EQ(file_bytes(dir_ / "out/2024.005/stations.txt"), list);
    EXPECT_NE(out_.find(std::to_string(c.gaps) + (c.gaps == 1 ? " gap " : " gaps ")),
              std::string::npos)
        << out_;
    EXPECT_NE(out_.find(std::to_string(c.conflicts) + " conflicting overlap"), std::string::npos)
        << out_;
    for (const auto& id : c.records) {
      const Sac s = record("2024.005", id);
      EXPECT_EQ(s.start(), 3601.0);
      // The conflicting samples are others, yet the earlier ones are kept. (Detrending half an
      // hour of the sine takes off a line of up to 3 counts.)
      EXPECT_LT(worst_error(s), 4.0) << id.text();
    }
    if (c.conflicts > 0) {
      EXPECT_NE(err_.find("XC.AAA.00.BHZ 2024.005: 1 overlap with other samples than those "
                          "before; the earlier samples are kept"),
                std::string::npos)
          << err_;
    }
  }
}

TEST_F(Prep, TakesEachDayFromRecordsSpanningMidnight) {
  // 23:00 on the 4th to 01:00 on the 6th in 4096-byte records, whose boundaries fall anywhere.
  const Micros start = kJan5 - 3600 * kSecond + 5000;
  write("long.mseed", pack(kZ, start, 10, 10 * (26 * 3600 + 24 * 3600)));
  // Named in a file list, as archives in other layouts are given.
  write_text(dir_ / "files.txt", path("long.mseed") + "\n");
  ASSERT_EQ(run({"--files", path("files.txt"), "--meta", path("meta.txt"), "--out", path("out"),
                 "--start", "2024-01-05", "--end", "2024,006"}),
            0)
      << err_;
  for (const char* day : {"2024.005", "2024.006"}) {
    const Sac s = record(day, kZ);
    EXPECT_EQ(s.real(5), 0.0f) << day;
    EXPECT_EQ(s.integer(2), 0) << day;  // NZHOUR: midnight
    EXPECT_EQ(s.npts(), 86400) << day;
    // The data run on through midnight: no taper there.
    EXPECT_NE(s.sample(1), 0.0f);
    EXPECT_LT(worst_error(s), 2.0) << day;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out/2024.004"));
}

TEST_F(Prep, UsesTheChannelEpochThatCoversTheDay) {
  // The station moved at midnight; its StationXML lists it twice, in two Network elements.
  std::vector<ChannelEpoch> epochs(2);
  epochs[0].id = kZ;
  epochs[0].start = kJan5 - 100 * kDay;
  epochs[0].end = kJan5 + kDay;
  epochs[0].latitude = 1;
  epochs[0].longitude = 2;
  epochs[0].elevation = 5;
  epochs[0].depth = 0;
  epochs[0].azimuth = 0;
  epochs[0].dip = 0;
  epochs[1] = epochs[0];
  epochs[1].start = kJan5 + kDay;
  epochs[1].end.reset();
  epochs[1].latitude = 3;
  epochs[1].dip = -90;
  std::string xml = station_xml(epochs);
  // The same network again, with the second epoch once more.
  const std::string repeat = station_xml({epochs[1]});
  const auto net = repeat.find("  <Network");
  xml.insert(xml.find("</FDSNStationXML>"),
             repeat.substr(net, repeat.find("</FDSNStationXML>") - net));
  write_text(dir_ / "meta.xml", xml);
  write("a.mseed", pack(kZ, kJan5 + 3600 * kSecond, 20, 20 * 3600) +
                       pack(kZ, kJan5 + kDay + 3600 * kSecond, 20, 20 * 3600));
  ASSERT_EQ(run({"--meta", path("meta.xml"), "--out", path("out"), path("a.mseed")}), 0) << err_;
  EXPECT_EQ(record("2024.005", kZ).real(31), 1.0f);
  EXPECT_EQ(record("2024.005", kZ).real(58), 90.0f);
  EXPECT_EQ(record("2024.006", kZ).real(31), 3.0f);
  EXPECT_EQ(record("2024.006", kZ).real(58), 0.0f);  // CMPINC: up
  EXPECT_EQ(problems(), std::vector<std::string>{});
}

TEST_F(Prep, ReportsBadInputInOneLineAndWritesTheOtherChannels) {
  const Micros t0 = kJan5 + 3600 * kSecond;
  // A record whose header is overwritten, in the middle of the file.
  std::vector<char> corrupt = pack(kZ, t0, 20, 20 * 3600);
  std::memset(corrupt.data() + 4096 * 3, '#', 64);
  write("corrupt.mseed", corrupt);
  // A file cut inside its last record.
  std::vector<char> cut = pack(kN, t0, 20, 20 * 3600);
  cut.resize(cut.size() - 1000);
  write("cut.mseed", cut);
  write("good.mseed", pack(kB, t0, 20, 20 * 3600));
  // Records whose headers are whole and whose Steim frames are garbage.
  std::vector<char> garbled = pack(kB, t0 + 3600 * kSecond, 20, 20 * 3600);
  for (std::size_t at = 0; at < garbled.size(); at += 4096) {
    for (std::size_t i = 64; i < 4096; ++i)
      garbled[at + i] = static_cast<char>(garbled[at + i] ^ 0x55);
  }
  write("garbled.mseed", garbled);
  // miniSEED 3 begins "MS" and the format version.
  write_text(dir_ / "v3.mseed", std::string("MS\x03\x00", 4) + std::string(60, '\0'));
  // Not StationXML, beside the metadata that holds the coordinates.
  write_text(dir_ / "other.xml", "<?xml version=\"1.0\"?>\n<quakeml><event/></quakeml>\n");
  // The miniSEED 3 file is an input that could not be read: status 3.
  ASSERT_EQ(run({"--meta", path("other.xml"), "--meta", path("meta.txt"), "--out", path("out"),
                 path("corrupt.mseed"), path("cut.mseed"), path("good.mseed"),
                 path("garbled.mseed"), path("v3.mseed")}),
            3)
      << err_;
  const std::vector<std::string> expected{
      "xcn_prep: " + path("other.xml") +
          " is not StationXML: its root element is <quakeml>, not <FDSNStationXML>",
      "xcn_prep: " + path("corrupt.mseed") +
          " at byte 12288: 4096 bytes are no miniSEED record; skipped",
      "xcn_prep: " + path("cut.mseed") + " at byte " + std::to_string(cut.size() + 1000 - 4096) +
          ": the last record is cut short (3096 bytes of it are in the file)",
      "xcn_prep: " + path("v3.mseed") +
          " is miniSEED 3, which libmseed 2.19.8 does not read; "
          "skipped",
      "xcn_prep: " + path("garbled.mseed") + " at byte 0: the samples of " +
          std::to_string(garbled.size() / 4096) +
          " records from there cannot be decoded (Generic error); they are left out of "
          "XC.BBB..BHZ 2024.005",
      "xcn_prep: 1 of 5 input files could not be read",
  };
  auto lines = problems();
  // The channel-days end in any order.
  std::sort(lines.begin() + 4, lines.end());
  EXPECT_EQ(lines, expected) << err_;
  EXPECT_EQ(file_bytes(dir_ / "out/2024.005/stations.txt"),
            "XC.AAA.00.BHN.sac\nXC.AAA.00.BHZ.sac\nXC.BBB..BHZ.sac\n");
  // The lost record is a gap.
  EXPECT_NE(out_.find(", 1 gap ("), std::string::npos) << out_;
  EXPECT_LT(worst_error(record("2024.005", kB)), 2.0);
}

TEST_F(Prep, SkipsAChannelWithoutCoordinatesAndUnsafeCodes) {
  const Micros t0 = kJan5 + 3600 * kSecond;
  const ChannelId unknown{"XC", "ZZZ", "", "BHZ"};
  const ChannelId escape{"..", "..", "", "BHZ"};
  write("a.mseed", pack(unknown, t0, 20, 20 * 600) + pack(kB, t0, 20, 20 * 600) +
                       pack(escape, t0, 20, 20 * 600));
  ASSERT_EQ(run_files({"a.mseed"}), 0) << err_;
  const auto lines = problems();
  ASSERT_EQ(lines.size(), 2u) << err_;
  EXPECT_TRUE(lines[0].ends_with("BHZ\" has a code that cannot be part of a file name; skipped"))
      << lines[0];
  EXPECT_EQ(lines[1],
            "xcn_prep: XC.ZZZ..BHZ has no coordinates in the metadata for 2024.005; "
            "skipped");
  EXPECT_EQ(file_bytes(dir_ / "out/2024.005/stations.txt"), "XC.BBB..BHZ.sac\n");
  EXPECT_NE(out_.find("2 channels skipped"), std::string::npos) << out_;
}

TEST_F(Prep, EndsWithStatusThreeWhenARecordCannotBeWritten) {
  const Micros t0 = kJan5 + 3600 * kSecond;
  write("a.mseed", pack(kZ, t0, 20, 20 * 600) + pack(kB, t0, 20, 20 * 600));
  // A folder where one record would go: it is left as it is.
  std::filesystem::create_directories(dir_ / "out/2024.005" / (kZ.text() + ".sac") / "keep");
  EXPECT_EQ(run_files({"a.mseed"}), 3);
  EXPECT_NE(err_.find("record \"" + path("out") +
                      "/2024.005/XC.AAA.00.BHZ.sac\" could not be "
                      "written: it is not a regular file; left as it is"),
            std::string::npos)
      << err_;
  EXPECT_NE(err_.find("xcn_prep: 1 of 2 records could not be written"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "out/2024.005/XC.AAA.00.BHZ.sac/keep"));
  EXPECT_EQ(file_bytes(dir_ / "out/2024.005/stations.txt"), "XC.BBB..BHZ.sac\n");
}

// Row "a day folder that is a link of another user": in a shared output folder, another
// user's `out/2024.005 -> victim` would put the records and the lists among the victim's files.
TEST_F(Prep, FollowsNoLinkOfAnotherUserForADayFolder) {
  if (geteuid() != 0) GTEST_SKIP() << "links of another user are planted by root";
  const Micros t0 = kJan5 + 3600 * kSecond;
  write("a.mseed", pack(kZ, t0, 20, 20 * 600) + pack(kB, t0, 20, 20 * 600));
  std::filesystem::create_directory(dir_ / "victim");
  write_text(dir_ / "victim/names.txt", "mine\n");
  std::filesystem::create_directory(dir_ / "out");
  std::filesystem::permissions(dir_ / "out",
                               std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
  const std::string day = path("out") + "/2024.005";
  ASSERT_EQ(symlink(path("victim").c_str(), day.c_str()), 0);
  ASSERT_EQ(lchown(day.c_str(), 65533, 65533), 0);
  EXPECT_EQ(run_files({"a.mseed"}), 3);
  for (const ChannelId& id : {kZ, kB}) {
    EXPECT_NE(err_.find("xcn_prep: record \"" + day + "/" + id.text() +
                        ".sac\" could not be written: the symbolic link \"" + day +
                        "\" is another user's, in a folder others can write; it is not "
                        "followed\n"),
              std::string::npos)
        << err_;
  }
  EXPECT_NE(err_.find("xcn_prep: 2 of 2 records could not be written"), std::string::npos);
  EXPECT_EQ(file_bytes(dir_ / "victim/names.txt"), "mine\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_ / "victim"), {}), 1);
}

TEST_F(Prep, CutsSpansAndNormalises) {
  write("a.mseed", pack(kZ, kJan5 + 5000, 20, 20 * 7200));
  ASSERT_EQ(run_files({"a.mseed"}, {"--span", "3600", "--norm", "onebit", "--band", "0.1-0.3"}), 0)
      << err_;
  const Sac first = record("2024.005.000000", kZ);
  const Sac second = record("2024.005.010000", kZ);
  EXPECT_EQ(first.npts(), 3599);
  EXPECT_EQ(first.start(), 1.0);
  EXPECT_EQ(second.npts(), 3600);
  EXPECT_EQ(second.integer(2), 1);  // NZHOUR
  EXPECT_EQ(second.real(5), 0.0f);
  for (int k = 0; k < second.npts(); ++k) {
    ASSERT_TRUE(second.sample(k) == 1.0f || second.sample(k) == -1.0f) << k;
  }
  EXPECT_TRUE(std::filesystem::exists(dir_ / "out/2024.005.010000/names.txt"));

  // A day at 0.25 s (345600 samples) is a record like any other: the tool reads it whole.
  ASSERT_EQ(run_files({"a.mseed"}, {"--delta", "0.25"}), 0) << err_;
  EXPECT_EQ(problems(), std::vector<std::string>{});
  EXPECT_EQ(record("2024.005", kZ).npts(), 4 * 7200 - 1);
}

TEST_F(Prep, LeavesFieldsTheMetadataDoNotGiveUndefinedAndSaysSoOncePerChannel) {
  write_text(dir_ / "meta.txt", fdsn_line(kB, -30.5, 140.25) +
                                    "XC|AAA|00|BHZ|10|20|||90||sensor|1|1|M/S|20|2020-01-01|\n");
  write("a.mseed", pack(kZ, kJan5 + 3600 * kSecond, 20, 20 * 600) +
                       pack(kZ, kJan5 + kDay + 3600 * kSecond, 20, 20 * 600) +
                       pack(kB, kJan5 + 3600 * kSecond, 20, 20 * 600));
  ASSERT_EQ(run_files({"a.mseed"}), 0) << err_;
  EXPECT_EQ(problems(),
            std::vector<std::string>{
                "xcn_prep: XC.AAA.00.BHZ: the metadata give no elevation, depth or dip; "
                "STEL, STDP and CMPINC are left undefined"});
  for (const char* day : {"2024.005", "2024.006"}) {
    const Sac z = record(day, kZ);
    EXPECT_EQ(z.real(33), -12345.0f) << day;  // STEL
    EXPECT_EQ(z.real(34), -12345.0f) << day;  // STDP
    EXPECT_EQ(z.real(57), 90.0f) << day;      // CMPAZ
    EXPECT_EQ(z.real(58), -12345.0f) << day;  // CMPINC
  }
  EXPECT_EQ(record("2024.005", kB).real(58), 90.0f);
}

TEST_F(Prep, HoldsEveryStartExactlyBelowAMillisecondToo) {
  // The third sample of a 0.4 ms grid from 01:00: 01:00:00.0012 is 01:00:00.001 and B 0.2 ms.
  SpanRecord r;
  r.span_start = kJan5 + 3600 * kSecond;
  r.first = 3;
  r.samples.assign(10, 1.0f);
  ChannelEpoch where;
  where.id = kZ;
  std::string error;
  ASSERT_TRUE(write_record(path("z.sac"), r, 0.0004, where, error)) << error;
  const Sac z{file_bytes(dir_ / "z.sac")};
  const std::vector<int> reference{z.integer(0), z.integer(1), z.integer(2),
                                   z.integer(3), z.integer(4), z.integer(5)};
  EXPECT_EQ(reference, (std::vector<int>{2024, 5, 1, 0, 0, 1}));
  EXPECT_FLOAT_EQ(z.real(5), 0.0002f);
  EXPECT_FLOAT_EQ(z.real(6), 0.0002f + 9 * 0.0004f);
}

TEST_F(Prep, SaysWhyAChannelDayGivesNoRecordAndCountsItSkipped) {
  const struct {
    const char* what;
    std::vector<char> data;
    std::vector<std::string> options;
    std::string says;
  } cases[] = {
      {"half a second between grid times",
       pack(kZ, kJan5 + 36000 * kSecond + 200000, 20, 10),
       {},
       "xcn_prep: XC.AAA.00.BHZ 2024.005: its 0.5 s of data from 2024-01-05T10:00:00.200 hold "
       "no time of the grid of --delta 1 s; skipped"},
      {"a grid finer than the data",
       pack(kZ, kJan5, 1, 600),
       {"--delta", "0.5"},
       "xcn_prep: XC.AAA.00.BHZ 2024.005: its samples come every 1 s, farther apart than --delta "
       "0.5 s; skipped"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    write("a.mseed", c.data + pack(kB, kJan5 + 3600 * kSecond, 20, 20 * 600));
    ASSERT_EQ(run_files({"a.mseed"}, c.options), 0) << err_;
    EXPECT_EQ(problems(), std::vector<std::string>{c.says});
    EXPECT_NE(out_.find("1 record written"), std::string::npos) << out_;
    EXPECT_NE(out_.find("1 channel skipped"), std::string::npos) << out_;
    // With nothing else, nothing is written: status 1.
    write("a.mseed", c.data);
    std::filesystem::remove_all(dir_ / "out");
    EXPECT_EQ(run_files({"a.mseed"}, c.options), 1);
    EXPECT_NE(err_.find("xcn_prep: no channel-day holds data on the grid; nothing written"),
              std::string::npos)
        << err_;
  }
}

TEST_F(Prep, BridgesAOneSampleBreakAndCountsIt) {
  const Micros t0 = kJan5 + 3600 * kSecond;
  // One 20 Hz sample lost at 01:10:00.
  write("a.mseed", pack(kZ, t0, 20, 20 * 600) + pack(kZ, t0 + 600 * kSecond + 50000, 20, 20 * 600));
  ASSERT_EQ(run_files({"a.mseed"}), 0) << err_;
  EXPECT_NE(out_.find(", 0 gaps (0 s zero-filled), 0 conflicting overlaps, 0 channels skipped, 1 "
                      "short break bridged\n"),
            std::string::npos)
      << out_;
  // No taper around the break.
  EXPECT_LT(worst_error(record("2024.005", kZ), 35), 5.0);
}

TEST_F(Prep, ListsHoldTheRecordsOfEarlierRunsIntoTheFolder) {
  const Micros t0 = kJan5 + 3600 * kSecond;
  write("z.mseed", pack(kZ, t0, 20, 20 * 600));
  write("b.mseed", pack(kB, t0, 20, 20 * 600));
  ASSERT_EQ(run_files({"z.mseed"}), 0) << err_;
  ASSERT_EQ(run_files({"b.mseed"}), 0) << err_;
  EXPECT_EQ(file_bytes(dir_ / "out/2024.005/stations.txt"), "XC.AAA.00.BHZ.sac\nXC.BBB..BHZ.sac\n");
  EXPECT_EQ(file_bytes(dir_ / "out/2024.005/names.txt"),
            "XC.AAA.00.BHZ_XC.AAA.00.BHZ.sac\nXC.AAA.00.BHZ_XC.BBB..BHZ.sac\n"
            "XC.BBB..BHZ_XC.BBB..BHZ.sac\n");
  // A record removed since drops out of the lists; a run that writes it again lists it again.
  std::filesystem::remove(dir_ / "out/2024.005/XC.AAA.00.BHZ.sac");
  ASSERT_EQ(run_files({"b.mseed"}), 0) << err_;
  EXPECT_EQ(file_bytes(dir_ / "out/2024.005/stations.txt"), "XC.BBB..BHZ.sac\n");
  ASSERT_EQ(run_files({"z.mseed"}), 0) << err_;
  EXPECT_EQ(file_bytes(dir_ / "out/2024.005/stations.txt"), "XC.AAA.00.BHZ.sac\nXC.BBB..BHZ.sac\n");

  // A lock file that is a link is not followed: the lists are not written, status 3.
  write_text(dir_ / "elsewhere", "keep");
  std::filesystem::remove(dir_ / "out/2024.005/.xcn_prep.lock");
  std::filesystem::create_symlink(dir_ / "elsewhere", dir_ / "out/2024.005/.xcn_prep.lock");
  EXPECT_EQ(run_files({"z.mseed"}), 3);
  EXPECT_NE(err_.find("xcn_prep: cannot lock \"" + path("out") +
                      "/2024.005/.xcn_prep.lock\": Too many levels of symbolic links; its "
                      "stations.txt and names.txt are not written"),
            std::string::npos)
      << err_;
  EXPECT_EQ(file_bytes(dir_ / "elsewhere"), "keep");
}

TEST_F(Prep, RefusesBadArgumentsInOneLine) {
  const struct {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{}, "give either --sds ROOT or miniSEED files (--files LIST or their names)"},
      {{"--sds", "x", "--meta", "m"}, "--sds needs --start"},
      {{"--sds", "x", "--start", "2024-13-01", "--meta", "m"},
       "--start needs a day such as 2024-01-05 or 2024,005, not \"2024-13-01\""},
      {{"--meta", "m", "f", "--delta", "0"},
       "--delta needs an interval in seconds over 0 and at most 400, in whole microseconds, not "
       "\"0\""},
      {{"--meta", "m", "f", "--delta"},
       "--delta needs an interval in seconds over 0 and at most 400, in whole microseconds"},
      {{"--meta", "m", "f", "--delta", "7"},
       "the interval --delta must divide the day (86400 s), which 7 s does not"},
      {{"--meta", "m", "f", "--delta", "0.0001"},
       "--delta 0.0001 s would make a day of 864000000 samples; a day holds at most 86400000 "
       "(1000 Hz)"},
      {{"--meta", "m", "f", "--delta", "0.000001"},
       "--delta 1e-06 s would make a day of 86400000000 samples; a day holds at most 86400000 "
       "(1000 Hz)"},
      {{"--meta", "m", "f", "--span", "7000"},
       "--span needs whole seconds that divide the day (86400 s), not \"7000\""},
      {{"--meta", "m", "f", "--span", "3600", "--delta", "27"},
       "--span must be a whole number of intervals --delta"},
      {{"--meta", "m", "f", "--band", "0.1-0.9"},
       "--band ends above the Nyquist frequency of --delta (0.500000 Hz)"},
      {{"--meta", "m", "f", "--band", "0.3-0.1"},
       "--band needs a band LOW-HIGH in Hz with 0 < LOW < HIGH, such as 0.01-0.5, not "
       "\"0.3-0.1\""},
      {{"--meta", "m", "f", "--norm", "two-bit"},
       "--norm needs onebit or ram:S, with a window of S seconds over 0, not \"two-bit\""},
      {{"--meta", "m", "f", "--threads", "0"},
       "--threads needs a number of workers, 1 or more, not \"0\""},
      {{"--meta", "m", "f", "--resp", "velocity"},
       "--resp needs vel, disp, acc or sens, not \"velocity\""},
      {{"--meta", "m", "f", "--resp", "vel", "--prefilt", "0.01,0.02,0.3"},
       "--prefilt needs four frequencies F1,F2,F3,F4 in Hz with 0 < F1 < F2 <= F3 < F4, not "
       "\"0.01,0.02,0.3\""},
      {{"--meta", "m", "f", "--resp", "vel", "--prefilt", "0,0.02,0.3,0.4"},
       "--prefilt needs four frequencies F1,F2,F3,F4 in Hz with 0 < F1 < F2 <= F3 < F4, not "
       "\"0,0.02,0.3,0.4\""},
      {{"--meta", "m", "f", "--prefilt", "0.01,0.02,0.3,0.4"},
       "--prefilt needs --resp vel, disp or acc"},
      {{"--meta", "m", "f", "--resp", "vel", "--prefilt", "0.5,0.6,0.7,0.8"},
       "--prefilt passes nothing below the Nyquist frequency of --delta (0.500000 Hz)"},
      {{"f"}, "--meta FILE is needed (StationXML or FDSN station text)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(run(c.args), 2) << ::testing::PrintToString(c.args);
    EXPECT_EQ(err_, "xcn_prep: " + c.says + "; see xcn_prep --help\n");
    EXPECT_EQ(out_, "");
  }
  EXPECT_EQ(run({"--files", path("none.txt"), "--meta", "m"}), 2);
  EXPECT_EQ(err_, "xcn_prep: cannot open the file list \"" + path("none.txt") +
                      "\": No such file or directory\n");
  EXPECT_EQ(run({"--meta", "m", "--help"}), 0);
  EXPECT_TRUE(out_.starts_with("usage: xcn_prep")) << out_;
  EXPECT_EQ(err_, "");
}

// Exponents in numbers and ranges; many workers asked for are four per processor.
TEST_F(Prep, ReadsExponentsAndCapsWorkersWithOneWarning) {
  write("a.mseed", pack(kZ, kJan5 + 5000, 20, 20 * 7200));
  const int workers = omp_get_max_threads();
  ASSERT_EQ(
      run_files({"a.mseed"}, {"--band", "1e-2-1e-1", "--delta", "5e-1", "--threads", "100000"}), 0)
      << err_;
  omp_set_num_threads(workers);
  const std::string warning = "xcn_prep: warning: --threads asks for 100000 workers; using " +
                              std::to_string(4 * omp_get_num_procs()) + ", four per processor";
  EXPECT_EQ(problems(), std::vector<std::string>{warning});
  EXPECT_EQ(record("2024.005", kZ).real(0), 0.5f);
  // A band-pass of 0.01 to 0.1 Hz leaves little of the 0.2 Hz sine: it was read as that band.
  const Sac z = record("2024.005", kZ);
  double largest = 0;
  for (int k = 2000; k < 12000; ++k) largest = std::max(largest, std::fabs(double{z.sample(k)}));
  EXPECT_LT(largest, 0.01 * kAmplitude);

  // OMP_NUM_THREADS as large crashed the parallel runtime.
  const auto run = xcn::test::run_program(
      XCN_PREP, {"--meta", path("meta.txt"), "--out", path("out2"), path("a.mseed")}, dir_.path(),
      {"OMP_NUM_THREADS=100000"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("xcn_prep: warning: OMP_NUM_THREADS asks for 100000 workers; using "),
            std::string::npos)
      << run.err;
  EXPECT_TRUE(std::filesystem::exists(dir_ / "out2/2024.005" / (kZ.text() + ".sac")));
}

}  // namespace
}  // namespace xcn::prep
