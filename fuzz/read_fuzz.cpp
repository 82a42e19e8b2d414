// Fuzz target: rsac1 and rsach on arbitrary bytes in either byte order, any capacity; the
// reentrant reader must agree with rsac1; a file that reads is written back and must read again
// to the same samples.
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/common.hpp"
#include "sacio/header_model.hpp"
#include "sacio/read.hpp"
#include "sacio/write.hpp"
#include "xcorrnet/sacio.h"

namespace {

using xcn::fuzz::broken;

using xcn::fuzz::Input;

enum Flags : std::uint8_t {
  kSwapFile = 1,      // reverse every word of the numeric block and of the samples
  kHeaderOnly = 2,    // also read the header alone
  kNegativeCap = 4,   // a negative capacity
  kWriteSwapped = 8,  // write back in the other byte order
  kPaddedName = 16,   // pass the name blank-padded with its length, not terminated
};

void swap_words(std::string& file, std::size_t from, std::size_t to) {
  to = std::min(to, file.size() - file.size() % 4);
  for (std::size_t k = from; k + 4 <= to; k += 4) {
    std::swap(file[k], file[k + 3]);
    std::swap(file[k + 1], file[k + 2]);
  }
}

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Reads a file the way callers do; name is passed terminated or blank-padded.
int read_file(const std::string& path, bool padded, std::vector<float>& y, int capacity, int& count,
              float& begin, float& interval) {
  int nerr = 0;
  count = -1;
  if (padded) {
    const std::string field = path + std::string(20, ' ');
    rsac1(field.c_str(), y.data(), &count, &begin, &interval, &capacity, &nerr,
          static_cast<int>(field.size()));
  } else {
    rsac1(path.c_str(), y.data(), &count, &begin, &interval, &capacity, &nerr, -1);
  }
  return nerr;
}

}  // namespace

const xcn::fuzz::Messages xcn::fuzz::kMessages = xcn::fuzz::Messages::kShipped;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const std::uint8_t flags = in.byte();
  const std::uint16_t selector = in.u16();
  int capacity = selector < 1024 ? selector % 16 : selector;
  if (flags & kNegativeCap) capacity = -capacity;
  std::string file(in.rest());
  if (flags & kSwapFile) {
    swap_words(file, 0, 440);
    swap_words(file, 632, file.size());
  }
  const std::string path = xcn::fuzz::scratch_file("in.sac");
  xcn::fuzz::write_file(path, file.data(), file.size());

  // The header alone first: the full read after it must not depend on it.
  if (flags & kHeaderOnly) {
    int header_nerr = 0;
    rsach(path.c_str(), &header_nerr, -1);
    if (header_nerr != 0 && header_nerr != SACIO_ERR_SHORT_READ && header_nerr != SACIO_ERR_NOT_SAC)
      broken("rsach error");
  }

  // Exactly the room the caller claims, so any sample stored past it is caught.
  std::vector<float> y(static_cast<std::size_t>(capacity > 0 ? capacity : 0));
  int count = 0;
  float begin = 0.0f, interval = 0.0f;
  const bool padded = flags & kPaddedName;
  const int nerr = read_file(path, padded, y, capacity, count, begin, interval);
  switch (nerr) {
    case 0:
    case SACIO_WARN_TRUNCATED:
    case SACIO_ERR_SHORT_READ:
    case SACIO_ERR_NOT_EVEN:
    case SACIO_ERR_NOT_SAC:
      break;
    default:
      broken("rsac1 error number");
  }

  // The reader that reads whole: rsac1's refusal, or the samples rsac1 stored and, past a cut
  // read, the rest or a short file.
  {
    xcn::SacReader reader(path);
    std::vector<float> whole;
    const int whole_nerr = reader.read_samples(whole);
    if (nerr == SACIO_WARN_TRUNCATED) {
      if (whole_nerr != 0 && whole_nerr != SACIO_ERR_SHORT_READ) broken("reader after a cut read");
    } else if (whole_nerr != nerr) {
      broken("reader and rsac1 disagree");
    }
    if (whole_nerr == 0 && (nerr == 0 || nerr == SACIO_WARN_TRUNCATED)) {
      for (int k = 0; k < count; ++k) {
        if (!same_bits(whole[static_cast<std::size_t>(k)], y[static_cast<std::size_t>(k)]))
          broken("reader and rsac1 give other samples");
      }
      if (nerr == 0 && whole.size() != static_cast<std::size_t>(count))
        broken("reader and rsac1 give other counts");
    }
  }
  if (nerr != 0 && nerr != SACIO_WARN_TRUNCATED) return 0;

  const int room = capacity > 0 ? capacity : 0;
  if (count < 0 || count > room) broken("sample count outside the caller's room");
  if (xcn::Nhdr(xcn::kNpts) != count) broken("NPTS differs from the count stored");
  if (nerr == SACIO_WARN_TRUNCATED && count != room)
    broken("a cut read that does not fill the room");
  if (count == 0 || xcn::Lhdr(xcn::kLovrok) == 0) return 0;

  // Write back and read again: the samples, begin and interval survive bit for bit.
  xcn::sac_byte_order((flags & kWriteSwapped) ? 1 - xcn::CheckByteOrder() : xcn::CheckByteOrder());
  const std::vector<float> original(y.begin(), y.begin() + count);
  std::vector<float> samples = original;
  float xdummy = 0.0f;
  int write_nerr = 0;
  const std::string out = xcn::fuzz::scratch_file("out.sac");
  wsac0(out.c_str(), &xdummy, samples.data(), &write_nerr, -1);
  if (write_nerr != 0) broken("write of a header that was just read");

  std::vector<float> again(static_cast<std::size_t>(count));
  int count2 = 0;
  float begin2 = 0.0f, interval2 = 0.0f;
  if (read_file(out, padded, again, count, count2, begin2, interval2) != 0) {
    broken("read of a file just written");
  }
  if (count2 != count || !same_bits(begin, begin2) || !same_bits(interval, interval2)) {
    broken("header values after the round trip");
  }
  for (int k = 0; k < count; ++k) {
    if (!same_bits(original[static_cast<std::size_t>(k)], again[static_cast<std::size_t>(k)])) {
      broken("samples after the round trip");
    }
  }
  return 0;
}
