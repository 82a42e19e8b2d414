// Reading SAC files: header version and byte-order detection, character block, samples.
#include "sacio/read.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "msg/message.hpp"
#include "sacio/file.hpp"
#include "sacio/header_model.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {

namespace {

constexpr int kNvhdrOffset = 304;

// Why the header of the last file this thread read could not be read whole: the file is empty,
// or too short for any header, which the wording of the failure says rather than that it is
// shorter than its header says.
enum class Shortfall { kNone, kEmpty, kNoHeader };
thread_local Shortfall g_last_shortfall = Shortfall::kNone;

// What a file of `size` bytes lacks when its header cannot be read.
Shortfall header_shortfall(long long size) {
  if (size == 0) return Shortfall::kEmpty;
  return size < kHeaderBytes ? Shortfall::kNoHeader : Shortfall::kNone;
}

std::int32_t load_i32(const unsigned char* p) {
  std::int32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

bool valid_version(std::int32_t v) { return v >= 1 && v <= kHeaderVersion; }

void swap4(unsigned char* p) {
  unsigned char t = p[0];
  p[0] = p[3];
  p[3] = t;
  t = p[1];
  p[1] = p[2];
  p[2] = t;
}

int name_width(const char* name, int length) {
  return length < 0 ? static_cast<int>(std::strlen(name)) + 1 : length + 1;
}

// Outputs an error about the file at once and clears it.
void report_file_error(int number, const char* kname, int kname_len) {
  setmsg("ERROR", number);
  apcmsg(kname, name_width(kname, kname_len));
  outmsg();
  clrmsg();
}

// Opens the file and reads its header; the handle stays 0 when the file could not be opened.
int open_and_read_header(const char* kname, int kname_len, int* handle, int* nerr) {
  zopen_sac(handle, kname, kname_len, "RODATA", 6, nerr);
  if (*nerr != 0) return 0;
  return sac_header_read(*handle, nerr);
}

// A character field of the file ends at its first NUL. Other programs end a shorter text
// there and leave the old "-12345  " behind it; that rest is padding and reads as blanks.
void copy_char_field(char* slot, const unsigned char* field, std::size_t width) {
  const void* nul = std::memchr(field, '\0', width);
  const std::size_t n =
      nul != nullptr ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - field)
                     : width;
  std::memcpy(slot, field, n);
  std::memset(slot + n, ' ', width - n);
}

void close_handle(int handle) {
  int ignored = 0;
  zclose(&handle, &ignored);
}

// What a read prints for a file whose version word fits neither byte order.
void report_not_sac() {
  setmsg("ERROR", SACIO_ERR_NOT_SAC);
  const char* why = "not in sac format, nor byteswapped sac format.";
  aplmsg(why, static_cast<int>(std::strlen(why)) + 1);
  outmsg();
  clrmsg();
}

// What a read prints for a damaged header that promises a negative number of samples.
void report_negative_npts(const char* kname, int kname_len, std::int32_t npts) {
  setmsg("ERROR", SACIO_ERR_NOT_SAC);
  apcmsg(kname, name_width(kname, kname_len));
  aplmsg("NPTS is negative:", 18);
  apimsg(npts);
  outmsg();
  clrmsg();
}

std::string failure_text(int nerr, Shortfall shortfall) {
  switch (nerr) {
    case SACIO_ERR_OPEN:
      return "the file cannot be opened";
    case SACIO_ERR_NO_FILE:
      return "the file does not exist";
    case SACIO_ERR_SHORT_READ:
      if (shortfall == Shortfall::kEmpty) return "the file is empty";
      if (shortfall == Shortfall::kNoHeader) {
        return "it is not a SAC file (too short to hold a header)";
      }
      return "the file is shorter than its header says";
    case SACIO_ERR_NOT_EVEN:
      return "the record is not evenly sampled (LEVEN is false)";
    case SACIO_ERR_NOT_SAC:
      return "it is not a SAC file";
    default:
      return "read error " + std::to_string(nerr);
  }
}

// A character field of `width` bytes of the file's character block, as copy_char_field gives it.
std::string char_field(const unsigned char* field, std::size_t width) {
  char slot[16];
  copy_char_field(slot, field, width);
  return std::string(slot, width);
}

}  // namespace

int byteswap(void* value, int size) {
  if (size != 2 && size != 4 && size != 8) return -1;
  auto* p = static_cast<unsigned char*>(value);
  for (int i = 0, j = size - 1; i < j; ++i, --j) {
    const unsigned char t = p[i];
    p[i] = p[j];
    p[j] = t;
  }
  return 0;
}

int sac_check_header_version(const unsigned char* numeric_block, int* nerr) {
  unsigned char word[4];
  std::memcpy(word, numeric_block + kNvhdrOffset, 4);
  if (valid_version(load_i32(word))) return 0;
  swap4(word);
  if (valid_version(load_i32(word))) return 1;
  *nerr = SACIO_ERR_NOT_SAC;
  return -1;
}

void sac_header_swap(unsigned char* numeric_block) {
  for (int i = 0; i < kNumericWords; ++i) swap4(numeric_block + 4 * i);
}

void map_chdr_in(const unsigned char* block) {
  // KSTNM, then KEVNM's 16 characters across slots 2 and 3, then 21 fields of 8.
  copy_char_field(Khdr(kKstnm), block, 8);
  Khdr(kKstnm)[8] = '\0';
  copy_char_field(Khdr(kKevnm), block + 8, 16);
  Khdr(kKevnm)[16] = '\0';
  Khdr(kKevnmc)[8] = '\0';
  for (int slot = 4; slot <= kCharSlots; ++slot) {
    copy_char_field(Khdr(slot), block + 24 + 8 * (slot - 4), 8);
    Khdr(slot)[8] = '\0';
  }
}

int sac_header_read(int handle, int* nerr) {
  *nerr = 0;
  unsigned char numeric[kNumericBytes];
  const int at_start = 0;
  zrabs(&handle, numeric, kNumericWords, &at_start, nerr);
  const auto note_shortfall = [handle] {
    struct stat st;
    if (handle < 0 && fstat(-handle, &st) == 0) g_last_shortfall = header_shortfall(st.st_size);
  };
  if (*nerr != 0) {
    note_shortfall();
    return 0;
  }
  std::memcpy(header_numeric_bytes(), numeric, sizeof numeric);

  const int swap = sac_check_header_version(header_numeric_bytes(), nerr);
  if (swap < 0) {
    report_not_sac();
    return 0;
  }
  if (swap == 1) sac_header_swap(header_numeric_bytes());

  unsigned char chars[kCharBlockBytes];
  const int char_word = kNumericWords;
  zrabs(&handle, chars, kCharBlockWords, &char_word, nerr);
  if (*nerr != 0) {
    note_shortfall();
    return swap;
  }
  map_chdr_in(chars);
  return swap;
}

void sac_data_swap(float* array, int count) {
  for (int i = 0; i < count; ++i) byteswap(&array[i], 4);
}

void sac_data_read(int handle, float* array, int count, int component, int swap, int* nerr) {
  *nerr = 0;
  if (count <= 0) return;
  const long long word = kDataWord + static_cast<long long>(component - 1) * count;
  if (handle >= 0 || word < 0 ||
      !read_fully(-handle, array, static_cast<std::size_t>(count) * 4,
                  static_cast<off_t>(word) * 4)) {
    *nerr = SACIO_ERR_SHORT_READ;
    setmsg("ERROR", SACIO_ERR_SHORT_READ);
    return;
  }
  if (swap != 0) sac_data_swap(array, count);
}

void rsac1(const char* kname, float* yarray, int* nlen, float* beg, float* del, const int* max,
           int* nerr, int kname_len) {
  *nerr = 0;
  // A failure stores no sample: the count says so, whatever the step that failed.
  *nlen = 0;
  g_last_shortfall = Shortfall::kNone;
  int handle = 0;
  bool truncated = false;
  sacio_initialize_common();
  if (kname == nullptr) kname = "";

  const int swap = open_and_read_header(kname, kname_len, &handle, nerr);
  if (*nerr == 0) {
    const int capacity = *max > 0 ? *max : 0;
    const std::int32_t npts = Nhdr(kNpts);
    if (Lhdr(kLeven) == 0) {
      *nerr = SACIO_ERR_NOT_EVEN;
      report_file_error(SACIO_ERR_NOT_EVEN, kname, kname_len);
    } else if (npts < 0) {
      // A damaged header: nothing is stored and nothing is derived from it.
      *nlen = 0;
      *nerr = SACIO_ERR_NOT_SAC;
      report_negative_npts(kname, kname_len, npts);
    } else {
      int count = npts;
      if (npts > capacity) {
        count = capacity;
        truncated = true;
      }
      *nlen = count;
      *beg = Fhdr(kB);
      *del = Fhdr(kDelta);
      sac_data_read(handle, yarray, count, 1, swap, nerr);
      if (*nerr == 0) {
        Nhdr(kNpts) = count;
        Fhdr(kE) = Fhdr(kB) + static_cast<float>(count - 1) * Fhdr(kDelta);
      } else {
        *nlen = 0;
      }
    }
  }
  if (*nerr == 0 && truncated) *nerr = kWarnTruncated;
  close_handle(handle);
}

void rsach(const char* kname, int* nerr, int kname_len) {
  *nerr = 0;
  g_last_shortfall = Shortfall::kNone;
  int handle = 0;
  sacio_initialize_common();
  open_and_read_header(kname != nullptr ? kname : "", kname_len, &handle, nerr);
  close_handle(handle);
}

std::string read_failure(int nerr) { return failure_text(nerr, g_last_shortfall); }

std::string SacHeader::text(int slot) const {
  const unsigned char* chars = bytes.data() + kNumericBytes;
  if (slot == kKstnm) return char_field(chars, 8);
  // KEVNM spans slots 2 and 3 and ends at its first NUL as one field.
  if (slot == kKevnm) return char_field(chars + 8, 16);
  if (slot == kKevnmc) return char_field(chars + 8, 16).substr(8);
  return char_field(chars + 24 + 8 * (slot - 4), 8);
}

int SacReader::fail(Fault fault, int nerr) {
  fault_ = fault;
  nerr_ = nerr;
  return nerr;
}

SacReader::SacReader(const std::string& path, Access access) {
  // As zopen_sac: a name that cannot be looked up is no file. As zopenc: a FIFO or a device is
  // refused by its name before it is touched, and by its descriptor, opened without waiting,
  // in case the name changed in between.
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    fail(Fault::kNoFile, SACIO_ERR_NO_FILE);
    return;
  }
  if (!S_ISREG(st.st_mode)) {
    fail(Fault::kOpen, SACIO_ERR_OPEN);
    return;
  }
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
  if (access == Access::kUnrecorded) {
    // Only the file's owner may leave its access time; anyone else reads as usual.
    fd_ = ::open(path.c_str(), kFlags | O_NOATIME);
    if (fd_ < 0 && errno == EPERM) fd_ = ::open(path.c_str(), kFlags);
  } else {
    fd_ = ::open(path.c_str(), kFlags);
  }
  if (fd_ < 0 || fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    fail(Fault::kOpen, SACIO_ERR_OPEN);
    return;
  }
  header_.file_size = static_cast<long long>(st.st_size);
  // In rsac1's order: the numeric block, its version word, then the character block; both
  // with one read where the file holds them.
  unsigned char* const bytes = header_.bytes.data();
  const bool whole = header_.file_size >= kNumericBytes + kCharBlockBytes &&
                     read_fully(fd_, bytes, kNumericBytes + kCharBlockBytes, 0);
  const Fault cut = st.st_size == 0 ? Fault::kEmpty : Fault::kNoHeader;
  if (!whole && !read_fully(fd_, bytes, kNumericBytes, 0)) {
    fail(cut, SACIO_ERR_SHORT_READ);
    return;
  }
  int nerr = 0;
  const int swap = sac_check_header_version(bytes, &nerr);
  if (swap < 0) {
    fail(Fault::kNotSac, SACIO_ERR_NOT_SAC);
    return;
  }
  if (!whole && !read_fully(fd_, bytes + kNumericBytes, kCharBlockBytes, kNumericBytes)) {
    fail(cut, SACIO_ERR_SHORT_READ);
    return;
  }
  unsigned char numeric[kNumericBytes];
  std::memcpy(numeric, bytes, sizeof numeric);
  if (swap == 1) sac_header_swap(numeric);
  std::memcpy(&header_.words, numeric, sizeof numeric);
  header_.swapped = swap == 1;
}

SacReader::~SacReader() {
  if (fd_ >= 0) ::close(fd_);
}

int SacReader::check_samples() {
  if (nerr_ != 0) return nerr_;
  const std::int32_t npts = header_.integer(kNpts);
  if (header_.logical(kLeven) == 0) return fail(Fault::kUneven, SACIO_ERR_NOT_EVEN);
  if (npts < 0) return fail(Fault::kNegativeNpts, SACIO_ERR_NOT_SAC);
  // NPTS is trusted only as far as the file's size bears it out.
  if (header_.file_size < kHeaderBytes + 4LL * npts) {
    return fail(Fault::kShort, SACIO_ERR_SHORT_READ);
  }
  return 0;
}

int SacReader::read_samples(std::vector<float>& y) {
  y.clear();
  if (check_samples() != 0) return nerr_;
  const std::size_t n = static_cast<std::size_t>(header_.integer(kNpts));
  y.resize(n);
  // A file cut after its size was taken.
  if (n > 0 && !read_fully(fd_, y.data(), n * 4, kHeaderBytes)) {
    y.clear();
    return fail(Fault::kShort, SACIO_ERR_SHORT_READ);
  }
  if (header_.swapped) sac_data_swap(y.data(), static_cast<int>(n));
  return 0;
}

int SacReader::read_range(std::size_t first, std::size_t count, float* y) {
  if (check_samples() != 0) return nerr_;
  const std::size_t n = static_cast<std::size_t>(header_.integer(kNpts));
  if (first > n || count > n - first) return fail(Fault::kShort, SACIO_ERR_SHORT_READ);
  if (count > 0 && !read_fully(fd_, y, count * 4, kHeaderBytes + 4 * static_cast<off_t>(first))) {
    return fail(Fault::kShort, SACIO_ERR_SHORT_READ);
  }
  if (header_.swapped) sac_data_swap(y, static_cast<int>(count));
  return 0;
}

std::string SacReader::failure() const {
  return failure_text(nerr_, fault_ == Fault::kEmpty      ? Shortfall::kEmpty
                             : fault_ == Fault::kNoHeader ? Shortfall::kNoHeader
                                                          : Shortfall::kNone);
}

void SacReader::report(const char* kname, int kname_len) const {
  if (kname == nullptr) kname = "";
  sacio_initialize_common();
  switch (fault_) {
    case Fault::kNotSac:
      report_not_sac();
      break;
    case Fault::kNegativeNpts:
      report_negative_npts(kname, kname_len, header_.integer(kNpts));
      break;
    case Fault::kUneven:
      report_file_error(SACIO_ERR_NOT_EVEN, kname, kname_len);
      break;
    default:
      // rsac1 composes the other failures without printing them.
      break;
  }
}

}  // namespace xcn
