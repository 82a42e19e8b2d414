// xcn_prep run as a user runs it on inputs that lie, are damaged or cannot be read: what it says,
// what it keeps, its status, and what it costs in memory and open files.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "prep/archive_writer.hpp"
#include "tests/e2e/process.hpp"
#include "tests/e2e/sacfile.hpp"
#include "tests/prep/full_epoch.hpp"
#include "tests/prep/record_bytes.hpp"
#include "tests/prep/stderr_lines.hpp"
#include "tests/tools/tools_test_util.hpp"

namespace xcn::prep {
namespace {

namespace fs = std::filesystem;
namespace off = test::off;
using test::problem_lines;
using test::record_bytes;
using test::RecordSpec;
using test::RunResult;
using test::SacBytes;
using tools::test::file_bytes;
using tools::test::ScratchDir;
using tools::test::write_text;

const ChannelId kA{"XC", "AAA", "00", "BHZ"};
const ChannelId kB{"XC", "BBB", "00", "BHZ"};
const ChannelId kC{"XC", "CCC", "00", "BHZ"};
const Micros kJan5 = day_start(2024, 5);

// Counts of a 0.05 Hz sine at the sample times start + i / rate.
std::vector<double> sine(Micros start, double rate, std::size_t n) {
  std::vector<double> x(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(start) / 1e6 + static_cast<double>(i) / rate;
    x[i] = std::round(1000 * std::sin(2 * 3.141592653589793 * 0.05 * t));
  }
  return x;
}

std::string pack(const ChannelId& id, Micros start, double rate, std::size_t n, int reclen = 4096) {
  const auto b = pack_records(id, start, rate, sine(start, rate, n), Encoding::kSteim2, reclen);
  return {b.begin(), b.end()};
}

// A record of `form` holding 100 samples at 00:00 plus `seconds`.
std::string at_second(RecordSpec form, int seconds) {
  form.hour = seconds / 3600;
  form.minute = seconds / 60 % 60;
  form.second = seconds % 60;
  if (form.samples.empty()) form.samples = std::vector<std::int32_t>(100, 5);
  return record_bytes(form);
}

class PrepRun : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<ChannelEpoch> epochs;
    for (const ChannelId& id : {kA, kB, kC})
      epochs.push_back(test::full_epoch(id, day_start(1960, 1)));
    write("meta.xml", station_xml(epochs));
  }
  void write(const std::string& name, const std::string& bytes) {
    fs::create_directories((dir_ / name).parent_path());
    write_text(dir_ / name, bytes);
  }
  // Runs the built program in the scratch folder with the test's metadata, out to "out".
  RunResult prep(std::vector<std::string> args, const std::function<void()>& limits = {}) {
    if (std::find(args.begin(), args.end(), "--out") == args.end()) {
      args.insert(args.begin(), {"--out", "out"});
    }
    args.insert(args.begin(), {"--meta", "meta.xml"});
    return test::run_program(XCN_PREP, args, dir_.path(), {}, [&] {
      alarm(120);
      if (limits) limits();
    });
  }
  static std::vector<std::string> said(const std::string& err) { return problem_lines(err); }
  SacBytes record(const std::string& folder, const ChannelId& id) const {
    return SacBytes((dir_ / "out" / folder / (id.text() + ".sac")).string());
  }
  // The record's sample count, or -1 when there is no record.
  int npts(const std::string& folder, const ChannelId& id) const {
    const SacBytes s = record(folder, id);
    return s.valid() ? s.npts() : -1;
  }
  std::vector<std::string> folders() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_ / "out")) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  ScratchDir dir_;
};

TEST_F(PrepRun, NamesEveryInputItCannotReadAndEndsWithStatusThree) {
  write("good.mseed", pack(kA, kJan5 + 3600 * kSecond, 20, 20 * 600));
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  fs::create_directory(dir_ / "folder");
  write("notes.txt", "station notes\nnothing else\n");
  write("header.mseed", record_bytes(RecordSpec{}).substr(0, 64));
  RecordSpec log;
  log.channel = "LOG";
  log.encoding = 0;
  log.rate_factor = 0;
  log.samples = {1, 2, 3};
  write("log.mseed", record_bytes(log) + record_bytes(log));
  write("empty.mseed", "");
  const RunResult r = prep({"good.mseed", "missing.mseed", "fifo", "folder", "notes.txt",
                            "header.mseed", "log.mseed", "empty.mseed"});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(
      said(r.err),
      (std::vector<std::string>{
          "xcn_prep: missing.mseed cannot be read: No such file or directory",
          "xcn_prep: fifo cannot be read: it is not a regular file",
          "xcn_prep: folder cannot be read: it is a directory",
          "xcn_prep: notes.txt holds no miniSEED record (27 bytes); skipped",
          "xcn_prep: header.mseed at byte 0: the last record is cut short (64 bytes of it "
          "are in the file)",
          "xcn_prep: log.mseed holds no samples (its 2 records hold text or nothing); skipped",
          "xcn_prep: empty.mseed is empty; skipped",
          "xcn_prep: 5 of 8 input files could not be read",
      }));
  EXPECT_NE(r.out.find("1 channel, 1 day: 1 record written"), std::string::npos) << r.out;
  EXPECT_EQ(npts("2024.005", kA), 600);

  // Nothing readable at all: still status 3, not 1, and still each named.
  const RunResult alone = prep({"missing.mseed"});
  EXPECT_EQ(alone.status, 3);
  EXPECT_EQ(said(alone.err),
            (std::vector<std::string>{
                "xcn_prep: missing.mseed cannot be read: No such file or directory",
                "xcn_prep: no channel-day with data and coordinates to prepare",
                "xcn_prep: 1 of 1 input files could not be read",
            }));
}

TEST_F(PrepRun, LyingHeadersNeverReachTheRecordsNorCostTheRun) {
  write("good.mseed", pack(kA, kJan5 + 3600 * kSecond, 20, 20 * 3600));
  // 25 MB of int32 records that each claim 65535 samples where 112 fit: decoding them trusting
  // the count reads the memory after each record, and sizing buffers by it asks for 27 GB.
  RecordSpec liar;
  liar.station = "BBB";
  liar.count = 65535;
  liar.samples = std::vector<std::int32_t>(112, 9);
  std::string liars;
  for (int k = 0; k < 51200; ++k) liars += at_second(liar, 3600 + k);
  write("liars.mseed", liars);
  // Rates no digitiser has, and a day that no year has.
  RecordSpec rate;
  rate.b100_rate = std::numeric_limits<float>::infinity();
  std::string rates = at_second(rate, 7200);
  rate.b100_rate = 1e-30f;
  rates += at_second(rate, 7300);
  rate.b100_rate.reset();
  rate.rate_factor = -3600;  // one sample each 1.3e7 s: every day of five months
  rate.rate_multiplier = -3600;
  rates += at_second(rate, 7400);
  write("rates.mseed", rates);
  RecordSpec day;
  day.day = 367;
  write("day.mseed", at_second(day, 7500));
  // 112 samples at 0.0001 Hz claim thirteen days.
  RecordSpec slow;
  slow.rate_factor = -10000;
  slow.samples = std::vector<std::int32_t>(112, 3);
  write("slow.mseed", at_second(slow, 0));

  const RunResult r = prep({"--start", "2024-01-05", "--end", "2024-01-05", "good.mseed",
                            "liars.mseed", "rates.mseed", "day.mseed", "slow.mseed"},
                           [] {
                             // A sanitizer's shadow memory cannot be mapped under a limit.
                             const rlimit memory{3ul << 30, 3ul << 30};
                             if (!test::kSanitized) setrlimit(RLIMIT_AS, &memory);
                           });
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(said(r.err),
            (std::vector<std::string>{
                "xcn_prep: rates.mseed at byte 0: the record of XC.AAA.00.BHZ has an unusable "
                "sampling rate (inf Hz; 0.0001 to 100000 Hz are read); skipped (2 more such "
                "records in the file)",
                "xcn_prep: day.mseed at byte 0: the record of XC.AAA.00.BHZ starts at an "
                "impossible time (year 2024, day 367, 02:05:00.0000); skipped",
                "xcn_prep: slow.mseed at byte 0: the record of XC.AAA.00.BHZ claims 112 samples "
                "at 0.0001 Hz, which span 12.8472 days, more than a record can (10); skipped",
                "xcn_prep: liars.mseed at byte 0: the samples of 51200 records from there cannot "
                "be decoded (its header claims 65535 samples, more than its 448 bytes of data "
                "can hold (112)); they are left out of XC.BBB.00.BHZ 2024.005",
            }));
  EXPECT_EQ(folders(), std::vector<std::string>{"2024.005"});
  EXPECT_EQ(file_bytes(dir_ / "out/2024.005/stations.txt"), "XC.AAA.00.BHZ.sac\n");
  EXPECT_EQ(npts("2024.005", kA), 3600);
}

TEST_F(PrepRun, LosesOnlyWhatIsDamagedWhereFramesOrLengthsLie) {
  const Micros t0 = kJan5 + 3600 * kSecond;
  // One bit of one Steim data word: libmseed only logs the failed check.
  std::string flipped = pack(kA, t0, 20, 20 * 3600);
  flipped[3 * 4096 + 64 + 64 * 2 + 4 * 5 + 1] ^= 0x08;
  write("flipped.mseed", flipped);
  // A record claiming 65536 bytes would swallow the 127 after it.
  std::string lying = pack(kB, t0, 20, 20 * 3600, 512);
  lying[2 * 512 + 54] = 16;
  write("lying.mseed", lying);
  // Records without blockette 1000: the last one's length is its neighbours'.
  RecordSpec old;
  old.station = "CCC";
  old.b1000 = false;
  old.hour = 1;
  std::string bare;
  for (int k = 0; k < 40; ++k) {
    const Micros start = t0 + k * 15 * kSecond;
    const auto x = sine(start, 20, 300);
    old.samples.assign(x.begin(), x.end());
    old.minute = k / 4;
    old.second = k % 4 * 15;
    bare += record_bytes(old);
  }
  write("bare.mseed", bare);

  const RunResult r = prep({"flipped.mseed", "lying.mseed", "bare.mseed"});
  EXPECT_EQ(r.status, 0) << r.err;
  const auto lines = said(r.err);
  ASSERT_EQ(lines.size(), 2u) << r.err;
  EXPECT_EQ(lines[0],
            "xcn_prep: lying.mseed at byte 1024: the record claims to be 65536 bytes long, but "
            "another record begins at byte 1536; read up to there");
  EXPECT_TRUE(
      lines[1].starts_with("xcn_prep: flipped.mseed at byte 12288: the record's samples "
                           "cannot be decoded (the last sample is "))
      << lines[1];
  EXPECT_TRUE(lines[1].ends_with("); they are left out of XC.AAA.00.BHZ 2024.005")) << lines[1];
  // The damaged record is a gap; the other channels are whole, the last bare record included.
  EXPECT_NE(r.out.find("3 channels, 1 day: 3 records written in out, 1 gap ("), std::string::npos)
      << r.out;
  EXPECT_EQ(npts("2024.005", kB), 3600);
  const SacBytes c = record("2024.005", kC);
  ASSERT_TRUE(c.valid());
  // The first sample's time is the record's reference time.
  EXPECT_EQ(c.i(off::kNzhour), 1);
  EXPECT_EQ(c.f(off::kB), 0.0f);
  EXPECT_EQ(c.npts(), 600);
}

TEST_F(PrepRun, PlacesDataBefore1970OnTheirDays) {
  // 1969-12-31 01:00 for an hour, and 23:30 on into 1970.
  const Micros eve = day_start(1969, 365);
  write("a.mseed", pack(kA, eve + 3600 * kSecond, 20, 20 * 3600) +
                       pack(kA, eve + 84600 * kSecond, 20, 20 * 3600));
  RunResult r = prep({"a.mseed"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(said(r.err), std::vector<std::string>{});
  EXPECT_EQ(folders(), (std::vector<std::string>{"1969.365", "1970.001"}));
  const SacBytes s = record("1969.365", kA);
  ASSERT_TRUE(s.valid());
  EXPECT_EQ(s.i(off::kNzyear), 1969);
  EXPECT_EQ(s.i(off::kNzjday), 365);
  EXPECT_EQ(s.i(off::kNzhour), 1);
  EXPECT_EQ(s.f(off::kB), 0.0f);
  EXPECT_EQ(s.npts(), 86400 - 3600);  // to midnight, the gap between zero-filled
  EXPECT_EQ(npts("1970.001", kA), 1800);

  fs::remove_all(dir_ / "out");
  r = prep({"a.mseed", "--span", "3600"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir_ / "out/1969.365.010000" / (kA.text() + ".sac")));
  EXPECT_TRUE(fs::exists(dir_ / "out/1969.365.230000" / (kA.text() + ".sac")));
}

TEST_F(PrepRun, ReadsAHugeFileAStretchAtATime) {
  // 512 MB that hold no record (a sparse file: no disk), beside a day file.
  write("good.mseed", pack(kA, kJan5 + 3600 * kSecond, 20, 20 * 600));
  const RunResult base = prep({"good.mseed"});
  ASSERT_EQ(base.status, 0) << base.err;
  const fs::path sparse = dir_ / "sparse.mseed";
  write_text(sparse, "");
  fs::resize_file(sparse, 512ul << 20);
  const RunResult r = prep({"sparse.mseed", "good.mseed"});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(said(r.err), (std::vector<std::string>{
                             "xcn_prep: sparse.mseed holds no miniSEED record (536870912 bytes); "
                             "skipped",
                             "xcn_prep: 1 of 2 input files could not be read",
                         }));
  EXPECT_TRUE(fs::exists(dir_ / "out/2024.005" / (kA.text() + ".sac")));
  // What the program takes for the day file alone, and a few stretches of the file at most.
  EXPECT_LT(r.max_rss_kib, base.max_rss_kib + 64 * 1024) << "a file is not read whole";
}

TEST_F(PrepRun, KeepsFewFilesOpenForAChannelDayOfManyFiles) {
  // 300 one-minute files of one channel-day, under a limit of 40 open files.
  std::string list;
  for (int k = 0; k < 300; ++k) {
    const std::string name = "min/" + std::to_string(k) + ".mseed";
    write(name, pack(kA, kJan5 + (3600 + 60 * k) * kSecond, 20, 20 * 60));
    list += name + "\n";
  }
  write("files.txt", list);
  const RunResult r = prep({"--files", "files.txt"}, [] {
    const rlimit files{40, 40};
    setrlimit(RLIMIT_NOFILE, &files);
  });
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(said(r.err), std::vector<std::string>{});
  EXPECT_NE(r.out.find("1 record written in out, 0 gaps"), std::string::npos) << r.out;
  EXPECT_EQ(npts("2024.005", kA), 300 * 60);
}

TEST_F(PrepRun, NeverReadsBackAnOutputFolderInsideTheArchive) {
  for (const ChannelId& id : {kA, kB}) {
    write(sds_path("sds", id, kJan5), pack(id, kJan5 + 3600 * kSecond, 20, 20 * 600));
  }
  for (const auto& span : {"86400", "3600"}) {
    SCOPED_TRACE(span);
    // Written among the archive's network folders, as day folders: the second run must not
    // take them for networks.
    for (int run = 0; run < 2; ++run) {
      const RunResult r =
          prep({"--sds", "sds", "--start", "2024-01-05", "--out", "sds/2024", "--span", span});
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(said(r.err), std::vector<std::string>{}) << "run " << run;
      EXPECT_NE(r.out.find("2 channels, 1 day: 2 records written"), std::string::npos) << r.out;
    }
  }
  EXPECT_EQ(file_bytes(dir_ / "sds/2024/2024.005/stations.txt"),
            "XC.AAA.00.BHZ.sac\nXC.BBB.00.BHZ.sac\n");
}

}  // namespace
}  // namespace xcn::prep
