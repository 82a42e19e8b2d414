// Loading the station table from the station list.
#include "driver/input/stations.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <utility>

#include "driver/console.hpp"
#include "driver/engines/windows.hpp"
#include "driver/input/params.hpp"
#include "driver/pages.hpp"
#include "driver/ranks.hpp"
#include "driver/results/result_fields.hpp"
#include "driver/results/result_writer.hpp"
#include "msg/message.hpp"
#include "sacio/header_access.hpp"
#include "sacio/header_model.hpp"
#include "sacio/read.hpp"
#include "sacio/ref_time.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {

namespace {
constexpr char kChanged[] = "it changed while the run read it";
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressChecked = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressChecked = true;
#else
constexpr bool kAddressChecked = false;
#endif
#else
constexpr bool kAddressChecked = false;
#endif
}  // namespace

StationTable::StationTable(int n)
    : stations_(static_cast<std::size_t>(n)), rows_(static_cast<std::size_t>(n)) {}

float* StationTable::hold(int i, int npts) {
  drop(i);
  if (npts <= 0) return nullptr;
  float* r = store_.take(static_cast<std::size_t>(npts));
  rows_[static_cast<std::size_t>(i - 1)] = r;
  ++held_;
  return r;
}

void StationTable::drop(int i) {
  float*& r = rows_[static_cast<std::size_t>(i - 1)];
  if (r == nullptr) return;
  r = nullptr;
  if (--held_ == 0) store_.clear();
}

float* StationTable::RowStore::take(std::size_t count) {
  if (kAddressChecked) {
    checked_.push_back(std::make_unique_for_overwrite<float[]>(count));
    return checked_.back().get();
  }
  // Rows begin on 64-byte lines, as the allocator's would on 16 bytes.
  const std::size_t bytes = (count * sizeof(float) + 63) / 64 * 64;
  if (stretches_.empty() || stretches_.back().bytes - stretches_.back().used < bytes) {
    constexpr std::size_t kFirst = kLargePage, kMost = std::size_t{64} << 20;
    const std::size_t last = stretches_.empty() ? kFirst / 2 : stretches_.back().bytes;
    std::size_t size = std::max(std::min(2 * last, kMost), kFirst);
    size = std::max(size, (bytes + kFirst - 1) / kFirst * kFirst);
    char* p = map_pages(size);
    make_pages(p, size);
    stretches_.push_back({p, size, 0});
  }
  Stretch& s = stretches_.back();
  float* row = reinterpret_cast<float*>(s.data + s.used);
  s.used += bytes;
  return row;
}

void StationTable::RowStore::clear() {
  for (const Stretch& s : stretches_) munmap(s.data, s.bytes);
  stretches_.clear();
  checked_.clear();
}

std::string station_path(const Station& s) {
  return trimmed(std::string_view(s.entry.data(), kEntryWidth));
}

namespace {

std::string entry_path(const Station& s) { return station_path(s); }

void report_unreadable(std::FILE* err, int i, const Station& s, const std::string& why) {
  std::fprintf(err, "xcorrnet_v3: station %d \"%s\" cannot be read: %s; its pairs are skipped\n", i,
               entry_path(s).c_str(), why.c_str());
}

// Why a listed name is no record, told before anything opens it: only regular files are read,
// and the open of a FIFO or a device could wait for ever. Empty when the read may be tried (a
// name that does not exist is left to the reader, which says so).
std::string not_a_record(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return {};
  if (S_ISDIR(st.st_mode)) return "it is a directory";
  if (!S_ISREG(st.st_mode)) return "it is not a regular file";
  return {};
}

// The shortest text that reads back as the same float: two different values never look alike.
std::string float_text(float v) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, v).ptr;
  return std::string(text, end);
}

// Why a coordinate is no position, or empty.
std::string coordinate_problem(const char* field, float v, float lo, float hi) {
  const std::string name = field;
  if (v == kUndefFloat) return name + " is undefined";
  if (std::isnan(v)) return name + " is not a number";
  if (std::isinf(v)) return name + " is infinite";
  if (v < lo || v > hi) {
    return name + " " + float_text(v) + " is outside " + float_text(lo) + " to " + float_text(hi);
  }
  return {};
}

// Takes the coordinates as the station's position when they are one, else reports each field
// that is not, one line each.
void set_position(std::FILE* err, int i, Station& s, float stla, float stlo) {
  s.has_position = true;
  const struct {
    const char* field;
    float value, lo, hi;
  } checks[] = {{"STLA", stla, -90.0f, 90.0f}, {"STLO", stlo, -180.0f, 360.0f}};
  for (const auto& c : checks) {
    const std::string problem = coordinate_problem(c.field, c.value, c.lo, c.hi);
    if (problem.empty()) continue;
    s.has_position = false;
    std::fprintf(err,
                 "xcorrnet_v3: warning: station %d \"%s\" has no position: %s; its pairs get no "
                 "distance or azimuths\n",
                 i, entry_path(s).c_str(), problem.c_str());
  }
  s.stla = s.has_position ? stla : kUndefFloat;
  s.stlo = s.has_position ? stlo : kUndefFloat;
}

// Takes the reference time of the current header (NZYEAR .. NZMSEC) as the record's date, or
// reports why it is none. An undefined NZYEAR is no date and no fault: such records are placed
// by B alone.
void set_reference(std::FILE* err, int i, Station& s) {
  static constexpr const char* kNames[] = {"NZYEAR", "NZJDAY", "NZHOUR",
                                           "NZMIN",  "NZSEC",  "NZMSEC"};
  static constexpr int kLow[] = {1, 1, 0, 0, 0, 0};
  static constexpr int kHigh[] = {9999, 366, 23, 59, 60, 999};
  s.dated = false;
  s.reference_ms = 0;
  const RefFields f = header_ref_fields();
  const int v[6] = {f.year, f.jday, f.hour, f.minute, f.second, f.msec};
  if (v[0] == kUndefInt) return;
  s.invalid_reference = true;  // until the fields make a date
  for (int k = 0; k < 6; ++k) {
    if (v[k] < kLow[k] || v[k] > kHigh[k]) {
      std::fprintf(err,
                   "xcorrnet_v3: warning: station %d \"%s\" has a reference time that is no date "
                   "(%s %d); it is placed by its begin time B alone\n",
                   i, entry_path(s).c_str(), kNames[k], v[k]);
      return;
    }
  }
  const std::optional<std::int64_t> ms = to_ms(f);
  if (!ms) {
    // Each field in its range, yet no day: day 366 of a year of 365.
    std::fprintf(err,
                 "xcorrnet_v3: warning: station %d \"%s\" has a reference time that is no date "
                 "(NZJDAY %d of %d); it is placed by its begin time B alone\n",
                 i, entry_path(s).c_str(), v[1], v[0]);
    return;
  }
  s.reference_ms = *ms;
  s.dated = true;
  s.invalid_reference = false;
}

// A character field of the current header as getkhv gives it: its 8 characters, then blanks.
void copy_text(int slot, std::array<char, 10>& to) {
  to.fill(' ');
  std::memcpy(to.data(), Khdr(slot), 8);
}

// The coordinates of a header as the file holds them.
struct Coordinates {
  float stla = kUndefFloat;
  float stlo = kUndefFloat;
};

std::uint64_t digest_of(const float* y, int n) {
  return digest_more(kDigestStart, y, static_cast<std::size_t>(n));
}

// Reads the record of station s whole into the array `room(capacity)` gives. The header first:
// its NPTS sizes the array only as far as the file holds samples.
template <typename Room>
std::string read_into(const Station& s, Room room, RecordRead& r) {
  r = RecordRead{};
  const char* entry = s.entry.data();
  int nerr = 0;
  rsach(entry, &nerr, static_cast<int>(kEntryWidth));
  if (nerr > 0) {
    clrmsg();
    return read_failure(nerr);
  }
  int promised = 0;
  getnhv("NPTS", &promised, &nerr, 4);
  struct stat st;
  long long held = 0;
  if (::stat(station_path(s).c_str(), &st) == 0 && st.st_size > kDataWord * 4) {
    held = (static_cast<long long>(st.st_size) - kDataWord * 4) / 4;
  }
  int capacity = static_cast<int>(std::clamp<long long>(promised, 0, held));
  float* row = room(capacity);
  rsac1(entry, row, &r.npts, &r.b, &r.dt, &capacity, &nerr, static_cast<int>(kEntryWidth));
  if (nerr > 0) {
    const std::string why = read_failure(nerr);
    clrmsg();
    return why;
  }
  if (nerr == kWarnTruncated) {
    clrmsg();
    // rsac1 refuses such a file on its own once it cannot read what its header says; a file
    // that grew since its header was read has changed under the run.
    return promised > held ? "the file is shorter than its header says" : kChanged;
  }
  r.digest = digest_of(row, r.npts);
  return {};
}

}  // namespace

std::string read_record(StationTable& table, int i, RecordRead& r, std::vector<float>* scratch,
                        std::size_t room_left) {
  const auto room = [&](int capacity) {
    if (scratch == nullptr || static_cast<std::size_t>(capacity) * sizeof(float) <= room_left) {
      return table.hold(i, capacity);
    }
    scratch->resize(static_cast<std::size_t>(capacity));
    return scratch->data();
  };
  return read_into(table.station(i), room, r);
}

void StationTable::stream(std::FILE* err) {
  for (int i = 1; i <= size(); ++i) drop(i);
  streamed_ = err;
  lost_ = std::make_unique<std::atomic<bool>[]>(stations_.size());
}

std::uint64_t digest_more(std::uint64_t digest, const float* y, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, y + k, 4);
    digest = (digest ^ bits) * 1099511628211ULL;
  }
  return digest;
}

void StationTable::lose(int i, const std::string& why) const {
  if (lost_[static_cast<std::size_t>(i - 1)].exchange(true)) return;
  std::fprintf(streamed_,
               "xcorrnet_v3: station %d \"%s\" cannot be read: %s; its pairs from here on are "
               "skipped\n",
               i, station_path(station(i)).c_str(), why.c_str());
}

bool StationTable::read_again(int i, std::vector<float>& samples) const {
  if (lost(i)) return false;
  const Station& s = station(i);
  RecordRead r;
  std::string why;
  {
    const std::lock_guard<std::mutex> hold(library_lock());
    why = read_into(
        s,
        [&](int capacity) {
          samples.resize(static_cast<std::size_t>(capacity));
          return samples.data();
        },
        r);
  }
  if (why.empty() && r.same_as(s)) return true;
  lose(i, why.empty() ? kChanged : why);
  samples = {};
  return false;
}

RecordStream::RecordStream(const StationTable& table, int i)
    : table_(table), i_(i), digest_(kDigestStart) {}

const float* RecordStream::stretch(std::size_t first, std::size_t end) {
  if (!table_.streamed()) return table_.row(i_) == nullptr ? nullptr : table_.row(i_) + first;
  if (table_.lost(i_)) return nullptr;
  if (end > read_) {
    const std::size_t kept = read_ > first ? read_ - std::max(first, held_) : 0;
    if (kept > 0) {
      std::memmove(samples_.data(), samples_.data() + (read_ - kept - held_), kept * sizeof(float));
    }
    samples_.resize(kept + (end - read_));
    if (!read(samples_.data() + kept, end - read_)) return nullptr;
    held_ = end - samples_.size();
  }
  return samples_.data() + (first - held_);
}

bool RecordStream::read(float* y, std::size_t count) {
  const Station& s = table_.station(i_);
  SacReader reader(station_path(s));
  const SacHeader& h = reader.header();
  if (reader.nerr() == 0 &&
      (h.integer(kNpts) != s.npts || h.real(kDelta) != s.delta || h.real(kB) != s.begin)) {
    table_.lose(i_, kChanged);
    return false;
  }
  if (reader.read_range(read_, count, y) != 0) {
    table_.lose(i_, reader.failure());
    return false;
  }
  digest_ = digest_more(digest_, y, count);
  read_ += count;
  return true;
}

bool RecordStream::finish() {
  if (!table_.streamed()) return true;
  if (table_.lost(i_)) return false;
  const Station& s = table_.station(i_);
  const std::size_t npts = static_cast<std::size_t>(s.npts);
  // The samples after the last stretch, a piece at a time, for the digest alone.
  constexpr std::size_t kPiece = std::size_t{1} << 18;
  samples_.resize(std::min(kPiece, npts - std::min(npts, read_)));
  while (read_ < npts) {
    if (!read(samples_.data(), std::min(kPiece, npts - read_))) return false;
  }
  samples_ = {};
  if (digest_ == s.digest) return true;
  table_.lose(i_, kChanged);
  return false;
}

HeldRecord::HeldRecord(const StationTable& table, int i) {
  if (!table.streamed()) {
    data_ = table.row(i);
  } else if (table.read_again(i, samples_)) {
    data_ = samples_.data();
  }
}

std::size_t record_bytes(const StationTable& table) {
  std::size_t bytes = 0;
  for (int i = 1; i <= table.size(); ++i) {
    const Station& s = table.station(i);
    if (s.usable) bytes += static_cast<std::size_t>(s.npts) * sizeof(float);
  }
  return bytes;
}

bool records_fit(const StationTable& table, std::size_t budget) {
  return record_bytes(table) <= budget / 2;
}

namespace {

// Reads station i into its row and header values; false (after its report) when it is unusable.
bool load_station(const ListLine& line, int i, StationTable& table, std::size_t room_left,
                  std::vector<float>& scratch, LastRead& last, Coordinates& read, std::FILE* err) {
  Station& s = table.station(i);
  bool cut = false;
  if (holds_nul(line.text)) {
    s.entry = entry_from_line(shown_line(line.text), &cut);
    report_unreadable(err, i, s,
                      "line " + std::to_string(i) + " of the station list holds a NUL byte");
    return false;
  }
  s.entry = entry_from_line(line.text, &cut);
  if (cut) {
    std::fprintf(err,
                 "xcorrnet_v3: warning: line %d of the station list has %zu characters; "
                 "using \"%s\"\n",
                 i, line.length, entry_path(s).c_str());
  }
  if (const std::string why = not_a_record(entry_path(s)); !why.empty()) {
    report_unreadable(err, i, s, why);
    return false;
  }
  RecordRead r;
  if (const std::string why = read_record(table, i, r, &scratch, room_left); !why.empty()) {
    report_unreadable(err, i, s, why);
    return false;
  }
  const int npts = r.npts;
  const float b = r.b;
  const float dt = r.dt;
  int nerr = 0;
  if (npts == 0) {
    // Its pairs would stack nothing and replace results with not-a-number.
    report_unreadable(err, i, s, "it has no samples");
    return false;
  }
  if (!(std::fabs(b) < 1e10f)) {
    // No time to line the record up by (a begin time of over 300 years is none either).
    report_unreadable(err, i, s, "its begin time B " + float_text(b) + " is no time");
    return false;
  }
  s.npts = npts;
  s.digest = r.digest;
  s.delta = dt;
  s.begin = b;
  set_reference(err, i, s);
  last = LastRead{npts, dt, b};
  getkhv("KSTNM", s.kstnm.data(), &nerr, 5, 10);
  getkhv("KCMPNM", s.kcmpnm.data(), &nerr, 6, 10);
  // Fields a record may well lack: taken as they stand, without a warning for each.
  copy_text(kSecondRecord.network.slot, s.knetwk);
  copy_text(kSecondRecord.location.slot, s.khole);
  s.cmpaz = Fhdr(kSecondRecord.cmpaz.index);
  s.cmpinc = Fhdr(kSecondRecord.cmpinc.index);
  getfhv("STLA", &read.stla, &nerr, 4);
  getfhv("STLO", &read.stlo, &nerr, 4);
  set_position(err, i, s, read.stla, read.stlo);
  return true;
}

}  // namespace

LastRead load_stations(const std::vector<ListLine>& lines, StationTable& table, std::FILE* err,
                       bool keep_rows, std::size_t budget) {
  std::size_t held = 0;
  LastRead last;
  // Without rows, each record passes through one buffer and is dropped.
  std::vector<float> scratch;
  ConsoleLine().text("          Input:").print();
  for (int i = 1; i <= table.size(); ++i) {
    Station& s = table.station(i);
    for (auto* field : {&s.kstnm, &s.kcmpnm, &s.knetwk, &s.khole}) field->fill(' ');
    // The Input line shows the coordinates as the file holds them, position or not.
    Coordinates read;
    const std::size_t room_left = keep_rows && held <= budget / 2 ? budget / 2 - held : 0;
    s.usable = load_station(lines[static_cast<std::size_t>(i - 1)], i, table, room_left, scratch,
                            last, read, err);
    // Nothing of a failed read may reach a result: its row is given back.
    if (!s.usable) table.drop(i);
    if (s.usable && keep_rows) {
      held += static_cast<std::size_t>(s.npts) * sizeof(float);
      if (table.row(i) == nullptr) {
        // More than the budget holds: the rest pass through one buffer.
        for (int k = 1; k <= i; ++k) table.drop(k);
        keep_rows = false;
      }
    }
    ConsoleLine()
        .integer(i)
        .text(std::string_view(s.entry.data(), kEntryWidth))
        .real(read.stla)
        .real(read.stlo)
        .print();
  }
  return last;
}

void read_rows(StationTable& table, const RankShare& share, std::FILE* err) {
  const int n = table.size();
  std::vector<std::string> why_not(static_cast<std::size_t>(n));
  for (int i = 1; i <= n; ++i) {
    Station& s = table.station(i);
    if (!s.usable || !share.holds(i)) continue;
    RecordRead r;
    std::string why = read_record(table, i, r, nullptr);
    if (why.empty() && !r.same_as(s)) why = kChanged;
    why_not[static_cast<std::size_t>(i - 1)] = why;
    // A streamed table reads its records where they are used.
    if (table.streamed()) table.drop(i);
  }
  // Several ranks may hold a station that cannot be read now: it is reported once (by rank 0,
  // with its own reason when it has one), and its pairs are skipped on every rank.
  std::vector<std::int64_t> failed(static_cast<std::size_t>(n));
  for (std::size_t k = 0; k < failed.size(); ++k) failed[k] = why_not[k].empty() ? 0 : 1;
  failed = ranks::sum_of(std::move(failed));
  for (int i = 1; i <= n; ++i) {
    const std::size_t k = static_cast<std::size_t>(i - 1);
    if (failed[k] == 0) continue;
    Station& s = table.station(i);
    report_unreadable(
        err, i, s, why_not[k].empty() ? "another rank of the run cannot read it now" : why_not[k]);
    s.usable = false;
    table.drop(i);
  }
}

bool same_interval(float delta, int npts, float dt) {
  // Intervals written by other programs differ in their last digits (0.0500000343 for 0.05):
  // the same interval while the difference adds up to less than half a sample over the
  // record. Written in the negative, so that a NaN is never the same.
  const double drift =
      std::fabs(static_cast<double>(delta) - static_cast<double>(dt)) * static_cast<double>(npts);
  return drift < static_cast<double>(dt) / 2.0;
}

float run_interval(const StationTable& table, std::size_t budget, float* unrunnable) {
  // Each distinct interval, in the order first listed, with the records that share it; so no
  // single record decides, and the list's order only breaks a tie.
  struct Candidate {
    float dt;
    int votes;  // records of this interval, float rounding included
    int exact;  // records of exactly this value: the one most written wins between variants
  };
  std::vector<Candidate> candidates;
  std::vector<std::pair<float, int>> records;  // interval, samples: sorted for the vote
  for (int i = 1; i <= table.size(); ++i) {
    const Station& s = table.station(i);
    if (!s.usable) continue;
    if (std::isfinite(s.delta)) records.emplace_back(s.delta, s.npts);
    const bool seen = std::any_of(candidates.begin(), candidates.end(), [&](const Candidate& c) {
      return c.dt == s.delta || (std::isnan(c.dt) && std::isnan(s.delta));
    });
    if (!seen) candidates.push_back({s.delta, 0, 0});
    for (Candidate& c : candidates) c.exact += c.dt == s.delta ? 1 : 0;
  }
  std::sort(records.begin(), records.end());
  for (Candidate& c : candidates) {
    if (!(c.dt > 0.0f) || !std::isfinite(c.dt)) continue;
    // Only records within half the interval can be within half a sample over their length.
    const auto first = std::lower_bound(records.begin(), records.end(),
                                        std::pair{c.dt * 0.5f, std::numeric_limits<int>::min()});
    const auto last = std::upper_bound(records.begin(), records.end(),
                                       std::pair{c.dt * 1.5f, std::numeric_limits<int>::max()});
    for (auto r = first; r != last; ++r) c.votes += same_interval(r->first, r->second, c.dt);
  }
  const auto most = [&](bool runnable) {
    const Candidate* best = nullptr;
    for (const Candidate& c : candidates) {
      if (runnable && !refuse_sampling(c.dt, budget).empty()) continue;
      // Between two writings of one interval (they differ in the last digits), the one more
      // records hold; between two intervals, the first listed.
      const bool variant = best != nullptr && std::fabs(c.dt - best->dt) < best->dt * 1e-5f;
      if (best == nullptr || c.votes > best->votes ||
          (c.votes == best->votes && variant && c.exact > best->exact)) {
        best = &c;
      }
    }
    return best;
  };
  if (const Candidate* best = most(true)) return best->dt;
  if (unrunnable != nullptr) {
    const Candidate* best = most(false);
    *unrunnable = best != nullptr ? best->dt : 0.0f;
  }
  return 0.0f;
}

void check_sampling(StationTable& table, float dt, std::FILE* err) {
  for (int i = 1; i <= table.size(); ++i) {
    Station& s = table.station(i);
    if (s.usable && !same_interval(s.delta, s.npts, dt)) {
      std::fprintf(err,
                   "xcorrnet_v3: station %d \"%s\" has sampling interval %s s, not the run's "
                   "%s s; its pairs are skipped\n",
                   i, entry_path(s).c_str(), float_text(s.delta).c_str(), float_text(dt).c_str());
      s.usable = false;
    }
  }
}

}  // namespace xcn
