// What the benchmarks of programs that read day results share: their command line and one
// result of a pair written through our library as the tool writes it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "xcorrnet/sacio.h"

namespace xcn::bench {

struct DaysOptions {
  int stations = 100;
  int days = 30;
  int repeat = 3;
  int workers = 2;
  std::string keep;
};

// --stations, --days, --repeat, --workers, --keep, each with its value.
inline bool parse_days_options(int argc, char** argv, DaysOptions& o) {
  for (int k = 1; k + 1 < argc; k += 2) {
    const std::string flag = argv[k], value = argv[k + 1];
    if (flag == "--stations") {
      o.stations = std::atoi(value.c_str());
    } else if (flag == "--days") {
      o.days = std::atoi(value.c_str());
    } else if (flag == "--repeat") {
      o.repeat = std::atoi(value.c_str());
    } else if (flag == "--workers") {
      o.workers = std::atoi(value.c_str());
    } else if (flag == "--keep") {
      o.keep = value;
    } else {
      return false;
    }
  }
  return argc % 2 == 1 && o.stations > 0 && o.days > 0 && o.repeat > 0 && o.workers > 0;
}

inline std::string station(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "ST%03d", i);
  return name;
}

// The result of stations i and j on day `jday` of 2026, its samples centred on zero lag at 1 s;
// ends the benchmark when it cannot be written.
inline void write_day_result(const std::filesystem::path& path, int i, int j, int jday,
                             std::vector<float>& y, const char* program) {
  const std::string kevnm = station(i) + "-" + station(j);
  int nerr = 0;
  newhdr();
  const int npts = static_cast<int>(y.size()), year = 2026, zero = 0;
  const float delta = 1.0f, b = -static_cast<float>(npts / 2);
  const float evla = 36.0f + 0.01f * i, evlo = -117.0f, stla = 36.0f + 0.01f * j;
  setnhv("NPTS", &npts, &nerr, -1);
  setfhv("DELTA", &delta, &nerr, -1);
  setfhv("B", &b, &nerr, -1);
  setkhv("KEVNM", kevnm.c_str(), &nerr, -1, -1);
  setkhv("KCMPNM", "BHZ", &nerr, -1, -1);
  setfhv("EVLA", &evla, &nerr, -1);
  setfhv("EVLO", &evlo, &nerr, -1);
  setfhv("STLA", &stla, &nerr, -1);
  setfhv("STLO", &evlo, &nerr, -1);
  setnhv("NZYEAR", &year, &nerr, -1);
  setnhv("NZJDAY", &jday, &nerr, -1);
  for (const char* f : {"NZHOUR", "NZMIN", "NZSEC", "NZMSEC"}) setnhv(f, &zero, &nerr, -1);
  float x = 0;
  wsac0(path.c_str(), &x, y.data(), &nerr, -1);
  if (nerr != 0) {
    std::fprintf(stderr, "%s: cannot write %s\n", program, path.c_str());
    std::exit(1);
  }
}

}  // namespace xcn::bench
