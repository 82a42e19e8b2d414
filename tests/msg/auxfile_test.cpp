// Tests of SACAUX handling, path joining, existence tests and opening of text files.
#include "msg/auxfile.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "msg/message.hpp"
#include "tests/msg/msg_test_util.hpp"

namespace xcn {
namespace {

using testing::init_with_table;
using testing::line_text;
using testing::ScratchDir;
using testing::use_sacaux;
using testing::write_file;

class FileLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    init_with_table(dir_,
                    " 101 Cannot open file\n"
                    " 108 File does not exist:\n"
                    " 916 Path too long:\n");
  }
  ScratchDir dir_;
};

// A blank-padded field of the given width holding text.
std::string field(const std::string& text, std::size_t width) {
  std::string f = text;
  f.resize(width, ' ');
  return f;
}

TEST_F(FileLayerTest, ZopensOfAMissingFileGivesError108) {
  const std::string name = dir_.file("absent");
  const std::string padded = field(name, 200);
  std::FILE* stream = nullptr;
  int nerr = 0;
  zopens(&stream, padded.c_str(), 200, "ROTEXT", 6, &nerr);
  EXPECT_EQ(nerr, 108);
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(message_store().current_type, MERRORS);
  EXPECT_EQ(line_text(1), "File does not exist: " + name);
}

TEST_F(FileLayerTest, ZopensAcceptsTextTypesByCaseSensitivePrefix) {
  const std::string name = dir_.file("notes");
  write_file(name, "hello\n");
  struct Case {
    const char* type;
    int nerr;
  };
  for (const Case c : {Case{"TEXT", 0}, Case{"ROTEXT", 0}, Case{"READ", 0}, Case{"READONLY", 0},
                       Case{"text", 101}, Case{"RTEXT", 101}, Case{"REA", 101}, Case{"XYZ", 101}}) {
    clrmsg();
    std::FILE* stream = nullptr;
    int nerr = -1;
    zopens(&stream, name.c_str(), static_cast<int>(name.size()), c.type,
           static_cast<int>(std::strlen(c.type)), &nerr);
    EXPECT_EQ(nerr, c.nerr) << c.type;
    if (c.nerr == 0) {
      ASSERT_NE(stream, nullptr) << c.type;
      char line[16] = {};
      EXPECT_NE(std::fgets(line, sizeof line, stream), nullptr);
      EXPECT_STREQ(line, "hello\n");
      int closed = -1;
      zcloses(&stream, &closed);
      EXPECT_EQ(closed, 0);
      EXPECT_EQ(stream, nullptr);
      zcloses(&stream, &closed);  // nothing left to close
      EXPECT_EQ(closed, -1);
    } else {
      EXPECT_EQ(stream, nullptr) << c.type;
      EXPECT_EQ(line_text(1),
                "Cannot open file " + name + " (Bad value for file type = " + c.type + " )");
    }
  }
}

TEST_F(FileLayerTest, ZopensOfAnUnreadableFileGivesError101) {
  // The directory must be searchable by the unprivileged user the check may run as.
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  const std::string name = dir_.file("secret");
  write_file(name, "1336 x\n");
  ASSERT_EQ(chmod(name.c_str(), 0), 0);
  const std::string expected = "Cannot open file " + name + " (Fortran i/o error number = 1 )";
  EXPECT_EXIT(
      {
        // Root reads anything: drop to nobody first.
        if (geteuid() == 0 && setuid(65534) != 0) std::_Exit(3);
        std::FILE* stream = nullptr;
        int nerr = 0;
        zopens(&stream, name.c_str(), static_cast<int>(name.size()), "TEXT", 4, &nerr);
        if (nerr != 101 || stream != nullptr || line_text(1) != expected) {
          std::fprintf(stderr, "nerr %d: %s\n", nerr, line_text(1).c_str());
          std::_Exit(1);
        }
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(FileLayerTest, CrnameJoinsAfterTheLastNonBlankWhenItFits) {
  struct Case {
    std::string path;  // text of the path field
    std::string name;  // the name field
    int path_length;
    int nerr;
    std::string joined;  // text of the path field afterwards
  };
  const std::string dir119(119, 'p');
  const std::string dir120(120, 'p');
  const Case cases[] = {
      {dir119, "messages", 129, 0, dir119 + "/messages"},
      {dir120, "messages", 129, 916, dir120},
      {"", "messages", 129, 0, "/messages"},
      {"/usr/share", "ab    ", 20, 0, "/usr/share/ab"},
      {"/usr/share", "abcdefgh", 20, 0, "/usr/share/abcdefgh"},
      {"/usr/share", "abcdefghi", 20, 916, "/usr/share"},
  };
  for (const Case& c : cases) {
    clrmsg();
    // Guard bytes after the field must survive.
    std::vector<char> path(static_cast<std::size_t>(c.path_length) + 8, '#');
    const std::string before = field(c.path, static_cast<std::size_t>(c.path_length) - 1);
    std::memcpy(path.data(), before.c_str(), before.size() + 1);
    const std::string name = c.name;
    int nerr = -1;
    crname(path.data(), c.path_length, '/', name.c_str(), static_cast<int>(name.size()) + 1, &nerr);
    EXPECT_EQ(nerr, c.nerr) << c.joined;
    const std::string after(path.data(), static_cast<std::size_t>(c.path_length));
    EXPECT_EQ(after, field(c.joined, static_cast<std::size_t>(c.path_length) - 1) + '\0');
    EXPECT_EQ(std::string(path.data() + c.path_length, 8), std::string(8, '#'));
    if (c.nerr == 916) {
      EXPECT_EQ(line_text(1), "Path too long: " + c.name);
    }
  }
}

TEST_F(FileLayerTest, ZbasenameFillsItsFieldWithTheDirectory) {
  use_sacaux("/opt/sac/aux");
  std::vector<char> f(20 + 4, '#');
  zbasename(f.data(), 20);
  EXPECT_EQ(std::string(f.data(), 20), field("/opt/sac/aux", 19) + '\0');
  EXPECT_EQ(std::string(f.data() + 20, 4), "####");

  // Exactly length - 1 characters still fit.
  zbasename(f.data(), 13);
  EXPECT_EQ(std::string(f.data(), 13), std::string("/opt/sac/aux") + '\0');
}

TEST(FileLayerDeathTest, ZbasenameEndsTheProcessWhenTheDirectoryDoesNotFit) {
  EXPECT_EXIT(
      {
        use_sacaux("/opt/sac/aux");
        char f[12];
        zbasename(f, sizeof f);
      },
      ::testing::ExitedWithCode(1),
      "^ERROR: Enviornment variable SACAUX too long: max: 11 SACAUX: 12\n$");
}

TEST(AuxDirectoryTest, SacauxIsReadOnce) {
  use_sacaux("/first");
  EXPECT_STREQ(sacaux(), "/first");
  setenv("SACAUX", "/second", 1);
  EXPECT_STREQ(sacaux(), "/first");
}

TEST(AuxDirectoryTest, ZinquireTestsExistenceOfTheTrimmedName) {
  ScratchDir dir;
  const std::string name = dir.file("here");
  write_file(name, "");
  struct Case {
    std::string name;
    int exists;
  };
  for (const Case& c : {Case{"", 0}, Case{"   ", 0}, Case{name, 1}, Case{name + " \t\n", 1},
                        Case{dir.path().string(), 1}, Case{dir.file("gone"), 0}}) {
    int exists = -1;
    zinquire(c.name.c_str(), &exists);
    EXPECT_EQ(exists, c.exists) << "'" << c.name << "'";
  }
}

}  // namespace
}  // namespace xcn
