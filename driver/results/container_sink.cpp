// A run's results into one container: rows written by one thread as pairs finish, the pairs'
// values at the end, the hidden file named once whole.
#include "driver/results/container_sink.hpp"

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
#include "driver/results/result_fields.hpp"
#include "driver/results/result_writer.hpp"
#include "geodesy/distaz.hpp"
#include "sacio/header_model.hpp"
#include "sacio/ref_time.hpp"
#include "sacio/write.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {

namespace {

// The hidden file being written, for the signal handler; empty when none.
char g_hidden[PATH_MAX + 1];
std::atomic<bool> g_has_hidden{false};

// Samples the queue holds at most before workers wait for the writer.
constexpr std::size_t kQueueBytes = std::size_t{64} << 20;

std::string file_name(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A code as a container keeps it: without blanks, empty where the record leaves it undefined.
std::string code_of(const std::array<char, 10>& code) {
  std::string s = results::without_blanks(std::string_view(code.data(), 8));
  return s == "-12345" ? std::string() : s;
}

results::RecordId record_of(const Station& s) {
  return {code_of(s.knetwk), code_of(s.kstnm), code_of(s.khole),
          code_of(s.kcmpnm), s.cmpaz,          s.cmpinc};
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
  std::vector<Name> names(static_cast<std::size_t>(pairs.size()));
  for (int ij = 1; ij <= pairs.size(); ++ij) {
    const std::string a = file_name(station_path(table.station(pairs.ni(ij))));
    const std::string b = file_name(station_path(table.station(pairs.nj(ij))));
    fill_field(names[static_cast<std::size_t>(ij - 1)], a + "_" + b);
  }
  return names;
}

void discard_container_file() {
  if (g_has_hidden.load()) ::unlink(g_hidden);
}

ContainerSink::ContainerSink(Run& run, const std::string& path, const char* engine, std::FILE* err)
    : run_(run), path_(path) {
  std::string error;
  if (!output_target(path, target_, mode_, error)) {
    throw Fatal{2, "xcorrnet_v3: error: the container " + error};
  }
  head_.interval = run.last.dt;
  head_.npts = window_settings(run.last.dt).nptlen;
  head_.window = kTimelen;
  head_.step = static_cast<float>(run.time.settings.overlap * interval_of(run.last.dt));
  head_.grid_start = run.time.dated ? iso_time(run.time.start_ms) : std::string();
  head_.engine = engine;
  head_.program = std::string("xcorrnet_v3 ") + XCNSACIO_VERSION;

  const PairTable& pairs = *run.pairs;
  const StationTable& t = *run.table;
  std::map<std::pair<std::string, std::string>, std::size_t> held;
  struct stat st;
  if (::stat(target_.c_str(), &st) == 0) {
    // Whatever stands there is replaced only when it is a container of this tool's.
    std::string why;
    old_ = results::ContainerReader::open(target_, why);
    if (!old_) {
      throw Fatal{2, "xcorrnet_v3: error: \"" + path + "\" is no run container of xcorrnet_v3 (" +
                         why + "); left as it is"};
    }
    const results::ContainerRun& was = old_->run();
    if (run.params.replace != 'Y') {
      if (was.npts != head_.npts || was.interval != head_.interval ||
          was.grid_start != head_.grid_start) {
        throw Fatal{2, "xcorrnet_v3: error: \"" + path + "\" holds another run (" +
                           std::to_string(was.npts) + " lags at " + std::to_string(was.interval) +
                           " s from \"" + was.grid_start +
                           "\"); replace Y computes a new one, or name another container"};
      }
      for (std::size_t k = 0; k < old_->pairs().size(); ++k) {
        const results::ContainerPair& p = old_->pairs()[k];
        if (p.stacked >= 0) held.emplace(std::make_pair(p.first, p.second), k);
        rows_.push_back(p);
      }
    } else {
      old_.reset();
    }
  }
  run.uses.assign(static_cast<std::size_t>(pairs.size()), ResultUse::kWrite);
  run.present.assign(static_cast<std::size_t>(pairs.size()), 0);
  for (int ij = 1; ij <= pairs.size(); ++ij) {
    const auto key = std::make_pair(station_path(t.station(pairs.ni(ij))),
                                    station_path(t.station(pairs.nj(ij))));
    if (held.count(key) != 0) run.present[static_cast<std::size_t>(ij - 1)] = 1;
  }
  row_of_.assign(static_cast<std::size_t>(pairs.size()), -1);
  for (int ij = 1; ij <= pairs.size(); ++ij) {
    if (!pair_may_run(run, ij)) continue;
    row_of_[static_cast<std::size_t>(ij - 1)] = static_cast<long long>(rows_.size());
    results::ContainerPair p;
    p.first = station_path(t.station(pairs.ni(ij)));
    p.second = station_path(t.station(pairs.nj(ij)));
    rows_.push_back(std::move(p));
  }
  begin(err);
}

void ContainerSink::begin(std::FILE* err) {
  // Nothing new: an existing container stays as it is.
  if (old_ && rows_.size() == old_->pairs().size()) return;
  std::string why;
  if (!hidden_.begin(target_, why)) {
    throw Fatal{
        2, "xcorrnet_v3: error: the container \"" + path_ + "\" cannot be begun beside it: " + why};
  }
  const std::string& temp = hidden_.path();
  if (temp.size() <= PATH_MAX) {
    std::memcpy(g_hidden, temp.c_str(), temp.size() + 1);
    g_has_hidden.store(true);
  }
  file_ = results::ContainerWriter::create(temp, head_, rows_.size(), why);
  if (!file_) {
    g_has_hidden.store(false);
    hidden_.discard();
    throw Fatal{2, "xcorrnet_v3: error: the container \"" + path_ + "\" cannot be written: " + why};
  }
  (void)err;
  try {
    thread_ = std::thread([this] { drain(); });
  } catch (const std::system_error&) {
    closing_ = true;  // the workers write their rows themselves
  }
}

ContainerSink::~ContainerSink() {
  finish();
  file_.reset();
  g_has_hidden.store(false);
  hidden_.discard();
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
  const StationTable& t = *run_.table;
  results::ContainerPair& p = rows_[static_cast<std::size_t>(row)];
  p.a = record_of(t.station(i));
  p.b = record_of(t.station(j));
  {
    // The values the SAC result's header would state: its final header as the pair loop sets
    // it, with the extremes and the header's own distance and azimuths, as a write makes them.
    const std::lock_guard<std::mutex> hold(library_lock());
    const int np = static_cast<int>(stack.yall.size());
    set_final_header(run_, i, j, g, np, run_.last.dt, result_begin(np, run_.last.dt));
    extrma(stack.yall.data(), 1, np, &p.depmin, &p.depmax, &p.depmen);
    update_distaz();
    p.evla = Fhdr(kEvla);
    p.evlo = Fhdr(kEvlo);
    p.stla = Fhdr(kStla);
    p.stlo = Fhdr(kStlo);
    p.dist = Fhdr(kDist);
    p.az = Fhdr(kAz);
    p.baz = Fhdr(kBaz);
    p.a.cmpaz = Fhdr(kFirstRecord.cmpaz.index);
    p.a.cmpinc = Fhdr(kFirstRecord.cmpinc.index);
    p.b.cmpaz = Fhdr(kSecondRecord.cmpaz.index);
    p.b.cmpinc = Fhdr(kSecondRecord.cmpinc.index);
  }
  p.stacked = stack.counter;
  if (const std::optional<RefFields> date = result_date(run_, i, j)) p.time = to_ms(*date);
  Queued q{static_cast<std::size_t>(row), ij, progress, stack.yall};
  const std::size_t bytes = q.samples.size() * sizeof(float);
  std::unique_lock<std::mutex> hold(lock_);
  if (closing_) {
    hold.unlock();
    write_row(q);
    return;
  }
  // Bounded: a worker waits while the writer is a queue's fill behind.
  room_.wait(hold, [&] { return held_ + bytes <= kQueueBytes || held_ == 0; });
  held_ += bytes;
  queue_.push_back(std::move(q));
  hold.unlock();
  ready_.notify_one();
}

void ContainerSink::write_row(const Queued& q) {
  q.progress.print();
  std::string why;
  if (run_.tally != nullptr) run_.tally->taken(q.ij);
  if (file_->put(q.row, q.samples, why)) {
    if (run_.tally != nullptr) run_.tally->written(q.ij);
    return;
  }
  if (run_.tally != nullptr) run_.tally->failed(q.ij);
  const std::lock_guard<std::mutex> hold(lock_);
  if (!failed_) failure_ = why;
  failed_ = true;
}

void ContainerSink::drain() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    ready_.wait(hold, [this] { return closing_ || !queue_.empty(); });
    if (queue_.empty()) return;
    Queued q = std::move(queue_.front());
    queue_.pop_front();
    hold.unlock();
    write_row(q);
    hold.lock();
    held_ -= q.samples.size() * sizeof(float);
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

void ContainerSink::complete(std::FILE* err) {
  finish();
  if (!file_) return;
  std::string why = failure_;
  bool ok = !failed_;
  // The pairs an earlier container holds, copied row by row.
  if (ok && old_) {
    std::vector<float> y(static_cast<std::size_t>(head_.npts));
    for (std::size_t k = 0; ok && k < old_->pairs().size(); ++k) {
      ok = old_->read(k, y, why) && file_->put(k, y, why);
    }
  }
  ok = ok && file_->close(rows_, why);
  file_.reset();
  ok = ok && hidden_.publish(mode_, why);
  g_has_hidden.store(false);
  hidden_.discard();
  if (ok) return;
  std::fprintf(err, "xcorrnet_v3: container \"%s\" could not be written: %s%s\n", path_.c_str(),
               why.c_str(), old_ ? "; the earlier one is left as it is" : "");
  if (run_.tally != nullptr) {
    for (int ij = 1; ij <= run_.pairs->size(); ++ij) {
      if (row_of_[static_cast<std::size_t>(ij - 1)] >= 0) run_.tally->failed(ij);
    }
  }
}

}  // namespace xcn
