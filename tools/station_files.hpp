// Station records through our SAC library: writing a synthetic record, reading its names back.
//
// The library keeps one current header per process, so none of these may run concurrently.
#pragma once

#include <span>
#include <string>

#include "tools/pair_names.hpp"

namespace xcn::tools {

// What a station record carries besides its samples.
struct StationHeader {
  std::string station;    // KSTNM
  std::string component;  // KCMPNM
  float latitude = 0;     // STLA, degrees
  float longitude = 0;    // STLO, degrees
  float delta = 1;        // DELTA, seconds
};

// Writes an evenly sampled record beginning at 0 s. False (and `error`) when the library
// reports a failure.
bool write_station_record(const std::string& path, const StationHeader& header,
                          std::span<float> samples, std::string& error);

// Reads the record and fetches KSTNM and KCMPNM without surrounding blanks. False (and `error`)
// when the file cannot be read or a name is missing, undefined or unfit for a file name.
bool read_station_id(const std::string& path, StationId& id, std::string& error);

}  // namespace xcn::tools
