// Output names of station pairs, the lists the tool reads, and their safe writing.
//
// The tool takes the result name of pair number k from line k of its name list, in the pair
// order (1,1), (1,2), ..., (1,n), (2,2), ..., (n,n), and keeps only 50 characters of a name:
// a longer name would silently send a result somewhere else, so it is refused here.
#pragma once

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace xcn::tools {

inline constexpr std::size_t kMaxNameLength = 50;
inline constexpr std::size_t kMaxPathLength = 100;  // of a station list entry

struct StationId {
  StationId() = default;
  StationId(std::string sta, std::string cmp, std::string net = {}, std::string loc = {})
      : station(std::move(sta)),
        component(std::move(cmp)),
        network(std::move(net)),
        location(std::move(loc)) {}
  std::string station;    // KSTNM without surrounding blanks
  std::string component;  // KCMPNM without surrounding blanks
  std::string network;    // KNETWK, empty when undefined
  std::string location;   // KHOLE, empty when undefined
};

// "ST01.BHZ_ST02.BHZ.sac", after `folder` and a slash when a folder is given. A record whose
// network or location is set is named NET.STA.LOC.CHA instead ("II.AAK.00.BHZ"), so that
// stations of one name in two networks, or two locations of one station, do not collide.
std::string pair_file_name(std::string_view folder, const StationId& first,
                           const StationId& second);

// Pairs as one-based station indices, in the tool's order.
struct Pair {
  int first = 0;
  int second = 0;
};
std::vector<Pair> pair_order(int stations);

// The names of all pairs in pair order, or, when any name cannot serve, the reasons: names
// longer than kMaxNameLength and names shared by two pairs, each naming the station list
// lines of its pair(s) (line k holds station k).
struct NameList {
  std::vector<std::string> names;
  std::vector<std::string> problems;
};
NameList make_name_list(std::string_view folder, std::span<const StationId> stations,
                        std::string_view station_list);

// Why a station or component name cannot be part of a file name, or empty when it can.
std::string unusable_id_reason(std::string_view what, std::string_view name);

// The entries of a station list as the tool reads them: one per line, a last line without a
// line end included, a leading byte-order mark and trailing white space removed. False (and
// `error`) when the file cannot be read.
bool read_station_list(const std::filesystem::path& path, std::vector<std::string>& entries,
                       std::string& error);

// Writes the lines, each ending in a newline, to a temporary file beside `path` and renames it
// over `path`, so no reader ever sees a partial list. False (and `error`) on failure, with the
// temporary file removed.
bool write_lines_atomically(const std::filesystem::path& path, std::span<const std::string> lines,
                            std::string& error);

}  // namespace xcn::tools
