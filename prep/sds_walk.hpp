// The day files of an SDS archive (ROOT/YEAR/NET/STA/CHA.D/NET.STA.LOC.CHA.D.YEAR.DAY) to read.
#pragma once

#include <string>
#include <vector>

#include "prep/options.hpp"

namespace xcn::prep {

// The day files for the days --start to --end and the day on each side, in name order, whose
// network, station and channel folders match the selection. A folder that cannot be read adds a
// line to `problems`. The day folders of the output folder (--out), when it lies inside the
// archive, are passed by: a run never reads what an earlier one wrote.
std::vector<std::string> sds_files(const Options& o, std::vector<std::string>& problems);

}  // namespace xcn::prep
