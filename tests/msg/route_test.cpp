// Tests of message output: line layouts per type, units and their flags, switches and the bell.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "msg/message.hpp"
#include "tests/msg/msg_test_util.hpp"
#include "xcorrnet/switches.h"

namespace xcn {
namespace {

using testing::init_with_table;
using testing::ScratchDir;

struct Output {
  std::string out;
  std::string err;
};

template <class F>
Output capture(F&& f) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  f();
  Output o;
  o.out = ::testing::internal::GetCapturedStdout();
  o.err = ::testing::internal::GetCapturedStderr();
  return o;
}

// An output unit that records each write it receives, tagged with the unit's id.
class RecordingUnit {
 public:
  using Log = std::vector<std::pair<int, std::string>>;
  RecordingUnit(Log& log, int id) : log_(log), id_(id) {
    cookie_io_functions_t io{nullptr, &RecordingUnit::write, nullptr, nullptr};
    stream_ = fopencookie(this, "w", io);
    setvbuf(stream_, nullptr, _IOLBF, 0);
  }
  ~RecordingUnit() {
    sendmesg(stream_, 0, nullptr);
    std::fclose(stream_);
  }
  RecordingUnit(const RecordingUnit&) = delete;
  RecordingUnit& operator=(const RecordingUnit&) = delete;
  std::FILE* stream() const { return stream_; }

 private:
  static ssize_t write(void* cookie, const char* data, std::size_t size) {
    auto* self = static_cast<RecordingUnit*>(cookie);
    self->log_.emplace_back(self->id_, std::string(data, size));
    return static_cast<ssize_t>(size);
  }
  Log& log_;
  int id_;
  std::FILE* stream_;
};

int flag_of(std::FILE* unit, int type) {
  const CmMsg& store = message_store();
  for (int u = 0; u < store.unit_count; ++u) {
    if (store.units[u] == unit) return store.send_flags[u][type - 1];
  }
  return -1;  // not registered
}

class RoutingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    init_with_table(dir_, " 916 Path too long\n1337 No header field of that name:\n");
    bell_on();
  }
  void TearDown() override { bell_on(); }
  ScratchDir dir_;
};

TEST_F(RoutingTest, ErrorHeaderRightAlignsNumbersInFourColumns) {
  struct Case {
    int number;
    const char* line;
  };
  for (const Case c : {Case{5, " ERROR    5: t\n"}, Case{-5, " ERROR   -5: t\n"},
                       Case{916, " ERROR  916: Path too long t\n"},
                       Case{1337, " ERROR 1337: No header field of that name: t\n"},
                       Case{12345, " ERROR 12345: Number12345 t\n"}}) {
    const Output o = capture([&] {
      setmsg("ERROR", c.number);
      apcmsg("t", 2);
      outmsg();
      clrmsg();
    });
    EXPECT_EQ(o.out, std::string("\a") + c.line) << c.number;
    EXPECT_EQ(o.err, "");
  }
}

TEST_F(RoutingTest, LinesAfterTheFirstStandBehindOneBlankWhateverTheType) {
  struct Case {
    const char* kind;
    const char* written;
  };
  for (const Case c : {Case{"WARNING", " WARNING: first\n second\n third\n"},
                       Case{"ERROR", "\a ERROR 1317: Number 1317 first\n second\n third\n"},
                       Case{"OUTPUT", " first\n second\n third\n"}}) {
    const Output o = capture([&] {
      setmsg(c.kind, c.kind[0] == 'E' ? 1317 : 0);
      apcmsg("first", 6);
      aplmsg("second", 7);
      aplmsg("third", 6);
      outmsg();
      clrmsg();
    });
    EXPECT_EQ(o.out, c.written) << c.kind;
  }
}

TEST_F(RoutingTest, BlankFirstLineIsWrittenAsOneBlank) {
  const Output o = capture([] {
    setmsg("WARNING", 0);
    outmsg();
    setmsg("OUTPUT", 0);
    outmsg();
  });
  EXPECT_EQ(o.out, " WARNING:  \n  \n");
}

TEST_F(RoutingTest, DefaultsSendErrorsWarningsAndOutputToStandardOutputOnly) {
  const Output o = capture([] {
    setmsg("ERROR", 916);
    outmsg();
    setmsg("WARNING", 1337);
    outmsg();
    setmsg("OUTPUT", 0);
    apcmsg("plain", 6);
    outmsg();
    for (const char* kind : {"COMMANDS", "MACROS"}) {
      setmsg(kind, 0);
      apcmsg("hidden", 7);
      outmsg();
    }
    processed(0, "%s", "hidden");
  });
  EXPECT_EQ(o.out,
            "\a ERROR  916: Path too long\n"
            " WARNING: No header field of that name:\n"
            " plain\n");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(message_store().current_type, 0);  // processed clears the store
}

TEST_F(RoutingTest, ProcessedMessagesGoWhereTheirFlagIsSet) {
  static constexpr int kFlags[kMsgTypes] = {0, 0, 0, 0, 0, 1};
  sendmesg(stdout, 1, kFlags);
  const Output o = capture([] { processed(0, "%d files", 3); });
  EXPECT_EQ(o.out, " ==>  3 files\n");
}

TEST_F(RoutingTest, ErrorsOnStandardErrorStillRingTheBellOnStandardOutput) {
  sac_error_stderr();
  const Output o = capture([] {
    setmsg("ERROR", 916);
    aplmsg("more", 5);
    outmsg();
  });
  EXPECT_EQ(o.out, "\a");
  EXPECT_EQ(o.err, " ERROR  916: Path too long\n more\n");
}

TEST_F(RoutingTest, BellOffSilencesTheBell) {
  bell_off();
  const Output o = capture([] {
    setmsg("ERROR", 916);
    outmsg();
  });
  EXPECT_EQ(o.out, " ERROR  916: Path too long\n");
}

TEST_F(RoutingTest, ClearedStoreWritesNothing) {
  const Output o = capture([] {
    setmsg("ERROR", 916);
    outmsg();
    clrmsg();
    outmsg();
  });
  EXPECT_EQ(o.out, "\a ERROR  916: Path too long\n");
}

TEST_F(RoutingTest, UnitsReceiveEachLineInSlotOrder) {
  sac_warning_off();
  sac_error_off();
  RecordingUnit::Log log;
  RecordingUnit first(log, 1);
  RecordingUnit second(log, 2);
  static constexpr int kFlags[kMsgTypes] = {1, 1, 0, 0, 0, 0};
  sendmesg(first.stream(), 1, kFlags);
  sendmesg(second.stream(), 1, kFlags);

  const Output o = capture([] {
    setmsg("ERROR", 916);
    aplmsg("two", 4);
    aplmsg("three", 6);
    outmsg();
  });
  const RecordingUnit::Log expected = {
      {1, " ERROR  916: Path too long\n"},
      {2, " ERROR  916: Path too long\n"},
      {1, " two\n"},
      {2, " two\n"},
      {1, " three\n"},
      {2, " three\n"},
  };
  EXPECT_EQ(log, expected);
  EXPECT_EQ(o.out, "\a\a");  // one bell per unit that takes the error
}

TEST_F(RoutingTest, SendmesgRegistersReplacesAndRemovesUnits) {
  RecordingUnit::Log log;
  RecordingUnit extra(log, 1);
  static constexpr int kExtraFlags[kMsgTypes] = {1, 0, 1, 0, 1, 0};
  sendmesg(extra.stream(), 1, kExtraFlags);
  EXPECT_EQ(message_store().unit_count, 3);

  // Removing the first unit moves the others up with their flags.
  sendmesg(stdout, 0, nullptr);
  const CmMsg& store = message_store();
  ASSERT_EQ(store.unit_count, 2);
  EXPECT_EQ(store.units[0], stderr);
  EXPECT_EQ(store.units[1], extra.stream());
  EXPECT_EQ((std::vector<int>(store.send_flags[1], store.send_flags[1] + kMsgTypes)),
            (std::vector<int>{1, 0, 1, 0, 1, 0}));
  EXPECT_EQ(flag_of(stderr, MERRORS), 0);

  // Removing an unknown unit changes nothing; activating a known one replaces its flags.
  sendmesg(stdout, 0, nullptr);
  EXPECT_EQ(store.unit_count, 2);
  static constexpr int kOnlyMacros[kMsgTypes] = {0, 0, 0, 0, 1, 0};
  sendmesg(extra.stream(), 1, kOnlyMacros);
  EXPECT_EQ(store.unit_count, 2);
  EXPECT_EQ(flag_of(extra.stream(), MERRORS), 0);
  EXPECT_EQ(flag_of(extra.stream(), MMACROS), 1);
}

TEST_F(RoutingTest, SixthUnitIsIgnored) {
  RecordingUnit::Log log;
  RecordingUnit a(log, 1), b(log, 2), c(log, 3), d(log, 4);
  static constexpr int kFlags[kMsgTypes] = {1, 1, 1, 1, 1, 1};
  for (const RecordingUnit* u : {&a, &b, &c}) sendmesg(u->stream(), 1, kFlags);
  EXPECT_EQ(message_store().unit_count, 5);
  sendmesg(d.stream(), 1, kFlags);
  EXPECT_EQ(message_store().unit_count, 5);
  EXPECT_EQ(flag_of(d.stream(), MERRORS), -1);
}

TEST_F(RoutingTest, EverySwitchSetsItsTypeOnBothStandardStreams) {
  struct Case {
    const char* name;
    void (*fn)();
    int type;
    int on_stdout;
    int on_stderr;
  };
#define XCN_SWITCH_CASES(name, type, out, err)                                        \
  Case{#name, name, type, out, err}, Case{#name "_", name##_, type, out, err}, Case { \
#name "__", name##__, type, out, err                                              \
  }
  const Case cases[] = {
      XCN_SWITCH_CASES(sac_error_stdout, MERRORS, 1, 0),
      XCN_SWITCH_CASES(sac_error_stderr, MERRORS, 0, 1),
      XCN_SWITCH_CASES(sac_error_off, MERRORS, 0, 0),
      XCN_SWITCH_CASES(sac_warning_stdout, MWARNINGS, 1, 0),
      XCN_SWITCH_CASES(sac_warning_stderr, MWARNINGS, 0, 1),
      XCN_SWITCH_CASES(sac_warning_off, MWARNINGS, 0, 0),
      XCN_SWITCH_CASES(sac_output_stdout, MOUTPUT, 1, 0),
      XCN_SWITCH_CASES(sac_output_stderr, MOUTPUT, 0, 1),
      XCN_SWITCH_CASES(sac_output_off, MOUTPUT, 0, 0),
  };
#undef XCN_SWITCH_CASES
  for (const Case& c : cases) {
    inimsg();
    // Start from the opposite of the wanted state so that a no-op switch fails.
    sac_message_control(c.type, stdout, 1 - c.on_stdout);
    sac_message_control(c.type, stderr, 1 - c.on_stderr);
    c.fn();
    EXPECT_EQ(flag_of(stdout, c.type), c.on_stdout) << c.name;
    EXPECT_EQ(flag_of(stderr, c.type), c.on_stderr) << c.name;
    for (int other = 1; other <= kMsgTypes; ++other) {
      if (other == c.type) continue;
      EXPECT_EQ(flag_of(stdout, other), other <= MOUTPUT ? 1 : 0) << c.name << " " << other;
      EXPECT_EQ(flag_of(stderr, other), 0) << c.name << " " << other;
    }
  }
}

TEST_F(RoutingTest, SwitchRestoresDefaultsWhenFewerThanTwoUnits) {
  static constexpr int kAll[kMsgTypes] = {1, 1, 1, 1, 1, 1};
  sendmesg(stdout, 1, kAll);
  sendmesg(stderr, 0, nullptr);
  sac_output_stderr();
  EXPECT_EQ(message_store().unit_count, 2);
  EXPECT_EQ(flag_of(stdout, MCOMMANDS), 0);
  EXPECT_EQ(flag_of(stdout, MOUTPUT), 0);
  EXPECT_EQ(flag_of(stderr, MOUTPUT), 1);
}

TEST_F(RoutingTest, ControlOfAnUnknownUnitChangesNothing) {
  RecordingUnit::Log log;
  RecordingUnit stranger(log, 1);
  sac_error_control(stranger.stream(), 1);
  sac_warning_control(stranger.stream(), 1);
  EXPECT_EQ(message_store().unit_count, 2);
  EXPECT_EQ(flag_of(stranger.stream(), MERRORS), -1);
  sac_warning_control(stdout, 0);
  EXPECT_EQ(flag_of(stdout, MWARNINGS), 0);
  sac_message_control(7, stdout, 5);  // no such type
  EXPECT_EQ(flag_of(stdout, MERRORS), 1);
}

}  // namespace
}  // namespace xcn
