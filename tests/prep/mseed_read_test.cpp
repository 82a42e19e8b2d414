// Tests of the miniSEED reader on records built byte by byte or packed by libmseed and then
// damaged: headers that lie about their samples, length, rate or time, damaged Steim frames,
// files without blockette 1000, and files longer than the stretch read at a time.
#include "prep/mseed_read.hpp"

#include <gtest/gtest.h>
#include <libmseed.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "prep/archive_writer.hpp"
#include "tests/prep/record_bytes.hpp"
#include "tests/tools/tools_test_util.hpp"

namespace xcn::prep {
namespace {

using test::record_bytes;
using test::RecordSpec;
using tools::test::ScratchDir;
using tools::test::write_text;

std::vector<std::int32_t> ramp(int n, int from = 0, int step = 3) {
  std::vector<std::int32_t> x;
  for (int i = 0; i < n; ++i) x.push_back(from + step * i);
  return x;
}

std::vector<std::int32_t> wave(int n) {
  std::vector<std::int32_t> x;
  for (int i = 0; i < n; ++i)
    x.push_back(static_cast<std::int32_t>(std::lround(2000 * std::sin(0.05 * i))));
  return x;
}

// Records of consecutive samples at 20 Hz from 2024-01-05 00:00, `per` samples each.
std::string records(int n, RecordSpec form, int per) {
  std::string bytes;
  for (int k = 0; k < n; ++k) {
    form.samples = ramp(per, 1000 * k);
    form.second = 0;
    // k * per samples at 20 Hz, as whole seconds and ten-thousandths.
    const int tenths_ms = k * per * 500;
    form.minute = tenths_ms / 600000;
    form.second = tenths_ms / 10000 % 60;
    form.fract = tenths_ms % 10000;
    bytes += record_bytes(form);
  }
  return bytes;
}

class Reader : public ::testing::Test {
 protected:
  std::string write(const std::string& name, const std::string& bytes) {
    write_text(dir_ / name, bytes);
    return dir_.file(name);
  }
  std::string write(const std::string& name, const std::vector<char>& bytes) {
    return write(name, std::string(bytes.begin(), bytes.end()));
  }
  // Indexes the file: its records, and the problems with the path taken out.
  bool index(const std::string& path) {
    records_.clear();
    problems_.clear();
    std::vector<std::string> lines;
    const bool read = index_file(path, 0, 1, 0, records_, lines);
    for (std::string& line : lines) {
      if (line.starts_with(path)) line = "F" + line.substr(path.size());
      problems_.push_back(line);
    }
    return read;
  }
  bool decode(const std::string& path, std::size_t k, Piece& piece, std::string& reason) {
    MseedFile file(path);
    return file.decode(records_.at(k), piece, reason);
  }

  ScratchDir dir_;
  std::vector<RecordRef> records_;
  std::vector<std::string> problems_;
};

TEST(SampleRoom, IsWhatEachEncodingPacksAtMostIntoTheDataSection) {
  // 448 bytes: a 512-byte record with its data at 64, 7 Steim frames.
  const struct {
    int encoding;
    std::int64_t bytes;
    std::int64_t room;
  } cases[] = {
      {10, 448, 4 * (15 * 7 - 2)},
      {11, 448, 7 * (15 * 7 - 2)},
      {10, 64, 52},
      {11, 64, 91},
      {10, 63, 0},
      {11, 4032, 7 * (15 * 63 - 2)},
      {3, 448, 112},
      {4, 451, 112},
      {5, 448, 56},
      {1, 448, 224},
      {12, 448, 149},
      {0, 448, 448},
      {99, 448, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sample_room(c.encoding, c.bytes), c.room) << c.encoding << " " << c.bytes;
  }
}

TEST_F(Reader, DecodesFullyPackedSteimRecordsAtTheBound) {
  // Constant samples pack into the smallest differences: libmseed fills each 512-byte record
  // with as many as its frames can hold, which the bound must still accept.
  for (const auto& [encoding, code] :
       {std::pair{Encoding::kSteim1, 10}, std::pair{Encoding::kSteim2, 11}}) {
    SCOPED_TRACE(code);
    const std::vector<double> flat(3000, 7.0);
    const std::string path = write(
        "flat.mseed",
        pack_records({"XC", "AAA", "00", "BHZ"}, day_start(2024, 5), 20, flat, encoding, 512));
    ASSERT_TRUE(index(path));
    ASSERT_FALSE(records_.empty());
    EXPECT_EQ(records_[0].samples, sample_room(code, 448));
    Piece p;
    std::string reason;
    ASSERT_TRUE(decode(path, 0, p, reason)) << reason;
    EXPECT_EQ(p.samples, std::vector<double>(p.samples.size(), 7.0));
  }
}

TEST_F(Reader, RefusesARecordClaimingMoreSamplesThanItsDataHold) {
  RecordSpec form;
  form.samples = ramp(112);  // a full 512-byte int32 record
  const std::vector<std::int32_t> x = wave(400);
  const auto steim = pack_records({"XC", "AAA", "00", "BHZ"}, day_start(2024, 5), 20,
                                  std::vector<double>(x.begin(), x.end()), Encoding::kSteim2, 512);
  const struct {
    const char* what;
    std::string bytes;
    int claimed;
    std::string reason;  // empty: decoded
  } cases[] = {
      {"as many as it holds", record_bytes(form), 112, ""},
      {"one more", "", 113,
       "its header claims 113 samples, more than its 448 bytes of data can hold (112)"},
      {"200", "", 200,
       "its header claims 200 samples, more than its 448 bytes of data can hold (112)"},
      {"65535", "", 65535,
       "its header claims 65535 samples, more than its 448 bytes of data can hold (112)"},
      {"Steim-2 claiming 65535", "", 65535,
       "its header claims 65535 samples, more than its 448 bytes of data can hold (721)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = c.bytes;
    if (bytes.empty()) {
      bytes = std::string(c.what).starts_with("Steim")
                  ? std::string(steim.begin(), steim.begin() + 512)
                  : record_bytes(form);
      bytes[30] = static_cast<char>(c.claimed >> 8);
      bytes[31] = static_cast<char>(c.claimed & 0xff);
    }
    const std::string path = write("r.mseed", bytes);
    ASSERT_TRUE(index(path));
    ASSERT_EQ(records_.size(), 1u);
    // Buffers are sized by what the record can hold, not by the claim.
    EXPECT_LE(records_[0].samples, 721);
    Piece p;
    std::string reason;
    EXPECT_EQ(decode(path, 0, p, reason), c.reason.empty());
    EXPECT_EQ(reason, c.reason);
    if (c.reason.empty()) {
      EXPECT_EQ(p.samples, std::vector<double>(form.samples.begin(), form.samples.end()));
    }
  }
}

TEST_F(Reader, RefusesSteimFramesThatFailTheirOwnCheck) {
  const std::vector<std::int32_t> x = wave(300);
  RecordSpec le;
  le.encoding = 10;
  le.little_endian_data = true;
  le.samples = x;
  const std::vector<double> values(x.begin(), x.end());
  const ChannelId id{"XC", "AAA", "00", "BHZ"};
  auto packed = [&](Encoding e) {
    const auto b = pack_records(id, day_start(2024, 5), 20, values, e, 512);
    return std::string(b.begin(), b.begin() + 512);
  };
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"Steim-1", packed(Encoding::kSteim1)},
      {"Steim-2", packed(Encoding::kSteim2)},
      {"Steim-1, little-endian", record_bytes(le)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = write("s.mseed", c.bytes);
    ASSERT_TRUE(index(path));
    ASSERT_EQ(records_.size(), 1u);
    Piece p;
    std::string reason;
    ASSERT_TRUE(decode(path, 0, p, reason)) << reason;
    EXPECT_EQ(p.samples,
              std::vector<double>(values.begin(),
                                  values.begin() + static_cast<std::ptrdiff_t>(p.samples.size())));
    // One bit of a data word in the second frame: every sample after it is wrong.
    std::string damaged = c.bytes;
    damaged[64 + 64 + 4 * 6 + 1] ^= 0x10;
    write("s.mseed", damaged);
    EXPECT_FALSE(decode(path, 0, p, reason));
    EXPECT_TRUE(reason.starts_with("the last sample is ")) << reason;
    EXPECT_NE(reason.find(" where its Steim frames say " +
                          std::to_string(static_cast<int>(values[p.samples.size() - 1]))),
              std::string::npos)
        << reason;
  }
}

TEST_F(Reader, RefusesImpossibleTimesUnusableRatesAndRecordsSpanningWeeks) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    const char* what;
    RecordSpec form;
    std::string problem;  // empty: indexed
  };
  auto with = [](auto change) {
    RecordSpec s;
    s.samples = ramp(100);
    change(s);
    return s;
  };
  const std::string whose = "F at byte 0: the record of XC.AAA.00.BHZ ";
  const std::string rates = " Hz; 0.0001 to 100000 Hz are read); skipped";
  const std::vector<Case> cases = {
      {"day 0", with([](RecordSpec& s) { s.day = 0; }),
       whose + "starts at an impossible time (year 2024, day 0, 00:00:00.0000); skipped"},
      {"day 367", with([](RecordSpec& s) { s.day = 367; }),
       whose + "starts at an impossible time (year 2024, day 367, 00:00:00.0000); skipped"},
      {"day 65535", with([](RecordSpec& s) { s.day = 65535; }),
       whose + "starts at an impossible time (year 2024, day 65535, 00:00:00.0000); skipped"},
      {"day 366 of a common year", with([](RecordSpec& s) { s.year = 2023, s.day = 366; }),
       whose + "starts at an impossible time (year 2023, day 366, 00:00:00.0000); skipped"},
      {"a fraction of 10000", with([](RecordSpec& s) { s.fract = 10000; }),
       whose + "starts at an impossible time (year 2024, day 5, 00:00:00.10000); skipped"},
      {"day 366 of a leap year", with([](RecordSpec& s) { s.day = 366; }), ""},
      {"1969", with([](RecordSpec& s) { s.year = 1969, s.day = 365; }), ""},
      {"rate 0", with([](RecordSpec& s) { s.rate_factor = 0; }),
       whose + "has an unusable sampling rate (0" + rates},
      {"negative", with([](RecordSpec& s) { s.b100_rate = -20; }),
       whose + "has an unusable sampling rate (-20" + rates},
      {"not a number", with([&](RecordSpec& s) { s.b100_rate = nan; }),
       whose + "has an unusable sampling rate (nan" + rates},
      {"infinite", with([&](RecordSpec& s) { s.b100_rate = inf; }),
       whose + "has an unusable sampling rate (inf" + rates},
      {"1e-30", with([](RecordSpec& s) { s.b100_rate = 1e-30f; }),
       whose + "has an unusable sampling rate (1e-30" + rates},
      {"1.07e9", with([](RecordSpec& s) { s.rate_factor = 32767, s.rate_multiplier = 32767; }),
       whose + "has an unusable sampling rate (1.07368e+09" + rates},
      {"a period of 1.3e7 s",
       with([](RecordSpec& s) { s.rate_factor = -3600, s.rate_multiplier = -3600; }),
       whose + "has an unusable sampling rate (7.71605e-08" + rates},
      {"12.8 days", with([](RecordSpec& s) {
         s.rate_factor = -10000;
         s.samples = ramp(112);
       }),
       whose + "claims 112 samples at 0.0001 Hz, which span 12.8472 days, more than a record can "
               "(10); skipped"},
      {"slow but short", with([](RecordSpec& s) {
         s.rate_factor = -10000;
         s.samples = ramp(80);
       }),
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = write("t.mseed", record_bytes(c.form));
    ASSERT_TRUE(index(path));
    if (c.problem.empty()) {
      EXPECT_EQ(problems_, std::vector<std::string>{});
      ASSERT_EQ(records_.size(), 1u);
      const Micros start = day_start(c.form.year, c.form.day);
      EXPECT_EQ(records_[0].start, start);
      EXPECT_EQ(day_of(records_[0].start), start);
    } else {
      EXPECT_EQ(problems_, std::vector<std::string>{c.problem});
      EXPECT_TRUE(records_.empty());
    }
  }

  // Refusals of one kind are said once per file, with how many more.
  RecordSpec fast;
  fast.b100_rate = inf;
  const std::string path = write("many.mseed", records(4, fast, 100));
  ASSERT_TRUE(index(path));
  EXPECT_EQ(problems_, std::vector<std::string>{whose + "has an unusable sampling rate (inf" +
                                                rates + " (3 more such records in the file)"});
}

TEST_F(Reader, ReadsOnPastARecordWhoseLengthLies) {
  RecordSpec form;
  const std::string good = records(6, form, 100);
  const struct {
    const char* what;
    int record;  // whose length lies
    int power;   // 2^power bytes claimed
    std::vector<std::string> problems;
    std::size_t found;
  } cases[] = {
      {"2048 bytes, all of them in the file",
       0,
       11,
       {"F at byte 0: the record claims to be 2048 bytes long, but another record begins at "
        "byte 512; read up to there"},
       6},
      {"65536 bytes",
       1,
       16,
       {"F at byte 512: the record claims to be 65536 bytes long, but another record begins at "
        "byte 1024; read up to there"},
       6},
      {"4096 bytes",
       3,
       12,
       {"F at byte 1536: the record claims to be 4096 bytes long, but another record begins at "
        "byte 2048; read up to there"},
       6},
      {"the last, with nothing after it",
       5,
       12,
       {"F at byte 2560: the last record is cut short (512 bytes of it are in the file)"},
       5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = good;
    bytes[static_cast<std::size_t>(512 * c.record + 54)] = static_cast<char>(c.power);
    const std::string path = write("l.mseed", bytes);
    ASSERT_TRUE(index(path));
    EXPECT_EQ(problems_, c.problems);
    ASSERT_EQ(records_.size(), c.found);
    for (std::size_t k = 0; k < records_.size(); ++k) {
      EXPECT_EQ(records_[k].offset, static_cast<std::int64_t>(512 * k));
      EXPECT_EQ(records_[k].length, 512);
      // The lying record too: its samples are its own, whatever length libmseed reads it at.
      Piece p;
      std::string reason;
      ASSERT_TRUE(decode(path, k, p, reason)) << k << ": " << reason;
      const auto x = ramp(100, 1000 * static_cast<int>(k));
      EXPECT_EQ(p.samples, std::vector<double>(x.begin(), x.end())) << k;
    }
  }
}

TEST_F(Reader, ReadsTheLastRecordOfAFileWithoutBlockette1000) {
  RecordSpec form;
  form.b1000 = false;
  const std::string three = records(3, form, 300);
  const struct {
    const char* what;
    std::string bytes;
    bool read;
    std::size_t found;
    std::vector<std::string> problems;
  } cases[] = {
      {"three whole records", three, true, 3, {}},
      {"the last cut short",
       three.substr(0, 1024 + 300),
       true,
       2,
       {"F at byte 1024: the last record is cut short (300 bytes of it are in the file)"}},
      {"a record alone",
       three.substr(0, 512),
       false,
       0,
       {"F at byte 0: the length of the last record cannot be told (it has no blockette 1000 and "
        "no record follows it); its 512 bytes are skipped"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = write("n.mseed", c.bytes);
    EXPECT_EQ(index(path), c.read);
    EXPECT_EQ(problems_, c.problems);
    ASSERT_EQ(records_.size(), c.found);
    for (std::size_t k = 0; k < records_.size(); ++k) {
      Piece p;
      std::string reason;
      ASSERT_TRUE(decode(path, k, p, reason)) << k << ": " << reason;
      EXPECT_EQ(p.samples.size(), 300u);
      EXPECT_EQ(p.samples.back(), 1000.0 * static_cast<double>(k) + 3 * 299);
    }
  }
}

TEST_F(Reader, SaysWhyAFileGivesNoRecords) {
  RecordSpec log;
  log.channel = "LOG";
  log.encoding = 0;
  log.rate_factor = 0;
  log.samples = ramp(20);
  RecordSpec none;
  const std::string header(record_bytes(none).substr(0, 64));
  const struct {
    const char* what;
    std::string bytes;
    bool read;
    std::string problem;
  } cases[] = {
      {"empty", "", true, "F is empty; skipped"},
      {"text", "station notes\nnothing else\n", false,
       "F holds no miniSEED record (27 bytes); skipped"},
      {"miniSEED 3", std::string("MS\x03\x00", 4) + std::string(60, '\0'), false,
       "F is miniSEED 3, which libmseed " LIBMSEED_VERSION " does not read; skipped"},
      {"a header alone", header, false,
       "F at byte 0: the last record is cut short (64 bytes of it are in the file)"},
      {"log records and a header without samples",
       record_bytes(log) + record_bytes(log) + record_bytes(none), true,
       "F holds no samples (its 3 records hold text or nothing); skipped"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = write("x.mseed", c.bytes);
    EXPECT_EQ(index(path), c.read);
    EXPECT_EQ(problems_, std::vector<std::string>{c.problem});
    EXPECT_TRUE(records_.empty());
  }
  const struct {
    const char* what;
    std::string reason;
  } unreadable[] = {
      {"missing", "No such file or directory"},
      {"folder", "it is a directory"},
  };
  std::filesystem::create_directory(dir_ / "folder");
  for (const auto& c : unreadable) {
    EXPECT_FALSE(index(dir_.file(c.what)));
    EXPECT_EQ(problems_, std::vector<std::string>{"F cannot be read: " + c.reason});
  }
}

TEST_F(Reader, IndexesAFileLongerThanTheStretchReadAtATime) {
  // 3 MiB of 512-byte records after 128 bytes that are no record: the records cross the
  // boundaries of every stretch read, and each is found where it is.
  RecordSpec form;
  form.hour = 1;
  const int n = 3 * 2048;
  std::string bytes(128, 'x');
  for (int k = 0; k < n; ++k) {
    form.samples = ramp(100, k);
    form.day = 5 + k / 1000;
    bytes += record_bytes(form);
  }
  const std::string path = write("long.mseed", bytes);
  ASSERT_TRUE(index(path));
  EXPECT_EQ(problems_,
            std::vector<std::string>{"F at byte 0: 128 bytes are no miniSEED record; skipped"});
  ASSERT_EQ(records_.size(), static_cast<std::size_t>(n));
  for (int k = 0; k < n; k += 997) {
    const RecordRef& r = records_[static_cast<std::size_t>(k)];
    EXPECT_EQ(r.offset, 128 + 512 * k);
    EXPECT_EQ(r.start, day_start(2024, 5 + k / 1000) + 3600 * kSecond);
    Piece p;
    std::string reason;
    ASSERT_TRUE(decode(path, static_cast<std::size_t>(k), p, reason)) << reason;
    EXPECT_EQ(p.samples.front(), k);
  }
}

TEST(Time, PlacesTimesBefore1970OnTheirDay) {
  const struct {
    Micros t;
    Micros day;
    const char* label;
  } cases[] = {
      {0, 0, "1970.001"},
      {-1, -kDay, "1969.365"},
      {-kDay, -kDay, "1969.365"},
      {-kDay - 1, -2 * kDay, "1969.364"},
      {day_start(1900, 1) + 5 * kSecond, day_start(1900, 1), "1900.001"},
      {day_start(1968, 366) + kDay - 1, day_start(1968, 366), "1968.366"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(day_of(c.t), c.day) << c.label;
    EXPECT_EQ(day_label(c.t), c.label);
  }
}

}  // namespace
}  // namespace xcn::prep
