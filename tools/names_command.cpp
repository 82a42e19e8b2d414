// The name-list maker's command line: station list in, name list out, all or nothing.
#include "tools/commands.hpp"
#include "tools/pair_names.hpp"
#include "tools/station_files.hpp"
#include "xcorrnet/sacio.h"

namespace xcn::tools {
namespace {

constexpr const char* kUsage =
    "usage: xcn_names STATION_LIST NAME_LIST [FOLDER]\n"
    "  writes NAME_LIST, the output name of every pair of the listed SAC files in the order\n"
    "  xcorrnet_v3 reads it, made of their station and component names (in FOLDER if given)\n";

// Past this many, the rest of the problems are only counted.
constexpr std::size_t kMaxReported = 20;

}  // namespace

int run_names(std::span<const std::string> args, std::FILE* err) {
  if (args.size() < 2 || args.size() > 3) {
    std::fputs(kUsage, err);
    return 2;
  }
  const std::string& station_list = args[0];
  const std::string& name_list = args[1];
  const std::string folder = args.size() == 3 ? args[2] : std::string();

  // Our own lines say what is wrong with which station; the library's errors add their detail
  // beside them, its warnings about undefined names would only repeat ours.
  sac_error_stderr();
  sac_warning_off();
  std::vector<std::string> entries;
  std::string error;
  if (!read_station_list(station_list, entries, error)) {
    std::fprintf(err, "xcn_names: %s\n", error.c_str());
    return 1;
  }

  std::vector<std::string> problems;
  std::vector<StationId> ids(entries.size());
  for (std::size_t k = 0; k < entries.size(); ++k) {
    const std::string where = station_list + " line " + std::to_string(k + 1);
    // xcorrnet_v3 would read only the first 100 characters: another file, or none.
    if (entries[k].size() > kMaxPathLength) {
      problems.push_back(where + ": the path has " + std::to_string(entries[k].size()) +
                         " characters; xcorrnet_v3 reads at most " +
                         std::to_string(kMaxPathLength));
    } else if (!read_station_id(entries[k], ids[k], error)) {
      problems.push_back(where + ": " + error);
    }
  }
  if (problems.empty()) {
    NameList names = make_name_list(folder, ids, station_list);
    problems = std::move(names.problems);
    if (problems.empty() && !write_lines_atomically(name_list, names.names, error)) {
      problems.push_back(error);
    }
  }
  for (std::size_t k = 0; k < problems.size() && k < kMaxReported; ++k) {
    std::fprintf(err, "xcn_names: %s\n", problems[k].c_str());
  }
  if (problems.size() > kMaxReported) {
    std::fprintf(err, "xcn_names: and %zu more problems\n", problems.size() - kMaxReported);
  }
  if (!problems.empty()) {
    std::fprintf(err, "xcn_names: %s not written\n", name_list.c_str());
    return 1;
  }
  return 0;
}

}  // namespace xcn::tools
