// Tests of the message table loader and of the set-up of the store, with the shipped message file.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "msg/message.hpp"
#include "msg/text.hpp"
#include "tests/msg/msg_test_util.hpp"

namespace xcn {
namespace {

using testing::line_text;
using testing::ScratchDir;
using testing::use_sacaux;
using testing::write_file;

std::string table_text(int k) { return message_texts().table_texts[k - 1]; }

// Loads a messages file of the given bytes into an empty table; returns the error number.
int load(const ScratchDir& dir, const std::string& bytes) {
  write_file(dir.file("messages"), bytes);
  use_sacaux(dir.path().string());
  testing::reset_table();
  int nerr = -1;
  sacmsg(&nerr);
  return nerr;
}

// A directory path of exactly `length` characters below the temporary directory.
std::string path_of_length(const ScratchDir& dir, std::size_t length) {
  std::string path = dir.path().string() + "/";
  path.append(length - path.size(), 'd');
  std::filesystem::create_directories(path);
  return path;
}

TEST(MessageFileTest, EveryLineEndGivesTheTextPlusOneBlank) {
  for (const char* end : {"\n", "\r\n", "\r"}) {
    ScratchDir dir;
    EXPECT_EQ(load(dir, std::string("1336 Field undefined") + end + " 108 No file" + end), 0);
    ASSERT_EQ(message_store().table_count, 2);
    EXPECT_EQ(Ifmsg(1), 1336);
    EXPECT_EQ(table_text(1), "Field undefined ");
    EXPECT_EQ(Ifmsg(2), 108);
    EXPECT_EQ(table_text(2), "No file ");
  }
}

TEST(MessageFileTest, TextAlwaysStartsInColumnSix) {
  struct Case {
    const char* line;
    int number;
    const char* text;
  };
  for (const Case c : {Case{"1336", 1336, ""}, Case{"  12\n", 12, ""}, Case{"  12 \n", 12, " "},
                       Case{"  1336 abc\n", 1336, "6 abc "}, Case{"12345 x", 1234, " x"},
                       Case{" -12 neg", -12, "neg"}}) {
    ScratchDir dir;
    EXPECT_EQ(load(dir, c.line), 0) << c.line;
    ASSERT_EQ(message_store().table_count, 1) << c.line;
    EXPECT_EQ(Ifmsg(1), c.number) << c.line;
    EXPECT_EQ(table_text(1), c.text) << c.line;
  }
}

TEST(MessageFileTest, BadLineStopsLoadingWithError100NamingTheLine) {
  ScratchDir dir;
  ::testing::internal::CaptureStdout();
  const int nerr = load(dir, " 100 Bad entry at line\n 114 Short read\n\n 200 never\n");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "error reading SAC message file-sacmsg\n");
  EXPECT_EQ(nerr, 100);
  EXPECT_EQ(message_store().table_count, 2);
  EXPECT_EQ(message_store().current_number, 100);
  EXPECT_EQ(message_store().current_type, MERRORS);
  EXPECT_EQ(line_text(1), "Bad entry at line 3 Short read " + dir.file("messages"));

  // Entries read before the bad line stay usable.
  HeapText text(getsmsg2(114));
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text.get(), "Short read");
}

TEST(MessageFileTest, LineStartingWithALetterIsBad) {
  ScratchDir dir;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(load(dir, "1336 ok\nabcd nope\n"), 100);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "error reading SAC message file-sacmsg\n");
  EXPECT_EQ(line_text(1), "Number  100 2 Number  114 " + dir.file("messages"));
}

TEST(MessageFileTest, AMessagesFileThatIsNoRegularFileIsRefusedWithoutWaiting) {
  ScratchDir dir;
  for (const char* kind : {"directory", "pipe", "device"}) {
    SCOPED_TRACE(kind);
    const std::string aux = dir.file(kind);
    std::filesystem::create_directory(aux);
    const std::string file = aux + "/messages";
    if (std::string(kind) == "directory") {
      std::filesystem::create_directory(file);
    } else if (std::string(kind) == "pipe") {
      ASSERT_EQ(mkfifo(file.c_str(), 0644), 0);
    } else {
      std::filesystem::create_symlink("/dev/zero", file);
    }
    // In a child with an alarm: an open that waits for a writer fails the test, not hangs it.
    EXPECT_EXIT(
        {
          alarm(20);
          use_sacaux(aux);
          testing::reset_table();
          int nerr = 0;
          sacmsg(&nerr);
          const bool refused = nerr == 101 && message_store().table_count == 0 &&
                               line_text(1) == "Number  101 " + file + " (Not a regular file.)";
          std::exit(refused ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
  }
}

// What the one warning says when no message text can be loaded, and that it comes once.
TEST(MessageFileTest, MessagesWithoutTextsAreAnnouncedOnceWithTheirReason) {
  ScratchDir dir;
  write_file(dir.file("plain"), "not a folder");
  std::filesystem::create_directory(dir.file("empty"));
  std::filesystem::create_directory(dir.file("pipe"));
  ASSERT_EQ(mkfifo(dir.file("pipe/messages").c_str(), 0644), 0);
  const std::string too_long = path_of_length(dir, 120);
  const std::string tail = "); messages show their number only\n";
  const struct {
    std::string sacaux;
    std::string says;  // empty: no warning
  } cases[] = {
      {"", "(SACAUX is empty"},
      {dir.file("none"), "(SACAUX \"" + dir.file("none") + "\" does not exist"},
      {dir.file("plain"), "(SACAUX \"" + dir.file("plain") + "\" is not a folder"},
      {dir.file("empty"), "(SACAUX \"" + dir.file("empty") + "\" holds no file \"messages\""},
      {dir.file("pipe"), "(\"" + dir.file("pipe/messages") + "\" is not a regular file"},
      {too_long,
       "(SACAUX \"" + too_long + "\" leaves no room for the file name (at most 119 characters)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sacaux);
    detail::forget_texts_warning();
    use_sacaux(c.sacaux);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    inimsg();
    inimsg();  // set up again, as the routing switches do: no second warning
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "WARNING: message texts are unavailable " + c.says + tail);
    EXPECT_EQ(message_store().table_count, 0);
  }
  // A message file that loads, even in part, says nothing of the kind.
  for (const std::string& bytes : {std::string("1336 ok\n"), std::string("1336 ok\n\n")}) {
    detail::forget_texts_warning();
    write_file(dir.file("empty/messages"), bytes);
    use_sacaux(dir.file("empty"));
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    inimsg();
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(message_store().table_count, 1);
  }
}

TEST(MessageFileTest, TableHoldsAtMost500Entries) {
  struct Case {
    int lines;
    int nerr;
    int loaded;
  };
  for (const Case c : {Case{499, 0, 499}, Case{500, 919, 500}, Case{501, 919, 500}}) {
    std::string bytes;
    for (int i = 1; i <= c.lines; ++i) bytes += std::to_string(1000 + i) + " entry\n";
    ScratchDir dir;
    EXPECT_EQ(load(dir, bytes), c.nerr) << c.lines;
    EXPECT_EQ(message_store().table_count, c.loaded) << c.lines;
    EXPECT_EQ(Ifmsg(c.loaded), 1000 + c.loaded);
    EXPECT_EQ(message_store().current_number, c.nerr);
  }
}

TEST(MessageFileTest, LongLineIsSplitAndItsRestReadAsALine) {
  ScratchDir dir;
  const std::string text(995, 'x');
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(load(dir, "1336 " + text + "tail\n"), 100);
  ::testing::internal::GetCapturedStdout();
  ASSERT_EQ(message_store().table_count, 1);
  EXPECT_EQ(table_text(1), text);
}

TEST(MessageFileTest, DirectoryOf119CharactersWorksAnd120GiveError916) {
  ScratchDir dir;
  const std::string fits = path_of_length(dir, 119);
  write_file(fits + "/messages", "1336 Loaded\n");
  use_sacaux(fits);
  testing::reset_table();
  int nerr = -1;
  sacmsg(&nerr);
  EXPECT_EQ(nerr, 0);
  EXPECT_EQ(message_store().table_count, 1);

  for (const std::size_t length : {120u, 128u}) {
    const std::string too_long = path_of_length(dir, length);
    write_file(too_long + "/messages", "1336 Loaded\n");
    use_sacaux(too_long);
    testing::reset_table();
    sacmsg(&nerr);
    EXPECT_EQ(nerr, 916) << length;
    EXPECT_EQ(message_store().table_count, 0);
    EXPECT_EQ(message_store().current_type, MERRORS);
    EXPECT_EQ(line_text(1), "Number  916 messages");
  }
}

TEST(MessageFileDeathTest, DirectoryOver128CharactersEndsTheProcess) {
  ScratchDir dir;
  const std::string path = path_of_length(dir, 129);
  EXPECT_EXIT(
      {
        use_sacaux(path);
        inimsg();
      },
      ::testing::ExitedWithCode(1),
      "^ERROR: Enviornment variable SACAUX too long: max: 128 SACAUX: 129\n$");
}

TEST(MessageFileDeathTest, MissingSacauxEndsTheProcess) {
  EXPECT_EXIT(
      {
        unsetenv("SACAUX");
        detail::forget_sacaux();
        inimsg();
      },
      ::testing::ExitedWithCode(1), "^ERROR: Environmental variable SACAUX not defined.\n$");
}

TEST(MessageFileTest, MissingFileGivesError108AndAnEmptyTable) {
  ScratchDir dir;
  use_sacaux(dir.path().string());
  testing::reset_table();
  int nerr = 0;
  sacmsg(&nerr);
  EXPECT_EQ(nerr, 108);
  EXPECT_EQ(message_store().table_count, 0);
  EXPECT_EQ(line_text(1), "Number  108 " + dir.file("messages"));
}

TEST(MessageFileTest, InimsgKeepsTheLoadErrorAndSetsDefaultRouting) {
  // With no unit registered, as on the first initialisation, the load error is only kept.
  sendmesg(stdout, 0, nullptr);
  sendmesg(stderr, 0, nullptr);
  ScratchDir dir;
  write_file(dir.file("messages"), "1336 ok\n\n");
  use_sacaux(dir.path().string());
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  inimsg();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "error reading SAC message file-sacmsg\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

  const CmMsg& store = message_store();
  EXPECT_EQ(store.current_number, 100);
  EXPECT_EQ(store.current_type, MERRORS);
  EXPECT_EQ(store.table_count, 1);
  ASSERT_EQ(store.unit_count, 2);
  EXPECT_EQ(store.units[0], stdout);
  EXPECT_EQ(store.units[1], stderr);
  const int stdout_flags[kMsgTypes] = {1, 1, 1, 0, 0, 0};
  for (int t = 0; t < kMsgTypes; ++t) {
    EXPECT_EQ(store.send_flags[0][t], stdout_flags[t]) << t;
    EXPECT_EQ(store.send_flags[1][t], 0) << t;
  }
  EXPECT_STREQ(message_texts().type_names[5], "PROCESSE");
}

TEST(MessageFileTest, ShippedFileHasATextForEveryNumberTheLibraryUses) {
  const std::filesystem::path share =
      std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "share";
  std::ifstream in(share / "messages", std::ios::binary);
  ASSERT_TRUE(in) << share;
  const std::regex layout("[ 0-9]{3}[0-9] [^ ].*");
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    ++count;
    EXPECT_TRUE(std::regex_match(line, layout)) << "line " << count << ": " << line;
  }
  use_sacaux(share.string());
  testing::reset_table();
  int nerr = -1;
  sacmsg(&nerr);
  EXPECT_EQ(nerr, 0);
  EXPECT_EQ(message_store().table_count, count);
  for (const int number : {100, 101, 108, 114, 115, 801, 803, 904, 916, 919, 1303, 1317, 1318, 1336,
                           1337, 1338, 1339, 1340}) {
    HeapText text(getsmsg2(number));
    EXPECT_NE(text, nullptr) << number;
  }
}

}  // namespace
}  // namespace xcn
