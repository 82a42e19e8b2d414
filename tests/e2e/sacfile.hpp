// Test access to SAC files: writing station records through the library, and reading result
// files straight from their bytes (independently of the library's reader).
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "xcorrnet/sacio.h"

namespace xcn::test {

struct Record {
  std::string kstnm = "STA";
  std::string kcmpnm = "BHZ";
  float stla = 0.0f;
  float stlo = 0.0f;
  float delta = 1.0f;
  std::vector<float> samples;
  float b = 0.0f;  // begin time; a result's is -(NPTS/2) x DELTA
  // Reference time NZYEAR, NZJDAY, NZHOUR, NZMIN, NZSEC, NZMSEC; none when the year is -12345.
  std::array<int, 6> reference = {-12345, -12345, -12345, -12345, -12345, -12345};
  std::string knetwk = {};  // empty: left undefined
  std::string khole = {};
  float cmpaz = -12345.0f;
  float cmpinc = -12345.0f;
};

// Writes a station record with a fresh header; returns the library's error number.
inline int write_record(const std::string& path, const Record& r) {
  int nerr = 0;
  newhdr();
  const int npts = static_cast<int>(r.samples.size());
  setnhv("NPTS", &npts, &nerr, -1);
  setfhv("DELTA", &r.delta, &nerr, -1);
  setfhv("B", &r.b, &nerr, -1);
  setkhv("KSTNM", r.kstnm.c_str(), &nerr, -1, -1);
  setkhv("KCMPNM", r.kcmpnm.c_str(), &nerr, -1, -1);
  setfhv("STLA", &r.stla, &nerr, -1);
  setfhv("STLO", &r.stlo, &nerr, -1);
  static constexpr const char* kReference[] = {"NZYEAR", "NZJDAY", "NZHOUR",
                                               "NZMIN",  "NZSEC",  "NZMSEC"};
  for (std::size_t k = 0; k < 6; ++k) {
    if (r.reference[k] != -12345) setnhv(kReference[k], &r.reference[k], &nerr, -1);
  }
  if (!r.knetwk.empty()) setkhv("KNETWK", r.knetwk.c_str(), &nerr, -1, -1);
  if (!r.khole.empty()) setkhv("KHOLE", r.khole.c_str(), &nerr, -1, -1);
  setfhv("CMPAZ", &r.cmpaz, &nerr, -1);
  setfhv("CMPINC", &r.cmpinc, &nerr, -1);
  std::vector<float> y = r.samples;
  float x = 0.0f;
  wsac0(path.c_str(), &x, y.data(), &nerr, -1);
  return nerr;
}

// A SAC file as bytes, with the fields the tests look at decoded in the file's byte order.
struct SacBytes {
  std::vector<unsigned char> bytes;
  bool swapped = false;

  explicit SacBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (bytes.size() >= 632) swapped = word(304) > 6 || word(304) < 1;
  }
  bool valid() const { return bytes.size() >= 632; }
  std::uint32_t word(std::size_t offset) const {
    std::uint32_t w;
    std::memcpy(&w, bytes.data() + offset, 4);
    if (swapped) w = __builtin_bswap32(w);
    return w;
  }
  float f(std::size_t offset) const {
    const std::uint32_t w = word(offset);
    float v;
    std::memcpy(&v, &w, 4);
    return v;
  }
  std::int32_t i(std::size_t offset) const { return static_cast<std::int32_t>(word(offset)); }
  std::string k(std::size_t offset, std::size_t width = 8) const {
    return std::string(reinterpret_cast<const char*>(bytes.data()) + offset, width);
  }
  int npts() const { return i(316); }
  std::vector<float> samples() const {
    std::vector<float> y(static_cast<std::size_t>(npts()));
    for (std::size_t k = 0; k < y.size(); ++k) y[k] = f(632 + 4 * k);
    return y;
  }
};

// Offsets of the header fields the tests read.
namespace off {
inline constexpr std::size_t kDelta = 0, kDepmin = 4, kDepmax = 8, kB = 20, kE = 24, kStla = 124,
                             kStlo = 128, kEvla = 140, kEvlo = 144, kDist = 200, kAz = 204,
                             kBaz = 208, kGcarc = 212, kDepmen = 224, kNpts = 316, kKstnm = 440,
                             kKevnm = 448, kKcmpnm = 600, kNzyear = 280, kNzjday = 284,
                             kNzhour = 288, kNzmin = 292, kNzsec = 296, kNzmsec = 300, kUser2 = 168,
                             kUser3 = 172, kCmpaz = 228, kCmpinc = 232, kKhole = 464, kKuser1 = 584,
                             kKuser2 = 592, kKnetwk = 608, kKdatrd = 616, kKinst = 624;
}

}  // namespace xcn::test
