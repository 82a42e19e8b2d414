// Writing a prepared record as a SAC file through our library, and the lists for the tool.
#pragma once

#include <string>
#include <vector>

#include "prep/channel_day.hpp"
#include "prep/metadata.hpp"

namespace xcn::prep {

// Reads the process's umask once; call before workers write, since reading it means setting it
// for a moment.
void remember_umask();

// Writes the record with its reference time (the span's start), B, the names, the coordinates
// and the orientation. A name taken by anything but a regular file is left alone. The library's
// one header is held under a lock of this process; the file itself is written outside it.
// False with `error` (the reason) on failure.
bool write_record(const std::string& path, const SpanRecord& record, double delta,
                  const ChannelEpoch& where, std::string& error);

// Writes the lines to a temporary beside `path` and moves it into place; false with `error`.
bool write_list(const std::string& path, const std::vector<std::string>& lines, std::string& error);

// The name list of the records in xcorrnet_v3's pair order: NET.STA.LOC.CHA_NET.STA.LOC.CHA.sac.
std::vector<std::string> pair_names(const std::vector<std::string>& ids);

// Whether a code can be part of a file name (letters, digits, - and _ only).
bool safe_code(const std::string& code);

}  // namespace xcn::prep
