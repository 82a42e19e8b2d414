// Writing files made from results safely beside the results they come from.
#include "results/output.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "driver/input/list_file.hpp"
#include "msg/message.hpp"
#include "sacio/write.hpp"
#include "xcorrnet/sacio.h"

namespace xcn::results {

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

OutputGuard::OutputGuard(std::vector<FileKey> inputs) : inputs_(std::move(inputs)) {
  std::sort(inputs_.begin(), inputs_.end());
}

std::string OutputGuard::refusal(const std::string& path) const {
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
  return {};
}

std::string write_sac(const std::string& path, const SavedHeader& header,
                      const std::function<void()>& change, std::span<float> samples,
                      const OutputGuard& guard) {
  if (std::string why = guard.refusal(path); !why.empty()) return why;
  SacImage image;
  int nerr = 0;
  {
    const std::lock_guard<std::mutex> hold(library_lock());
    restore_header(header);
    change();
    // E undefined, as in every result of the tool (the reader fills it in from B and NPTS).
    Fhdr(kE) = kUndefFloat;
    // A new file of ours, whatever the result it comes from said of overwriting itself.
    Lhdr(kLovrok) = 1;
    Lhdr(kLeven) = 1;
    float xdummy = 0;
    image = sac_image(path.c_str(), &xdummy, samples.data(), &nerr,
                      static_cast<int>(std::strlen(path.c_str())));
    clrmsg();
  }
  if (nerr != 0) return "the library refused it (error " + std::to_string(nerr) + ")";
  const ImageWrite w = write_image(image, false);
  if (w.nerr != 0) {
    return w.error != 0 ? std::strerror(w.error)
                        : "the file could not be written (error " + std::to_string(w.nerr) + ")";
  }
  // The library gave it 0666 less the umask, and no more than the file it replaced.
  return {};
}

std::string write_name_list(const std::string& path, std::span<const std::string> lines,
                            const OutputGuard& guard) {
  if (std::string why = guard.refusal(path); !why.empty()) return why;
  std::string error;
  return write_lines_atomically(path, lines, error) ? std::string() : error;
}

}  // namespace xcn::results
