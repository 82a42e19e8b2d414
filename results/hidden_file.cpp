// Files begun under a hidden name beside their target and renamed into place once whole.
#include "results/hidden_file.hpp"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace xcn::results {

bool HiddenFile::begin(const std::string& target, std::string& why) {
  discard();
  const auto slash = target.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp = folder + "." + name + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    why = std::strerror(errno);
    return false;
  }
  ::close(fd);
  target_ = target;
  path_ = temp;
  return true;
}

bool HiddenFile::publish(mode_t mode, std::string& why) {
  if (path_.empty()) {
    why = "it was not begun";
    return false;
  }
  // mkstemp made it 0600: the result gets the permissions the umask and the file it
  // replaces allow.
  if (::chmod(path_.c_str(), mode) != 0 || std::rename(path_.c_str(), target_.c_str()) != 0) {
    why = std::strerror(errno);
    discard();
    return false;
  }
  path_.clear();
  return true;
}

void HiddenFile::discard() {
  if (path_.empty()) return;
  ::unlink(path_.c_str());
  path_.clear();
}

}  // namespace xcn::results
