// Reading the name list and the station list.
#include "driver/lists.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "driver/console.hpp"
#include "driver/params.hpp"
#include "msg/message.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The text without trailing white space: a blank, tab or CR after a name is not part of it.
std::string_view without_trailing_space(std::string_view text) {
  const std::size_t end = text.find_last_not_of(" \t\r\n\v\f");
  return end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
}

// Splits bytes into lines as they come, keeping at most kMaxLine characters of a line, so that
// a list without line ends cannot take all memory.
class LineSplitter {
 public:
  void feed(std::string_view bytes) {
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
  std::vector<ListLine> finish() {
    if (open_) end_line();
    return std::move(lines_);
  }

 private:
  void end_line() {
    lines_.push_back(std::move(line_));
    line_ = {};
    open_ = false;
  }

  std::vector<ListLine> lines_;
  ListLine line_;
  bool open_ = false;  // a line has begun and not ended
  bool after_cr_ = false;
};

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// A list comes from a file or through a pipe. A device such as /dev/zero or a socket never
// ends; a directory holds no lines.
bool list_kind(const struct stat& st) { return S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode); }

}  // namespace

std::vector<ListLine> read_list_file(const std::string& path, const char* what) {
  auto fail = [&](const char* reason) {
    return Fatal{2, std::string("xcorrnet_v3: error: cannot open the ") + what + " \"" + path +
                        "\": " + reason};
  };
  constexpr const char* kNotAList = "it is neither a regular file nor a pipe";
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) throw fail(std::strerror(errno));
    // A list that does not exist is created empty and holds no line.
    std::ofstream create(path);
    if (!create) throw fail(std::strerror(errno));
    return {};
  }
  if (S_ISDIR(st.st_mode)) throw fail("it is a directory");
  if (!list_kind(st)) throw fail(kNotAList);
  // A pipe's open waits for its writer, as it should; anything else is opened without waiting
  // and checked again on its descriptor, in case the name changed in between.
  const int flags = O_RDONLY | O_CLOEXEC | (S_ISFIFO(st.st_mode) ? 0 : O_NONBLOCK);
  const Descriptor fd(::open(path.c_str(), flags));
  if (fd.get() < 0) throw fail(std::strerror(errno));
  if (::fstat(fd.get(), &st) != 0) throw fail(std::strerror(errno));
  if (!list_kind(st)) throw fail(kNotAList);
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);

  LineSplitter splitter;
  std::string head;  // the first bytes, until a byte-order mark can be told
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      throw Fatal{2, std::string("xcorrnet_v3: error: cannot read the ") + what + " \"" + path +
                         "\": " + std::strerror(errno)};
    }
    std::string_view bytes(buffer, static_cast<std::size_t>(got));
    if (head.size() < kByteOrderMark.size()) {
      head.append(bytes);
      if (got > 0 && head.size() < kByteOrderMark.size()) continue;
      bytes = head;
      if (bytes.starts_with(kByteOrderMark)) bytes.remove_prefix(kByteOrderMark.size());
    }
    splitter.feed(bytes);
    if (got == 0) break;
  }
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

std::vector<Name> read_name_list(const std::string& path, std::FILE* err) {
  const std::vector<ListLine> lines = read_list_file(path, "name list");
  std::vector<Name> names;
  names.reserve(lines.size());
  for (std::size_t k = 0; k < lines.size(); ++k) {
    bool cut = false;
    if (holds_nul(lines[k].text)) {
      // The name would end at the NUL and the result land under another name: no name.
      names.push_back(name_from_line("", &cut));
      std::fprintf(err,
                   "xcorrnet_v3: warning: line %zu of the name list holds a NUL byte; pair %zu "
                   "is skipped\n",
                   k + 1, k + 1);
      continue;
    }
    names.push_back(name_from_line(lines[k].text, &cut));
    const std::string used = trimmed(std::string_view(names.back().data(), kNameWidth));
    if (used.empty()) {
      // The pair keeps its place in the order, but a file cannot be named by nothing.
      std::fprintf(err,
                   "xcorrnet_v3: warning: line %zu of the name list is blank; pair %zu is "
                   "skipped\n",
                   k + 1, k + 1);
    } else if (cut) {
      std::fprintf(err,
                   "xcorrnet_v3: warning: line %zu of the name list has %zu characters; "
                   "using the name \"%s\"\n",
                   k + 1, lines[k].length, used.c_str());
    }
  }
  return names;
}

}  // namespace xcn
