// Progress line and result file of a computed pair, with its provisional header.
#include "driver/result_writer.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/console.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {

std::mutex& library_lock() {
  static std::mutex lock;
  return lock;
}

std::string write_failure(int nerr, int error) {
  if (error != 0) return std::strerror(error);
  switch (nerr) {
    case 101:
      return "the file cannot be created";
    case 115:
      return "fewer bytes written than requested";
    case 1303:
      return "overwriting is not allowed (LOVROK is false)";
    default:
      return "write error " + std::to_string(nerr);
  }
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

namespace {

// Writes the stack of pair ij with its provisional header; a failure is counted and reported on
// standard error.
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
  const int error = errno;
  if (run.tally != nullptr) run.tally->taken(ij);
  if (nerr == 0) return;
  // The library has said its piece on standard output; scripts read the outcome here.
  if (run.tally != nullptr) run.tally->failed(ij);
  const std::string line = "xcorrnet_v3: result \"" + run.path(ij) +
                           "\" could not be written: " + write_failure(nerr, error) + "\n";
  std::fputs(line.c_str(), stderr);
}

}  // namespace

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

}  // namespace xcn
