// The name-list maker's command line: station list in, name list out, all or nothing.
#include <filesystem>

#include "cli/options.hpp"
#include "tools/commands.hpp"
#include "tools/pair_names.hpp"
#include "tools/station_files.hpp"
#include "xcorrnet/sacio.h"

namespace xcn::tools {
namespace {

constexpr const char* kUsage =
    "usage: xcn_names [--folders] STATION_LIST NAME_LIST [FOLDER]\n"
    "  writes NAME_LIST, the output name of every pair of the listed SAC files in the order\n"
    "  xcorrnet_v3 reads it, made of their station and component names (in FOLDER if given);\n"
    "  with --folders each result goes in a folder named after its pair's first record\n"
    "  (ST01.BHZ/ST01.BHZ_ST02.BHZ.sac), and those folders are made\n";

// Past this many, the rest of the problems are only counted.
constexpr std::size_t kMaxReported = 20;

}  // namespace

int run_names(std::span<const std::string> all_args, std::FILE* out, std::FILE* err) {
  constexpr cli::Program program{"xcn_names", kUsage};
  std::vector<std::string> args;
  bool folders = false;
  const cli::Option options[] = {cli::flag_option("--folders", folders)};
  if (const auto status = program.read(all_args, options, &args, out, err)) return *status;
  if (args.size() < 2 || args.size() > 3) {
    return program.refuse(err, "expected a station list, a name list and perhaps a folder");
  }
  const Layout layout = folders ? Layout::kFolderPerRecord : Layout::kFlat;
  const std::string& station_list = args[0];
  const std::string& name_list = args[1];
  const std::string folder = args.size() == 3 ? args[2] : std::string();

  // The names point into the folder: one that is not there would send every result nowhere.
  if (!folder.empty() && !std::filesystem::is_directory(folder)) {
    std::fprintf(err, "xcn_names: the folder \"%s\" %s; %s not written\n", folder.c_str(),
                 std::filesystem::exists(folder) ? "is not a folder" : "does not exist",
                 name_list.c_str());
    return 2;
  }
  std::vector<ListLine> lines;
  std::string error;
  if (!read_list(station_list, "station list", lines, error)) {
    std::fprintf(err, "xcn_names: %s\n", error.c_str());
    return 1;
  }
  // Before anything is read or written: the name list must be none of the files read.
  InputFiles inputs;
  inputs.add(station_list, "the station list \"" + station_list + "\"");
  std::vector<std::string> entries(lines.size());
  for (std::size_t k = 0; k < lines.size(); ++k) {
    if (holds_nul(lines[k].text)) continue;
    entries[k] = entry_text(lines[k]);
    inputs.add(entries[k], "the station record \"" + entries[k] + "\" of " + station_list +
                               " line " + std::to_string(k + 1));
  }
  if (const std::string input = inputs.which(name_list); !input.empty()) {
    std::fprintf(err, "xcn_names: the name list \"%s\" is %s; nothing written\n", name_list.c_str(),
                 input.c_str());
    return 2;
  }
  std::string target;
  mode_t mode = 0;
  if (!output_target(name_list, target, mode, error)) {
    std::fprintf(err, "xcn_names: %s\nxcn_names: %s not written\n", error.c_str(),
                 name_list.c_str());
    return 1;
  }

  // Our own lines say what is wrong with which station; the library's errors add their detail
  // beside them, its warnings about undefined names would only repeat ours.
  sac_error_stderr();
  sac_warning_off();
  std::vector<std::string> problems;
  std::vector<StationId> ids(entries.size());
  for (std::size_t k = 0; k < entries.size(); ++k) {
    const std::string where = station_list + " line " + std::to_string(k + 1);
    // xcorrnet_v3 would read only the first 100 characters: another file, or none.
    const std::size_t length =
        lines[k].length > lines[k].text.size() ? lines[k].length : entries[k].size();
    if (holds_nul(lines[k].text)) {
      problems.push_back(where + ": the line holds a NUL byte; xcorrnet_v3 reads no file from it");
    } else if (length > kMaxPathLength) {
      problems.push_back(where + ": the path has " + std::to_string(length) +
                         " characters; xcorrnet_v3 reads at most " +
                         std::to_string(kMaxPathLength));
    } else if (!read_station_id(entries[k], ids[k], error)) {
      problems.push_back(where + ": " + error);
    }
  }
  if (problems.empty()) {
    NameList names = make_name_list(folder, ids, station_list, layout);
    problems = std::move(names.problems);
    // The folders are named as the tool will open them: from where it runs, which is here.
    if (problems.empty() && !write_name_list("", name_list, names, error)) {
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
