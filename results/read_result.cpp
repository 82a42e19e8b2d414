// Reading a result from a SAC file or a container row, and the header a container's row stands for.
#include "results/read_result.hpp"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "driver/results/result_fields.hpp"
#include "msg/message.hpp"
#include "sacio/header_model.hpp"
#include "sacio/read.hpp"
#include "sacio/ref_time.hpp"
#include "xcorrnet/sacio.h"

namespace xcn::results {

std::shared_ptr<const ContainerReader> open_container(const std::string& path, std::string& why) {
  static std::mutex lock;
  static std::map<std::string, std::shared_ptr<const ContainerReader>> open;
  const std::lock_guard<std::mutex> hold(lock);
  if (const auto it = open.find(path); it != open.end()) return it->second;
  std::shared_ptr<const ContainerReader> c = ContainerReader::open(path, why);
  if (c) open.emplace(path, c);
  return c;
}

namespace {

void put_code(TextField f, const std::string& code) {
  if (code.empty()) return;
  char slot[8];
  std::memset(slot, ' ', sizeof slot);
  std::memcpy(slot, code.data(), std::min(code.size(), sizeof slot));
  std::memcpy(Khdr(f.slot), slot, sizeof slot);
}

void put_record(const RecordFields& f, const RecordId& r) {
  put_code(f.network, r.network);
  put_code(f.station, r.station);
  put_code(f.location, r.location);
  put_code(f.component, r.component);
  Fhdr(f.cmpaz.index) = r.cmpaz;
  Fhdr(f.cmpinc.index) = r.cmpinc;
}

// A code as a container keeps it: without blanks, empty where the header leaves it undefined.
std::string get_code(TextField f) {
  std::string s = without_blanks(std::string_view(Khdr(f.slot), 8));
  return s == "-12345" ? std::string() : s;
}

RecordId get_record(const RecordFields& f) {
  return {get_code(f.network),   get_code(f.station), get_code(f.location),
          get_code(f.component), Fhdr(f.cmpaz.index), Fhdr(f.cmpinc.index)};
}

}  // namespace

ContainerPair pair_of_header() {
  ContainerPair p;
  p.a = get_record(kFirstRecord);
  p.b = get_record(kSecondRecord);
  p.evla = Fhdr(kEvla);
  p.evlo = Fhdr(kEvlo);
  p.stla = Fhdr(kStla);
  p.stlo = Fhdr(kStlo);
  p.dist = Fhdr(kDist);
  p.az = Fhdr(kAz);
  p.baz = Fhdr(kBaz);
  p.depmin = Fhdr(kDepmin);
  p.depmax = Fhdr(kDepmax);
  p.depmen = Fhdr(kDepmen);
  p.time = to_ms(RefFields{Nhdr(1), Nhdr(2), Nhdr(3), Nhdr(4), Nhdr(5), Nhdr(6)});
  return p;
}

void set_pair_header(const ContainerRun& run, const ContainerPair& p) {
  newhdr();
  Nhdr(kNpts) = run.npts;
  Fhdr(kDelta) = run.interval;
  Fhdr(kB) = static_cast<float>(-(run.npts / 2)) * run.interval;
  // The event name as the tool writes it: both station names, 16 characters at most.
  const std::string kevnm = (p.a.station + "-" + p.b.station).substr(0, 16);
  char field[16];
  std::memset(field, ' ', sizeof field);
  std::memcpy(field, kevnm.data(), kevnm.size());
  std::memcpy(Khdr(kKevnm), field, sizeof field);
  put_record(kFirstRecord, p.a);
  put_record(kSecondRecord, p.b);
  Fhdr(kStla) = p.stla;
  Fhdr(kStlo) = p.stlo;
  Fhdr(kEvla) = p.evla;
  Fhdr(kEvlo) = p.evlo;
  Fhdr(kDist) = p.dist;
  Fhdr(kAz) = p.az;
  Fhdr(kBaz) = p.baz;
  Fhdr(kDepmin) = p.depmin;
  Fhdr(kDepmax) = p.depmax;
  Fhdr(kDepmen) = p.depmen;
  if (p.time) set_header_ref_fields(from_ms(*p.time));
}

bool read_result(const Result& r, std::span<float> y, SavedHeader* header, std::string& why) {
  if (r.row >= 0) {
    const std::shared_ptr<const ContainerReader> c = open_container(r.path, why);
    if (!c) return false;
    const std::size_t row = static_cast<std::size_t>(r.row);
    if (row >= c->pairs().size() || c->run().npts != r.npts) {
      why = "changed while it was read";
      return false;
    }
    if (!c->read(row, y, why)) {
      why = "cannot be read: " + why;
      return false;
    }
    if (header != nullptr) {
      const std::lock_guard<std::mutex> hold(library_lock());
      set_pair_header(c->run(), c->pairs()[row]);
      *header = save_header();
    }
    return true;
  }
  // One more than NPTS: a file that grew since its header was read says so.
  std::vector<float> buffer(y.size() + 1);
  int nlen = 0, nerr = 0;
  float b = 0, dt = 0;
  const int capacity = r.npts;
  {
    const std::lock_guard<std::mutex> hold(library_lock());
    rsac1(r.path.c_str(), buffer.data(), &nlen, &b, &dt, &capacity, &nerr,
          static_cast<int>(r.path.size()));
    if (nerr == 0 && header != nullptr) *header = save_header();
    clrmsg();
  }
  if (nerr > 0) {
    why = "cannot be read: " + read_failure(nerr);
    return false;
  }
  if (nerr != 0 || nlen != r.npts || dt != r.delta || b != r.b) {
    why = "changed while it was read";
    return false;
  }
  std::copy_n(buffer.begin(), y.size(), y.begin());
  return true;
}

}  // namespace xcn::results
