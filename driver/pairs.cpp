// Pair table, worker blocks, the parallel pair loop with its window stack, the result writer
// and the header pass.
#include "driver/pairs.hpp"

#include <omp.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "driver/console.hpp"
#include "geodesy/elpdst.hpp"
#include "msg/message.hpp"
#include "signal/stats.hpp"
#include "signal/xcorr.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {

PairTable::PairTable(int n) {
  const std::size_t nij = static_cast<std::size_t>(n) * (static_cast<std::size_t>(n) + 1) / 2;
  ni_.reserve(nij);
  nj_.reserve(nij);
  for (int i = 1; i <= n; ++i) {
    for (int j = i; j <= n; ++j) {
      ni_.push_back(i);
      nj_.push_back(j);
    }
  }
}

Block worker_block(int nij, int workers, int t) {
  const int q = nij / workers;
  const int r = nij % workers;
  const int first = t < r ? t * (q + 1) + 1 : t * q + r + 1;
  const int count = t < r ? q + 1 : q;
  return {first, first + count - 1};
}

WindowSettings window_settings(float dt) {
  // The step is timelen * (1 - ovlp) in single precision, 200.0000457763671875, not 200.
  const float step = kTimelen * (1.0f - kOvlp);
  return {static_cast<int>(std::labs(std::lroundf(kTimelen / dt))),
          static_cast<float>(std::labs(std::lroundf(step / dt)))};
}

const char* refuse_sampling(float dt) {
  if (!std::isfinite(dt) || dt <= 0.0f) return "it is not a positive finite number";
  if (kTimelen / dt > static_cast<float>(kCapacity) + 0.5f) {
    return "the 2000 s window would exceed the record capacity of 172800 samples";
  }
  if (window_settings(dt).overlap < 1.0f) return "the window step would be below one sample";
  return nullptr;
}

std::string_view Run::name(int ij) const {
  static const Name blank = [] {
    Name b;
    b.fill(' ');
    return b;
  }();
  const Name& n = ij <= static_cast<int>(names.size()) ? names[static_cast<std::size_t>(ij - 1)]
                                                       : blank;
  return std::string_view(n.data(), kNameWidth);
}

std::string Run::path(int ij) const { return trimmed(name(ij)); }

bool Run::has_name(int ij) const {
  if (ij > static_cast<int>(names.size())) return false;
  const Name& n = names[static_cast<std::size_t>(ij - 1)];
  return std::any_of(n.begin(), n.end(), [](char c) { return c != ' '; });
}

std::mutex& library_lock() {
  static std::mutex lock;
  return lock;
}

void print_pair_table(const Run& run) {
  ConsoleLine().text(" ").print();
  ConsoleLine().text("          Output:").print();
  for (int ij = 1; ij <= run.pairs->size(); ++ij) {
    ConsoleLine()
        .integer(ij)
        .integer(run.pairs->ni(ij))
        .integer(run.pairs->ni(ij))
        .integer(run.pairs->nj(ij))
        .integer(run.pairs->nj(ij))
        .text(run.name(ij))
        .print();
  }
  ConsoleLine().text(" ").print();
}

namespace {

bool file_exists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool coincident(const Station& a, const Station& b) { return a.stla == b.stla && a.stlo == b.stlo; }

// A station name without its leading and trailing blanks.
std::string strip_blanks(const std::array<char, 10>& field) {
  const std::string s = trimmed(std::string_view(field.data(), field.size()));
  return s.substr(std::min(s.find_first_not_of(' '), s.size()));
}

void print_skip(const Run& run, int ij) {
  ConsoleLine().text("         skip ").text(run.name(ij)).print();
}

// Sets the text of a header field from a blank-padded value.
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

// Writes the stack of pair ij with its provisional header.
void write_result(const Run& run, int ij, int i, int j, Stack& stack) {
  const StationTable& t = *run.table;
  const int nptlen = static_cast<int>(stack.yall.size());
  const float dt = run.last.dt;
  const float tbeg = static_cast<float>(-(nptlen / 2)) * dt;
  const float tend = static_cast<float>((nptlen - 1) / 2) * dt;
  float xdummy = 0.0f;
  int nerr = 0;
  std::lock_guard<std::mutex> hold(library_lock());
  newhdr();
  set_integer("NPTS", nptlen);
  set_real("DELTA", dt);
  set_real("B", tbeg);
  set_real("E", tend);
  set_text("KSTNM", t.station(i).kstnm.data(), 10);
  set_text("KCMPNM", t.station(j).kcmpnm.data(), 10);
  set_real("STLA", t.station(j).stla);
  set_real("STLO", t.station(j).stlo);
  set_real("EVLA", t.station(i).stla);
  set_real("EVLO", t.station(i).stlo);
  wsac0(run.name(ij).data(), &xdummy, stack.yall.data(), &nerr, static_cast<int>(kNameWidth));
}

bool pair_selected(const Run& run, int ij) {
  const int i = run.pairs->ni(ij);
  const int j = run.pairs->nj(ij);
  const StationTable& t = *run.table;
  const char abc = run.params.abc;
  const bool selected = i == j ? (abc == 'A' || abc == 'B') : (abc == 'B' || abc == 'C');
  return selected && run.has_name(ij) && t.station(i).usable && t.station(j).usable;
}

void run_pair(const Run& run, int ij, WorkerBuffers& buffers, Stack& stack) {
  if (!pair_wanted(run, ij)) return;
  const int i = run.pairs->ni(ij);
  const int j = run.pairs->nj(ij);
  const StationTable& t = *run.table;
  const Geometry g = pair_geometry(t.station(i), t.station(j));
  const WindowSettings w = window_settings(run.last.dt);
  stack_pair(t, i, j, pair_nptend(run, i, j), w, run.last.dt, static_cast<float>(g.dist), buffers,
             stack);
  finish_pair(run, ij, g, stack);
}

}  // namespace

Geometry pair_geometry(const Station& a, const Station& b) {
  Geometry g;
  if (!coincident(a, b)) elpdst(a.stla, a.stlo, b.stla, b.stlo, g.dist, g.az, g.baz);
  return g;
}

int pair_number(int n, int i, int j) {
  // Rows 1 .. i-1 hold n, n-1, ..., n-i+2 pairs.
  const long long before =
      static_cast<long long>(i - 1) * n - static_cast<long long>(i - 1) * (i - 2) / 2;
  return static_cast<int>(before + (j - i) + 1);
}

bool pair_would_run(const Run& run, int ij) {
  // An existing output is left alone unless the replace flag is Y.
  return pair_selected(run, ij) && !(run.params.replace != 'Y' && file_exists(run.path(ij)));
}

bool pair_wanted(const Run& run, int ij) {
  if (pair_would_run(run, ij)) return true;
  print_skip(run, ij);
  return false;
}

int pair_nptend(const Run& run, int i, int j) {
  // Only samples that both records hold take part.
  const StationTable& t = *run.table;
  return std::min({run.last.np, t.station(i).npts, t.station(j).npts});
}

void finish_pair(const Run& run, int ij, const Geometry& g, Stack& stack) {
  const int i = run.pairs->ni(ij);
  const int j = run.pairs->nj(ij);
  const StationTable& t = *run.table;
  const float pct = static_cast<float>(ij) / static_cast<float>(run.names.size()) * 100.0f;
  ConsoleLine()
      .integer(static_cast<int>(pct))
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
      .real(t.station(j).stlo)
      .print();
  write_result(run, ij, i, j, stack);
}

std::vector<std::size_t> window_offsets(const WindowSettings& w, int nptend) {
  std::vector<std::size_t> offsets;
  // While the window ends at or before the last sample; the start is a float sum of steps.
  for (float startp = 0.0f; startp + static_cast<float>(w.nptlen) < static_cast<float>(nptend + 1);
       startp += w.overlap) {
    offsets.push_back(static_cast<std::size_t>(startp));
  }
  return offsets;
}

void Stack::reset(int nptlen) {
  yall.assign(static_cast<std::size_t>(nptlen), 0.0f);
  count_ = 0.0f;
  counter = 0;
}

void Stack::add(std::span<const float> yyc) {
  for (std::size_t k = 0; k < yall.size(); ++k) yall[k] += yyc[k];
  added();
}

void Stack::finish() {
  for (float& v : yall) v /= count_;
  counter = static_cast<int>(count_);
}

void stack_pair(const StationTable& table, int i, int j, int nptend, const WindowSettings& w,
                float dt, float dist, WorkerBuffers& buffers, Stack& stack) {
  const int nptlen = w.nptlen;
  const std::size_t len = static_cast<std::size_t>(nptlen);
  buffers.y1.resize(len);
  buffers.y2.resize(len);
  buffers.yyc.resize(len);
  stack.reset(nptlen);

  const float* row1 = table.row(i);
  const float* row2 = table.row(j);
  const float y1std = std(std::span<const float>(row1, kCapacity), nptend);
  const float y2std = std(std::span<const float>(row2, kCapacity), nptend);
  for (const std::size_t offset : window_offsets(w, nptend)) {
    std::copy_n(row1 + offset, len, buffers.y1.begin());
    std::copy_n(row2 + offset, len, buffers.y2.begin());
    const float crt1 = std(buffers.y1, nptlen);
    const float crt2 = std(buffers.y2, nptlen);
    if (crt1 < kCrtStd * y1std && crt2 < kCrtStd * y2std) {
      // The second station's window goes first: a positive lag is a later arrival there.
      ccfunction(buffers.y2, buffers.y1, dt, nptlen, buffers.yyc, kTimelen, dist, stack.count(),
                 buffers.work);
      stack.add(buffers.yyc);
    }
  }
  stack.finish();
}

void run_pair_loop(const Run& run) {
  const int nij = run.pairs->size();
#pragma omp parallel
  {
    const Block block = worker_block(nij, omp_get_num_threads(), omp_get_thread_num());
    WorkerBuffers buffers;
    Stack stack;
    for (int ij = block.first; ij <= block.last; ++ij) run_pair(run, ij, buffers, stack);
  }
}

void header_pass(const Run& run, std::FILE* err) {
  const StationTable& t = *run.table;
  std::vector<float> yz(kCapacity);
  for (int ij = 1; ij <= run.pairs->size(); ++ij) {
    const std::string path = run.path(ij);
    if (!run.has_name(ij) || !file_exists(path)) continue;
    const int i = run.pairs->ni(ij);
    const int j = run.pairs->nj(ij);
    // Files of pairs with an unreadable station are left as they are.
    if (!t.station(i).usable || !t.station(j).usable) continue;
    if (std::filesystem::is_directory(path)) {
      std::fprintf(err, "xcorrnet_v3: result \"%s\" is a directory; left as it is\n",
                   path.c_str());
      continue;
    }

    // Event name: the two station names without leading blanks, joined by a hyphen.
    Name kevnm;
    fill_field(kevnm, strip_blanks(t.station(i).kstnm) + "-" + strip_blanks(t.station(j).kstnm));
    const Geometry g = pair_geometry(t.station(i), t.station(j));

    int np = 0, nerr = 0, capacity = kCapacity;
    float b = 0.0f, dt = 0.0f, xdummy = 0.0f;
    rsac1(run.name(ij).data(), yz.data(), &np, &b, &dt, &capacity, &nerr,
          static_cast<int>(kNameWidth));
    if (nerr != 0) {
      // Rewriting would store other samples, or fewer, under this name: leave the file alone.
      std::fprintf(err, "xcorrnet_v3: result \"%s\" cannot be read back: %s; left as it is\n",
                   path.c_str(),
                   nerr == -803 ? "it holds more than 172800 samples" : read_failure(nerr).c_str());
      clrmsg();
      continue;
    }
    newhdr();
    set_integer("NPTS", np);
    set_real("DELTA", dt);
    set_real("B", b);
    set_text("KEVNM", kevnm.data(), static_cast<int>(kNameWidth));
    set_text("KCMPNM", t.station(j).kcmpnm.data(), 10);
    set_real("STLA", t.station(j).stla);
    set_real("STLO", t.station(j).stlo);
    set_real("EVLA", t.station(i).stla);
    set_real("EVLO", t.station(i).stlo);
    set_real("DIST", static_cast<float>(g.dist));
    set_real("AZ", static_cast<float>(g.az));
    set_real("BAZ", static_cast<float>(g.baz));
    wsac0(run.name(ij).data(), &xdummy, yz.data(), &nerr, static_cast<int>(kNameWidth));
  }
}

}  // namespace xcn
