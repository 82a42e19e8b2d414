// Reading miniSEED files through libmseed: an index of their records, then their samples.
//
// The index holds where each data record lies and what it covers, from the fixed headers alone;
// samples are decoded only for the records a channel-day needs. A header that cannot be right
// (an impossible time, an unusable rate, a record spanning weeks, a length that swallows the
// records after it) is refused or mended here, before anything trusts it. Problems are returned
// as lines naming the file and the byte where they are, never printed here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "prep/merge.hpp"
#include "prep/time.hpp"

namespace xcn::prep {

// "NET.STA.LOC.CHA" and its parts (a part may be empty, such as most locations).
struct ChannelId {
  std::string network;
  std::string station;
  std::string location;
  std::string channel;
  std::string text() const { return network + "." + station + "." + location + "." + channel; }
  auto operator<=>(const ChannelId&) const = default;
};

struct RecordRef {
  std::size_t file = 0;  // index in the list of files read
  std::int64_t offset = 0;
  int length = 0;  // bytes of the record in the file (its header may claim more)
  ChannelId id;
  Micros start = 0;  // first sample
  Micros end = 0;    // last sample
  double rate = 0;
  std::int64_t samples = 0;  // as the header claims them, at most what its data section holds
};

// Sampling rates taken as real, in samples per second; others are refused with the record.
inline constexpr double kLowestRate = 1e-4;
inline constexpr double kHighestRate = 1e5;
// The longest time a record may claim to span. Ten days hold the longest real records (a
// 4096-byte Steim-2 record at 0.01 Hz spans up to 7.6 days); a header claiming more is wrong.
inline constexpr Micros kMaxRecordSpan = 10 * kDay;

// Appends the data records of `path` that overlap [from, to] (every record when from > to) to
// `records`. The file is read a bounded stretch at a time, whatever its size. Bytes that are no
// record, a record cut short by the end of the file and refused headers add lines to
// `problems`. False when nothing of the file could be read: it cannot be opened or read through,
// or it holds no miniSEED 2 record at all.
bool index_file(const std::string& path, std::size_t file_index, Micros from, Micros to,
                std::vector<RecordRef>& records, std::vector<std::string>& problems);

// Samples a data section of `bytes` bytes can hold in the libmseed encoding `encoding`; -1 for
// an encoding libmseed does not decode.
std::int64_t sample_room(int encoding, std::int64_t bytes);

// A file open for decoding the samples of its indexed records.
class MseedFile {
 public:
  explicit MseedFile(const std::string& path);
  ~MseedFile();
  MseedFile(const MseedFile&) = delete;
  MseedFile& operator=(const MseedFile&) = delete;
  // The samples of one indexed record, or false with the reason. A record whose header claims
  // more samples than its data section can hold, or whose Steim frames fail their own check
  // (the last sample against the value the first frame gives for it), is refused.
  bool decode(const RecordRef& ref, Piece& piece, std::string& reason);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string reason_;
  int fd_ = -1;
  std::vector<char> bytes_;
};

// Decodes records of many files, keeping only the few used last open, so that a channel-day of
// thousands of short files never runs out of file descriptors.
class RecordSource {
 public:
  explicit RecordSource(const std::vector<std::string>& paths) : paths_(paths) {}
  bool decode(const RecordRef& ref, Piece& piece, std::string& reason);

 private:
  static constexpr std::size_t kMaxOpen = 4;
  const std::vector<std::string>& paths_;
  // Most recently used last.
  std::vector<std::pair<std::size_t, std::unique_ptr<MseedFile>>> open_;
};

// Keeps libmseed's own diagnostics off the console: ours say which file and what follows.
void quiet_mseed_log();

}  // namespace xcn::prep
