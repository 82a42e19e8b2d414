// Writing SAC files: extrema, distance refresh, byte order, and a replace that never loses an
// existing file to a failed write.
#include "sacio/write.hpp"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "geodesy/distaz.hpp"
#include "msg/message.hpp"
#include "msg/text.hpp"
#include "sacio/file.hpp"
#include "sacio/header_access.hpp"
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

// The temporaries being written, where a signal handler can find them: a slot holds a name,
// its folder's descriptor and the thread writing it, while its state is kHeld. A name is held
// from just before its file is made until it is renamed or removed. Names longer than a slot,
// and temporaries beyond the slots, are not held here (a signal then leaves them).
class PendingPaths {
 public:
  static constexpr int kSlots = 1024;
  // A slot now holding `name` in `folder`, or -1.
  int hold(int folder, const std::string& name) {
    if (name.size() >= kPathBytes) return -1;
    for (int k = 0; k < kSlots; ++k) {
      Slot& s = slots_[k];
      int free = kFree;
      if (!s.state.compare_exchange_strong(free, kFilling)) continue;
      std::memcpy(s.path, name.c_str(), name.size() + 1);
      s.folder.store(folder);
      s.owner.store(::gettid());
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
        busy = busy || state == kFilling || (state == kHeld && s.owner.load() != self);
      }
      if (!busy) break;
      const timespec pause{0, 1000000};
      nanosleep(&pause, nullptr);
    }
    for (Slot& s : slots_) {
      if (s.state.load() == kHeld) unlinkat(s.folder.load(), s.path, 0);
    }
  }

 private:
  static constexpr std::size_t kPathBytes = 256;
  enum : int { kFree, kFilling, kHeld };
  struct Slot {
    std::atomic<int> state{kFree};
    // Atomic: a slot freed and taken again may be filled while a handler looks at it.
    std::atomic<pid_t> owner{0};
    std::atomic<int> folder{-1};  // open until the slot is released
    char path[kPathBytes] = {};
  };
  std::atomic<bool> stopping_{false};
  Slot slots_[kSlots];
};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free &&
              std::atomic<pid_t>::is_always_lock_free);

// Made at compile time (zero pages until a slot is first written, and nothing for a signal
// handler to wait for).
constinit PendingPaths g_pending_paths;
PendingPaths& pending_paths() { return g_pending_paths; }

// Ten characters from 62 for a temporary's name: 8e17 names, drawn from the kernel's random
// source, so that no one can plant the next one beforehand.
std::string random_suffix() {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[10];
  if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
    // No random source yet (early boot) or none at all: the clock, the address space and a
    // counter, mixed; O_EXCL still refuses any name that exists.
    static std::atomic<std::uint64_t> counter{0};
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::uint64_t x = static_cast<std::uint64_t>(now.tv_nsec) ^
                      (static_cast<std::uint64_t>(now.tv_sec) << 30) ^
                      reinterpret_cast<std::uintptr_t>(&now) ^ (counter++ * 0x9E3779B97F4A7C15u);
    for (unsigned char& b : bytes) {
      x ^= x >> 31;
      x *= 0xBF58476D1CE4E5B9u;
      x ^= x >> 27;
      b = static_cast<unsigned char>(x >> 56);
    }
  }
  std::string out;
  for (const unsigned char b : bytes) out += kAlphabet[b % (sizeof kAlphabet - 1)];
  return out;
}

// Where a result is written, found before anything is created: the name itself, or the
// regular file that a symbolic link of ours under the name leads to (the link stays and the
// file behind it is replaced), as an open folder and a name in it. The folders on the way are
// walked under the file layer's rule for links. A refusal carries the open status and errno it
// reports, and the link the walk refused.
struct Destination {
  PathWalk at;
  bool exists = false;
  struct stat old {};
  int status = 0;
  int error = 0;

  int folder() const { return at.folder.get(); }
  const char* name() const { return at.leaf.c_str(); }
};

Destination destination_of(const std::string& name) {
  Destination d;
  d.at = open_parent(AT_FDCWD, name);
  const auto refuse = [&d](int status, int error) -> Destination {
    d.status = status;
    d.error = error;
    return std::move(d);
  };
  std::string shown = name;  // the name as a message would give it
  if (d.at.error == 0 && d.at.leaf.empty()) return refuse(2, ENOENT);  // no name at all
  for (int hops = 0;; ++hops) {
    if (d.at.error != 0) {
      // A refused link, or a folder that is missing or may not be searched (as the creation
      // would report it).
      return refuse(!d.at.link.empty() || d.at.error == EACCES ? 1 : 2, d.at.error);
    }
    struct stat st;
    if (fstatat(d.folder(), d.name(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      // A link to nothing would create a file wherever it points: refused. Any other trouble
      // (no search permission) is the creation's to report.
      if (errno == ENOENT && hops > 0) return refuse(2, ENOENT);
      return d;
    }
    if (S_ISREG(st.st_mode)) {
      d.exists = true;
      d.old = st;
      return d;
    }
    if (!S_ISLNK(st.st_mode)) {
      // A device, pipe, socket or directory is never replaced, whoever runs the writer.
      return refuse(kOpenNotRegular, S_ISDIR(st.st_mode) ? EISDIR : 0);
    }
    // Only a link of our own is followed: someone else's, in a folder we share, must not
    // turn our result into a write over a file of ours they point it at.
    if (st.st_uid != geteuid()) return refuse(1, EACCES);
    if (hops >= 40) return refuse(2, ELOOP);
    std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    const ssize_t n = readlinkat(d.folder(), d.name(), target.data(), target.size());
    if (n < 0) return refuse(2, errno);
    if (static_cast<std::size_t>(n) >= target.size()) return refuse(2, ENAMETOOLONG);
    const std::string next(target.data(), static_cast<std::size_t>(n));
    if (next.empty()) return refuse(2, ENOENT);
    // The target is taken from the link's own folder.
    const std::size_t slash = shown.rfind('/');
    const std::string folder_shown = slash == std::string::npos ? "" : shown.substr(0, slash + 1);
    PathWalk from = open_parent(d.folder(), next, folder_shown);
    shown = next.front() == '/' ? next : folder_shown + next;
    d.at = std::move(from);
  }
}

// Whether we may write the existing file: a file without a write bit is left as it is, also
// for a privileged user, as opening it for writing would be refused to anyone else.
bool may_write(const Destination& d) {
  if ((d.old.st_mode & 0222) == 0) {
    errno = EACCES;
    return false;
  }
  return faccessat(d.folder(), d.name(), W_OK, AT_EACCESS) == 0;
}

// The file being written: a temporary in the target's folder that replaces the target only
// once it is complete.
class PendingFile {
 public:
  PendingFile(int folder, std::string target) : folder_(folder), target_(std::move(target)) {}
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile() { discard(); }

  // Creates the temporary beside the target under a name no one can guess, with 0666 less the
  // umask as any new file gets (the kernel applies the umask, so nothing reads it). On failure
  // returns the open status (1 access refused, 2 other) and leaves errno.
  int create() {
    const std::string prefix = ".wsac0." + std::to_string(getpid()) + ".";
    int err = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = prefix + random_suffix();
      const int slot = pending_paths().hold(folder_, name);
      if (pending_paths().stopping()) {
        // A signal is ending the process: this file is never begun.
        pending_paths().release(slot);
        for (;;) pause();
      }
      // O_EXCL and O_NOFOLLOW: a name planted in between, file or link, is never opened.
      int fd = openat(folder_, name.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
      if (fd >= 0) {
        fd = lift_descriptor(fd);
        if (fd < 0) unlinkat(folder_, name.c_str(), 0);
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
      return 0;
    }
    // No temporary can be made (e.g. a read-only directory): the old file, if any, stays as
    // it is rather than being truncated and rewritten in place.
    errno = err;
    return err == EACCES ? 1 : 2;
  }

  // Gives the new file no wider access than the one it replaces: its owner and group where we
  // may (root replacing a user's result leaves it the user's), and the permission bits both
  // allow. false (errno set) when that cannot be done.
  bool narrow_to(const struct stat& old) {
    struct stat now;
    if (fstat(fd_, &now) != 0) return false;
    if (now.st_uid != old.st_uid && fchown(fd_, old.st_uid, old.st_gid) == 0) {
      now.st_uid = old.st_uid;
      now.st_gid = old.st_gid;
    }
    if (now.st_gid != old.st_gid && fchown(fd_, static_cast<uid_t>(-1), old.st_gid) == 0) {
      now.st_gid = old.st_gid;
    }
    mode_t mode = now.st_mode & old.st_mode & 0777;
    // Another group may not gain what the old file's group had.
    if (now.st_gid != old.st_gid) mode &= ~static_cast<mode_t>(070);
    if (mode == (now.st_mode & 07777)) return true;
    return fchmod(fd_, mode) == 0;
  }

  int handle() const { return -fd_; }

  enum class Commit { kDone, kCloseFailed, kRenameFailed };

  // Closes and moves the file into place; on failure errno tells why.
  Commit commit() {
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) return Commit::kCloseFailed;  // data may not have reached the disk
    if (temp_.empty()) return Commit::kDone;
    if (renameat(folder_, temp_.c_str(), folder_, target_.c_str()) != 0) {
      return Commit::kRenameFailed;
    }
    forget();
    return Commit::kDone;
  }

  void discard() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!temp_.empty()) unlinkat(folder_, temp_.c_str(), 0);
    forget();
  }

 private:
  void forget() {
    pending_paths().release(slot_);
    slot_ = -1;
    temp_.clear();
  }

  int folder_;
  std::string target_;
  std::string temp_;
  int fd_ = -1;
  int slot_ = -1;  // where a signal handler finds temp_
};

// Set where no way of naming an unnamed file is open (no /proc, and a kernel that refuses us
// the descriptor's own): no unnamed file is begun again in this process.
std::atomic<bool> g_naming_refused{false};

// Gives the unnamed file open as `fd` the name `path`; linkat never follows a name that is
// there by now (a file or a link), it refuses it. Naming the descriptor itself is the cheaper
// way; kernels before 6.10 grant it only to privileged processes, and a refusal is kept for
// the process. Through /proc it works for anyone where /proc is mounted.
bool give_name(int fd, int folder, const std::string& name) {
  static std::atomic<bool> descriptor_refused{false};
  if (!descriptor_refused.load(std::memory_order_relaxed)) {
    if (linkat(fd, "", folder, name.c_str(), AT_EMPTY_PATH) == 0) return true;
    if (errno != ENOENT) return false;
    descriptor_refused.store(true, std::memory_order_relaxed);
  }
  char self[40];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  if (linkat(AT_FDCWD, self, folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
  if (errno == ENOENT && access("/proc/self/fd", X_OK) != 0) {
    g_naming_refused.store(true, std::memory_order_relaxed);
  }
  return false;
}

// A new file made whole before it has a name: an unnamed file in the target's folder, given
// the name once written. The folder gains one entry instead of a temporary's create and rename,
// and a process that dies while writing leaves nothing behind. Where the file system or the
// system offers no unnamed files, where the name is taken by then, or where the writing fails,
// nothing is left and false is returned: the caller writes through a named temporary, which
// reports any trouble as it always has. After the name is given, a failed close removes it
// again and says so in *failed (errno set).
bool link_new_file(int folder, const std::string& name, const std::vector<unsigned char>& bytes,
                   bool* failed) {
  *failed = false;
  // A signal ending the process: the named path waits for the end.
  if (pending_paths().stopping() || g_naming_refused.load(std::memory_order_relaxed)) return false;
  int fd = openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd >= 0) fd = lift_descriptor(fd);
  if (fd < 0) return false;
  if (!write_fully(fd, bytes.data(), bytes.size()) || !give_name(fd, folder, name)) {
    close(fd);
    return false;
  }
  if (close(fd) != 0) {
    const int error = errno;
    unlinkat(folder, name.c_str(), 0);
    errno = error;
    *failed = true;
  }
  return true;
}

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
  extremes(array, increment, n, minimum, maximum, mean);
  warn_outside_bounds(*minimum, *maximum);
}

namespace {

// Of values that compare equal the first stands, which only tells +0 from -0: `e`, or the first
// zero of a[0 .. n) where `e` is a zero.
float first_of_equals(const float* a, float e) {
  if (e != 0.0f) return e;
  int i = 0;
  while (a[i] != 0.0f) ++i;
  return a[i];
}

// The extremes and mean of a[0 .. n), a[0] not NaN, as the one-pass loop finds them: the sum in
// order, NaNs passed over by the extremes, the first of equal extremes standing. Eight lanes of
// extremes at a time where SSE2 is: each lane's minimum is what the loop finds over its values
// (a lane's NaN is passed over, a tie keeps the lane's earlier value), the lanes' minimum the
// loop's value, and only a zero needs its first occurrence.
void extremes_in_order(const float* a, int n, float* minimum, float* maximum, float* mean) {
  float sum = a[0];
  float lo = a[0];
  float hi = a[0];
  int i = 1;
#if defined(__SSE2__)
  if (n >= 9) {
    __m128 lo0 = _mm_set1_ps(a[0]), lo1 = lo0, hi0 = lo0, hi1 = lo0;
    for (; i + 8 <= n; i += 8) {
      const __m128 v0 = _mm_loadu_ps(a + i);
      const __m128 v1 = _mm_loadu_ps(a + i + 4);
      // min(v, e) is e where v is NaN or both are zeros: the loop's own choice.
      lo0 = _mm_min_ps(v0, lo0);
      lo1 = _mm_min_ps(v1, lo1);
      hi0 = _mm_max_ps(v0, hi0);
      hi1 = _mm_max_ps(v1, hi1);
      for (int k = 0; k < 8; ++k) sum += a[i + k];
    }
    alignas(16) float lane[16];
    _mm_store_ps(lane, lo0);
    _mm_store_ps(lane + 4, lo1);
    _mm_store_ps(lane + 8, hi0);
    _mm_store_ps(lane + 12, hi1);
    for (int k = 0; k < 8; ++k) {
      if (lane[k] - lo < 0.0f) lo = lane[k];
      if (lane[8 + k] - hi > 0.0f) hi = lane[8 + k];
    }
  }
#endif
  for (; i < n; ++i) {
    const float v = a[i];
    sum += v;
    if (v - lo < 0.0f) {
      lo = v;
    } else if (v - hi > 0.0f) {
      hi = v;
    }
  }
  *minimum = first_of_equals(a, lo);
  *maximum = first_of_equals(a, hi);
  *mean = sum / static_cast<float>(n > 1 ? n : 1);
}

}  // namespace

void extremes(const float* array, int increment, int n, float* minimum, float* maximum,
              float* mean) {
  if (n < 1) return;
  if (increment == 1 && !std::isnan(array[0])) {
    extremes_in_order(array, n, minimum, maximum, mean);
    return;
  }
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
}

void warn_outside_bounds(float minimum, float maximum) {
  if (static_cast<double>(minimum) < -kFloatLimit || static_cast<double>(maximum) > kFloatLimit) {
    setmsg("WARNING", 0);
    const char* what = "Data value outside system storage bounds";
    apcmsg(what, text_width(what));
    aplmsg("Maxvalue = ", text_width("Maxvalue = "));
    apfmsg(maximum);
    apcmsg(" Minvalue = ", text_width(" Minvalue = "));
    apfmsg(minimum);
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
bool file_holds(int folder, const char* name, const std::vector<unsigned char>& image) {
  struct stat st;
  if (fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::size_t>(st.st_size) != image.size()) {
    return false;
  }
  const int fd = openat(folder, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  std::vector<unsigned char> held(image.size());
  const bool same = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                    read_fully(fd, held.data(), held.size(), 0) && held == image;
  close(fd);
  return same;
}

}  // namespace

namespace {

// The name as given when a NUL byte lies inside it, before more of the name (not only blanks
// or NULs that pad it): cut there, it would name another file. Each NUL shown as \0. Empty
// when the name has no such NUL.
std::string name_cut_by_nul(const char* name, int length) {
  if (name == nullptr || length <= 0) return {};
  const auto* nul =
      static_cast<const char*>(std::memchr(name, '\0', static_cast<std::size_t>(length)));
  if (nul == nullptr) return {};
  std::string_view given(name, static_cast<std::size_t>(length));
  const std::size_t end = given.find_last_not_of(std::string_view(" \0", 2));
  if (end == std::string_view::npos || end < static_cast<std::size_t>(nul - name)) return {};
  std::string shown;
  for (const char c : given.substr(0, end + 1))
    shown += c == '\0' ? std::string("\\0") : std::string(1, c);
  return shown;
}

}  // namespace

SacImage sac_image(const char* kname, float* xarray, float* yarray, int* nerr, int kname_len) {
  *nerr = 0;
  SacImage image;
  if (const std::string cut = name_cut_by_nul(kname, kname_len); !cut.empty()) {
    *nerr = SACIO_ERR_NAME_NUL;
    compose_file_error(SACIO_ERR_NAME_NUL, cut.c_str(), nullptr);
    outmsg();
    clrmsg();
    errno = 0;
    return image;
  }
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
  if (const int version = Nhdr(kNvhdr); version < 1 || version > kHeaderVersion) {
    // A file that no reader takes (this one included) is no result.
    *nerr = SACIO_ERR_BAD_VERSION;
    compose_file_error(SACIO_ERR_BAD_VERSION, name, nullptr);
    aplmsg("NVHDR is", text_width("NVHDR is"));
    apimsg(version);
    outmsg();
    clrmsg();
    errno = 0;
    return image;
  }
  const bool uneven = Lhdr(kLeven) == 0;
  if (yarray == nullptr || (uneven && xarray == nullptr)) {
    // Checked before the extremes read the samples.
    *nerr = SACIO_ERR_NULL_ARGUMENT;
    report_null_argument("wsac0", yarray == nullptr ? "yarray" : "xarray");
    errno = 0;
    return image;
  }

  extrma(yarray, 1, npts, &Fhdr(kDepmin), &Fhdr(kDepmax), &Fhdr(kDepmen));
  update_distaz();
  const int swap = sac_byte_order(-1);
  // The whole file in one buffer, written with one call.
  std::vector<unsigned char>& bytes = image.bytes;
  bytes.reserve(static_cast<std::size_t>(kNumericBytes + kCharBlockBytes) +
                static_cast<std::size_t>(npts) * (uneven ? 8 : 4));
  put_header(bytes, swap);
  put_samples(bytes, yarray, npts, swap);
  if (uneven) put_samples(bytes, xarray, npts, swap);
  // After a byte-reversed write the caller's arrays hold file byte order, as they always have.
  if (swap == 1) {
    sac_data_swap(yarray, npts);
    if (uneven) sac_data_swap(xarray, npts);
  }
  return image;
}

std::vector<unsigned char> header_image(float minimum, float maximum, float mean) {
  std::vector<unsigned char> bytes;
  const int version = Nhdr(kNvhdr);
  if (Nhdr(kNpts) <= 0 || Lhdr(kLovrok) == 0 || version < 1 || version > kHeaderVersion) {
    return bytes;
  }
  Fhdr(kDepmin) = minimum;
  Fhdr(kDepmax) = maximum;
  Fhdr(kDepmen) = mean;
  update_distaz();
  put_header(bytes, sac_byte_order(-1));
  return bytes;
}

ImageWrite write_image(const SacImage& image, bool only_if_changed) {
  ImageWrite w;
  Destination d = destination_of(image.name);
  const auto refused = [&d] {
    return ImageWrite{SACIO_ERR_OPEN, d.status, d.error, false, d.at.link};
  };
  if (d.status != 0) return refused();
  if (!d.exists) {
    bool failed = false;
    if (link_new_file(d.folder(), d.at.leaf, image.bytes, &failed)) {
      if (failed) return {SACIO_ERR_WRITE, 0, errno, false, {}};
      w.written = true;
      return w;
    }
    // Something may have taken the name meanwhile: look again.
    d = destination_of(image.name);
    if (d.status != 0) return refused();
  }
  if (only_if_changed && d.exists && file_holds(d.folder(), d.name(), image.bytes)) return w;
  if (d.exists && !may_write(d)) {
    // Read-only: replacing it by a writable copy would undo what its owner chose.
    const int error = errno;
    return {SACIO_ERR_OPEN, error == EACCES || error == EPERM ? 1 : 2, error, false, {}};
  }
  errno = 0;
  PendingFile file(d.folder(), d.at.leaf);
  if (const int status = file.create(); status != 0) {
    w = {SACIO_ERR_OPEN, status, errno, false, {}};
  } else if (d.exists && !file.narrow_to(d.old)) {
    w = {SACIO_ERR_OPEN, 2, errno, false, {}};
  } else if (!write_fully(-file.handle(), image.bytes.data(), image.bytes.size())) {
    w = {SACIO_ERR_WRITE, 0, errno, false, {}};
  } else if (const auto done = file.commit(); done == PendingFile::Commit::kCloseFailed) {
    w = {SACIO_ERR_WRITE, 0, errno, false, {}};
  } else if (done == PendingFile::Commit::kRenameFailed) {
    // The name cannot take the new file (e.g. it became a directory): the old one stays.
    w = {SACIO_ERR_OPEN, errno == EACCES ? 1 : 2, errno, false, {}};
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
