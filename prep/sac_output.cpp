// Writing a prepared record as a SAC file through our library, and the names of the pairs.
#include "prep/sac_output.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>

#include "sacio/header_model.hpp"
#include "sacio/ref_time.hpp"
#include "sacio/write.hpp"
#include "xcorrnet/sacio.h"

namespace xcn::prep {
namespace {

std::mutex& library_lock() {
  static std::mutex lock;
  return lock;
}

void set_real(const char* field, double value) {
  int nerr = 0;
  const auto v = static_cast<float>(value);
  setfhv(field, &v, &nerr, static_cast<int>(std::strlen(field)));
}
void set_integer(const char* field, int value) {
  int nerr = 0;
  setnhv(field, &value, &nerr, static_cast<int>(std::strlen(field)));
}
void set_text(const char* field, const std::string& value) {
  int nerr = 0;
  setkhv(field, value.c_str(), &nerr, static_cast<int>(std::strlen(field)),
         static_cast<int>(value.size()));
}

// Something other than a regular file under the name (a directory, a pipe, a device)?
bool taken_by_other(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) &&
         !(S_ISLNK(st.st_mode) && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode));
}

}  // namespace

bool safe_code(const std::string& code) {
  for (const char c : code) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

bool write_record(const std::string& path, const SpanRecord& record, double delta,
                  const ChannelEpoch& where, std::string& error, std::optional<int> idep) {
  if (taken_by_other(path)) {
    error = "it is not a regular file; left as it is";
    return false;
  }
  // The reference time is the first sample's to the millisecond, B what is left of it (under a
  // millisecond): every start on a grid of whole microseconds is held exactly, where B in
  // seconds from the span's start would lose up to 4 ms in single precision.
  const Micros first = record.span_start + record.first * std::llround(delta * 1e6);
  const Micros ms = first / 1000 - (first % 1000 < 0 ? 1 : 0);
  const double b = static_cast<double>(first - ms * 1000) / 1e6;
  std::vector<float> samples = record.samples;
  const int npts = static_cast<int>(samples.size());
  SacImage image;
  int nerr = 0;
  {
    const std::lock_guard<std::mutex> hold(library_lock());
    newhdr();
    set_integer("NPTS", npts);
    set_real("DELTA", delta);
    set_real("B", b);
    set_real("E", b + static_cast<double>(npts - 1) * delta);
    set_header_ref_fields(from_ms(ms));
    set_text("KNETWK", where.id.network);
    set_text("KSTNM", where.id.station);
    set_text("KHOLE", where.id.location);
    set_text("KCMPNM", where.id.channel);
    set_real("STLA", where.latitude);
    set_real("STLO", where.longitude);
    // What the metadata do not give stays undefined.
    if (where.elevation) set_real("STEL", *where.elevation);
    if (where.depth) set_real("STDP", *where.depth);
    if (where.azimuth) set_real("CMPAZ", *where.azimuth);
    // SAC measures the inclination from the vertical up; SEED's dip from the horizontal down.
    if (where.dip) set_real("CMPINC", *where.dip + 90.0);
    // An enumerated field, which the by-name setters do not reach.
    if (idep) Ihdr(kIdep) = Niv(*idep);
    float xdummy = 0;
    image = sac_image(path.c_str(), &xdummy, samples.data(), &nerr, static_cast<int>(path.size()));
  }
  if (nerr != 0) {
    error = "the library refused it (error " + std::to_string(nerr) + ")";
    return false;
  }
  const ImageWrite w = write_image(image, false);
  if (w.nerr != 0) {
    error = w.error != 0 ? std::strerror(w.error) : "error " + std::to_string(w.nerr);
    return false;
  }
  return true;
}

std::vector<std::string> pair_names(const std::vector<std::string>& ids) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    for (std::size_t j = i; j < ids.size(); ++j) names.push_back(ids[i] + "_" + ids[j] + ".sac");
  }
  return names;
}

}  // namespace xcn::prep
