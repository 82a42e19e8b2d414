// The station list and name list of an output folder, kept whole across runs into it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace xcn::prep {

// The lock file of an output folder, taken by every run before its lists are read and written.
inline constexpr const char* kLockName = ".xcn_prep.lock";

// Writes stations.txt and names.txt of `folder` with every record of it: those its stations.txt
// listed whose files are still there, and `ids` (NET.STA.LOC.CHA) written now. Runs into one
// folder take turns through the folder's lock, so none drops another's records. Each list that
// cannot be written adds a line to `problems`; returns how many.
int update_lists(const std::filesystem::path& folder, const std::vector<std::string>& ids,
                 std::vector<std::string>& problems);

}  // namespace xcn::prep
