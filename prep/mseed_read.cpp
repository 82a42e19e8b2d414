// Reading miniSEED files through libmseed: an index of their records, then their samples.
#include "prep/mseed_read.hpp"

#include <fcntl.h>
#include <libmseed.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <span>

namespace xcn::prep {
namespace {

// The fixed section of a record header, as this reader uses it (byte offsets):
//    0  sequence number, 6 digits        20  start: year (2 bytes), day of year (2 bytes),
//    6  quality indicator: D R Q or M        hour, minute, second, unused (1 byte each),
//    8  station, location, channel,          ten-thousandths of a second (2 bytes)
//       network codes (5, 2, 3, 2)       30  number of samples (2 bytes)
//   39  number of blockettes             44  where the data begin (2 bytes)
// Two-byte fields are in the header's byte order, which the year tells, as libmseed tells it;
// libmseed hands them over in this machine's order (msr->fsdh).
constexpr int kFixedHeader = 48;
// Zeros kept after the bytes handed to libmseed: it copies a blockette of fixed size (up to 200
// bytes) that a damaged header places at the end of the record without checking that it fits.
constexpr std::size_t kSlack = 4096;

struct RecordDeleter {
  void operator()(MSRecord* msr) const { msr_free(&msr); }
};
using RecordPtr = std::unique_ptr<MSRecord, RecordDeleter>;

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Reads up to `size` bytes at `offset`: the count read, short at the end of the file or on an
// error (whose errno is left in `error`, else 0).
std::size_t read_at(int fd, char* into, std::size_t size, std::int64_t offset, int& error) {
  error = 0;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = pread(fd, into + done, size - done, static_cast<off_t>(offset) + done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::string clean(const char* field) {
  std::string s(field);
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

std::string where(const std::string& path, std::int64_t offset) {
  return path + " at byte " + std::to_string(offset);
}

// Opens a regular file for reading without ever waiting on a pipe or a device.
int open_regular(const std::string& path, std::string& reason) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    reason = std::strerror(errno);
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    reason = S_ISDIR(st.st_mode) ? "it is a directory" : "it is not a regular file";
    close(fd);
    return -1;
  }
  return fd;
}

std::uint16_t u16(const char* p, bool big_endian) {
  const auto a = static_cast<unsigned char>(p[0]);
  const auto b = static_cast<unsigned char>(p[1]);
  return static_cast<std::uint16_t>(big_endian ? (a << 8) | b : (b << 8) | a);
}

// Whether a record header begins at p (with n bytes there): libmseed's signature, and a year
// and day of year it would read in one of the two byte orders.
bool header_at(const char* p, int n) {
  if (n < kFixedHeader || ms_detect(p, std::min(n, 256)) < 0) return false;
  for (const bool big_endian : {true, false}) {
    const int year = u16(p + 20, big_endian);
    const int day = u16(p + 22, big_endian);
    if (year >= 1900 && year <= 2100 && day >= 1 && day <= 366) return true;
  }
  return false;
}

// libmseed reads years 1900 to 2100 (how it tells the byte order); anything else in a start
// time, such as day 0 or 367, would silently move the record to another day or year.
bool possible_time(const BTime& t) {
  return t.year >= 1900 && t.year <= 2100 && t.day >= 1 && t.day <= days_in_year(t.year) &&
         t.hour <= 23 && t.min <= 59 && t.sec <= 60 && t.fract <= 9999;
}

std::string time_text(const BTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "year %u, day %u, %02u:%02u:%02u.%04u", t.year, t.day, t.hour,
                t.min, t.sec, t.fract);
  return text;
}

std::string number(double x) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", x);
  return text;
}

// Why the header's sample count cannot be decoded from a record of `length` bytes, or nothing.
// Debian's libmseed trusts the count: an int32 record claiming more samples than it holds is
// decoded from the memory after it.
std::string data_fault(const MSRecord& msr, int length) {
  if (msr.samplecnt <= 0) return {};
  const int offset = msr.fsdh->data_offset;
  if (offset < kFixedHeader || offset >= length) {
    return "its data would begin at byte " + std::to_string(offset) + ", outside its " +
           std::to_string(length) + " bytes";
  }
  const std::int64_t room = sample_room(msr.encoding, length - offset);
  if (room < 0) return "unknown data encoding " + std::to_string(msr.encoding);
  if (msr.samplecnt > room) {
    return "its header claims " + std::to_string(msr.samplecnt) + " samples, more than its " +
           std::to_string(length - offset) + " bytes of data can hold (" + std::to_string(room) +
           ")";
  }
  return {};
}

// Steim frames carry their last sample (X(n), the third word of the first frame): one damaged
// word changes every sample after it, and libmseed only logs the mismatch.
std::string steim_fault(const MSRecord& msr, const char* record) {
  if ((msr.encoding != DE_STEIM1 && msr.encoding != DE_STEIM2) || msr.numsamples <= 0) return {};
  const auto* b = reinterpret_cast<const unsigned char*>(record + msr.fsdh->data_offset + 8);
  const std::uint32_t word =
      msr.byteorder == 0 ? b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24
                         : static_cast<std::uint32_t>(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
  const auto said = static_cast<std::int32_t>(word);
  const std::int32_t last = static_cast<const std::int32_t*>(msr.datasamples)[msr.numsamples - 1];
  if (last == said) return {};
  return "the last sample is " + std::to_string(last) + " where its Steim frames say " +
         std::to_string(said);
}

// A stretch of a file at a time, enough for the longest record from any offset asked for: each
// byte is read once, and memory stays the same whatever the file's size.
class FileWindow {
 public:
  static constexpr std::int64_t kLook = MAXRECLEN;
  FileWindow(int fd, std::int64_t size)
      : fd_(fd),
        size_(size),
        buffer_(static_cast<std::size_t>(std::min(size, 2 * kLook)) + kSlack, 0) {}
  // The bytes from `offset` on, kLook of them or up to the end of the file; false, with the
  // errno in `error`, when they cannot be read.
  bool at(std::int64_t offset, std::span<char>& view, int& error) {
    error = 0;
    const std::int64_t want = std::min(kLook, size_ - offset);
    if (offset < base_ || offset + want > base_ + filled_) {
      // What is still ahead is kept; the rest of the window is read after it.
      std::int64_t kept = 0;
      if (offset >= base_ && offset < base_ + filled_) {
        kept = base_ + filled_ - offset;
        std::memmove(buffer_.data(), buffer_.data() + (offset - base_),
                     static_cast<std::size_t>(kept));
      }
      const auto room = static_cast<std::int64_t>(buffer_.size() - kSlack);
      const std::int64_t more = std::min(room, size_ - offset) - kept;
      const std::size_t got =
          read_at(fd_, buffer_.data() + kept, static_cast<std::size_t>(more), offset + kept, error);
      base_ = offset;
      filled_ = kept + static_cast<std::int64_t>(got);
      std::memset(buffer_.data() + filled_, 0, kSlack);
      if (static_cast<std::int64_t>(got) < more) {
        if (error != 0) return false;
        size_ = base_ + filled_;  // the file was cut while it was read
      }
    }
    view = {buffer_.data() + (offset - base_),
            static_cast<std::size_t>(std::clamp<std::int64_t>(size_ - offset, 0, kLook))};
    return true;
  }
  std::int64_t size() const { return size_; }

 private:
  int fd_;
  std::int64_t size_;
  std::vector<char> buffer_;
  std::int64_t base_ = 0;
  std::int64_t filled_ = 0;
};

// What lies at an offset of a file.
struct Found {
  enum class Kind { kNoRecord, kRecord, kCutShort, kLengthUnknown };
  Kind kind = Kind::kNoRecord;
  RecordPtr msr;    // the record's header
  int length = 0;   // its bytes in the file
  int claimed = 0;  // the length its blockette 1000 claims, when another record begins inside it
};

// `view`: the bytes from the offset on (up to the longest record); `at_end`: whether they run to
// the end of the file; `known`: the length of the records of the file before (0 if none).
Found find_record(std::span<char> view, bool at_end, int known) {
  Found f;
  const int n = static_cast<int>(view.size());
  MSRecord* raw = nullptr;
  const int status = msr_parse(view.data(), n, &raw, -1, 0, 0);
  RecordPtr msr(raw);
  int claimed = 0;  // a length from blockette 1000, still to be believed
  if (status == 0 && msr != nullptr && msr->reclen > 0) {
    f.length = msr->reclen;
    if (msr->Blkt1000 != nullptr) claimed = f.length;
  } else if (status > 0) {
    msr.reset();
    const int detected = ms_detect(view.data(), n);
    if (detected > 0) {
      claimed = detected;
    } else if (detected == 0 && known > 0 && known <= n) {
      // No blockette 1000 and no record after it to say where it ends: the length of the others.
      f.length = known;
    } else if (detected == 0 && at_end) {
      f.kind = known > 0 ? Found::Kind::kCutShort : Found::Kind::kLengthUnknown;
      return f;
    } else {
      return f;
    }
  } else {
    return f;
  }
  if (claimed > 0) {
    // A length that holds another record header swallows the records after it: believe the
    // header, and read the record up to there.
    f.length = 0;
    for (int k = MINRECLEN; k < std::min(claimed, n); k += MINRECLEN) {
      if (header_at(view.data() + k, n - k)) {
        f.length = k;
        f.claimed = claimed;
        break;
      }
    }
    if (f.length == 0 && claimed <= n) f.length = claimed;
    if (f.length == 0) {
      f.kind = at_end ? Found::Kind::kCutShort : Found::Kind::kNoRecord;
      return f;
    }
  }
  if (msr == nullptr || f.length != msr->reclen) {
    raw = nullptr;
    const int forced = msr_unpack(view.data(), f.length, &raw, 0, 0);
    msr.reset(raw);
    if (forced != MS_NOERROR || msr == nullptr) return {};
  }
  f.msr = std::move(msr);
  f.kind = Found::Kind::kRecord;
  return f;
}

// Walks the records of one file in order: keeps what the index needs and says what it refuses,
// each kind of refusal once per file, at its first record, with how many more.
class FileIndexer {
 public:
  FileIndexer(const std::string& path, std::size_t file_index, Micros from, Micros to,
              std::vector<RecordRef>& records)
      : path_(path), file_(file_index), from_(from), to_(to), records_(records) {}

  bool run(FileWindow& window) {
    const std::int64_t size = window.size();
    if (size == 0) {
      say(0, path_ + " is empty; skipped");
      return true;
    }
    std::int64_t offset = 0;
    int known = 0;
    while (offset < window.size()) {
      std::span<char> view;
      int error = 0;
      if (!window.at(offset, view, error)) {
        bad_bytes_until(offset);
        say(offset,
            where(path_, offset) + ": the file cannot be read from there: " + std::strerror(error));
        return false;
      }
      if (offset == 0 && view.size() >= 3 && view[0] == 'M' && view[1] == 'S' && view[2] == 3) {
        say(0,
            path_ + " is miniSEED 3, which libmseed " LIBMSEED_VERSION " does not read; skipped");
        return false;
      }
      const bool at_end = offset + static_cast<std::int64_t>(view.size()) == window.size();
      Found f = find_record(view, at_end, known);
      if (f.kind == Found::Kind::kRecord) {
        bad_bytes_until(offset);
        if (f.claimed > 0) {
          refuse("length", offset,
                 "the record claims to be " + std::to_string(f.claimed) +
                     " bytes long, but another record begins at byte " +
                     std::to_string(offset + f.length),
                 "read up to there");
        }
        keep(*f.msr, offset, f.length);
        known = f.length;
        offset += f.length;
        continue;
      }
      if (f.kind == Found::Kind::kCutShort || f.kind == Found::Kind::kLengthUnknown) {
        bad_bytes_until(offset);
        const std::string held = std::to_string(view.size());
        say(offset,
            where(path_, offset) +
                (f.kind == Found::Kind::kCutShort
                     ? ": the last record is cut short (" + held + " bytes of it are in the file)"
                     : ": the length of the last record cannot be told (it has no "
                       "blockette 1000 and no record follows it); its " +
                           held + " bytes are skipped"));
        offset = window.size();
        break;
      }
      // Not a record here: look for the next one at the smallest record length.
      if (bad_from_ < 0) bad_from_ = offset;
      offset += MINRECLEN;
    }
    bad_bytes_until(window.size(), true);
    if (parsed_ > 0 && accepted_ == 0 && refusals_.empty()) {
      say(0, path_ + " holds no samples (its " + std::to_string(parsed_) +
                 (parsed_ == 1 ? " record holds" : " records hold") + " text or nothing); skipped");
    }
    return parsed_ > 0;
  }

  std::vector<std::string> lines() {
    for (const auto& [kind, r] : refusals_) {
      say(r.first, where(path_, r.first) + ": " + r.what + "; " + r.outcome +
                       (r.more > 0 ? " (" + std::to_string(r.more) + " more such " +
                                         (r.more == 1 ? "record" : "records") + " in the file)"
                                   : ""));
    }
    std::stable_sort(lines_.begin(), lines_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> out;
    for (auto& [at, line] : lines_) out.push_back(std::move(line));
    return out;
  }

 private:
  struct Refusal {
    std::int64_t first = 0;
    std::string what;
    std::string outcome;
    int more = 0;
  };

  void say(std::int64_t at, std::string line) { lines_.emplace_back(at, std::move(line)); }

  void refuse(const std::string& kind, std::int64_t at, std::string what, const char* outcome) {
    const auto [it, first] = refusals_.try_emplace(kind);
    if (first) {
      it->second = {at, std::move(what), outcome, 0};
    } else {
      ++it->second.more;
    }
  }

  // Ends a stretch of bytes that is no record; `to_end`: it runs to the end of the file.
  void bad_bytes_until(std::int64_t upto, bool to_end = false) {
    if (bad_from_ < 0) return;
    if (bad_from_ == 0 && to_end && parsed_ == 0) {
      say(0, path_ + " holds no miniSEED record (" + std::to_string(upto) + " bytes); skipped");
    } else {
      say(bad_from_, where(path_, bad_from_) + ": " + std::to_string(upto - bad_from_) +
                         " bytes are no miniSEED record; skipped");
    }
    bad_from_ = -1;
  }

  void keep(MSRecord& msr, std::int64_t offset, int length) {
    ++parsed_;
    // Log records (text) and headers alone hold no samples.
    if (msr.samplecnt <= 0 || msr.encoding == DE_ASCII) return;
    ChannelId id{clean(msr.network), clean(msr.station), clean(msr.location), clean(msr.channel)};
    const std::string whose = "the record of " + id.text();
    const BTime& t = msr.fsdh->start_time;
    if (!possible_time(t)) {
      refuse("time", offset, whose + " starts at an impossible time (" + time_text(t) + ")",
             "skipped");
      return;
    }
    const double rate = msr_samprate(&msr);
    if (!(rate >= kLowestRate && rate <= kHighestRate)) {
      refuse("rate", offset,
             whose + " has an unusable sampling rate (" + number(rate) + " Hz; " +
                 number(kLowestRate) + " to " + number(kHighestRate) + " Hz are read)",
             "skipped");
      return;
    }
    const double span = static_cast<double>(msr.samplecnt - 1) / rate * 1e6;  // microseconds
    if (span > static_cast<double>(kMaxRecordSpan)) {
      refuse("span", offset,
             whose + " claims " + std::to_string(msr.samplecnt) + " samples at " + number(rate) +
                 " Hz, which span " + number(span / static_cast<double>(kDay)) +
                 " days, more than a record can (" + number(kMaxRecordSpan / kDay) + ")",
             "skipped");
      return;
    }
    ++accepted_;
    RecordRef ref;
    ref.file = file_;
    ref.offset = offset;
    ref.length = length;
    ref.id = std::move(id);
    ref.start = msr_starttime(&msr);
    ref.end = ref.start + static_cast<Micros>(std::llround(span));
    ref.rate = rate;
    // Buffers are sized by what a record can hold, whatever its header claims.
    const int data = msr.fsdh->data_offset;
    ref.samples = data >= kFixedHeader && data < length
                      ? std::clamp<std::int64_t>(
                            msr.samplecnt, 0,
                            std::max<std::int64_t>(sample_room(msr.encoding, length - data), 0))
                      : 0;
    if (from_ > to_ || (ref.end >= from_ && ref.start <= to_)) records_.push_back(std::move(ref));
  }

  const std::string& path_;
  std::size_t file_;
  Micros from_;
  Micros to_;
  std::vector<RecordRef>& records_;
  std::vector<std::pair<std::int64_t, std::string>> lines_;
  std::map<std::string, Refusal> refusals_;
  std::int64_t bad_from_ = -1;  // start of a stretch of bytes that is no record
  std::size_t parsed_ = 0;      // records read
  std::size_t accepted_ = 0;    // of them, records with samples and a header to believe
};

}  // namespace

std::int64_t sample_room(int encoding, std::int64_t bytes) {
  // Steim frames are 64 bytes, 16 words: one of two-bit codes saying how each word is packed,
  // and in the first frame two words of the first and last values. A word packs at most 4
  // differences in Steim-1 and 7 in Steim-2, one per sample.
  const std::int64_t words = bytes >= 64 ? 15 * (bytes / 64) - 2 : 0;
  switch (encoding) {
    case DE_ASCII:
      return bytes;
    case DE_INT16:
    case DE_GEOSCOPE163:
    case DE_GEOSCOPE164:
    case DE_CDSN:
    case DE_SRO:
    case DE_DWWSSN:
      return bytes / 2;
    case DE_GEOSCOPE24:
      return bytes / 3;
    case DE_INT32:
    case DE_FLOAT32:
      return bytes / 4;
    case DE_FLOAT64:
      return bytes / 8;
    case DE_STEIM1:
      return 4 * words;
    case DE_STEIM2:
      return 7 * words;
    default:
      return -1;
  }
}

void quiet_mseed_log() {
  ms_loginit([](char*) {}, nullptr, [](char*) {}, nullptr);
}

bool index_file(const std::string& path, std::size_t file_index, Micros from, Micros to,
                std::vector<RecordRef>& records, std::vector<std::string>& problems) {
  std::string reason;
  const Descriptor fd(open_regular(path, reason));
  if (fd.get() < 0) {
    problems.push_back(path + " cannot be read: " + reason);
    return false;
  }
  struct stat st;
  if (fstat(fd.get(), &st) != 0) {
    problems.push_back(path + " cannot be read: " + std::strerror(errno));
    return false;
  }
  FileWindow window(fd.get(), st.st_size);
  FileIndexer indexer(path, file_index, from, to, records);
  const bool read = indexer.run(window);
  for (std::string& line : indexer.lines()) problems.push_back(std::move(line));
  return read;
}

MseedFile::MseedFile(const std::string& path) : path_(path) {
  std::string reason;
  fd_ = open_regular(path, reason);
  if (fd_ < 0) reason_ = reason;
}

MseedFile::~MseedFile() {
  if (fd_ >= 0) close(fd_);
}

bool MseedFile::decode(const RecordRef& ref, Piece& piece, std::string& reason) {
  if (fd_ < 0) {
    reason = "the file cannot be read: " + reason_;
    return false;
  }
  const auto length = static_cast<std::size_t>(ref.length);
  if (bytes_.size() < length + kSlack) bytes_.resize(length + kSlack);
  int error = 0;
  if (read_at(fd_, bytes_.data(), length, ref.offset, error) != length) {
    reason = error != 0 ? std::strerror(error) : "the file changed while it was read";
    return false;
  }
  std::memset(bytes_.data() + length, 0, kSlack);
  MSRecord* raw = nullptr;
  int status = msr_unpack(bytes_.data(), ref.length, &raw, 0, 0);
  RecordPtr header(raw);
  if (status != MS_NOERROR || header == nullptr) {
    reason = ms_errorstr(status);
    return false;
  }
  reason = data_fault(*header, ref.length);
  if (!reason.empty()) return false;
  // libmseed decodes as far as the length the header claims; past the record's own bytes it
  // finds zeros, which hold no samples.
  const int claimed = header->reclen;
  if (claimed > MAXRECLEN) {
    reason = "its header claims a length of " + std::to_string(claimed) + " bytes";
    return false;
  }
  if (claimed > ref.length) {
    bytes_.resize(static_cast<std::size_t>(claimed) + kSlack);
    std::memset(bytes_.data() + length, 0, bytes_.size() - length);
  }
  raw = nullptr;
  status = msr_unpack(bytes_.data(), ref.length, &raw, 1, 0);
  const RecordPtr msr(raw);
  if (status != MS_NOERROR || msr == nullptr || msr->numsamples != msr->samplecnt) {
    reason = status != MS_NOERROR ? std::string(ms_errorstr(status))
                                  : std::string("fewer samples than the header says");
    return false;
  }
  reason = steim_fault(*msr, bytes_.data());
  if (!reason.empty()) return false;
  piece.start = ref.start;
  piece.rate = ref.rate;
  piece.samples.resize(static_cast<std::size_t>(msr->numsamples));
  const void* data = msr->datasamples;
  for (std::size_t i = 0; i < piece.samples.size(); ++i) {
    switch (msr->sampletype) {
      case 'i':
        piece.samples[i] = static_cast<const std::int32_t*>(data)[i];
        break;
      case 'f':
        piece.samples[i] = static_cast<const float*>(data)[i];
        break;
      case 'd':
        piece.samples[i] = static_cast<const double*>(data)[i];
        break;
      default:
        reason = "text, not samples";
        return false;
    }
  }
  return true;
}

bool RecordSource::decode(const RecordRef& ref, Piece& piece, std::string& reason) {
  auto it = std::find_if(open_.begin(), open_.end(),
                         [&](const auto& entry) { return entry.first == ref.file; });
  if (it == open_.end()) {
    if (open_.size() == kMaxOpen) open_.erase(open_.begin());
    open_.emplace_back(ref.file, std::make_unique<MseedFile>(paths_[ref.file]));
  } else if (it + 1 != open_.end()) {
    std::rotate(it, it + 1, open_.end());
  }
  return open_.back().second->decode(ref, piece, reason);
}

}  // namespace xcn::prep
