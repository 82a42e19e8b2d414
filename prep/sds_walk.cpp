// The day files of an SDS archive (ROOT/YEAR/NET/STA/CHA.D/NET.STA.LOC.CHA.D.YEAR.DAY) to read.
#include "prep/sds_walk.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

namespace xcn::prep {
namespace {

namespace fs = std::filesystem;

struct FolderId {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FolderId&) const = default;
};

std::optional<FolderId> folder_id(const fs::path& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  return FolderId{st.st_dev, st.st_ino};
}

// The names of the folders xcn_prep writes: YEAR.DAY, or YEAR.DAY.HHMMSS with --span.
bool output_folder_name(const std::string& name) {
  auto digits = [&](std::size_t from, std::size_t count) {
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(from),
                       name.begin() + static_cast<std::ptrdiff_t>(from + count),
                       [](char c) { return c >= '0' && c <= '9'; });
  };
  if (name.size() != 8 && name.size() != 15) return false;
  return digits(0, 4) && name[4] == '.' && digits(5, 3) &&
         (name.size() == 8 || (name[8] == '.' && digits(9, 6)));
}

}  // namespace

std::vector<std::string> sds_files(const Options& o, std::vector<std::string>& problems) {
  // The ".YEAR.DAY" ends of the wanted day files, by year: each year folder is walked once.
  std::map<int, std::set<std::string>> wanted;
  for (Micros day = *o.first_day - kDay; day <= *o.last_day + kDay; day += kDay) {
    const YearDay yd = year_day(day);
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%04d.%03d", yd.year, yd.day);
    wanted[yd.year].insert(suffix);
  }
  const std::optional<FolderId> out = folder_id(o.out);
  // The children of a folder to walk: not the output's day folders.
  auto walked = [&](const fs::path& folder, const fs::directory_entry& child) {
    return !(out && output_folder_name(child.path().filename().string()) &&
             folder_id(folder) == out);
  };

  std::vector<std::string> files;
  std::vector<std::string> found_problems;
  std::error_code ec;
  // A folder that is there and cannot be read would silently lose its channels.
  auto check = [&](const fs::path& folder) {
    if (ec && ec != std::errc::no_such_file_or_directory) {
      found_problems.push_back("cannot read the folder " + folder.string() + ": " + ec.message());
    }
    ec.clear();
  };
  for (const auto& [year_number, suffixes] : wanted) {
    const fs::path year = fs::path(o.sds_root) / std::to_string(year_number);
    for (const auto& net : fs::directory_iterator(year, ec)) {
      if (!matches_any(o.networks, net.path().filename().string()) || !walked(year, net)) {
        continue;
      }
      for (const auto& sta : fs::directory_iterator(net.path(), ec)) {
        if (!matches_any(o.stations, sta.path().filename().string()) || !walked(net.path(), sta)) {
          continue;
        }
        for (const auto& cha : fs::directory_iterator(sta.path(), ec)) {
          const std::string name = cha.path().filename().string();
          if (!name.ends_with(".D") || !matches_any(o.channels, name.substr(0, name.size() - 2))) {
            continue;
          }
          for (const auto& file : fs::directory_iterator(cha.path(), ec)) {
            const std::string file_name = file.path().filename().string();
            if (file_name.size() > 9 && suffixes.count(file_name.substr(file_name.size() - 9))) {
              files.push_back(file.path().string());
            }
          }
          check(cha.path());
        }
        check(sta.path());
      }
      check(net.path());
    }
    check(year);
  }
  std::sort(found_problems.begin(), found_problems.end());
  found_problems.erase(std::unique(found_problems.begin(), found_problems.end()),
                       found_problems.end());
  problems.insert(problems.end(), found_problems.begin(), found_problems.end());
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace xcn::prep
