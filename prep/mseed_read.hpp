// Reading miniSEED files through libmseed: an index of their records, then their samples.
//
// The index holds where each data record lies and what it covers, from the fixed headers alone;
// samples are decoded only for the records a channel-day needs. Problems are returned as lines
// naming the file and the byte where they are, never printed here.
#pragma once

#include <cstdint>
#include <string>
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
  int length = 0;
  ChannelId id;
  Micros start = 0;  // first sample
  Micros end = 0;    // last sample
  double rate = 0;
  std::int64_t samples = 0;
};

// Appends the data records of `path` that overlap [from, to] (every record when from > to) to
// `records`; a stretch of bytes that is no record, or a record cut short by the end of the file,
// adds a line to `problems`. False when the file cannot be read at all.
bool index_file(const std::string& path, std::size_t file_index, Micros from, Micros to,
                std::vector<RecordRef>& records, std::vector<std::string>& problems);

// A file open for decoding the samples of its indexed records.
class MseedFile {
 public:
  explicit MseedFile(const std::string& path);
  ~MseedFile();
  MseedFile(const MseedFile&) = delete;
  MseedFile& operator=(const MseedFile&) = delete;
  // The samples of one indexed record, or false with the reason.
  bool decode(const RecordRef& ref, Piece& piece, std::string& reason);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string reason_;
  int fd_ = -1;
  std::vector<char> bytes_;
};

// Keeps libmseed's own diagnostics off the console: ours say which file and what follows.
void quiet_mseed_log();

}  // namespace xcn::prep
