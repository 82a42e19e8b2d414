// Reading miniSEED files through libmseed: an index of their records, then their samples.
#include "prep/mseed_read.hpp"

#include <fcntl.h>
#include <libmseed.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace xcn::prep {
namespace {

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

// Reads up to `size` bytes at `offset`; the count read.
std::size_t read_at(int fd, char* into, std::size_t size, std::int64_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = pread(fd, into + done, size - done, static_cast<off_t>(offset) + done);
    if (n < 0 && errno == EINTR) continue;
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

}  // namespace

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
  fstat(fd.get(), &st);
  std::vector<char> buffer(static_cast<std::size_t>(st.st_size));
  if (read_at(fd.get(), buffer.data(), buffer.size(), 0) != buffer.size()) {
    problems.push_back(path + " cannot be read: " + std::strerror(errno != 0 ? errno : EIO));
    return false;
  }
  const auto size = static_cast<std::int64_t>(buffer.size());
  if (size >= 3 && buffer[0] == 'M' && buffer[1] == 'S' && buffer[2] == 3) {
    problems.push_back(path + " is miniSEED 3, which libmseed " LIBMSEED_VERSION
                              " does not read; skipped");
    return false;
  }
  std::int64_t offset = 0;
  std::int64_t bad_from = -1;  // start of a stretch of bytes that is no record
  auto end_bad_stretch = [&](std::int64_t upto) {
    if (bad_from < 0) return;
    problems.push_back(where(path, bad_from) + ": " + std::to_string(upto - bad_from) +
                       " bytes are no miniSEED record; skipped");
    bad_from = -1;
  };
  while (offset < size) {
    char* at = buffer.data() + offset;
    const int left = static_cast<int>(std::min<std::int64_t>(size - offset, 1 << 30));
    MSRecord* raw = nullptr;
    const int status = msr_parse(at, left, &raw, -1, 0, 0);
    const RecordPtr msr(raw);
    if (status == 0 && msr != nullptr && msr->reclen > 0) {
      end_bad_stretch(offset);
      if (msr->samprate > 0 && msr->samplecnt > 0) {
        RecordRef ref;
        ref.file = file_index;
        ref.offset = offset;
        ref.length = msr->reclen;
        ref.id = {clean(msr->network), clean(msr->station), clean(msr->location),
                  clean(msr->channel)};
        ref.start = msr_starttime(msr.get());
        ref.end = msr_endtime(msr.get());
        ref.rate = msr_samprate(msr.get());
        ref.samples = msr->samplecnt;
        if (from > to || (ref.end >= from && ref.start <= to)) records.push_back(std::move(ref));
      }
      offset += msr->reclen;
      continue;
    }
    if (status > 0 && bad_from < 0 && ms_detect(at, left) != -1) {
      // A record whose header is whole and whose end is missing: the file ends inside it.
      problems.push_back(where(path, offset) + ": the last record is cut short (" +
                         std::to_string(size - offset) + " bytes of it are in the file)");
      return true;
    }
    // Not a record here: look for the next one at the smallest record length.
    if (bad_from < 0) bad_from = offset;
    offset += 128;
  }
  end_bad_stretch(size);
  return true;
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
  bytes_.resize(static_cast<std::size_t>(ref.length));
  if (read_at(fd_, bytes_.data(), bytes_.size(), ref.offset) != bytes_.size()) {
    reason = "the file changed while it was read";
    return false;
  }
  MSRecord* raw = nullptr;
  const int status = msr_unpack(bytes_.data(), ref.length, &raw, 1, 0);
  const RecordPtr msr(raw);
  if (status != MS_NOERROR || msr == nullptr || msr->numsamples != msr->samplecnt) {
    reason = status != MS_NOERROR ? std::string(ms_errorstr(status))
                                  : std::string("fewer samples than the header says");
    return false;
  }
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

}  // namespace xcn::prep
