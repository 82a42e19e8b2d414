// Progress line and result file of a computed pair, with its final header.
#include "driver/results/result_writer.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <utility>

#include "driver/console.hpp"
#include "driver/results/header_pass.hpp"
#include "driver/results/result_fields.hpp"
#include "sacio/file.hpp"
#include "sacio/write.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {

std::mutex& library_lock() {
  static std::mutex lock;
  return lock;
}

std::string write_failure(int nerr, int error) {
  if (error != 0) return std::strerror(error);
  switch (nerr) {
    case SACIO_ERR_OPEN:
      return "the file cannot be created";
    case SACIO_ERR_WRITE:
      return "fewer bytes written than requested";
    case SACIO_ERR_NO_OVERWRITE:
      return "overwriting is not allowed (LOVROK is false)";
    default:
      return "write error " + std::to_string(nerr);
  }
}

std::string image_failure(const ImageWrite& w) {
  return w.link.empty() ? write_failure(w.nerr, w.error) : link_refusal(w.link);
}

void set_text(const char* field, const char* value, int length) {
  int nerr = 0;
  setkhv(field, value, &nerr, static_cast<int>(std::strlen(field)), length);
}
void set_real(const char* field, float value) {
  int nerr = 0;
  setfhv(field, &value, &nerr, static_cast<int>(std::strlen(field)));
}
void set_integer(const char* field, int value) {
  int nerr = 0;
  setnhv(field, &value, &nerr, static_cast<int>(std::strlen(field)));
}

float result_begin(int nptlen, float dt) { return static_cast<float>(-(nptlen / 2)) * dt; }

bool holds_correlation(int npts, float b, float dt) { return b == result_begin(npts, dt); }

std::string kept_as_is(int npts, float b, float dt, int lovrok) {
  if (!holds_correlation(npts, b, dt)) {
    return "holds no correlation (its begin time is not -(NPTS/2) x DELTA)";
  }
  if (lovrok == 0) return "may not be overwritten (LOVROK is false)";
  return {};
}

namespace {

// A station name without its leading and trailing blanks.
std::string strip_blanks(const std::array<char, 10>& field) {
  const std::string s = trimmed(std::string_view(field.data(), field.size()));
  return s.substr(std::min(s.find_first_not_of(' '), s.size()));
}

}  // namespace

std::string pair_event_name(const Station& a, const Station& b) {
  return strip_blanks(a.kstnm) + "-" + strip_blanks(b.kstnm);
}

std::optional<RefFields> result_date(const Run& run, int i, int j) {
  const StationTable& t = *run.table;
  if (!run.time.dated || !t.station(i).dated || !t.station(j).dated) return std::nullopt;
  // The first grid window both records could begin, as the two records themselves time its
  // first sample (the earlier of the two): no other record of the run moves it.
  const long long step = static_cast<long long>(run.time.settings.overlap);
  auto first_window = [&](int s) {
    const long long shift = run.time.place(s).shift;
    return shift > 0 ? (shift + step - 1) / step : 0;
  };
  const long long k = std::max(first_window(i), first_window(j));
  auto time_ms = [&](int s) {
    const Station& st = t.station(s);
    const double offset = static_cast<double>(k * step - run.time.place(s).shift);
    return st.reference_ms + std::llround((st.begin + offset * interval_of(run.time.dt)) * 1000.0);
  };
  return from_ms(std::min(time_ms(i), time_ms(j)));
}

namespace {

// A code into its slot as setkhv by name puts it (a blank one leaves the field undefined),
// without looking the name up: the header pass sets half a million headers.
void put_code(TextField f, const std::array<char, 10>& code) {
  if (std::all_of(code.begin(), code.begin() + 8, [](char c) { return c == ' '; })) return;
  std::memcpy(Khdr(f.slot), code.data(), 8);
}

// A record's codes and orientation in the fields the result keeps it in.
void set_record(const RecordFields& f, const Station& s) {
  put_code(f.network, s.knetwk);
  put_code(f.station, s.kstnm);
  put_code(f.location, s.khole);
  put_code(f.component, s.kcmpnm);
  Fhdr(f.cmpaz.index) = s.cmpaz;
  Fhdr(f.cmpinc.index) = s.cmpinc;
}

}  // namespace

void set_final_header(const Run& run, int i, int j, const Geometry& g, int np, float dt, float b) {
  const StationTable& t = *run.table;
  Name kevnm;
  fill_field(kevnm, pair_event_name(t.station(i), t.station(j)));
  newhdr();
  // Numeric fields by their slots: the same values the by-name setters store, without looking
  // each name up (the header pass sets half a million headers at a thousand stations).
  Nhdr(kNpts) = np;
  Fhdr(kDelta) = dt;
  Fhdr(kB) = b;
  set_text("KEVNM", kevnm.data(), static_cast<int>(kNameWidth));
  set_record(kFirstRecord, t.station(i));
  set_record(kSecondRecord, t.station(j));
  Fhdr(kStla) = t.station(j).stla;
  Fhdr(kStlo) = t.station(j).stlo;
  Fhdr(kEvla) = t.station(i).stla;
  Fhdr(kEvlo) = t.station(i).stlo;
  Fhdr(kDist) = static_cast<float>(g.dist);
  Fhdr(kAz) = static_cast<float>(g.az);
  Fhdr(kBaz) = static_cast<float>(g.baz);
  if (const std::optional<RefFields> date = result_date(run, i, j)) set_header_ref_fields(*date);
}

namespace {

// What became of pair ij's file: counted in the run's tally and, when it failed, reported on
// standard error (the library has said its piece on standard output; scripts read the outcome
// here).
void settle(const Run& run, int ij, int nerr, const std::string& why) {
  if (run.tally != nullptr) run.tally->taken(ij);
  if (nerr == 0) {
    if (run.tally != nullptr) run.tally->written(ij);
    return;
  }
  if (run.tally != nullptr) run.tally->failed(ij);
  const std::string line =
      "xcorrnet_v3: result \"" + run.path(ij) + "\" could not be written: " + why + "\n";
  std::fputs(line.c_str(), stderr);
}

// Prints a result's progress line and writes its file from its image: the temporary beside its
// name, renamed over it once whole. A progress line comes just before its file.
void write_file(const Run& run, int ij, const ConsoleLine& progress, const SacImage& image) {
  progress.print();
  const ImageWrite w = write_image(image, false);
  if (w.nerr != 0) {
    const std::lock_guard<std::mutex> hold(library_lock());
    report_image_failure(image, w);
  }
  settle(run, ij, w.nerr, image_failure(w));
}

// Makes the file of pair ij's stack with its final header, the very bytes the header pass
// would give it, so that the pass finds nothing to change, and writes it or hands it to the
// run's writer.
void write_result(const Run& run, int ij, const Geometry& g, Stack& stack,
                  const ConsoleLine& progress, ResultWriter* writer) {
  const int i = run.pairs->ni(ij);
  const int j = run.pairs->nj(ij);
  const int nptlen = static_cast<int>(stack.yall.size());
  const float dt = run.last.dt;
  float xdummy = 0.0f;
  int nerr = 0;
  int error = 0;
  SacImage image;
  {
    // The header and the file's bytes need the library's one current header; the file's
    // input and output do not, so workers write their files side by side.
    const std::lock_guard<std::mutex> hold(library_lock());
    set_final_header(run, i, j, g, nptlen, dt, result_begin(nptlen, dt));
    image = sac_image(run.name(ij).data(), &xdummy, stack.yall.data(), &nerr,
                      static_cast<int>(kNameWidth));
    error = errno;
  }
  if (nerr != 0) {
    progress.print();
    settle(run, ij, nerr, write_failure(nerr, error));
  } else if (writer != nullptr) {
    writer->put(ij, progress, std::move(image));
  } else {
    write_file(run, ij, progress, image);
  }
}

// Images the queue holds at most; beyond that a worker writes its own files.
constexpr std::size_t kQueueBytes = std::size_t{32} << 20;

}  // namespace

ResultWriter::ResultWriter(const Run& run) : run_(run) {
  try {
    thread_ = std::thread([this] { drain(); });
  } catch (const std::system_error&) {
    // No thread to be had: each worker writes its own files.
    closing_ = true;
  }
}

ResultWriter::~ResultWriter() { finish(); }

void ResultWriter::put(int ij, const ConsoleLine& progress, SacImage image) {
  {
    std::unique_lock<std::mutex> hold(lock_);
    if (!closing_ && held_ + image.bytes.size() <= kQueueBytes) {
      held_ += image.bytes.size();
      queue_.push_back({ij, progress, std::move(image)});
      // Woken only when it waits: half a million files need not cost as many wake-ups.
      const bool wake = idle_;
      hold.unlock();
      if (wake) ready_.notify_one();
      return;
    }
  }
  // The writer is behind (the disk is the limit): this worker writes too.
  write_file(run_, ij, progress, image);
}

void ResultWriter::drain() {
  std::deque<Queued> taken;
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    idle_ = true;
    ready_.wait(hold, [this] { return closing_ || !queue_.empty(); });
    idle_ = false;
    if (queue_.empty()) return;
    // Everything queued so far, written without the lock.
    taken.swap(queue_);
    hold.unlock();
    std::size_t bytes = 0;
    for (const Queued& q : taken) {
      write_file(run_, q.ij, q.progress, q.image);
      bytes += q.image.bytes.size();
    }
    taken.clear();
    hold.lock();
    held_ -= bytes;
  }
}

void ResultWriter::finish() {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    closing_ = true;
  }
  ready_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void finish_pair(const Run& run, int ij, const Geometry& g, Stack& stack) {
  const int i = run.pairs->ni(ij);
  const int j = run.pairs->nj(ij);
  const StationTable& t = *run.table;
  const float pct = static_cast<float>(ij) / static_cast<float>(run.names.size()) * 100.0f;
  ConsoleLine progress;
  progress.integer(static_cast<int>(pct))
      .text("%       ")
      .text(run.name(ij))
      .text("Dist: ")
      .real(static_cast<float>(g.dist))
      .text("(km) Time Window:")
      .real(kTimelen)
      .text("# of stacking:")
      .integer(stack.counter)
      .integer(i)
      .real(t.station(i).stlo)
      .integer(j)
      .real(t.station(j).stlo);
  if (stack.counter == 0 && run.empty != nullptr) {
    run.empty->mark(ij,
                    stack.shared == 0 ? EmptyTally::kNoSharedWindow : EmptyTally::kNoneAccepted);
  }
  if (run.sink != nullptr) {
    run.sink->put(ij, g, stack, progress);
  } else {
    write_result(run, ij, g, stack, progress, nullptr);
  }
}

SacFiles::SacFiles(const Run& run) : run_(run), writer_(run) {}

void SacFiles::put(int ij, const Geometry& g, Stack& stack, const ConsoleLine& progress) {
  write_result(run_, ij, g, stack, progress, &writer_);
}

void SacFiles::finish() { writer_.finish(); }

void SacFiles::complete(std::FILE* err) { header_pass(run_, err); }

}  // namespace xcn
