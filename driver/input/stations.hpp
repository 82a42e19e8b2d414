// The station table: every listed record read once, with the header values the run uses.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "driver/input/lists.hpp"
#include "driver/rank_share.hpp"
#include "msg/text.hpp"
#include "sacio/header_model.hpp"

namespace xcn {

// A code field that holds nothing, which a result leaves undefined.
inline constexpr std::array<char, 10> kBlankCode = {' ', ' ', ' ', ' ', ' ',
                                                    ' ', ' ', ' ', ' ', ' '};

struct Station {
  std::array<char, kEntryWidth> entry;  // the list line, as used
  // The record's codes as getkhv gives them: 8 characters and 2 blanks, "-12345" undefined.
  std::array<char, 10> kstnm = kBlankCode;
  std::array<char, 10> kcmpnm = kBlankCode;
  std::array<char, 10> knetwk = kBlankCode;
  std::array<char, 10> khole = kBlankCode;
  // Its orientation (degrees clockwise from north, and from up), as the header holds it.
  float cmpaz = kUndefFloat;
  float cmpinc = kUndefFloat;
  // The station's position; both undefined unless has_position, so that no distance is ever
  // computed from a coordinate off the earth.
  float stla = kUndefFloat;
  float stlo = kUndefFloat;
  bool has_position = false;  // STLA in [-90, 90] and STLO in [-180, 360]
  int npts = 0;               // samples of the record, all held in its row
  std::uint64_t digest = 0;   // of its samples' bits, to tell a record read again from another
  float delta = 0.0f;         // sampling interval of the record
  bool usable = false;        // read without failure, at the run's sampling interval
  // When the record starts: its reference time (NZYEAR .. NZMSEC, in milliseconds since 1970)
  // plus B. Without a reference time (`dated` false) it is placed by B alone.
  bool dated = false;
  bool invalid_reference = false;  // NZYEAR defined, yet the fields make no date
  long long reference_ms = 0;
  double begin = 0.0;
};

// The station table: the header values of each station, and each record's samples in a row of
// its own, as long as the record (none until it is read, or once it is dropped).
class StationTable {
 public:
  explicit StationTable(int n);
  int size() const { return static_cast<int>(stations_.size()); }
  // Station and row by 1-based index, as the lists number them.
  Station& station(int i) { return stations_[static_cast<std::size_t>(i - 1)]; }
  const Station& station(int i) const { return stations_[static_cast<std::size_t>(i - 1)]; }
  float* row(int i) { return rows_[static_cast<std::size_t>(i - 1)]; }
  const float* row(int i) const { return rows_[static_cast<std::size_t>(i - 1)]; }
  // Station i's record as held: npts samples, or none.
  std::span<const float> record(int i) const {
    const float* r = row(i);
    return r == nullptr ? std::span<const float>()
                        : std::span<const float>(r, static_cast<std::size_t>(station(i).npts));
  }
  // A row of npts samples for station i, in place of the one it had; its values are unset.
  float* hold(int i, int npts);
  // Gives station i's row back.
  void drop(int i);

  // Records that do not all fit the memory budget are not held: each is read again where it is
  // used (HeldRecord). A record that then reads otherwise is lost for the rest of the run: it is
  // reported once on `err` and its pairs not yet computed are skipped.
  void stream(std::FILE* err);
  bool streamed() const { return streamed_ != nullptr; }
  bool lost(int i) const {
    return lost_ != nullptr && lost_[static_cast<std::size_t>(i - 1)].load();
  }
  // Reads station i's record again into `samples`; false (the station lost) when it reads
  // otherwise than at the load.
  bool read_again(int i, std::vector<float>& samples) const;
  // Marks station i lost, reporting why the first time.
  void lose(int i, const std::string& why) const;

 private:
  // Rows one after another in stretches of memory, each twice the last up to 64 MiB, in large
  // pages where the system gives them and made whole when taken: on a virtual machine the
  // first write to each ordinary page costs microseconds, which a thousand records of a day
  // pay 84 000 times. A row given back stays until every row is.
  class RowStore {
   public:
    RowStore() = default;
    RowStore(const RowStore&) = delete;
    RowStore& operator=(const RowStore&) = delete;
    ~RowStore() { clear(); }
    float* take(std::size_t count);
    void clear();

   private:
    struct Stretch {
      char* data;
      std::size_t bytes;
      std::size_t used;
    };
    std::vector<Stretch> stretches_;
    // Under the address checker each row is the allocator's, whose bounds it watches.
    std::vector<std::unique_ptr<float[]>> checked_;
  };

  std::vector<Station> stations_;
  std::vector<float*> rows_;
  std::size_t held_ = 0;  // rows held
  RowStore store_;
  std::FILE* streamed_ = nullptr;  // where a lost record is reported
  std::unique_ptr<std::atomic<bool>[]> lost_;
};

// Station i's record for as long as this lives: its row, or the record read again when the
// table is streamed. data() is null when the record reads otherwise now.
class HeldRecord {
 public:
  HeldRecord(const StationTable& table, int i);
  const float* data() const { return data_; }

 private:
  std::vector<float> samples_;
  const float* data_ = nullptr;
};

// Station i's record read forward, a stretch at a time, for an engine that uses its windows in
// time order: from its row when the table holds it, else from the file without holding more
// than the stretch asked for. Each sample is read once; finish() reads the rest and checks that
// the record is the one loaded, as a read again does.
class RecordStream {
 public:
  RecordStream(const StationTable& table, int i);
  // Samples [first, end), first and end never less than the last call's: a pointer to sample
  // `first`, or null when the station is lost (reported) or its row is not held here.
  const float* stretch(std::size_t first, std::size_t end);
  // False when the station is lost: it could not be read again or read otherwise.
  bool finish();

 private:
  bool read(float* y, std::size_t count);

  const StationTable& table_;
  int i_;
  std::vector<float> samples_;  // samples [held_, read_)
  std::size_t held_ = 0;
  std::size_t read_ = 0;
  std::uint64_t digest_;  // of samples [0, read_)
};

// The digest of a record: FNV-1a over its samples' bits, from kDigestStart, n more samples at a
// time.
inline constexpr std::uint64_t kDigestStart = 14695981039346656037ULL;
std::uint64_t digest_more(std::uint64_t digest, const float* y, std::size_t n);

// Bytes of the usable records: the table holds them all when they take at most half the
// budget, else it is streamed.
std::size_t record_bytes(const StationTable& table);
bool records_fit(const StationTable& table, std::size_t budget);

// The station's list entry as a path: without trailing blanks.
std::string station_path(const Station& s);

// Run-wide values left by the last read, as the pair loop and the header pass use them.
struct LastRead {
  int np = 0;
  float dt = 0.0f;
  float b = 0.0f;
};

// Reads every listed SAC file into the table, printing the "Input:" block. A station that is
// not a regular file, whose read fails or whose record has no samples is reported on `err` and
// marked unusable; coordinates that are no position are reported too. Each record is read whole.
// Returns the values of the last record read without failure; the run's sampling interval is chosen
// from all of them (run_interval). Without `keep_rows` the samples are dropped (a run divided among
// ranks reads them once it knows which stations each rank needs); rows are kept only while they
// take at most half of `budget`, else all are dropped (the caller reads them again or streams
// the table).
LastRead load_stations(const std::vector<ListLine>& lines, StationTable& table, std::FILE* err,
                       bool keep_rows = true, std::size_t budget = SIZE_MAX);

// What a read of a record gave.
struct RecordRead {
  int npts = 0;
  float b = 0.0f;
  float dt = 0.0f;
  std::uint64_t digest = 0;
  // Whether it is the record the station was loaded from: its samples and the header values the
  // run uses.
  bool same_as(const Station& s) const {
    return npts == s.npts && dt == s.delta && b == s.begin && digest == s.digest;
  }
};
// Reads station i's record (named by its list entry) whole, into its row of the table when it
// takes at most `room_left` bytes or no scratch is given, else into `scratch`. Empty when read,
// else why it cannot be (the row may then hold part of it). A header that promises more samples
// than the file holds sizes nothing beyond the file.
std::string read_record(StationTable& table, int i, RecordRead& r, std::vector<float>* scratch,
                        std::size_t room_left = 0);

// Reads the rows of the usable stations that `share` holds into a table whose header values
// were loaded without them (of a streamed table, each is only checked and dropped again); a record
// that some rank cannot read now, or reads otherwise, is reported once on `err` (rank 0's) and
// marked unusable on every rank, as a failed load is. Every rank of a divided run calls it.
void read_rows(StationTable& table, const RankShare& share, std::FILE* err);

// Whether two sampling intervals are one: they differ by less than half a sample over a record
// of npts samples (other programs' float rounding).
bool same_interval(float delta, int npts, float dt);

// The run's sampling interval: the one most usable records share among those that can be run
// within `budget` bytes (a tie: the one listed first). 0 when no usable record has one;
// `unrunnable` then takes the most common interval of all, for the refusal.
float run_interval(const StationTable& table, std::size_t budget, float* unrunnable);

// Marks unusable (and reports) every station whose sampling interval differs from the run's by
// half a sample or more over its record; smaller differences are float rounding.
void check_sampling(StationTable& table, float dt, std::FILE* err);

}  // namespace xcn
