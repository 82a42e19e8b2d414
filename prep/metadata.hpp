// Station coordinates, channel orientation and instrument response from StationXML or the FDSN
// station text format.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "prep/mseed_read.hpp"
#include "prep/response.hpp"
#include "prep/time.hpp"

namespace xcn::prep {

// One epoch of one channel. A field the metadata do not give stays empty, never a guess.
struct ChannelEpoch {
  ChannelId id;
  Micros start = 0;
  std::optional<Micros> end;        // open when the channel still runs
  double latitude = 0;              // degrees
  double longitude = 0;             // degrees
  std::optional<double> elevation;  // m
  std::optional<double> depth;      // m below the surface
  std::optional<double> azimuth;    // degrees clockwise from north
  std::optional<double> dip;        // degrees down from the horizontal (-90: up)
  Response response;                // what removing the instrument needs, as far as given
  bool operator==(const ChannelEpoch&) const = default;
  // The same place and orientation, whatever the times.
  bool same_values(const ChannelEpoch& other) const;
};

// The largest metadata file read: a whole network's StationXML with responses fits.
inline constexpr std::size_t kMaxMetadataBytes = std::size_t{512} << 20;

// Why an epoch cannot be true (an empty code, a latitude past a pole, an end before its
// start), or nothing.
std::optional<std::string> impossible(const ChannelEpoch& e);

// Epochs read from metadata files, indexed by channel; an epoch listed twice (a station
// repeated in a file, or in two files) is kept once.
class Inventory {
 public:
  // Reads a StationXML document or an FDSN station text file (told apart by their first
  // character) as the lists are read: a regular file or a pipe, at most kMaxMetadataBytes.
  // Problems go to `problems`, one line each naming the file. False when the file cannot be
  // read or is neither; the epochs read before a malformed line of a text file are kept.
  bool load(const std::string& path, std::vector<std::string>& problems);
  // Adds an epoch; one that disagrees with another of its channel over some time makes that
  // time unusable for the channel, and says so in `conflict`.
  void add(const ChannelEpoch& epoch, std::string* conflict = nullptr);
  // The epoch of the channel that covers the time t (the latest to begin, if epochs overlap),
  // else the one that covers most of [t, t + length); nothing where epochs disagree anywhere
  // in [t, t + length).
  const ChannelEpoch* find(const ChannelId& id, Micros t, Micros length) const;
  std::size_t size() const { return count_; }
  // Every epoch kept, channel by channel.
  template <class F>
  void each(F&& f) const {
    for (const auto& [id, c] : channels_) {
      for (const ChannelEpoch& e : c.epochs) f(e);
    }
  }

 private:
  struct Channel {
    std::vector<ChannelEpoch> epochs;
    std::vector<std::pair<Micros, Micros>> conflicts;  // [from, to) where epochs disagree
  };
  bool load_xml(const std::string& path, const std::string& text,
                std::vector<std::string>& problems);
  bool load_text(const std::string& path, const std::string& text,
                 std::vector<std::string>& problems);
  std::map<ChannelId, Channel> channels_;
  std::size_t count_ = 0;
};

}  // namespace xcn::prep
