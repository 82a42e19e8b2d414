// Writing stack files and name lists safely beside the inputs they come from.
#include "stack/output.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "msg/message.hpp"
#include "sacio/header_access.hpp"
#include "sacio/ref_time.hpp"
#include "sacio/write.hpp"
#include "xcorrnet/sacio.h"

namespace xcn::stack {
namespace {

int text_length(const char* s) { return static_cast<int>(std::strlen(s)); }

void set_real(const char* field, float v) {
  int nerr = 0;
  setfhv(field, &v, &nerr, text_length(field));
}
void set_text(const char* field, const char* v) {
  int nerr = 0;
  setkhv(field, v, &nerr, text_length(field), text_length(v));
}

mode_t process_umask() {
  const mode_t m = ::umask(0);
  ::umask(m);
  return m;
}

}  // namespace

std::mutex& library_lock() {
  static std::mutex lock;
  return lock;
}

SavedHeader save_header() {
  SavedHeader h;
  h.words = cmhdr().words;
  std::memcpy(h.khdr, kmhdr().khdr, sizeof h.khdr);
  return h;
}

void restore_header(const SavedHeader& h) {
  cmhdr().words = h.words;
  std::memcpy(kmhdr().khdr, h.khdr, sizeof h.khdr);
}

OutputGuard::OutputGuard(std::vector<FileKey> inputs)
    : inputs_(std::move(inputs)), umask_(process_umask()) {
  std::sort(inputs_.begin(), inputs_.end());
}

std::string OutputGuard::refusal(const std::string& path, mode_t& old_mode) const {
  old_mode = 0;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    return errno == ENOENT ? std::string() : std::string(std::strerror(errno));
  }
  if (S_ISLNK(st.st_mode)) return "it is a symbolic link; left as it is";
  if (S_ISDIR(st.st_mode)) return "it is a directory; left as it is";
  if (!S_ISREG(st.st_mode)) return "it is not a regular file; left as it is";
  if (std::binary_search(inputs_.begin(), inputs_.end(), FileKey{st.st_dev, st.st_ino})) {
    return "it is one of the inputs; left as it is";
  }
  // A file no one may write is kept so even where the process could (as root).
  if ((st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0) {
    return "it is read-only; left as it is";
  }
  old_mode = st.st_mode & 07777;
  return {};
}

void OutputGuard::narrow(const std::string& path, mode_t old_mode) const {
  mode_t want = 0666 & ~umask_;
  if (old_mode != 0) want &= old_mode;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 07777 & ~want) != 0) {
    if (::fchmod(fd, st.st_mode & want) != 0) {
      // The file is whole; only its permissions stay as the library made them.
    }
  }
  ::close(fd);
}

std::string write_stack(const StackFile& f, std::span<float> samples, const OutputGuard& guard) {
  mode_t old_mode = 0;
  if (std::string why = guard.refusal(f.path, old_mode); !why.empty()) return why;
  SacImage image;
  int nerr = 0;
  {
    const std::lock_guard<std::mutex> hold(library_lock());
    restore_header(*f.header);
    set_header_ref_fields(f.time ? from_ms(*f.time) : RefFields{});
    set_real("USER0", static_cast<float>(f.days));
    set_real("USER1", f.nu.value_or(-12345.0f));
    set_text("KUSER0", f.kind);
    // E undefined, as in every result of the tool (the reader fills it in from B and NPTS).
    Fhdr(kE) = kUndefFloat;
    // A new file of ours, whatever the day result said of overwriting itself.
    Lhdr(kLovrok) = 1;
    Lhdr(kLeven) = 1;
    float xdummy = 0;
    image = sac_image(f.path.c_str(), &xdummy, samples.data(), &nerr, text_length(f.path.c_str()));
    clrmsg();
  }
  if (nerr != 0) return "the library refused it (error " + std::to_string(nerr) + ")";
  const ImageWrite w = write_image(image, false);
  if (w.nerr != 0) {
    return w.error != 0 ? std::strerror(w.error)
                        : "the file could not be written (error " + std::to_string(w.nerr) + ")";
  }
  guard.narrow(f.path, old_mode);
  return {};
}

std::string write_name_list(const std::string& path, std::span<const std::string> lines,
                            const OutputGuard& guard) {
  mode_t old_mode = 0;
  if (std::string why = guard.refusal(path, old_mode); !why.empty()) return why;
  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  static std::atomic<unsigned> counter{0};
  const auto slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = folder + ".xcn_stack." + std::to_string(::getpid()) + "." + std::to_string(counter++);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return std::strerror(errno);
  }
  if (fd < 0) return std::strerror(errno);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const int write_errno = errno;
  const bool closed = ::close(fd) == 0;
  if (done < text.size() || !closed) {
    const int why = done < text.size() ? write_errno : errno;
    ::unlink(temp.c_str());
    return std::strerror(why != 0 ? why : EIO);
  }
  guard.narrow(temp, old_mode);
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    const int why = errno;
    ::unlink(temp.c_str());
    return std::strerror(why);
  }
  return {};
}

std::string make_folder(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec) return ec.message();
  if (!std::filesystem::is_directory(path, ec)) return "it is not a folder";
  return {};
}

}  // namespace xcn::stack
