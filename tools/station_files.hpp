// Station records through our SAC library: writing a synthetic record, reading its names back.
//
// The library keeps one current header per process, so none of these may run concurrently.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "tools/pair_names.hpp"

namespace xcn::tools {

// What a station record carries besides its samples.
struct StationHeader {
  StationHeader(std::string sta, std::string cmp, float lat, float lon, float dt,
                std::string net = {}, std::string loc = {})
      : station(std::move(sta)),
        component(std::move(cmp)),
        latitude(lat),
        longitude(lon),
        delta(dt),
        network(std::move(net)),
        location(std::move(loc)) {}
  std::string station;    // KSTNM
  std::string component;  // KCMPNM
  float latitude = 0;     // STLA, degrees
  float longitude = 0;    // STLO, degrees
  float delta = 1;        // DELTA, seconds
  std::string network;    // KNETWK, left undefined when empty
  std::string location;   // KHOLE, left undefined when empty
  float cmpaz = -12345;   // CMPAZ and CMPINC, degrees; -12345 undefined
  float cmpinc = -12345;
  std::optional<std::int64_t> time;  // the reference time, ms since 1970; none: undefined
};

// Writes an evenly sampled record beginning at 0 s. False (and `error`) when the library
// reports a failure.
bool write_station_record(const std::string& path, const StationHeader& header,
                          std::span<float> samples, std::string& error);

// Reads the record and fetches KSTNM and KCMPNM without surrounding blanks, and KNETWK and
// KHOLE (empty when undefined). False (and `error`)
// when the file cannot be read or a name is missing, undefined or unfit for a file name.
bool read_station_id(const std::string& path, StationId& id, std::string& error);

}  // namespace xcn::tools
