// Reading list files line by line, and the name or entry the tool takes from a line.
#include "driver/input/list_file.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <system_error>

#include "driver/input/params.hpp"  // fill_field, a template of the header alone
#include "sacio/file.hpp"

namespace xcn {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The text without trailing white space: a blank, tab or CR after a name is not part of it.
std::string_view without_trailing_space(std::string_view text) {
  const std::size_t end = text.find_last_not_of(" \t\r\n\v\f");
  return end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
}

// Splits bytes into lines as they come, keeping at most kMaxLine characters of a line, so that
// a list without line ends cannot take all memory. A byte-order mark is dropped before the
// first line only.
class LineSplitter {
 public:
  void feed(std::string_view bytes) {
    if (head_.size() < kByteOrderMark.size()) {
      // Hold the first bytes back until a byte-order mark can be told.
      const std::size_t take = std::min(bytes.size(), kByteOrderMark.size() - head_.size());
      head_.append(bytes.substr(0, take));
      bytes.remove_prefix(take);
      if (head_.size() < kByteOrderMark.size()) return;
      if (head_ != kByteOrderMark) split(head_);
    }
    split(bytes);
  }
  std::vector<ListLine> finish() {
    if (head_.size() < kByteOrderMark.size()) split(head_);
    if (open_) end_line();
    return std::move(lines_);
  }

 private:
  void split(std::string_view bytes) {
    for (const char c : bytes) {
      if (after_cr_) {
        after_cr_ = false;
        if (c == '\n') continue;  // the LF of a CR LF
      }
      if (c == '\n' || c == '\r') {
        end_line();
        after_cr_ = c == '\r';
        continue;
      }
      if (line_.text.size() < kMaxLine) line_.text += c;
      ++line_.length;
      open_ = true;
    }
  }
  void end_line() {
    lines_.push_back(std::move(line_));
    line_ = {};
    open_ = false;
  }

  std::string head_;
  std::vector<ListLine> lines_;
  ListLine line_;
  bool open_ = false;  // a line has begun and not ended
  bool after_cr_ = false;
};

// A list comes from a file or through a pipe. A device such as /dev/zero or a socket never
// ends; a directory holds no lines.
bool list_kind(const struct stat& st) { return S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode); }

enum class PipeStart { kWriting, kEnded, kNobody, kFailed };

// Waits, at most `wait`, for a program to write to a pipe opened without waiting; the bytes
// already there go to `first`. A named pipe that nobody opens would otherwise hold the run for
// ever; an anonymous pipe whose writer has gone (`<(true)`) reports its end at once.
PipeStart await_writer(int fd, std::chrono::milliseconds wait, std::string& first) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + wait;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got > 0) {
      first.assign(buffer, static_cast<std::size_t>(got));
      return PipeStart::kWriting;
    }
    if (got < 0 && errno == EAGAIN) return PipeStart::kWriting;  // a writer holds it open
    if (got < 0 && errno != EINTR) return PipeStart::kFailed;
    if (got < 0) continue;
    // Nothing there and no writer at the moment.
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return PipeStart::kNobody;
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 100)));
    // A hang-up without data: a writer came and went, or the pipe's only writer is gone.
    if (ready > 0 && (p.revents & POLLHUP) != 0 && (p.revents & POLLIN) == 0) {
      return PipeStart::kEnded;
    }
    if (ready < 0 && errno != EINTR) return PipeStart::kFailed;
  }
}

}  // namespace

namespace {

// Opens a list-like file by the rules of the lists and hands its bytes to `feed` as they come;
// `feed` returns false to stop reading (with `error` set by it).
template <typename Feed>
bool stream_list(const std::string& path, const char* what, const ListFileRules& rules,
                 std::string& error, Feed&& feed) {
  auto fail = [&](const char* verb, const std::string& reason) {
    error = std::string("cannot ") + verb + " the " + what + " \"" + path + "\": " + reason;
    return false;
  };
  constexpr const char* kNotAList = "it is neither a regular file nor a pipe";
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT || !rules.create_missing) return fail("open", std::strerror(errno));
    // A list that does not exist is created empty and holds no line.
    std::ofstream create(path);
    if (!create) return fail("open", std::strerror(errno));
    return true;
  }
  if (S_ISDIR(st.st_mode)) return fail("open", "it is a directory");
  if (!list_kind(st)) return fail("open", kNotAList);
  // Opened without waiting, whatever it is, and checked again on its descriptor in case the
  // name changed in between.
  const Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) return fail("open", std::strerror(errno));
  if (::fstat(fd.get(), &st) != 0) return fail("open", std::strerror(errno));
  if (!list_kind(st)) return fail("open", kNotAList);

  if (S_ISFIFO(st.st_mode)) {
    std::string first;
    switch (await_writer(fd.get(), rules.writer_wait, first)) {
      case PipeStart::kWriting:
        if (!feed(std::string_view(first))) return false;
        break;
      case PipeStart::kEnded:
        return true;
      case PipeStart::kNobody: {
        char reason[96];
        std::snprintf(reason, sizeof reason, "no program opened the pipe for writing within %g s",
                      static_cast<double>(rules.writer_wait.count()) / 1000.0);
        return fail("open", reason);
      }
      case PipeStart::kFailed:
        return fail("read", std::strerror(errno));
    }
  }
  // From here a pipe's writer is there: wait for its lines as long as it takes.
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail("read", std::strerror(errno));
    if (got == 0) break;
    if (!feed(std::string_view(buffer, static_cast<std::size_t>(got)))) return false;
  }
  return true;
}

}  // namespace

bool read_list_lines(const std::string& path, const char* what, const ListFileRules& rules,
                     std::vector<ListLine>& lines, std::string& error) {
  lines.clear();
  LineSplitter splitter;
  if (!stream_list(path, what, rules, error, [&](std::string_view bytes) {
        splitter.feed(bytes);
        return true;
      })) {
    return false;
  }
  lines = splitter.finish();
  return true;
}

bool read_list_bytes(const std::string& path, const char* what, const ListFileRules& rules,
                     std::size_t limit, std::string& bytes, std::string& error) {
  bytes.clear();
  return stream_list(path, what, rules, error, [&](std::string_view more) {
    if (more.size() > limit - bytes.size()) {
      char reason[64];
      std::snprintf(reason, sizeof reason, "it holds more than %zu MiB", limit >> 20);
      error = std::string("cannot read the ") + what + " \"" + path + "\": " + reason;
      bytes.clear();
      return false;
    }
    bytes.append(more);
    return true;
  });
}

std::vector<ListLine> split_list_lines(std::string_view bytes) {
  LineSplitter splitter;
  splitter.feed(bytes);
  return splitter.finish();
}

Name name_from_line(std::string_view line, bool* cut) {
  // Of a longer line the last 50 of its first 100 characters name the file.
  const std::string_view head = line.substr(0, 2 * kNameWidth);
  const std::string_view used =
      head.size() > kNameWidth ? head.substr(head.size() - kNameWidth) : head;
  *cut = line.size() > kNameWidth;
  Name name;
  fill_field(name, without_trailing_space(used));
  return name;
}

std::array<char, kEntryWidth> entry_from_line(std::string_view line, bool* cut) {
  *cut = line.size() > kEntryWidth;
  std::array<char, kEntryWidth> entry;
  fill_field(entry, without_trailing_space(line.substr(0, kEntryWidth)));
  return entry;
}

std::string names_folder(const std::string& list) {
  struct stat st;
  if (::stat(list.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) return {};
  const auto slash = list.find_last_of('/');
  return slash == std::string::npos ? std::string() : list.substr(0, slash + 1);
}

std::string path_in_folder(const std::string& folder, const std::string& name) {
  return name.starts_with('/') ? name : folder + name;
}

bool holds_nul(std::string_view line) { return line.find('\0') != std::string_view::npos; }

std::string shown_line(std::string_view line) {
  std::string shown;
  for (const char c : line) {
    if (c == '\0') {
      shown += "\\0";
    } else {
      shown += c;
    }
  }
  return shown;
}

bool output_target(const std::string& path, std::string& target, mode_t& mode, std::string& error) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  mode = 0666 & ~mask;
  target = path;
  if (const std::string link = refused_link(path); !link.empty()) {
    error = "\"" + path + "\" is not written: " + link_refusal(link);
    return false;
  }
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;  // a new file
    error = "\"" + path + "\" cannot be examined: " + std::strerror(errno);
    return false;
  }
  if (S_ISLNK(st.st_mode)) {
    // The link is the user's way to the file: the file is replaced and the link stays.
    std::error_code ec;
    const std::filesystem::path resolved = std::filesystem::canonical(path, ec);
    if (ec || ::stat(resolved.c_str(), &st) != 0) {
      error = "\"" + path + "\" is a symbolic link to nothing; left as it is";
      return false;
    }
    target = resolved.string();
  }
  if (S_ISDIR(st.st_mode)) {
    error = "\"" + path + "\" is a directory; left as it is";
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = "\"" + path + "\" is not a regular file; left as it is";
    return false;
  }
  mode &= st.st_mode & 0777;  // never wider than the file it replaces
  return true;
}

bool write_lines_atomically(const std::filesystem::path& path, std::span<const std::string> lines,
                            std::string& error) {
  std::string text;
  for (const auto& line : lines) {
    text += line;
    text += '\n';
  }
  std::string target;
  mode_t mode = 0;
  if (!output_target(path.string(), target, mode, error)) return false;
  std::string temp = target + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) {
    error = "cannot create a file beside " + target + ": " + std::strerror(errno);
    return false;
  }
  std::size_t done = 0;
  int failure = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failure = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  // Lists are plain text for the user: the usual permissions, not mkstemp's 0600.
  if (failure == 0 && fchmod(fd, mode) != 0) failure = errno;
  if (close(fd) != 0 && failure == 0) failure = errno;
  if (failure != 0) {
    error = "cannot write " + path.string() + ": " + std::strerror(failure);
    unlink(temp.c_str());
    return false;
  }
  if (std::rename(temp.c_str(), target.c_str()) != 0) {
    error = "cannot replace " + path.string() + ": " + std::strerror(errno);
    unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace xcn
