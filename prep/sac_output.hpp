// Writing a prepared record as a SAC file through our library, and the names of the pairs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "prep/channel_day.hpp"
#include "prep/metadata.hpp"

namespace xcn::prep {

// Writes the record with its reference time (the span's start), B, the names, the coordinates
// and the orientation. A name taken by anything but a regular file is left alone. The library's
// one header is held under a lock of this process; the file itself is written outside it.
// IDEP is written when given (the unit of a record the response was removed from).
// False with `error` (the reason) on failure.
bool write_record(const std::string& path, const SpanRecord& record, double delta,
                  const ChannelEpoch& where, std::string& error,
                  std::optional<int> idep = std::nullopt);

// The name list of the records in xcorrnet_v3's pair order: NET.STA.LOC.CHA_NET.STA.LOC.CHA.sac.
std::vector<std::string> pair_names(const std::vector<std::string>& ids);

// Whether a code can be part of a file name (letters, digits, - and _ only).
bool safe_code(const std::string& code);

}  // namespace xcn::prep
