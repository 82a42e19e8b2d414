// Fuzz target: wsac0 with an arbitrary header, sample count and arrays onto every kind of name
// (new, a file, a read-only file, a pipe, a folder, links of ours to a file, to nothing and to a
// pipe), the name terminated, blank-padded or holding a NUL inside its length. A write either
// succeeds with a whole file that reads back, or leaves the name as it was; nothing waits, and no
// temporary is left.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/common.hpp"
#include "sacio/header_model.hpp"
#include "sacio/read.hpp"
#include "xcorrnet/sacio.h"

namespace {

using xcn::fuzz::broken;
using xcn::fuzz::Input;

enum Flags : std::uint8_t {
  kPaddedName = 1,   // the name blank-padded with its length, not terminated
  kNullY = 2,        // no first component
  kNullX = 4,        // no second component
  kNotPositive = 8,  // a sample count of 0 or less
  kNulInName = 16,   // the name given with its length, a NUL and more after it
};

enum class Kind { kNew, kFile, kReadOnly, kFifo, kFolder, kLinkToFile, kDangling, kLinkToFifo };
constexpr int kKinds = 8;

const std::string& folder() {
  static const std::string dir = [] {
    const std::string d = xcn::fuzz::scratch_file("w");
    mkdir(d.c_str(), 0700);
    return d;
  }();
  return dir;
}

// Removes everything in the folder (one level, and the folder under the name).
void empty_folder() {
  DIR* d = opendir(folder().c_str());
  if (d == nullptr) broken("scratch folder");
  std::vector<std::string> names;
  while (const dirent* e = readdir(d)) {
    const std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(folder() + "/" + n);
  }
  closedir(d);
  for (const std::string& n : names) {
    if (unlink(n.c_str()) != 0 && rmdir(n.c_str()) != 0) broken("cannot clear the folder");
  }
}

const std::string kOld = "old bytes of the file";

// Puts the kind of thing under `name`; returns the path whose content a write may replace.
std::string make(Kind kind, const std::string& name) {
  const std::string target = folder() + "/target.sac";
  const auto put_file = [](const std::string& path, mode_t mode) {
    xcn::fuzz::write_file(path, kOld.data(), kOld.size());
    if (chmod(path.c_str(), mode) != 0) broken("chmod");
  };
  switch (kind) {
    case Kind::kNew:
      return name;
    case Kind::kFile:
      put_file(name, 0644);
      return name;
    case Kind::kReadOnly:
      put_file(name, 0444);
      return name;
    case Kind::kFifo:
      if (mkfifo(name.c_str(), 0644) != 0) broken("mkfifo");
      return name;
    case Kind::kFolder:
      if (mkdir(name.c_str(), 0755) != 0) broken("mkdir");
      return name;
    case Kind::kLinkToFile:
      put_file(target, 0640);
      break;
    case Kind::kDangling:
      break;
    case Kind::kLinkToFifo:
      if (mkfifo(target.c_str(), 0644) != 0) broken("mkfifo");
      break;
  }
  if (symlink("target.sac", name.c_str()) != 0) broken("symlink");
  return target;
}

std::string content(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return {};
  std::string out;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
  std::fclose(f);
  return out;
}

mode_t type_of(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

bool temporary_left() {
  DIR* d = opendir(folder().c_str());
  bool left = false;
  while (const dirent* e = readdir(d)) left = left || std::strncmp(e->d_name, ".wsac0.", 7) == 0;
  closedir(d);
  return left;
}

}  // namespace

const xcn::fuzz::Messages xcn::fuzz::kMessages = xcn::fuzz::Messages::kShipped;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const std::uint8_t flags = in.byte();
  const Kind kind = static_cast<Kind>(in.byte() % kKinds);
  const int count = in.u16() % 1025;
  const int npts = (flags & kNotPositive) ? -count : count;
  unsigned char numeric[xcn::kNumericBytes] = {};
  const std::string_view raw_numeric = in.bytes(sizeof numeric);
  std::memcpy(numeric, raw_numeric.data(), raw_numeric.size());
  unsigned char chars[xcn::kCharBlockBytes] = {};
  const std::string_view raw_chars = in.bytes(sizeof chars);
  std::memcpy(chars, raw_chars.data(), raw_chars.size());

  empty_folder();
  const std::string name = folder() + "/r.sac";
  const std::string replaced = make(kind, name);
  const mode_t type_before = type_of(name);
  const std::string before =
      kind == Kind::kFifo || kind == Kind::kLinkToFifo ? "" : content(replaced);

  // Any header the caller may have set, with a sample count the arrays hold.
  newhdr();
  std::memcpy(xcn::header_numeric_bytes(), numeric, sizeof numeric);
  xcn::map_chdr_in(chars);
  xcn::Nhdr(xcn::kNpts) = npts;
  const bool uneven = xcn::Lhdr(xcn::kLeven) == 0;
  const std::size_t room = static_cast<std::size_t>(count);
  // Exactly the samples the header announces, so a read past them is caught.
  std::vector<float> y(room), x(room);
  for (std::size_t k = 0; k < room; ++k) {
    const std::string_view b = in.bytes(4);
    std::memcpy(&y[k], b.data(), b.size());
    x[k] = static_cast<float>(k);
  }
  const std::vector<float> samples = y;
  float* yp = (flags & kNullY) ? nullptr : y.data();
  float* xp = (flags & kNullX) ? nullptr : x.data();
  const std::int32_t version = xcn::Nhdr(xcn::kNvhdr);
  const bool lovrok = xcn::Lhdr(xcn::kLovrok) != 0;

  int nerr = -1;
  if (flags & kNulInName) {
    const std::string cut = name + std::string("\0.old", 5);
    wsac0(cut.data(), xp, yp, &nerr, static_cast<int>(cut.size()));
  } else if (flags & kPaddedName) {
    const std::string padded = name + "      ";
    wsac0(padded.c_str(), xp, yp, &nerr, static_cast<int>(padded.size()));
  } else {
    wsac0(name.c_str(), xp, yp, &nerr, -1);
  }

  // What the write must come to, in the order the refusals are made.
  int want = 0;
  const bool nulls = yp == nullptr || (uneven && xp == nullptr);
  if (nulls) {
    want = SACIO_ERR_NULL_ARGUMENT;
  } else if (flags & kNulInName) {
    want = SACIO_ERR_NAME_NUL;
  } else if (npts <= 0) {
    want = SACIO_ERR_WRITE;
  } else if (!lovrok) {
    want = SACIO_ERR_NO_OVERWRITE;
  } else if (version < 1 || version > 6) {
    want = SACIO_ERR_BAD_VERSION;
  } else if (kind == Kind::kReadOnly || kind == Kind::kFifo || kind == Kind::kFolder ||
             kind == Kind::kDangling || kind == Kind::kLinkToFifo) {
    want = SACIO_ERR_OPEN;
  }
  if (nerr != want) broken("wsac0 error number");
  if (temporary_left()) broken("a temporary left beside the result");
  const mode_t type_after = nerr == 0 && kind == Kind::kNew ? S_IFREG : type_before;
  if (type_of(name) != type_after) broken("the name changed its kind");

  if (nerr != 0) {
    if (kind != Kind::kFifo && kind != Kind::kLinkToFifo && content(replaced) != before)
      broken("a refused write changed the file");
    if (kind == Kind::kDangling && type_of(replaced) != 0) broken("a link to nothing was followed");
    return 0;
  }
  const std::string written = content(replaced);
  if (written.size() != 632 + room * 4 * (uneven ? 2 : 1)) broken("file size");
  if (uneven) return 0;

  // An evenly sampled file reads back to the samples given, bit for bit (the byte order is the
  // host's: SAC_WRITE_BYTE_ORDER is not set for this target).
  std::vector<float> again(room + 1);
  int nlen = -1, capacity = static_cast<int>(room) + 1;
  float begin = 0.0f, interval = 0.0f;
  int read_nerr = -1;
  rsac1(name.c_str(), again.data(), &nlen, &begin, &interval, &capacity, &read_nerr, -1);
  if (read_nerr != 0 || nlen != count) broken("a written file does not read back");
  if (std::memcmp(again.data(), samples.data(), room * 4) != 0) broken("samples read back");
  return 0;
}
