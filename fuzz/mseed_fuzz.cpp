// Fuzz target: xcn_prep's reading of miniSEED on arbitrary bytes, lying headers included: the
// index of a file, then every record it found decoded. No byte outside the file may be read, and
// what is kept must agree with what the index said of it.
#include <string>
#include <vector>

#include "fuzz/common.hpp"
#include "prep/mseed_read.hpp"

namespace {

using xcn::fuzz::broken;
namespace prep = xcn::prep;

}  // namespace

const xcn::fuzz::Messages xcn::fuzz::kMessages = xcn::fuzz::Messages::kNone;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = (prep::quiet_mseed_log(), true);
  (void)quiet;
  static const std::string path = xcn::fuzz::scratch_file("records.mseed");
  xcn::fuzz::write_file(path, data, size);
  std::vector<prep::RecordRef> records;
  std::vector<std::string> problems;
  const bool read = prep::index_file(path, 0, 1, 0, records, problems);
  for (const std::string& line : problems) {
    if (!line.starts_with(path)) broken("a problem line that does not name the file");
  }
  if (!read && !records.empty()) broken("records of a file said to hold none");
  prep::MseedFile file(path);
  for (const prep::RecordRef& r : records) {
    if (r.offset < 0 || r.length < 48 || r.offset + r.length > static_cast<std::int64_t>(size)) {
      broken("a record outside the file");
    }
    if (!(r.rate >= prep::kLowestRate && r.rate <= prep::kHighestRate)) {
      broken("a record kept with an unusable rate");
    }
    if (r.end < r.start || r.end - r.start > prep::kMaxRecordSpan) {
      broken("a record kept that spans more than a record can");
    }
    prep::Piece piece;
    std::string reason;
    if (file.decode(r, piece, reason)) {
      if (static_cast<std::int64_t>(piece.samples.size()) != r.samples) {
        broken("other samples decoded than the record can hold");
      }
    } else if (reason.empty()) {
      broken("a record refused without a reason");
    }
  }
  return 0;
}
