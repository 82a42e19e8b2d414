// The station list and name list of an output folder, kept whole across runs into it.
#include "prep/day_lists.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "driver/input/list_file.hpp"
#include "prep/sac_output.hpp"

namespace xcn::prep {
namespace {

namespace fs = std::filesystem;

// The folder's lock, held while the object lives. Opened without following a link and
// refused unless a regular file, so that nothing planted under its name is written or locked.
class FolderLock {
 public:
  explicit FolderLock(const fs::path& folder) {
    const fs::path path = folder / kLockName;
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    struct stat st;
    if (fd_ < 0) {
      error_ = std::strerror(errno);
    } else if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
      error_ = "it is not a regular file";
    } else {
      while (::flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
          error_ = std::strerror(errno);
          break;
        }
      }
    }
    if (!error_.empty()) error_ = "cannot lock \"" + path.string() + "\": " + error_;
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);  // closing lets the lock go
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  const std::string& error() const { return error_; }

 private:
  int fd_ = -1;
  std::string error_;
};

// The records an earlier list of the folder names that are still there: plain names of .sac
// files beside it.
std::vector<std::string> listed_before(const fs::path& folder) {
  std::vector<std::string> ids;
  std::vector<ListLine> lines;
  std::string error;
  const fs::path list = folder / "stations.txt";
  std::error_code ec;
  if (!fs::is_regular_file(list, ec)) return ids;
  if (!read_list_lines(list.string(), "station list", ListFileRules{}, lines, error)) return ids;
  for (ListLine& line : lines) {
    std::string& name = line.text;
    name.erase(name.find_last_not_of(" \t\r") + 1);
    if (!name.ends_with(".sac") || name.find('/') != std::string::npos) continue;
    if (!fs::is_regular_file(folder / name, ec)) continue;
    ids.push_back(name.substr(0, name.size() - 4));
  }
  return ids;
}

}  // namespace

int update_lists(const fs::path& folder, const std::vector<std::string>& ids,
                 std::vector<std::string>& problems) {
  const FolderLock lock(folder);
  if (!lock.error().empty()) {
    problems.push_back(lock.error() + "; its stations.txt and names.txt are not written");
    return 2;
  }
  std::set<std::string> all(ids.begin(), ids.end());
  for (std::string& id : listed_before(folder)) all.insert(std::move(id));
  const std::vector<std::string> sorted(all.begin(), all.end());
  std::vector<std::string> entries;
  for (const auto& id : sorted) entries.push_back(id + ".sac");
  int failed = 0;
  for (const auto& [name, lines] :
       {std::pair{"stations.txt", entries}, std::pair{"names.txt", pair_names(sorted)}}) {
    std::string error;
    if (!write_lines_atomically(folder / name, lines, error)) {
      problems.push_back("\"" + (folder / name).string() + "\" could not be written: " + error);
      ++failed;
    }
  }
  return failed;
}

}  // namespace xcn::prep
