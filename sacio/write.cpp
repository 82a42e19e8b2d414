// Writing SAC files: extrema, distance refresh, byte order, and a replace that never loses an
// existing file to a failed write.
#include "sacio/write.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "geodesy/distaz.hpp"
#include "msg/message.hpp"
#include "msg/text.hpp"
#include "sacio/file.hpp"
#include "sacio/header_model.hpp"
#include "sacio/read.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {

namespace {

int g_swap = -1;        // write-swap decision, -1 until decided
int g_byte_order = -1;  // host byte order, -1 until asked

constexpr double kFloatLimit = 3.40282e38;

int text_width(const char* text) { return static_cast<int>(std::strlen(text)) + 1; }

// True when value and word agree, ignoring case, over the shorter of the two.
bool prefix_match(std::string_view value, std::string_view word) {
  const std::size_t n = value.size() < word.size() ? value.size() : word.size();
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char a = static_cast<unsigned char>(value[i]);
    const unsigned char b = static_cast<unsigned char>(word[i]);
    const unsigned char la = a >= 'A' && a <= 'Z' ? static_cast<unsigned char>(a + 32) : a;
    if (la != b) return false;
  }
  return true;
}

void compose_file_error(int number, const char* name, const char* detail) {
  setmsg("ERROR", number);
  apcmsg(name, text_width(name));
  if (detail != nullptr) apcmsg(detail, text_width(detail));
}

// The temporaries being written, where a signal handler can find them: a slot holds a path,
// and the thread writing it, while its state is kHeld. A path is held from just before its
// file is made until it is renamed or removed. Paths longer than a slot, and temporaries beyond
// the slots, are not held here (a signal then leaves them).
class PendingPaths {
 public:
  static constexpr int kSlots = 1024;
  // A slot now holding `path`, or -1.
  int hold(const std::string& path) {
    if (path.size() >= kPathBytes) return -1;
    for (int k = 0; k < kSlots; ++k) {
      Slot& s = slots_[k];
      int free = kFree;
      if (!s.state.compare_exchange_strong(free, kFilling)) continue;
      std::memcpy(s.path, path.c_str(), path.size() + 1);
      s.owner = ::gettid();
      s.state.store(kHeld);
      return k;
    }
    return -1;
  }
  void release(int k) {
    if (k >= 0) slots_[k].state.store(kFree);
  }
  // Whether a signal is ending the process: no new file may be begun.
  bool stopping() const { return stopping_.load(); }

  // Only calls that a signal handler may make. Stops new files, lets the other threads finish
  // the files they are writing (a rename is a moment; a second at most), then removes what is
  // left, the handler's own thread's temporary included.
  void stop_and_remove() {
    stopping_.store(true);
    const pid_t self = ::gettid();
    for (int waited = 0; waited < 1000; ++waited) {
      bool busy = false;
      for (const Slot& s : slots_) {
        const int state = s.state.load();
        busy = busy || state == kFilling || (state == kHeld && s.owner != self);
      }
      if (!busy) break;
      const timespec pause{0, 1000000};
      nanosleep(&pause, nullptr);
    }
    for (Slot& s : slots_) {
      if (s.state.load() == kHeld) unlink(s.path);
    }
  }

 private:
  static constexpr std::size_t kPathBytes = 4096;
  enum : int { kFree, kFilling, kHeld };
  struct Slot {
    std::atomic<int> state{kFree};
    pid_t owner = 0;
    char path[kPathBytes] = {};
  };
  std::atomic<bool> stopping_{false};
  Slot slots_[kSlots];
};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

// Made at compile time (zero pages until a slot is first written, and nothing for a signal
// handler to wait for).
constinit PendingPaths g_pending_paths;
PendingPaths& pending_paths() { return g_pending_paths; }

// The file being written: a temporary in the target's directory that replaces the target only
// once it is complete.
class PendingFile {
 public:
  explicit PendingFile(std::string target) : target_(std::move(target)) {}
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile() { discard(); }

  // Creates the file; on failure returns the open status (1 access refused, 2 other).
  int create() {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = target_.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
    int err = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name =
          dir + ".wsac0." + std::to_string(getpid()) + "." + std::to_string(counter++);
      const int slot = pending_paths().hold(name);
      if (pending_paths().stopping()) {
        // A signal is ending the process: this file is never begun.
        pending_paths().release(slot);
        for (;;) pause();
      }
      int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC, 0);
      if (fd >= 0) {
        fd = lift_descriptor(fd);
        if (fd < 0) unlink(name.c_str());
      }
      if (fd < 0) {
        const bool taken = errno == EEXIST;
        err = errno;
        pending_paths().release(slot);
        if (taken) continue;
        break;
      }
      fd_ = fd;
      temp_ = std::move(name);
      slot_ = slot;
      widen_permissions();
      return 0;
    }
    // No temporary can be made (e.g. a read-only directory): the old file, if any, stays as
    // it is rather than being truncated and rewritten in place.
    return err == EACCES ? 1 : 2;
  }

  int handle() const { return -fd_; }

  enum class Commit { kDone, kCloseFailed, kRenameFailed };

  // Closes and moves the file into place; on failure errno tells why.
  Commit commit() {
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) return Commit::kCloseFailed;  // data may not have reached the disk
    if (temp_.empty()) return Commit::kDone;
    if (std::rename(temp_.c_str(), target_.c_str()) != 0) return Commit::kRenameFailed;
    forget();
    return Commit::kDone;
  }

  void discard() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!temp_.empty()) unlink(temp_.c_str());
    forget();
  }

 private:
  // Result files are shared between users: their permissions do not depend on the umask.
  void widen_permissions() {
    if (fchmod(fd_, 0666) != 0) {
      // The file is usable; only its permissions stay narrower.
    }
  }

  void forget() {
    pending_paths().release(slot_);
    slot_ = -1;
    temp_.clear();
  }

  std::string target_;
  std::string temp_;
  int fd_ = -1;
  int slot_ = -1;  // where a signal handler finds temp_
};

}  // namespace

void discard_pending_files() { pending_paths().stop_and_remove(); }

int CheckByteOrder() {
  if (g_byte_order < 0) {
    const std::uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    g_byte_order = first == 0 ? 1 : 0;
  }
  return g_byte_order;
}

int sac_byte_order(int request) {
  if (request < 0 && g_swap < 0) {
    request = CheckByteOrder();
    if (const char* env = std::getenv("SAC_WRITE_BYTE_ORDER"); env != nullptr) {
      const std::string_view value = env;
      bool named = false;
      for (std::string_view word : {"big", "solaris", "powerpc", "ppc"}) {
        if (prefix_match(value, word)) {
          request = 1;
          named = true;
        }
      }
      for (std::string_view word : {"little", "x86", "intel"}) {
        if (prefix_match(value, word)) {
          request = 0;
          named = true;
        }
      }
      // Files in an order the user did not ask for would be misread elsewhere: say so, once,
      // as the decision is made once.
      if (!named) {
        std::fprintf(stderr,
                     "WARNING: SAC_WRITE_BYTE_ORDER \"%s\" is neither big nor little: files are "
                     "written in this machine's byte order (%s-endian)\n",
                     env, request == 1 ? "big" : "little");
      }
    }
  }
  if (request == 0 || request == 1) g_swap = request != CheckByteOrder() ? 1 : 0;
  return g_swap;
}

void extrma(const float* array, int increment, int n, float* minimum, float* maximum, float* mean) {
  if (n < 1) return;
  float lo = array[0];
  float hi = array[0];
  float sum = array[0];
  const std::size_t step = static_cast<std::size_t>(increment);
  for (int i = 1; i < n; ++i) {
    const float v = array[static_cast<std::size_t>(i) * step];
    sum += v;
    if (v - lo < 0.0f) {
      lo = v;
    } else if (v - hi > 0.0f) {
      hi = v;
    }
  }
  *minimum = lo;
  *maximum = hi;
  *mean = sum / static_cast<float>(n > 1 ? n : 1);
  if (static_cast<double>(lo) < -kFloatLimit || static_cast<double>(hi) > kFloatLimit) {
    setmsg("WARNING", 0);
    const char* what = "Data value outside system storage bounds";
    apcmsg(what, text_width(what));
    aplmsg("Maxvalue = ", text_width("Maxvalue = "));
    apfmsg(hi);
    apcmsg(" Minvalue = ", text_width(" Minvalue = "));
    apfmsg(lo);
    outmsg();
    clrmsg();
  }
}

void map_chdr_out(unsigned char* block) {
  std::memcpy(block, Khdr(kKstnm), 8);
  std::memcpy(block + 8, Khdr(kKevnm), 16);
  for (int slot = 4; slot <= kCharSlots; ++slot) {
    std::memcpy(block + 24 + 8 * (slot - 4), Khdr(slot), 8);
  }
}

namespace {

// The two header blocks in file order and byte order, from the current header, which stays in
// host order.
void put_header(std::vector<unsigned char>& out, int swap) {
  unsigned char numeric[kNumericBytes];
  std::memcpy(numeric, header_numeric_bytes(), sizeof numeric);
  if (swap == 1) sac_header_swap(numeric);
  unsigned char chars[kCharBlockBytes];
  map_chdr_out(chars);
  out.insert(out.end(), numeric, numeric + sizeof numeric);
  out.insert(out.end(), chars, chars + sizeof chars);
}

void put_samples(std::vector<unsigned char>& out, const float* samples, int n, int swap) {
  const std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(n) * 4);
  std::memcpy(out.data() + at, samples, static_cast<std::size_t>(n) * 4);
  if (swap == 1) sac_data_swap(reinterpret_cast<float*>(out.data() + at), n);
}

// Whether the regular file `name` holds exactly `image`. Never blocks: a FIFO or a device
// under the name is not opened for reading.
bool file_holds(const char* name, const std::vector<unsigned char>& image) {
  struct stat st;
  if (stat(name, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::size_t>(st.st_size) != image.size()) {
    return false;
  }
  const int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  std::vector<unsigned char> held(image.size());
  const bool same = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                    read_fully(fd, held.data(), held.size(), 0) && held == image;
  close(fd);
  return same;
}

}  // namespace

SacImage sac_image(const char* kname, float* xarray, float* yarray, int* nerr, int kname_len) {
  *nerr = 0;
  SacImage image;
  HeapText copy(fstrdup(kname != nullptr ? kname : "", kname_len));
  image.name = copy ? copy.get() : "";
  const char* name = image.name.c_str();
  const int npts = Nhdr(kNpts);

  if (npts <= 0) {
    *nerr = SACIO_ERR_WRITE;
    compose_file_error(SACIO_ERR_WRITE, name, nullptr);
    outmsg();
    clrmsg();
    errno = 0;
    return image;
  }
  if (Lhdr(kLovrok) == 0) {
    *nerr = SACIO_ERR_NO_OVERWRITE;
    setmsg("ERROR", SACIO_ERR_NO_OVERWRITE);
    apcmsg2(name, static_cast<int>(std::strlen(name)));
    outmsg();
    clrmsg();
    errno = 0;
    return image;
  }

  extrma(yarray, 1, npts, &Fhdr(kDepmin), &Fhdr(kDepmax), &Fhdr(kDepmen));
  update_distaz();
  const int swap = sac_byte_order(-1);
  const bool uneven = Lhdr(kLeven) == 0;
  // The whole file in one buffer, written with one call.
  std::vector<unsigned char>& bytes = image.bytes;
  bytes.reserve(static_cast<std::size_t>(kNumericBytes + kCharBlockBytes) +
                static_cast<std::size_t>(npts) * (uneven ? 8 : 4));
  put_header(bytes, swap);
  if (yarray != nullptr) put_samples(bytes, yarray, npts, swap);
  if (uneven && xarray != nullptr) put_samples(bytes, xarray, npts, swap);
  // After a byte-reversed write the caller's arrays hold file byte order, as they always have.
  if (swap == 1) {
    if (yarray != nullptr) sac_data_swap(yarray, npts);
    if (uneven && xarray != nullptr) sac_data_swap(xarray, npts);
  }
  if (yarray == nullptr || (uneven && xarray == nullptr)) {
    *nerr = SACIO_ERR_WRITE;
    compose_file_error(*nerr, name, nullptr);
    outmsg();
    clrmsg();
    errno = 0;
    image.bytes.clear();
  }
  return image;
}

ImageWrite write_image(const SacImage& image, bool only_if_changed) {
  ImageWrite w;
  const char* name = image.name.c_str();
  if (only_if_changed && file_holds(name, image.bytes)) return w;
  errno = 0;
  PendingFile file(image.name);
  if (const int status = file.create(); status != 0) {
    w = {SACIO_ERR_OPEN, status, errno, false};
  } else if (!write_fully(-file.handle(), image.bytes.data(), image.bytes.size())) {
    w = {SACIO_ERR_WRITE, 0, errno, false};
  } else if (const auto done = file.commit(); done == PendingFile::Commit::kCloseFailed) {
    w = {SACIO_ERR_WRITE, 0, errno, false};
  } else if (done == PendingFile::Commit::kRenameFailed) {
    // The name cannot take the new file (e.g. it is a directory): the old one stays.
    w = {SACIO_ERR_OPEN, errno == EACCES ? 1 : 2, errno, false};
  } else {
    w.written = true;
  }
  return w;
}

void report_image_failure(const SacImage& image, const ImageWrite& w) {
  compose_file_error(w.nerr, image.name.c_str(),
                     w.open_status != 0 ? open_status_text(w.open_status) : nullptr);
  outmsg();
  clrmsg();
  errno = w.error;
}

namespace {

// wsac0, and with `only_if_changed` the same but leaving a file that holds these very bytes
// already as it is; *written tells whether the file was written.
void write_sac(const char* kname, float* xarray, float* yarray, int* nerr, int kname_len,
               bool only_if_changed, bool* written) {
  *written = false;
  const SacImage image = sac_image(kname, xarray, yarray, nerr, kname_len);
  if (*nerr != 0) return;
  const ImageWrite w = write_image(image, only_if_changed);
  *nerr = w.nerr;
  *written = w.written;
  if (w.nerr != 0) report_image_failure(image, w);
}

}  // namespace

void sac_header_write(int handle, int swap, int* nerr) {
  *nerr = 0;
  std::vector<unsigned char> blocks;
  put_header(blocks, swap);
  if (handle >= 0 || !write_fully(-handle, blocks.data(), blocks.size())) *nerr = SACIO_ERR_WRITE;
}

void sac_data_write(int handle, float* y, float* x, int n, int swap, int* nerr) {
  *nerr = 0;
  if (n <= 0) return;
  const std::size_t bytes = static_cast<std::size_t>(n) * 4;
  auto put = [&](float* samples) {
    if (samples == nullptr || handle >= 0) return false;
    if (swap == 1) sac_data_swap(samples, n);  // in place: the arrays keep file byte order
    return write_fully(-handle, samples, bytes);
  };
  if (!put(y) || (Lhdr(kLeven) == 0 && !put(x))) *nerr = SACIO_ERR_WRITE;
}

void wsac0(const char* kname, float* xarray, float* yarray, int* nerr, int kname_len) {
  bool written = false;
  write_sac(kname, xarray, yarray, nerr, kname_len, false, &written);
}

void wsac0_if_changed(const char* kname, float* xarray, float* yarray, int* nerr, int kname_len,
                      bool* written) {
  write_sac(kname, xarray, yarray, nerr, kname_len, true, written);
}

void wsac3(const char* kname, float* xarray, float* yarray, int* nerr, int kname_len) {
  wsac0(kname, xarray, yarray, nerr, kname_len);
}

}  // namespace xcn
