// What the writer may replace: only regular files it could write, through links of its own;
// never a device, pipe or socket, never a file of a version no reader takes.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "sacio/header_access.hpp"
#include "sacio/header_model.hpp"
#include "sacio/read.hpp"
#include "sacio/write.hpp"
#include "sacio_test_util.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {
namespace {

namespace fs = std::filesystem;
using namespace testing_util;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

bool is_root() { return geteuid() == 0; }

// Row: a name that is a device, pipe, socket or directory, or a link to one, is refused with
// 101 "(Not a regular file.)" and stays what it was; nothing waits and nothing is left over.
TEST(WriteRefusals, NamesThatAreNotRegularFilesStayWhatTheyAre) {
  const struct {
    const char* what;
    std::function<bool(const std::string&)> make;  // false: cannot be made here
    bool unprivileged;  // written with privileges dropped (the name leads outside the folder)
    fs::file_type stays;
  } cases[] = {
      {"FIFO", [](const std::string& p) { return mkfifo(p.c_str(), 0666) == 0; }, false,
       fs::file_type::fifo},
      {"socket",
       [](const std::string& p) {
         const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un addr{};
         addr.sun_family = AF_UNIX;
         std::strncpy(addr.sun_path, p.c_str(), sizeof addr.sun_path - 1);
         const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
         close(fd);
         return ok;
       },
       false, fs::file_type::socket},
      {"directory", [](const std::string& p) { return mkdir(p.c_str(), 0777) == 0; }, false,
       fs::file_type::directory},
      {"character device (root only)",
       [](const std::string& p) { return mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0; },
       false, fs::file_type::character},
      {"link to a FIFO",
       [](const std::string& p) {
         return mkfifo((p + ".fifo").c_str(), 0666) == 0 &&
                symlink((p + ".fifo").c_str(), p.c_str()) == 0;
       },
       false, fs::file_type::symlink},
      {"link to a device of the folder (root only)",
       [](const std::string& p) {
         return mknod((p + ".dev").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 &&
                symlink((p + ".dev").c_str(), p.c_str()) == 0;
       },
       false, fs::file_type::symlink},
      // Written by an unprivileged user, whose link it is: a fault here cannot touch /dev.
      {"link to /dev/null",
       [](const std::string& p) {
         return symlink("/dev/null", p.c_str()) == 0 &&
                (!is_root() || lchown(p.c_str(), 65534, 65534) == 0);
       },
       true, fs::file_type::symlink},
  };
  newhdr();  // the message table, before privileges are dropped
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    chmod(dir.path().c_str(), 0777);
    const std::string path = dir.file("r.sac");
    if (!c.make(path)) {
      if (errno == EPERM) continue;  // mknod needs root
      FAIL() << "cannot make it: " << std::strerror(errno);
    }
    const std::vector<std::string> before = dir.entries();
    const ChildResult r = run_in_child([&] {
      alarm(5);  // an open that waits for a pipe's other end would hang here
      if (c.unprivileged) drop_privileges();
      errno = -1;
      const int nerr = write_samples(path);
      return nerr == 101 && (errno == 0 || errno == EISDIR) ? 0 : 1;
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, error_line(101, path + " (Not a regular file.)"));
    EXPECT_EQ(fs::symlink_status(path).type(), c.stays);
    EXPECT_EQ(dir.entries(), before);
  }
  struct stat st {};
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// Row: a result name that is a symbolic link of ours is written through: the file it leads
// to gets the new bytes and keeps its permissions, the link stays; a link to nothing is
// refused rather than creating a file wherever it points.
TEST(WriteThroughLinks, ALinkOfOursLeadsToTheFileReplaced) {
  ScratchDir dir;
  ASSERT_EQ(mkdir(dir.file("data").c_str(), 0755), 0);
  const std::string target = dir.file("data/private.sac");
  write_file(target, {'o', 'l', 'd'});
  ASSERT_EQ(chmod(target.c_str(), 0600), 0);
  const struct {
    const char* what;
    std::string name;
    std::string points_to;  // as stored in the link
  } cases[] = {
      {"absolute", dir.file("abs.sac"), target},
      {"relative", dir.file("rel.sac"), "data/private.sac"},
      {"chain", dir.file("chain.sac"), "rel.sac"},
  };
  for (const auto& c : cases) ASSERT_EQ(symlink(c.points_to.c_str(), c.name.c_str()), 0);
  int n = 2;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ++n;
    const mode_t old_mask = umask(0);
    const int nerr = write_samples(c.name, n);
    umask(old_mask);
    ASSERT_EQ(nerr, 0);
    EXPECT_TRUE(fs::is_symlink(c.name));
    const Bytes b = read_file(target);
    EXPECT_EQ(b.size(), 632u + 4u * static_cast<unsigned>(n));
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
  }
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"abs.sac", "chain.sac", "data", "rel.sac"}));
  EXPECT_EQ(fs::directory_iterator(dir.file("data"))->path().filename(), "private.sac");

  const std::string dangling = dir.file("dangling.sac");
  ASSERT_EQ(symlink("data/none.sac", dangling.c_str()), 0);
  CaptureStdout();
  errno = 0;
  EXPECT_EQ(write_samples(dangling), 101);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(GetCapturedStdout(), error_line(101, dangling + " (System error occurred.)"));
  EXPECT_FALSE(fs::exists(dir.file("data/none.sac")));
  EXPECT_TRUE(fs::is_symlink(dangling));
}

// Another user's link in a folder we share is not followed: it could lead to any file of ours.
TEST(WriteThroughLinks, ALinkOfAnotherUserIsRefused) {
  if (!is_root()) GTEST_SKIP() << "making a link of another user needs root";
  ScratchDir dir;
  const std::string mine = dir.file("mine.sac");
  write_file(mine, {'k', 'e', 'p', 't'});
  const std::string link = dir.file("planted.sac");
  ASSERT_EQ(symlink(mine.c_str(), link.c_str()), 0);
  ASSERT_EQ(lchown(link.c_str(), 65534, 65534), 0);
  CaptureStdout();
  errno = 0;
  EXPECT_EQ(write_samples(link), 101);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(GetCapturedStdout(), error_line(101, link + " (Insufficient access rights.)"));
  const Bytes kept = read_file(mine);
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "kept");
  EXPECT_TRUE(fs::is_symlink(link));
}

// Row: a file without write permission is left as it is, also for root, unless it already
// holds the very bytes (nothing to write then).
TEST(WritePermissions, AReadOnlyFileIsNotReplaced) {
  ScratchDir dir;
  chmod(dir.path().c_str(), 0777);  // the folder is no obstacle: the file's mode is
  const std::string path = dir.file("ro.sac");
  ASSERT_EQ(write_samples(path, 3), 0);
  const Bytes old_bytes = read_file(path);
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  for (const bool privileged : {true, false}) {
    SCOPED_TRACE(privileged ? "as we are" : "unprivileged");
    const ChildResult r = run_in_child([&] {
      if (!privileged) drop_privileges();
      errno = 0;
      const int nerr = write_samples(path, 5);
      return nerr == 101 && errno == EACCES ? 0 : 1;
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, error_line(101, path + " (Insufficient access rights.)"));
    EXPECT_EQ(read_file(path), old_bytes);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
  }
  // The same bytes: nothing to replace, no failure.
  newhdr();
  int n = 3, nerr = 0;
  setnhv("NPTS", &n, &nerr, -1);
  const float delta = 0.5f;
  setfhv("DELTA", &delta, &nerr, -1);
  std::vector<float> y(3, 2.0f);
  bool written = true;
  wsac0_if_changed(path.c_str(), y.data(), y.data(), &nerr, -1, &written);
  EXPECT_EQ(nerr, 0);
  EXPECT_FALSE(written);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"ro.sac"});
}

// Root replacing a user's result leaves it the user's, with no more than its permissions.
TEST(WritePermissions, AResultReplacedByRootStaysItsOwners) {
  if (!is_root()) GTEST_SKIP() << "needs root";
  ScratchDir dir;
  const std::string path = dir.file("u.sac");
  write_file(path, {'o', 'l', 'd'});
  ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(path.c_str(), 0660), 0);
  const mode_t old_mask = umask(022);
  const int nerr = write_samples(path);
  umask(old_mask);
  ASSERT_EQ(nerr, 0);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65534u);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_size, 632 + 16);
}

// Names someone planted where the temporaries of a pid-and-counter scheme would go (files,
// links to our result, folders) cost no write: a temporary's name cannot be foreseen.
TEST(WriteTemporaries, PlantedNamesDoNotBlockAWrite) {
  ScratchDir dir;
  const std::string path = dir.file("t.sac");
  write_file(path, {'o', 'l', 'd'});
  const std::string pid = std::to_string(getpid());
  for (int k = 0; k < 300; ++k) {
    const std::string base = dir.file(".wsac0." + pid + "." + std::to_string(k));
    switch (k % 3) {
      case 0:
        write_file(base, {'x'});
        break;
      case 1:
        ASSERT_EQ(symlink(path.c_str(), base.c_str()), 0);
        break;
      default:
        ASSERT_EQ(mkdir(base.c_str(), 0700), 0);
        break;
    }
  }
  const std::size_t planted = dir.entries().size();
  for (int round = 0; round < 5; ++round) ASSERT_EQ(write_samples(path, 8 + round), 0);
  EXPECT_EQ(read_file(path).size(), 632u + 4u * 12u);
  EXPECT_EQ(dir.entries().size(), planted);
}

// Row: a header version no reader takes is not written (the reader takes 1 to 6).
TEST(WriteRefusals, AHeaderVersionNoReaderTakesIsNotWritten) {
  ScratchDir dir;
  for (const int version : {0, -1, 7, 100, 1, 6}) {
    SCOPED_TRACE(version);
    const std::string path = dir.file("v" + std::to_string(version) + ".sac");
    newhdr();
    int n = 2, nerr = 0;
    setnhv("NPTS", &n, &nerr, -1);
    setnhv("NVHDR", &version, &nerr, -1);
    float y[2] = {1.0f, 2.0f};
    CaptureStdout();
    wsac0(path.c_str(), y, y, &nerr, -1);
    const std::string out = GetCapturedStdout();
    if (version == 1 || version == 6) {
      EXPECT_EQ(nerr, 0);
      EXPECT_EQ(out, "");
      float z[2];
      int nlen = 0, cap = 2;
      float b, d;
      rsac1(path.c_str(), z, &nlen, &b, &d, &cap, &nerr, -1);
      EXPECT_EQ(nerr, 0);
      EXPECT_EQ(nlen, 2);
    } else {
      EXPECT_EQ(nerr, SACIO_ERR_BAD_VERSION);
      EXPECT_EQ(out, error_line(1318, path) + " NVHDR is " + std::to_string(version) + "\n");
      EXPECT_FALSE(fs::exists(path));
    }
  }
}

}  // namespace
}  // namespace xcn
