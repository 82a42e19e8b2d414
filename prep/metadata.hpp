// Station coordinates and channel orientation from StationXML or the FDSN station text format.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "prep/mseed_read.hpp"
#include "prep/time.hpp"

namespace xcn::prep {

// One epoch of one channel.
struct ChannelEpoch {
  ChannelId id;
  Micros start = 0;
  std::optional<Micros> end;  // open when the channel still runs
  double latitude = 0;        // degrees
  double longitude = 0;       // degrees
  double elevation = 0;       // m
  double depth = 0;           // m below the surface
  double azimuth = 0;         // degrees clockwise from north
  double dip = 0;             // degrees down from the horizontal (-90: up)
  bool operator==(const ChannelEpoch&) const = default;
};

// Epochs read from metadata files; an epoch listed twice (a station repeated in a file, or in
// two files) is kept once.
class Inventory {
 public:
  // Reads a StationXML document or an FDSN station text file (told apart by their first
  // character). False, with one line in `problem`, when the file cannot be read or is neither;
  // the epochs read before a bad line of a text file are kept.
  bool load(const std::string& path, std::string& problem);
  void add(const ChannelEpoch& epoch);
  // The epoch of the channel that covers the time t (the latest to begin, if epochs overlap),
  // else the one that covers most of [t, t + length).
  const ChannelEpoch* find(const ChannelId& id, Micros t, Micros length) const;
  std::size_t size() const { return epochs_.size(); }

 private:
  bool load_xml(const std::string& path, const std::string& text, std::string& problem);
  bool load_text(const std::string& path, const std::string& text, std::string& problem);
  std::vector<ChannelEpoch> epochs_;
};

}  // namespace xcn::prep
