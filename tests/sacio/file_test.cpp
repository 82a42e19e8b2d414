// Data-file layer: open by type, create, word reads, delete, and descriptor 0.
#include "sacio/file.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "msg/message.hpp"
#include "sacio/header_model.hpp"
#include "sacio_test_util.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {
namespace {

using namespace testing_util;

// Line 1 of the composed message, without its trailing blanks.
std::string composed_line(int line = 0) {
  std::string text(message_texts().lines[line]);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

class FileLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    newhdr();  // message table loaded
    clrmsg();
  }
  ScratchDir dir;
};

TEST_F(FileLayer, MissingFileKeepsHandleZero) {
  int handle = 0, nerr = 0;
  const std::string path = dir.file("none.sac");
  zopen_sac(&handle, path.c_str(), -1, "RODATA", 6, &nerr);
  EXPECT_EQ(nerr, 108);
  EXPECT_EQ(handle, 0);
  EXPECT_EQ(composed_line(), message_text(108) + " " + path);
  zclose(&handle, &nerr);
  EXPECT_EQ(nerr, 0);
}

TEST_F(FileLayer, TypesAreCheckedAsPrefixes) {
  const std::string path = dir.file("t.sac");
  write_file(path, Bytes(700, 1));
  struct Case {
    const char* type;
    int length;
    int nerr;
    std::string pieces;  // after the file name
  };
  const Case cases[] = {
      {"DATA", 4, 0, ""},
      {"RODATA  ", 8, 0, ""},
      {"DATAFILE", -1, 0, ""},
      {"XYZ", 3, 101, "(Bad value for file type = XYZ )"},
      {"data", 4, 101, "(Bad value for file type = data )"},
      {"RODATAX", 2, 101, "(Bad value for file type = RO )"},
      {"ROUNFR", 6, 101, "ROUNFR files not supported at this time-zopen 1 )"},
      {"RODIR", -1, 101, "RODIR files not supported at this time-zopen 1 )"},
  };
  for (const Case& c : cases) {
    int handle = 0, nerr = -1;
    clrmsg();
    zopen_sac(&handle, path.c_str(), -1, c.type, c.length, &nerr);
    EXPECT_EQ(nerr, c.nerr) << c.type;
    if (c.nerr == 0) {
      EXPECT_LT(handle, 0) << c.type;
      zclose(&handle, &nerr);
    } else {
      EXPECT_EQ(handle, 0) << c.type;
      EXPECT_EQ(composed_line(), message_text(101) + " " + path + " " + c.pieces) << c.type;
    }
  }
}

TEST_F(FileLayer, RefusedReadPermissionIsAnAccessError) {
  chmod(dir.path().c_str(), 0755);
  const std::string path = dir.file("secret.sac");
  write_file(path, Bytes(700, 1));
  chmod(path.c_str(), 0200);
  const ChildResult r = run_in_child([&] {
    drop_privileges();
    int handle = 0, nerr = 0;
    zopen_sac(&handle, path.c_str(), -1, "RODATA", 6, &nerr);
    std::printf("%s|%d", composed_line().c_str(), handle);
    return nerr;
  });
  EXPECT_EQ(r.status, 101);
  EXPECT_EQ(r.out, message_text(101) + " " + path + " (Insufficient access rights.)|1");
}

TEST_F(FileLayer, ShortWordReadIs114) {
  const std::string path = dir.file("640.sac");
  write_file(path, Bytes(640, 7));
  int handle = 0, nerr = 0;
  zopen_sac(&handle, path.c_str(), -1, "RODATA", 6, &nerr);
  ASSERT_EQ(nerr, 0);
  unsigned char words[40];
  const int at_data = 158;
  zrabs(&handle, words, 2, &at_data, &nerr);
  EXPECT_EQ(nerr, 0);
  EXPECT_EQ(words[7], 7);
  zrabs(&handle, words, 10, &at_data, &nerr);
  EXPECT_EQ(nerr, 114);
  EXPECT_EQ(message_store().current_number, 114);
  zclose(&handle, &nerr);
  const int never_opened = 0;
  zrabs(&never_opened, words, 1, &at_data, &nerr);
  EXPECT_EQ(nerr, 114);
}

// A new file gets 0666 less the umask, as any program's would; an existing one is truncated
// and keeps its permissions.
TEST_F(FileLayer, NewFileFollowsTheUmaskAndTruncatesKeepingPermissions) {
  const struct {
    mode_t mask;
    int existing;  // permissions of a file already there, -1: none
    mode_t want;
  } cases[] = {{077, -1, 0600}, {022, -1, 0644},   {002, -1, 0664},
               {000, -1, 0666}, {077, 0644, 0644}, {000, 0600, 0600}};
  const std::string path = dir.file("n.sac");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.mask) + " " + std::to_string(c.existing));
    unlink(path.c_str());
    if (c.existing >= 0) {
      write_file(path, Bytes(100, 1));
      chmod(path.c_str(), static_cast<mode_t>(c.existing));
    }
    const mode_t old_mask = umask(c.mask);
    int handle = 0, nerr = -1;
    const std::string padded = path + "   ";
    znfile(&handle, padded.c_str(), static_cast<int>(padded.size()), "DATA", 4, &nerr);
    umask(old_mask);
    ASSERT_EQ(nerr, 0);
    ASSERT_LT(handle, 0);
    zclose(&handle, &nerr);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(st.st_mode & 0777, c.want);
  }

  int handle = 0, nerr = -1, unused = 0;
  znfilef(&handle, path.c_str(), "TEXT", &unused, &nerr, -1, 4);
  EXPECT_EQ(nerr, 101);
  EXPECT_EQ(composed_line(), message_text(101) + " " + path);
  EXPECT_EQ(composed_line(1), "Bad value for file type = TEXT");
}

TEST_F(FileLayer, DeleteReportsMissingFilesWithoutTouchingTheName) {
  const std::string path = dir.file("d.sac");
  write_file(path, Bytes(1, 0));
  std::string field = path + "  ";  // blank-padded, no room for a terminator
  int nerr = -1;
  zdest(field.data(), static_cast<int>(field.size()), &nerr);
  EXPECT_EQ(nerr, 0);
  EXPECT_EQ(field, path + "  ");
  EXPECT_TRUE(dir.entries().empty());
  zdest(field.data(), static_cast<int>(field.size()), &nerr);
  EXPECT_EQ(nerr, 108);
  EXPECT_EQ(composed_line(), message_text(108) + " " + path);
}

TEST_F(FileLayer, DescriptorZeroNeverBecomesAHandle) {
  const std::string path = dir.file("z.sac");
  write_file(path, Bytes(8, 3));
  const ChildResult r = run_in_child([&] {
    close(0);
    int handle = 0, nerr = 0;
    zopen_sac(&handle, path.c_str(), -1, "RODATA", 6, &nerr);
    if (nerr != 0 || handle > -3) return 1;
    zclose(&handle, &nerr);
    close(0);
    const int create = 1, readonly = 0;
    int status = -1;
    zopenc(&handle, dir.file("c.sac").c_str(), &create, &readonly, &status, -1);
    if (status != 0 || handle > -3) return 2;
    return fcntl(0, F_GETFD) == -1 ? 0 : 3;  // descriptor 0 left closed
  });
  EXPECT_EQ(r.status, 0);
}

TEST_F(FileLayer, OnlyRegularFilesOpenAndNothingWaitsForAPipe) {
  const std::string fifo = dir.file("pipe.sac");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  const std::string folder = dir.file("folder.sac");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  const struct { int create, readonly; } modes[] = {{0, 1}, {0, 0}, {1, 0}};
  for (const std::string& path : {fifo, folder, std::string("/dev/null")}) {
    for (const auto& m : modes) {
      SCOPED_TRACE(path + " create " + std::to_string(m.create) + " readonly " +
                   std::to_string(m.readonly));
      // A blocking open would hang the child: the alarm ends it.
      const ChildResult r = run_in_child([&] {
        alarm(5);
        int handle = 0, status = -1;
        zopenc(&handle, path.c_str(), &m.create, &m.readonly, &status, -1);
        return handle == 1 ? status : 100;
      });
      // Opening names it; creating over it is one more failure to create.
      EXPECT_EQ(r.status, m.create != 0 ? 2 : 3);
    }
  }
  const ChildResult r = run_in_child([&] {
    alarm(5);
    int handle = 0, nerr = 0;
    zopen_sac(&handle, fifo.c_str(), -1, "RODATA", 6, &nerr);
    const bool said = composed_line() == message_text(101) + " " + fifo + " (Not a regular file.)";
    return said ? nerr : 100;
  });
  EXPECT_EQ(r.status, 101);
  struct stat st {};
  ASSERT_EQ(stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(FileLayer, OpenStatusTellsRefusalFromOtherFailures) {
  const int create = 0, readonly = 1;
  int handle = 0, status = -1;
  zopenc(&handle, dir.file("missing").c_str(), &create, &readonly, &status, -1);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(handle, 1);
  char copy[4] = {};
  zgetc("abc", copy, 3);
  EXPECT_STREQ(copy, "abc");
}

}  // namespace
}  // namespace xcn
