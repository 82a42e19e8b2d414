// Writing miniSEED records and StationXML: synthetic archives for the demo and the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "prep/metadata.hpp"
#include "prep/mseed_read.hpp"
#include "prep/time.hpp"

namespace xcn::prep {

enum class Encoding { kSteim1, kSteim2, kInt32, kFloat32 };

// The samples packed as miniSEED 2 records of `record_length` bytes (256 to 8192, a power of
// two) by libmseed, the first sample at `start`. Float32 stores the samples as they are; the
// other encodings round them to integers.
std::vector<char> pack_records(const ChannelId& id, Micros start, double rate,
                               const std::vector<double>& samples, Encoding encoding,
                               int record_length);

// Writes bytes to a file (through a temporary beside it); false with `error`.
bool write_bytes(const std::string& path, const std::vector<char>& bytes, std::string& error);

// The path of a day file in an SDS archive: ROOT/YEAR/NET/STA/CHA.D/NET.STA.LOC.CHA.D.YEAR.DAY.
std::string sds_path(const std::string& root, const ChannelId& id, Micros day);

// A StationXML document holding the epochs, grouped by network and station.
std::string station_xml(const std::vector<ChannelEpoch>& epochs);

}  // namespace xcn::prep
