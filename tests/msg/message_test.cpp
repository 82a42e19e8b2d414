// Tests of message composition: pieces, lines, numbers, types, table lookup and the printf front
// end.
#include "msg/message.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "msg/text.hpp"
#include "tests/msg/msg_test_util.hpp"

namespace xcn {
namespace {

using testing::init_with_table;
using testing::line_text;
using testing::ScratchDir;

class MessageStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    init_with_table(dir_,
                    "1336 Header field holds its undefined value:\n"
                    " 916 Path too long\n"
                    "  42 Below one hundred\n"
                    " 200 First of two\n"
                    " 200 Second of two\n"
                    " 300\n");
  }
  ScratchDir dir_;
};

TEST_F(MessageStoreTest, SetmsgWithoutTableTextWritesNumberInFiveColumns) {
  testing::reset_table();
  setmsg("WARNING", 1336);
  EXPECT_EQ(line_text(1), "Number 1336");
  EXPECT_EQ(message_store().current_type, MWARNINGS);
  EXPECT_EQ(message_store().current_number, 1336);
  setmsg("ERROR", 916);
  EXPECT_EQ(line_text(1), "Number  916");
}

TEST_F(MessageStoreTest, SetmsgAppendsTableTextOnlyFromOneHundred) {
  setmsg("ERROR", 42);
  EXPECT_EQ(line_text(1), "");
  setmsg("WARNING", 0);
  EXPECT_EQ(line_text(1), "");
  setmsg("WARNING", 1336);
  EXPECT_EQ(line_text(1), "Header field holds its undefined value:");
  EXPECT_EQ(message_store().line_fill, 40);
}

TEST_F(MessageStoreTest, RepeatedNumberKeepsComposingTheSameMessage) {
  setmsg("WARNING", 1336);
  apcmsg("DELTA", 6);
  setmsg("ERROR", 1336);
  apcmsg("B", 2);
  EXPECT_EQ(line_text(1), "Header field holds its undefined value: DELTA B");
  EXPECT_EQ(message_store().current_type, MWARNINGS);

  // Number 0 always starts afresh.
  setmsg("WARNING", 0);
  apcmsg("x", 2);
  setmsg("WARNING", 0);
  EXPECT_EQ(line_text(1), "");
}

TEST_F(MessageStoreTest, PiecesStandOneBlankApartKeepingLeadingBlanks) {
  clrmsg();
  apcmsg("ab  ", 5);
  apcmsg(" cd", 4);
  EXPECT_EQ(line_text(1), "ab  cd");
  EXPECT_EQ(message_store().line_fill, 7);

  // Blanks before a terminator inside the field count; an empty piece adds only its blank.
  clrmsg();
  apcmsg("ab  ", 10);
  apcmsg("", 1);
  apcmsg("z", 2);
  EXPECT_EQ(line_text(1), "ab    z");
  EXPECT_EQ(message_store().line_fill, 8);
}

TEST_F(MessageStoreTest, LineOneStopsAtColumn991AndLaterLinesAt1001) {
  struct Case {
    std::vector<int> pieces;  // lengths of the pieces appended in turn
    int line_count;           // line holding the last piece
  };
  // A piece and its separator reaching the limit exactly stay on the line; one more moves on.
  const Case cases[] = {
      {{990}, 1},       {{991}, 2},       {{1, 988}, 1},  {{1, 989}, 2},
      {{1, 995, 4}, 2}, {{1, 995, 5}, 3}, {{1, 1000}, 2},
  };
  for (const Case& c : cases) {
    clrmsg();
    for (const int n : c.pieces) {
      apcmsg(std::string(static_cast<std::size_t>(n), 'a').c_str(), n + 1);
    }
    EXPECT_EQ(message_store().line_count, c.line_count) << ::testing::PrintToString(c.pieces);
  }
}

TEST_F(MessageStoreTest, OverlongPieceIsCutAtTheEndOfTheLine) {
  clrmsg();
  apcmsg("a", 2);
  const std::string huge(3000, 'z');
  apcmsg(huge.c_str(), 3001);
  const KmMsg& texts = message_texts();
  EXPECT_EQ(line_text(2), std::string(1001, 'z'));
  EXPECT_EQ(texts.lines[1][kMsgColumns], '\0');
  EXPECT_EQ(line_text(3), "");
}

TEST_F(MessageStoreTest, SixthLineReusesLineFive) {
  clrmsg();
  const std::string piece(600, 'p');
  for (int i = 0; i < 5; ++i) apcmsg(piece.c_str(), 601);
  EXPECT_EQ(message_store().line_count, 5);
  apcmsg("tail", 5);
  EXPECT_EQ(line_text(5), piece + " tail");
  apcmsg(piece.c_str(), 601);
  EXPECT_EQ(message_store().line_count, 5);
  EXPECT_EQ(line_text(5), piece);
  EXPECT_EQ(message_store().line_fill, 601);
  EXPECT_EQ(line_text(4), piece);
}

TEST_F(MessageStoreTest, AplmsgAlwaysStartsANewLine) {
  clrmsg();
  aplmsg("not in sac format", 18);
  EXPECT_EQ(line_text(1), "");
  EXPECT_EQ(line_text(2), "not in sac format");
  EXPECT_EQ(message_store().line_count, 2);
  EXPECT_EQ(message_store().line_fill, 18);
  apcmsg("more", 5);
  EXPECT_EQ(line_text(2), "not in sac format more");

  for (int i = 0; i < 4; ++i) aplmsg("line", 5);
  EXPECT_EQ(message_store().line_count, 5);
  EXPECT_EQ(line_text(5), "line");
}

TEST_F(MessageStoreTest, NumbersAreAppendedLeftJustified) {
  struct IntCase {
    int value;
    const char* text;
  };
  for (const IntCase c : {IntCase{42, "42"}, IntCase{-5, "-5"}, IntCase{12345678, "12345678"},
                          IntCase{123456789, "12345678"}, IntCase{-2147483647 - 1, "-2147483"}}) {
    clrmsg();
    apimsg(c.value);
    EXPECT_EQ(line_text(1), c.text) << c.value;
    EXPECT_EQ(message_store().line_fill, static_cast<int>(std::strlen(c.text)) + 1);
  }
  struct FloatCase {
    double value;
    const char* text;
  };
  for (const FloatCase c : {FloatCase{0.5, "0.5"}, FloatCase{-12345.0, "-12345"},
                            FloatCase{1234567.0, "1.2346e+06"}, FloatCase{0.0, "0"}}) {
    clrmsg();
    apfmsg(c.value);
    EXPECT_EQ(line_text(1), c.text) << c.value;
  }
}

TEST_F(MessageStoreTest, TypeIsChosenByTheFirstLetterOnly) {
  struct Case {
    const char* kind;
    int type;
  };
  for (const Case c : {Case{"ERROR", MERRORS}, Case{"error", MERRORS}, Case{"WARNING", MWARNINGS},
                       Case{"wobble", MWARNINGS}, Case{"OUTPUT", MOUTPUT},
                       Case{"commands", MCOMMANDS}, Case{"Macro", MMACROS},
                       Case{"processed", MPROCESSED}, Case{"Xyz", MOUTPUT}, Case{"", MOUTPUT}}) {
    typmsg(c.kind);
    EXPECT_EQ(message_store().current_type, c.type) << c.kind;
  }
}

TEST_F(MessageStoreTest, LookupTakesTheFirstEntryOfANumber) {
  char field[12];
  getsmsg(200, field, sizeof field);
  EXPECT_STREQ(field, "First of tw");
  char wide[21];
  getsmsg(200, wide, sizeof wide);
  EXPECT_STREQ(wide, "First of two        ");  // the loaded line's newline became a blank
  getsmsg(300, wide, sizeof wide);
  EXPECT_STREQ(wide, std::string(20, ' ').c_str());
  getsmsg(916, wide, sizeof wide);
  EXPECT_STREQ(wide, "Path too long       ");
  getsmsg(777, wide, sizeof wide);
  EXPECT_STREQ(wide, "Number  777");

  HeapText first(getsmsg2(200));
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first.get(), "First of two");
  EXPECT_EQ(getsmsg2(777), nullptr);
}

TEST_F(MessageStoreTest, ApcmsgnumAppendsAnotherTextKeepingNumberAndType) {
  setmsg("ERROR", 916);
  apcmsgnum(1336);
  apcmsgnum(555);
  EXPECT_EQ(line_text(1), "Path too long Header field holds its undefined value: Number  555");
  EXPECT_EQ(message_store().current_number, 916);
  EXPECT_EQ(message_store().current_type, MERRORS);
}

TEST_F(MessageStoreTest, Apcmsg2TakesAtMostTheGivenLength) {
  clrmsg();
  apcmsg2("abcdef", 3);
  apcmsg2("xy", 10);
  EXPECT_EQ(line_text(1), "abc xy");
  clrmsg();
  apcmsg2(std::string(1500, 'q').c_str(), 1500);
  EXPECT_EQ(line_text(2).size(), 1000u);
}

TEST_F(MessageStoreTest, FrontEndPrefixesErrorsAndWarningsWithTheirText) {
  clrmsg();
  error(1336, "%s", "KSTNM");
  EXPECT_EQ(line_text(1), "Header field holds its undefined value: KSTNM");
  EXPECT_EQ(message_store().current_number, 1336);
  EXPECT_EQ(message_store().current_type, MERRORS);

  clrmsg();
  warning(5, "low %d", 3);
  EXPECT_EQ(line_text(1), "Number    5 low 3");

  clrmsg();
  error(444, "%s", "messages");
  EXPECT_EQ(line_text(1), "Number  444 messages");

  clrmsg();
  message(MOUTPUT, 1336, "plain %s", "text");
  EXPECT_EQ(line_text(1), " plain text");
  EXPECT_EQ(message_store().current_type, MOUTPUT);
  out("and %d more", 2);
  EXPECT_EQ(line_text(1), " plain text and 2 more");
  EXPECT_EQ(message_store().current_number, 1336);
}

TEST_F(MessageStoreTest, FrontEndDoesNotClearEarlierPieces) {
  setmsg("WARNING", 0);
  apcmsg("kept", 5);
  EXPECT_EQ(warning(1336, "%s", "B"), 1);
  EXPECT_EQ(line_text(1), "kept Header field holds its undefined value: B");
}

TEST_F(MessageStoreTest, ClrmsgEmptiesEveryLine) {
  for (int i = 0; i < 3; ++i) aplmsg("text", 5);
  setmsg("ERROR", 1336);
  clrmsg();
  EXPECT_EQ(message_store().current_number, 0);
  EXPECT_EQ(message_store().current_type, 0);
  EXPECT_EQ(message_store().line_count, 1);
  EXPECT_EQ(message_store().line_fill, 0);
  for (int k = 1; k <= kMsgLines; ++k) {
    EXPECT_EQ(std::string(message_texts().lines[k - 1]), std::string(kMsgColumns, ' ')) << k;
  }
}

}  // namespace
}  // namespace xcn
