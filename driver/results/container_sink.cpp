// A run's results into one container: rows written by one thread as pairs finish, the pairs'
// values at the end, the hidden file named once whole.
#include "driver/results/container_sink.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <utility>

#include "driver/fatal.hpp"
#include "driver/input/list_file.hpp"
#include "driver/pages.hpp"
#include "driver/ranks.hpp"
#include "driver/results/result_fields.hpp"
#include "driver/results/result_writer.hpp"
#include "geodesy/distaz.hpp"
#include "results/read_result.hpp"
#include "sacio/header_model.hpp"
#include "sacio/ref_time.hpp"
#include "sacio/write.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {

namespace {

// The hidden files being written, for the signal handler: this process's own (the container,
// or a rank's part) and, on rank 0 of several, the container the parts are joined into.
struct Hidden {
  char path[PATH_MAX + 1];
  std::atomic<bool> set{false};
};
Hidden g_hidden[2];
enum Slot { kOwnFile, kJoined };

void hide(Slot slot, const std::string& path) {
  Hidden& h = g_hidden[slot];
  h.set.store(false);
  if (path.size() > PATH_MAX) return;
  std::memcpy(h.path, path.c_str(), path.size() + 1);
  h.set.store(true);
}

void unhide(Slot slot) { g_hidden[slot].set.store(false); }

// Samples the queue holds at most before workers wait for the writer.
constexpr std::size_t kQueueBytes = std::size_t{64} << 20;
// Samples the writer gathers before it writes them, so that consecutive rows meet.
constexpr std::size_t kWriteBytes = std::size_t{8} << 20;

std::string file_name(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folder_of(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string iso_time(long long ms) { return format_time(ms) + "Z"; }

}  // namespace

bool names_container(const std::string& path) {
  if (!results::container_name(path)) return false;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return true;
  // An empty file is an empty name list, as it always was.
  return st.st_size > 0 && results::looks_like_netcdf(path);
}

std::vector<Name> container_pair_names(const StationTable& table, const PairTable& pairs) {
  std::vector<std::string> files(static_cast<std::size_t>(table.size()));
  for (int i = 1; i <= table.size(); ++i) {
    files[static_cast<std::size_t>(i - 1)] = file_name(station_path(table.station(i)));
  }
  std::vector<Name> names(static_cast<std::size_t>(pairs.size()));
  std::string name;
  for (int ij = 1; ij <= pairs.size(); ++ij) {
    name = files[static_cast<std::size_t>(pairs.ni(ij) - 1)];
    name += '_';
    name += files[static_cast<std::size_t>(pairs.nj(ij) - 1)];
    fill_field(names[static_cast<std::size_t>(ij - 1)], name);
  }
  return names;
}

void discard_container_file() {
  for (Hidden& h : g_hidden) {
    if (h.set.load()) ::unlink(h.path);
  }
}

ContainerSink::ContainerSink(Run& run, const std::string& path, const char* engine, std::FILE* err)
    : run_(run), path_(path) {
  (void)err;
  head_.interval = run.last.dt;
  head_.npts = window_settings(run.last.dt).nptlen;
  head_.window = kTimelen;
  head_.step = static_cast<float>(run.time.settings.overlap * interval_of(run.last.dt));
  head_.grid_start = run.time.dated ? iso_time(run.time.start_ms) : std::string();
  head_.engine = engine;
  head_.program = std::string("xcorrnet_v3 ") + XCNSACIO_VERSION;
  const auto n = static_cast<std::size_t>(run.pairs->size());
  run.uses.assign(n, ResultUse::kWrite);
  run.present.assign(n, 0);
  final_row_.assign(n, -1);
  std::string failure;
  if (ranks::rank() == 0) failure = plan();
  if (ranks::size() > 1) share_plan(failure);
  if (!failure.empty()) throw Fatal{2, failure};
}

// Rank 0: what stands under the name, the pairs it holds and the rows of the container; the
// reason when the name cannot take it.
std::string ContainerSink::plan() {
  std::string error;
  if (!output_target(path_, target_, mode_, error)) {
    return "xcorrnet_v3: error: the container " + error;
  }
  const PairTable& pairs = *run_.pairs;
  const StationTable& t = *run_.table;
  std::map<std::pair<std::string, std::string>, std::size_t> held;
  struct stat st;
  if (::stat(target_.c_str(), &st) == 0) {
    // Whatever stands there is replaced only when it is a container of this tool's.
    std::string why;
    old_ = results::ContainerReader::open(target_, why);
    if (!old_) {
      return "xcorrnet_v3: error: \"" + path_ + "\" is no run container of xcorrnet_v3 (" + why +
             "); left as it is";
    }
    const results::ContainerRun& was = old_->run();
    if (run_.params.replace != 'Y') {
      if (was.npts != head_.npts || was.interval != head_.interval ||
          was.grid_start != head_.grid_start) {
        return "xcorrnet_v3: error: \"" + path_ + "\" holds another run (" +
               std::to_string(was.npts) + " lags at " + std::to_string(was.interval) +
               " s from \"" + was.grid_start +
               "\"); replace Y computes a new one, or name another container";
      }
      for (std::size_t k = 0; k < old_->pairs().size(); ++k) {
        const results::ContainerPair& p = old_->pairs()[k];
        if (p.stacked >= 0) held.emplace(std::make_pair(p.first, p.second), k);
      }
      old_rows_ = old_->pairs().size();
      kept_old_ = true;
    } else {
      old_.reset();
    }
  }
  for (int ij = 1; ij <= pairs.size(); ++ij) {
    const auto key = std::make_pair(station_path(t.station(pairs.ni(ij))),
                                    station_path(t.station(pairs.nj(ij))));
    if (held.count(key) != 0) run_.present[static_cast<std::size_t>(ij - 1)] = 1;
  }
  // Made before the pairs are dealt: every rank's pairs that may run.
  std::size_t row = old_rows_;
  for (int ij = 1; ij <= pairs.size(); ++ij) {
    if (pair_may_run(run_, ij)) final_row_[static_cast<std::size_t>(ij - 1)] = row++;
  }
  new_rows_ = row - old_rows_;
  return {};
}

// Rank 0's plan (or its reason to refuse the name) on every rank.
void ContainerSink::share_plan(std::string& failure) {
  constexpr unsigned char kPresent = 1, kPlanned = 2;
  std::vector<unsigned char> bytes;
  const auto append = [&bytes](const void* data, std::size_t size) {
    const auto* b = static_cast<const unsigned char*>(data);
    bytes.insert(bytes.end(), b, b + size);
  };
  if (ranks::rank() == 0) {
    bytes.push_back(failure.empty() ? 0 : 1);
    if (!failure.empty()) {
      append(failure.data(), failure.size());
    } else {
      const std::uint64_t old_rows = old_rows_, target = target_.size();
      const std::uint32_t mode = mode_;
      bytes.push_back(kept_old_ ? 1 : 0);
      append(&old_rows, sizeof old_rows);
      append(&mode, sizeof mode);
      append(&target, sizeof target);
      append(target_.data(), target_.size());
      for (std::size_t k = 0; k < final_row_.size(); ++k) {
        bytes.push_back(static_cast<unsigned char>((run_.present[k] != 0 ? kPresent : 0) |
                                                   (final_row_[k] >= 0 ? kPlanned : 0)));
      }
    }
  }
  ranks::broadcast(bytes);
  if (ranks::rank() == 0) return;
  if (bytes.at(0) != 0) {
    failure.assign(bytes.begin() + 1, bytes.end());
    return;
  }
  std::uint64_t old_rows = 0, target = 0;
  std::uint32_t mode = 0;
  kept_old_ = bytes.at(1) != 0;
  std::size_t at = 2;
  const auto take = [&bytes, &at](void* data, std::size_t size) {
    std::memcpy(data, bytes.data() + at, size);
    at += size;
  };
  take(&old_rows, sizeof old_rows);
  take(&mode, sizeof mode);
  take(&target, sizeof target);
  target_.assign(reinterpret_cast<const char*>(bytes.data() + at), target);
  at += target;
  old_rows_ = old_rows;
  mode_ = static_cast<mode_t>(mode);
  std::size_t row = old_rows_;
  for (std::size_t k = 0; k < final_row_.size(); ++k, ++at) {
    run_.present[k] = (bytes[at] & kPresent) != 0;
    if ((bytes[at] & kPlanned) != 0) final_row_[k] = static_cast<long long>(row++);
  }
  new_rows_ = row - old_rows_;
}

results::ContainerPair ContainerSink::pair_of(int ij) const {
  results::ContainerPair p;
  p.first = station_path(run_.table->station(run_.pairs->ni(ij)));
  p.second = station_path(run_.table->station(run_.pairs->nj(ij)));
  return p;
}

std::string ContainerSink::part_name(int rank) const {
  return folder_of(target_) + "." + file_name(target_) + ".rank" + std::to_string(rank) + "." +
         suffix_;
}

// Creates the writer of this process's file at `path` (made already); the reason when it
// cannot.
std::string ContainerSink::begin_file(const std::string& path) {
  temp_ = path;
  hide(kOwnFile, temp_);
  std::string why;
  file_ = results::ContainerWriter::create(temp_, head_, rows_.size(), why);
  if (!file_) {
    ::unlink(temp_.c_str());
    unhide(kOwnFile);
    temp_.clear();
    return "xcorrnet_v3: error: the container \"" + path_ + "\" cannot be written: " + why;
  }
  return {};
}

void ContainerSink::open() {
  // Nothing new: an existing container stays as it is (every rank knows it from the plan).
  if (kept_old_ && new_rows_ == 0) return;
  const bool divided = ranks::size() > 1;
  std::string failure;
  std::string hidden;
  if (ranks::rank() == 0) {
    hidden = folder_of(target_) + "." + file_name(target_) + ".XXXXXX";
    const int fd = ::mkstemp(hidden.data());
    if (fd < 0) {
      failure = "xcorrnet_v3: error: the container \"" + path_ +
                "\" cannot be begun beside it: " + std::strerror(errno);
      hidden.clear();
    } else {
      ::close(fd);
    }
  }
  if (!divided) {
    if (!failure.empty()) throw Fatal{2, failure};
    rows_.reserve(old_rows_ + new_rows_);
    // Some 400 bytes a pair, written once through: 200 MB for a thousand stations.
    prefer_large_pages(rows_.data(), rows_.capacity() * sizeof(results::ContainerPair));
    if (old_) rows_ = old_->pairs();
    row_of_ = final_row_;
    for (int ij = 1; ij <= run_.pairs->size(); ++ij) {
      if (final_row_[static_cast<std::size_t>(ij - 1)] >= 0) rows_.push_back(pair_of(ij));
    }
    failure = begin_file(hidden);
    if (!failure.empty()) throw Fatal{2, failure};
  } else {
    failure = ranks::first_failure(failure);
    if (!failure.empty()) throw Fatal{2, failure};
    // Rank 0 holds the container's name; the parts are named after it.
    if (ranks::rank() == 0) {
      joined_ = hidden;
      hide(kJoined, joined_);
    }
    std::vector<unsigned char> suffix(hidden.end() - std::min<std::size_t>(hidden.size(), 6),
                                      hidden.end());
    ranks::broadcast(suffix);
    suffix_.assign(suffix.begin(), suffix.end());
    row_of_.assign(final_row_.size(), -1);
    for (int ij = 1; ij <= run_.pairs->size(); ++ij) {
      if (final_row_[static_cast<std::size_t>(ij - 1)] < 0 || !run_.mine(ij)) continue;
      row_of_[static_cast<std::size_t>(ij - 1)] = static_cast<long long>(rows_.size());
      rows_.push_back(pair_of(ij));
    }
    // A rank with no pair of the container's has no part.
    if (!rows_.empty()) {
      const std::string part = part_name(ranks::rank());
      const int fd =
          ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd < 0) {
        failure = "xcorrnet_v3: error: the container \"" + path_ +
                  "\" cannot be begun beside it: rank " + std::to_string(ranks::rank()) +
                  "'s part: " + std::strerror(errno);
      } else {
        ::close(fd);
        failure = begin_file(part);
      }
    }
    failure = ranks::first_failure(failure);
    if (!failure.empty()) throw Fatal{2, failure};
    if (!file_) return;
  }
  try {
    thread_ = std::thread([this] { drain(); });
  } catch (const std::system_error&) {
    closing_ = true;  // the workers write their rows themselves
  }
}

ContainerSink::~ContainerSink() {
  finish();
  file_.reset();
  if (!temp_.empty()) {
    unhide(kOwnFile);
    ::unlink(temp_.c_str());
  }
  if (!joined_.empty()) {
    unhide(kJoined);
    ::unlink(joined_.c_str());
  }
}

void ContainerSink::put(int ij, const Geometry& g, Stack& stack, const ConsoleLine& progress) {
  const long long row = row_of_[static_cast<std::size_t>(ij - 1)];
  if (row < 0 || !file_) {
    // A pair the plan did not count on cannot have a row.
    progress.print();
    if (run_.tally != nullptr) run_.tally->failed(ij);
    return;
  }
  const int i = run_.pairs->ni(ij);
  const int j = run_.pairs->nj(ij);
  results::ContainerPair& p = rows_[static_cast<std::size_t>(row)];
  // The extremes are taken before the lock, which the workers share.
  const int np = static_cast<int>(stack.yall.size());
  float lo = kUndefFloat, hi = kUndefFloat, mean = kUndefFloat;
  extremes(stack.yall.data(), 1, np, &lo, &hi, &mean);
  results::ContainerPair values;
  {
    // The values the SAC result's header would state: its final header as the pair loop sets
    // it, with the header's own distance and azimuths, as a write makes them.
    const std::lock_guard<std::mutex> hold(library_lock());
    if (np > 0) warn_outside_bounds(lo, hi);
    set_final_header(run_, i, j, g, np, run_.last.dt, result_begin(np, run_.last.dt));
    update_distaz();
    values = results::pair_of_header();
  }
  values.first = std::move(p.first);
  values.second = std::move(p.second);
  values.depmin = lo;
  values.depmax = hi;
  values.depmen = mean;
  values.stacked = stack.counter;
  p = std::move(values);
  Queued q{static_cast<std::size_t>(row), ij, progress, std::move(stack.yall)};
  const std::size_t bytes = q.samples.size() * sizeof(float);
  std::unique_lock<std::mutex> hold(lock_);
  if (closing_) {
    hold.unlock();
    std::vector<Queued> one;
    one.push_back(std::move(q));
    write_rows(one);
    return;
  }
  // Bounded: a worker waits while the writer is a queue's fill behind.
  room_.wait(hold, [&] { return held_ + bytes <= kQueueBytes || held_ == 0; });
  held_ += bytes;
  queued_ += bytes;
  queue_.push_back(std::move(q));
  const bool wake = queued_ >= kWriteBytes;
  hold.unlock();
  if (wake) ready_.notify_one();
}

// Prints the rows' lines, then writes each stretch of consecutive rows in one call: the file
// takes large writes whole, where single rows would each read their neighbourhood first.
void ContainerSink::write_rows(std::vector<Queued>& rows) {
  {
    ConsoleBatch lines;
    for (const Queued& q : rows) {
      lines.add(q.progress);
      if (run_.tally != nullptr) run_.tally->taken(q.ij);
    }
  }
  std::sort(rows.begin(), rows.end(),
            [](const Queued& a, const Queued& b) { return a.row < b.row; });
  const std::size_t npts = static_cast<std::size_t>(head_.npts);
  const auto whole = [npts](const Queued& q) { return q.samples.size() == npts; };
  // A stretch of at most 1 MiB: large enough for the library to write it whole, small beside
  // the queue.
  const std::size_t most =
      std::max<std::size_t>(1, (std::size_t{1} << 20) / (npts * sizeof(float) + 1));
  for (std::size_t a = 0; a < rows.size();) {
    std::size_t b = a + 1;
    if (whole(rows[a])) {
      while (b < rows.size() && b - a < most && whole(rows[b]) &&
             rows[b].row == rows[b - 1].row + 1) {
        ++b;
      }
    }
    std::span<const float> y = rows[a].samples;
    if (b - a > 1) {
      stretch_.resize((b - a) * npts);
      for (std::size_t k = a; k < b; ++k) {
        std::copy(rows[k].samples.begin(), rows[k].samples.end(),
                  stretch_.begin() + static_cast<std::ptrdiff_t>((k - a) * npts));
      }
      y = stretch_;
    }
    std::string why;
    const bool ok = file_->put_rows(rows[a].row, b - a, y, why);
    if (run_.tally != nullptr) {
      for (std::size_t k = a; k < b; ++k) {
        if (ok) {
          run_.tally->written(rows[k].ij);
        } else {
          run_.tally->failed(rows[k].ij);
        }
      }
    }
    if (!ok) {
      const std::lock_guard<std::mutex> hold(lock_);
      if (!failed_) failure_ = why;
      failed_ = true;
    }
    a = b;
  }
}

void ContainerSink::drain() {
  std::vector<Queued> rows;
  for (;;) {
    std::size_t bytes = 0;
    {
      std::unique_lock<std::mutex> hold(lock_);
      ready_.wait(hold, [this] { return closing_ || queued_ >= kWriteBytes; });
      if (queue_.empty()) return;
      rows.assign(std::make_move_iterator(queue_.begin()), std::make_move_iterator(queue_.end()));
      queue_.clear();
      bytes = queued_;
      queued_ = 0;
    }
    write_rows(rows);
    {
      const std::lock_guard<std::mutex> hold(lock_);
      held_ -= bytes;
    }
    room_.notify_all();
  }
}

void ContainerSink::finish() {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    closing_ = true;
  }
  ready_.notify_one();
  if (thread_.joinable()) thread_.join();
}

namespace {

// Copies rows of `from` into `to`, a stretch at a time: row k into row rows[k], or into row k
// when `rows` is null.
// A failure to read is said as `from_name`'s; one to write, as the container's.
bool copy_rows(const results::ContainerReader& from, const std::string& from_name,
               results::ContainerWriter& to, const std::vector<std::size_t>* rows,
               std::vector<float>& y, std::string& why) {
  constexpr std::size_t kRows = 64;
  const std::size_t npts = static_cast<std::size_t>(from.run().npts);
  const std::size_t total = from.pairs().size();
  const auto target = [rows](std::size_t k) { return rows != nullptr ? (*rows)[k] : k; };
  for (std::size_t k = 0; k < total;) {
    std::size_t count = 1;
    while (count < kRows && k + count < total && target(k + count) == target(k) + count) ++count;
    y.resize(count * npts);
    if (!from.read_rows(k, count, y, why)) {
      why = from_name + why;
      return false;
    }
    if (!to.put_rows(target(k), count, y, why)) return false;
    k += count;
  }
  return true;
}

// Names the finished file at `hidden` as the container `target`.
bool name_as(const std::string& hidden, const std::string& target, mode_t mode, std::string& why) {
  if (::chmod(hidden.c_str(), mode) != 0 || std::rename(hidden.c_str(), target.c_str()) != 0) {
    why = std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

// Rank 0 of several: the earlier container's rows, then each rank's part in turn, into the
// container under its hidden name, which is then named. Empty, or the reason it failed.
std::string ContainerSink::join() {
  std::string why;
  auto out = results::ContainerWriter::create(joined_, head_, old_rows_ + new_rows_, why);
  if (!out) return why;
  std::vector<results::ContainerPair> all;
  all.reserve(old_rows_ + new_rows_);
  std::vector<float> y(static_cast<std::size_t>(head_.npts));
  if (old_) {
    all = old_->pairs();
    if (!copy_rows(*old_, "the earlier container: ", *out, nullptr, y, why)) return why;
  }
  all.resize(old_rows_ + new_rows_);
  const PairTable& pairs = *run_.pairs;
  std::vector<std::size_t> rows;  // a part's rows in the container
  std::vector<int> pairs_of;      // and their pairs
  for (int rank = 0; rank < ranks::size(); ++rank) {
    rows.clear();
    pairs_of.clear();
    for (int ij = 1; ij <= pairs.size(); ++ij) {
      const long long row = final_row_[static_cast<std::size_t>(ij - 1)];
      if (row >= 0 && run_.share.owner(pairs.ni(ij), pairs.nj(ij)) == rank) {
        rows.push_back(static_cast<std::size_t>(row));
        pairs_of.push_back(ij);
      }
    }
    if (rows.empty()) continue;
    const std::string own = "rank " + std::to_string(rank) + "'s part: ";
    const auto part = results::ContainerReader::open(part_name(rank), why);
    if (!part) return own + why;
    // A part holds its rank's pairs in pair order, as planned.
    if (part->pairs().size() != rows.size()) return own + "it holds another number of rows";
    for (std::size_t k = 0; k < rows.size(); ++k) {
      const results::ContainerPair& p = part->pairs()[k];
      const results::ContainerPair planned = pair_of(pairs_of[k]);
      if (p.first != planned.first || p.second != planned.second) {
        return own + "it holds other pairs than planned";
      }
      all[rows[k]] = p;
    }
    if (!copy_rows(*part, own, *out, &rows, y, why)) return why;
  }
  if (!out->close(all, why)) return why;
  out.reset();
  if (!name_as(joined_, target_, mode_, why)) return why;
  unhide(kJoined);
  joined_.clear();
  return {};
}

void ContainerSink::complete(std::FILE* err) {
  finish();
  // Nothing new: the earlier container stays as it is.
  if (kept_old_ && new_rows_ == 0) return;
  std::string why;
  bool ok = true;
  if (ranks::size() == 1) {
    if (!file_) return;
    ok = !failed_;
    why = failure_;
    std::vector<float> y(static_cast<std::size_t>(head_.npts));
    // The pairs an earlier container holds, copied row by row.
    if (ok && old_) ok = copy_rows(*old_, "the earlier container: ", *file_, nullptr, y, why);
    ok = ok && file_->close(rows_, why);
    file_.reset();
    ok = ok && name_as(temp_, target_, mode_, why);
    if (ok) {
      unhide(kOwnFile);
      temp_.clear();
    }
  } else {
    // Every part closed before rank 0 joins them; then the outcome on every rank.
    std::string own;
    if (file_) {
      bool closed = !failed_;
      own = failure_;
      closed = closed && file_->close(rows_, own);
      file_.reset();
      own = closed ? std::string() : "rank " + std::to_string(ranks::rank()) + "'s part: " + own;
    }
    why = ranks::first_failure(own);
    if (why.empty()) why = ranks::first_failure(ranks::rank() == 0 ? join() : std::string());
    ok = why.empty();
  }
  // What is left under a hidden name (every part; the container when not named).
  if (!temp_.empty()) {
    unhide(kOwnFile);
    ::unlink(temp_.c_str());
    temp_.clear();
  }
  if (!joined_.empty()) {
    unhide(kJoined);
    ::unlink(joined_.c_str());
    joined_.clear();
  }
  if (ok) return;
  if (why.empty()) why = "a row could not be written";
  if (ranks::rank() == 0) {
    std::fprintf(err, "xcorrnet_v3: container \"%s\" could not be written: %s%s\n", path_.c_str(),
                 why.c_str(), old_ ? "; the earlier one is left as it is" : "");
  }
  // Each rank its own rows.
  if (run_.tally != nullptr) {
    for (int ij = 1; ij <= run_.pairs->size(); ++ij) {
      if (row_of_[static_cast<std::size_t>(ij - 1)] >= 0) run_.tally->failed(ij);
    }
  }
}

}  // namespace xcn
