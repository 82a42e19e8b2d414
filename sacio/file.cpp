// Data files of the SAC library: opening by type, creating, word reads, closing, deleting.
#include "sacio/file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "msg/auxfile.hpp"
#include "msg/message.hpp"
#include "msg/text.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {

namespace {

constexpr std::size_t kMaxPath = 8191;

// The type text as given: its first `length` characters, or up to its terminator.
std::string_view type_text(const char* type, int length) {
  if (type == nullptr) return {};
  if (length < 0) return type;
  return {type, strnlen(type, static_cast<std::size_t>(length))};
}

bool has_prefix(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The name an open call uses: at most 8191 characters, trailing blanks and NULs removed,
// the first character always kept.
std::string open_name(const char* name, int length) {
  if (name == nullptr) return {};
  std::size_t n = length < 0 ? std::strlen(name) : strnlen(name, static_cast<std::size_t>(length));
  if (n > kMaxPath) n = kMaxPath;
  while (n > 1 && (name[n - 1] == ' ' || name[n - 1] == '\0')) --n;
  return std::string(name, n);
}

int text_width(const char* text) { return static_cast<int>(std::strlen(text)) + 1; }

// Width for apcmsg of a caller's name of the given length (negative: terminated).
int name_width(const char* name, int length) { return length < 0 ? text_width(name) : length + 1; }

}  // namespace

int lift_descriptor(int fd) {
  if (fd != 0) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  const int saved = errno;
  close(fd);
  errno = saved;
  return moved;
}

bool read_fully(int fd, void* buffer, std::size_t bytes, off_t offset) {
  auto* p = static_cast<unsigned char*>(buffer);
  while (bytes > 0) {
    ssize_t got = pread(fd, p, bytes, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    bytes -= static_cast<std::size_t>(got);
    offset += got;
  }
  return true;
}

bool write_fully(int fd, const void* buffer, std::size_t bytes) {
  const auto* p = static_cast<const unsigned char*>(buffer);
  while (bytes > 0) {
    ssize_t put = write(fd, p, bytes);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put;
    bytes -= static_cast<std::size_t>(put);
  }
  return true;
}

const char* open_status_text(int status) {
  if (status == 1) return kAccessRefused;
  return status == kOpenNotRegular ? kNotRegularFile : kSystemError;
}

void zopenc(int* handle, const char* name, const int* create, const int* readonly, int* status,
            int name_length) {
  *status = 0;
  const std::string path = open_name(name, name_length);
  // A pipe or a device under the name must not hold the caller until another program comes:
  // the open never waits, and only a regular file is kept open. On a regular file O_NONBLOCK
  // changes nothing.
  int fd;
  if (*create != 0) {
    // A device is not even opened (an open alone may act on one); a new file gets 0666 less
    // the umask, as the kernel applies it, and an existing one keeps its permissions.
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      *status = 2;
      *handle = 1;
      return;
    }
    fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
  } else {
    // A FIFO or a device would block the open or the reads for ever: it is refused by its
    // name before it is touched, and by its descriptor, opened without waiting, in case the
    // name changed in between. O_NONBLOCK does nothing to a regular file.
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      *status = kOpenNotRegular;
      *handle = 1;
      return;
    }
    fd = open(path.c_str(), (*readonly != 0 ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
      close(fd);
      *status = kOpenNotRegular;
      *handle = 1;
      return;
    }
  }
  if (fd >= 0) fd = lift_descriptor(fd);
  if (struct stat st{}; fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    const int why = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    close(fd);
    fd = -1;
    errno = why;
  }
  if (fd < 0) {
    *status = errno == EACCES ? 1 : 2;  // errno of the failed open (or of the lift)
    *handle = 1;
    return;
  }
  *handle = -fd;
}

void zopen_sac(int* handle, const char* name, int name_length, const char* type, int type_length,
               int* nerr) {
  *nerr = 0;
  HeapText copy(fstrdup(name != nullptr ? name : "", name_length));
  const char* path = copy ? copy.get() : "";
  int exists = 0;
  zinquire(path, &exists);
  if (exists == 0) {
    *nerr = SACIO_ERR_NO_FILE;
    setmsg("ERROR", SACIO_ERR_NO_FILE);
    apcmsg(path, text_width(path));
    return;
  }

  const std::string_view kind = type_text(type, type_length);
  int create = 0;
  int readonly;
  if (has_prefix(kind, "DATA")) {
    readonly = 0;
  } else if (has_prefix(kind, "RODATA")) {
    readonly = 1;
  } else {
    *nerr = SACIO_ERR_OPEN;
    setmsg("ERROR", SACIO_ERR_OPEN);
    apcmsg(path, text_width(path));
    if (has_prefix(kind, "ROUNFR") || has_prefix(kind, "RODIR")) {
      const char* what = has_prefix(kind, "ROUNFR")
                             ? "ROUNFR files not supported at this time-zopen"
                             : "RODIR files not supported at this time-zopen";
      apcmsg(what, text_width(what));
      apimsg(1);
    } else {
      apcmsg("(Bad value for file type =", text_width("(Bad value for file type ="));
      const std::string shown(kind);
      apcmsg(shown.c_str(), text_width(shown.c_str()));
    }
    apcmsg(")", 2);
    return;
  }

  int status = 0;
  zopenc(handle, path, &create, &readonly, &status, -1);
  if (status != 0) {
    *nerr = SACIO_ERR_OPEN;
    setmsg("ERROR", SACIO_ERR_OPEN);
    apcmsg(path, text_width(path));
    const char* why = open_status_text(status);
    apcmsg(why, text_width(why));
  }
}

void znfile(int* handle, const char* name, int name_length, const char* type, int type_length,
            int* nerr) {
  *nerr = 0;
  const char* shown_name = name != nullptr ? name : "";
  const std::string_view kind = type_text(type, type_length);
  if (!has_prefix(kind, "DATA")) {
    *nerr = SACIO_ERR_OPEN;
    setmsg("ERROR", SACIO_ERR_OPEN);
    apcmsg(shown_name, name_width(shown_name, name_length));
    aplmsg("Bad value for file type = ", text_width("Bad value for file type = "));
    const std::string shown(kind);
    apcmsg(shown.c_str(), text_width(shown.c_str()));
    return;
  }
  const int create = 1;
  const int readonly = 0;
  int status = 0;
  zopenc(handle, shown_name, &create, &readonly, &status, name_length);
  if (status != 0) {
    *nerr = SACIO_ERR_OPEN;
    setmsg("ERROR", SACIO_ERR_OPEN);
    apcmsg(shown_name, name_width(shown_name, name_length));
    const char* why = open_status_text(status);
    apcmsg(why, text_width(why));
  }
}

void zrabs(const int* handle, void* buffer, int count, const int* offset, int* nerr) {
  *nerr = 0;
  if (count <= 0) return;
  const std::size_t bytes = static_cast<std::size_t>(count) * 4;
  const off_t start = static_cast<off_t>(*offset) * 4;
  if (*handle >= 0 || *offset < 0 || !read_fully(-*handle, buffer, bytes, start)) {
    *nerr = SACIO_ERR_SHORT_READ;
    setmsg("ERROR", SACIO_ERR_SHORT_READ);
  }
}

void zclose(const int* handle, int* nerr) {
  *nerr = 0;
  zclosec(handle);
}

void zclosec(const int* handle) {
  if (*handle < 0) close(-*handle);
}

void zdest(const char* name, int name_length, int* nerr) {
  *nerr = 0;
  // The name is cut on a copy: the caller's text may have no room for a terminator.
  const char* text = name != nullptr ? name : "";
  const std::size_t limit =
      name_length < 0 ? std::strlen(text) : strnlen(text, static_cast<std::size_t>(name_length));
  std::string path(text, limit);
  while (!path.empty() && path.back() == ' ') path.pop_back();
  int exists = 0;
  zinquire(path.c_str(), &exists);
  if (exists == 0) {
    *nerr = SACIO_ERR_NO_FILE;
    setmsg("ERROR", SACIO_ERR_NO_FILE);
    apcmsg(path.c_str(), text_width(path.c_str()));
    return;
  }
  *nerr = unlink(path.c_str());
}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.release();
  }
  return *this;
}

Descriptor::~Descriptor() {
  if (fd_ >= 0) close(fd_);
}

namespace {

constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr int kMaxLinks = 40;  // as the kernel allows on one path

// A name still to be walked; `from_caller` tells whether it comes from the path the caller gave
// (a folder of it may be made) or from a link's target (never made: mkdir -p does not either).
struct Step {
  std::string name;
  bool from_caller;
};

// Pushes the names of `path` so that the first is walked first.
void push_names(std::vector<Step>& todo, std::string_view path, bool from_caller) {
  std::vector<Step> names;
  for (std::size_t at = 0; at < path.size();) {
    const std::size_t slash = std::min(path.find('/', at), path.size());
    if (slash > at) names.push_back({std::string(path.substr(at, slash - at)), from_caller});
    at = slash + 1;
  }
  todo.insert(todo.end(), names.rbegin(), names.rend());
}

std::string joined(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// Whether someone besides its owner may add names to the folder.
bool others_may_write(int folder, uid_t* owner) {
  struct stat st;
  if (fstat(folder, &st) != 0) return true;  // unknown: the rule applies
  *owner = st.st_uid;
  return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

// Walks `path` from `base` name by name, holding the folder reached so far open. With
// `keep_leaf` its last name is not walked but returned; with `make`, missing folders of the
// caller's path are made.
PathWalk walk(int base, std::string_view path, std::string_view base_shown, bool keep_leaf,
              bool make) {
  PathWalk w;
  std::vector<Step> todo;
  push_names(todo, path, true);
  if (keep_leaf) {
    // A path ending in a slash names a folder: its last name is walked, the folder itself is
    // the leaf.
    if (todo.empty() || path.back() == '/') {
      w.leaf = path.empty() ? std::string() : std::string(".");
    } else {
      w.leaf = todo.front().name;
      todo.erase(todo.begin());
    }
  }
  const bool absolute = !path.empty() && path.front() == '/';
  std::string shown(absolute ? std::string_view("/") : base_shown);
  w.folder = Descriptor(openat(absolute ? AT_FDCWD : base, absolute ? "/" : ".", kFolderFlags));
  if (w.folder.get() < 0) {
    w.error = errno;
    return w;
  }
  int links = 0;
  while (!todo.empty()) {
    const Step step = std::move(todo.back());
    todo.pop_back();
    if (step.name == ".") continue;
    const int here = w.folder.get();
    struct stat st;
    if (fstatat(here, step.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT || !make || !step.from_caller) {
        w.error = errno;
        return w;
      }
      // mkdir applies the umask; one made by another program meanwhile serves as well, if it
      // is a folder (the open below follows nothing).
      if (mkdirat(here, step.name.c_str(), 0777) == 0) {
        ++w.made;
      } else if (errno != EEXIST) {
        w.error = errno;
        return w;
      }
      st.st_mode = S_IFDIR;
    }
    if (S_ISLNK(st.st_mode)) {
      uid_t owner = 0;
      if (others_may_write(here, &owner) && st.st_uid != geteuid() && st.st_uid != owner) {
        w.error = EACCES;
        w.link = joined(shown, step.name);
        return w;
      }
      if (++links > kMaxLinks) {
        w.error = ELOOP;
        return w;
      }
      std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
      const ssize_t n = readlinkat(here, step.name.c_str(), target.data(), target.size());
      if (n < 0 || static_cast<std::size_t>(n) >= target.size()) {
        w.error = n < 0 ? errno : ENAMETOOLONG;
        return w;
      }
      const std::string_view to(target.data(), static_cast<std::size_t>(n));
      if (!to.empty() && to.front() == '/') {
        w.folder = Descriptor(open("/", kFolderFlags));
        shown.assign(1, '/');
        if (w.folder.get() < 0) {
          w.error = errno;
          return w;
        }
      }
      push_names(todo, to, false);
      continue;
    }
    if (!S_ISDIR(st.st_mode)) {
      w.error = ENOTDIR;
      return w;
    }
    // O_NOFOLLOW: a link put in its place since it was looked at is not entered.
    Descriptor next(openat(here, step.name.c_str(), kFolderFlags));
    if (next.get() < 0 || fstat(next.get(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      w.error = next.get() < 0 ? errno : ENOTDIR;
      return w;
    }
    w.folder = std::move(next);
    shown = joined(shown, step.name);
  }
  return w;
}

}  // namespace

PathWalk open_parent(int base, std::string_view path, std::string_view base_shown) {
  return walk(base, path, base_shown, true, false);
}

PathWalk open_folder(int base, std::string_view path, bool make) {
  return walk(base, path, {}, false, make);
}

std::string refused_link(const std::string& path) {
  // Walked as a folder: a link under the last name is looked at like those before it.
  return open_folder(AT_FDCWD, path, false).link;
}

std::string link_refusal(const std::string& link) {
  return "the symbolic link \"" + link +
         "\" is another user's, in a folder others can write; it is not followed";
}

std::string walk_failure(const PathWalk& walk) {
  return walk.link.empty() ? std::string(std::strerror(walk.error)) : link_refusal(walk.link);
}

std::string make_folder(const std::string& path) {
  const PathWalk w = open_folder(AT_FDCWD, path, true);
  if (w.error == 0) return {};
  if (w.error == ENOTDIR && w.link.empty()) return "it is not a folder";
  return walk_failure(w);
}

void zgetc(const void* source, void* destination, int n) {
  if (n > 0) std::memcpy(destination, source, static_cast<std::size_t>(n));
}

}  // namespace xcn
