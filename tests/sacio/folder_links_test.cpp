// Symbolic links on the way to a written file: another user's link in a folder others can
// write is not followed; the user's own, the folder owner's, and any in a private folder are.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "sacio/file.hpp"
#include "sacio/header_access.hpp"
#include "sacio/header_model.hpp"
#include "sacio/write.hpp"
#include "sacio_test_util.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {
namespace {

namespace fs = std::filesystem;
using namespace testing_util;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

constexpr uid_t kPlanter = 65533;  // owns the planted links: neither we nor the nobody user
constexpr uid_t kNobody = 65534;   // what drop_privileges turns a child into

// A folder of the given mode and owner.
void make_dir(const std::string& path, mode_t mode, uid_t owner) {
  ASSERT_EQ(mkdir(path.c_str(), 0700), 0) << path;
  ASSERT_EQ(chown(path.c_str(), owner, owner), 0);
  ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

// A link owned by `owner`, as if that user had made it.
void plant_link(const std::string& target, const std::string& link, uid_t owner) {
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0) << link;
  ASSERT_EQ(lchown(link.c_str(), owner, owner), 0);
}

std::string text_of(const std::string& path) {
  const Bytes b = read_file(path);
  return std::string(b.begin(), b.end());
}

// Rows "a link of another user on the way": the link `hold/d -> victim` in a folder `hold` of
// each kind, owned by each kind of user; x.sac written through it by wsac0.
TEST(FolderLinks, AnotherUsersLinkInAFolderOthersCanWriteIsNotFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "links of another user are planted by root";
  const uid_t me = geteuid();
  const struct {
    const char* what;
    mode_t folder_mode;
    uid_t folder_owner;
    uid_t link_owner;
    bool followed;
  } cases[] = {
      {"sticky, everyone writes, another user's link", 01777, me, kPlanter, false},
      {"everyone writes, no sticky bit", 0777, me, kPlanter, false},
      {"the group writes", 0775, me, kPlanter, false},
      {"sticky, everyone writes, our own link", 01777, me, me, true},
      {"sticky, everyone writes, the folder owner's link", 01777, kPlanter, kPlanter, true},
      {"private folder, another user's link", 0755, me, kPlanter, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const std::string victim = dir.file("victim");
    make_dir(victim, 0755, me);
    write_file(victim + "/x.sac", {'m', 'i', 'n', 'e'});
    const std::string hold = dir.file("hold");
    make_dir(hold, c.folder_mode, c.folder_owner);
    plant_link(victim, hold + "/d", c.link_owner);
    const std::string name = hold + "/d/x.sac";
    CaptureStdout();
    errno = 0;
    const int nerr = write_samples(name);
    const int error = errno;
    const std::string out = GetCapturedStdout();
    if (c.followed) {
      EXPECT_EQ(nerr, 0);
      EXPECT_EQ(out, "");
      EXPECT_EQ(read_file(victim + "/x.sac").size(), 632u + 16u);
    } else {
      EXPECT_EQ(nerr, 101);
      EXPECT_EQ(error, EACCES);
      EXPECT_EQ(out, error_line(101, name + " (Insufficient access rights.)"));
      EXPECT_EQ(text_of(victim + "/x.sac"), "mine");
      EXPECT_EQ(fs::directory_iterator(victim)->path().filename(), "x.sac");
      EXPECT_TRUE(fs::is_symlink(hold + "/d"));
    }
  }
}

// The rule holds wherever the link lies on the way: after a link we follow, in the folder a
// link of ours leads to, and for a result name that is a link of ours to another user's link.
TEST(FolderLinks, EveryFolderOfThePathIsWalkedUnderTheRule) {
  if (geteuid() != 0) GTEST_SKIP() << "links of another user are planted by root";
  ScratchDir dir;
  const std::string victim = dir.file("victim");
  make_dir(victim, 0755, geteuid());
  write_file(victim + "/x.sac", {'m', 'i', 'n', 'e'});
  const std::string shared = dir.file("shared");
  make_dir(shared, 01777, geteuid());
  make_dir(shared + "/deep", 01777, geteuid());
  plant_link(victim, shared + "/deep/d", kPlanter);
  plant_link(shared, dir.file("ours"), geteuid());  // a link of ours to shared
  plant_link(shared + "/deep/d/x.sac", dir.file("through.sac"), geteuid());
  // The refused link is named by the path walked: a link's absolute target starts it afresh.
  const struct {
    const char* what;
    std::string name;
    std::string link;
  } cases[] = {
      {"two folders deep", shared + "/deep/d/x.sac", shared + "/deep/d"},
      {"after a link of ours", dir.file("ours/deep/d/x.sac"), shared + "/deep/d"},
      {"behind a result name that is a link of ours", dir.file("through.sac"), shared + "/deep/d"},
      {"with . and .. on the way", shared + "/./deep/../deep/d/x.sac", shared + "/deep/../deep/d"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CaptureStdout();
    errno = 0;
    EXPECT_EQ(write_samples(c.name), 101);
    EXPECT_EQ(errno, EACCES);
    GetCapturedStdout();
    EXPECT_EQ(text_of(victim + "/x.sac"), "mine");
    EXPECT_EQ(refused_link(c.name), c.link);
  }
  // Nothing on the way to refuse.
  EXPECT_EQ(refused_link(dir.file("ours/deep")), "");
  EXPECT_EQ(refused_link(dir.file("none/such")), "");
  // The file layer's own words for the refusal.
  EXPECT_EQ(link_refusal("out/d"),
            "the symbolic link \"out/d\" is another user's, in a folder others can write; it is "
            "not followed");
}

// Run as another user, the rule takes that user's links for its own: ours (root's) are then
// another user's in a folder it shares.
TEST(FolderLinks, TheUserRunningTheWriterIsTheOneWhoseLinksAreFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  ScratchDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  const std::string theirs = dir.file("theirs");
  make_dir(theirs, 0755, kNobody);
  const std::string shared = dir.file("shared");
  make_dir(shared, 01777, kPlanter);
  plant_link(theirs, shared + "/own", kNobody);
  plant_link(theirs, shared + "/root", 0);
  newhdr();  // the message table, before privileges are dropped
  const ChildResult own = run_in_child([&] {
    drop_privileges();
    return write_samples(shared + "/own/a.sac") == 0 ? 0 : 1;
  });
  EXPECT_EQ(own.status, 0) << own.out;
  EXPECT_TRUE(fs::exists(theirs + "/a.sac"));
  const ChildResult root = run_in_child([&] {
    drop_privileges();
    return write_samples(shared + "/root/b.sac") == 101 && errno == EACCES ? 0 : 1;
  });
  EXPECT_EQ(root.status, 0) << root.out;
  EXPECT_FALSE(fs::exists(theirs + "/b.sac"));
}

// Folders a program makes are made under the umask and entered without following a link put
// in their place; an existing folder, or a link the rule follows, serves as it is.
TEST(FolderLinks, FoldersAreMadeAndEnteredUnderTheRule) {
  ScratchDir dir;
  const std::string base = dir.file("out");
  const mode_t old_mask = umask(022);
  PathWalk made = open_folder(AT_FDCWD, base + "/a/b", true);
  umask(old_mask);
  ASSERT_EQ(made.error, 0);
  EXPECT_EQ(made.made, 3);
  struct stat st {};
  ASSERT_EQ(stat((base + "/a/b").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  // The descriptor is the folder made: a file made through it lands there.
  const int fd = openat(made.folder.get(), "f", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_TRUE(fs::exists(base + "/a/b/f"));
  EXPECT_EQ(open_folder(AT_FDCWD, base + "/a/b", true).made, 0);
  EXPECT_EQ(make_folder(base + "/a"), "");

  write_file(base + "/file", {'x'});
  EXPECT_EQ(make_folder(base + "/file"), "it is not a folder");
  EXPECT_EQ(make_folder(base + "/file/inner"), "it is not a folder");
  // A link to nothing is not a way to make a folder wherever it points.
  ASSERT_EQ(symlink((base + "/gone").c_str(), (base + "/dangling").c_str()), 0);
  EXPECT_EQ(make_folder(base + "/dangling"), std::strerror(ENOENT));
  EXPECT_FALSE(fs::exists(base + "/gone"));
  // A link of ours to a folder serves.
  ASSERT_EQ(symlink((base + "/a").c_str(), (base + "/to_a").c_str()), 0);
  EXPECT_EQ(make_folder(base + "/to_a/c"), "");
  EXPECT_TRUE(fs::is_directory(base + "/a/c"));

  if (geteuid() != 0) return;
  const std::string shared = dir.file("shared");
  make_dir(shared, 01777, geteuid());
  make_dir(dir.file("victim"), 0755, geteuid());
  plant_link(dir.file("victim"), shared + "/2024.005", kPlanter);
  PathWalk refused = open_folder(AT_FDCWD, shared + "/2024.005/x", true);
  EXPECT_EQ(refused.error, EACCES);
  EXPECT_EQ(refused.link, shared + "/2024.005");
  EXPECT_EQ(walk_failure(refused), link_refusal(shared + "/2024.005"));
  EXPECT_FALSE(fs::exists(dir.file("victim/x")));
}

}  // namespace
}  // namespace xcn
