// Output names of station pairs, the lists the tool reads, and their safe writing.
//
// The tool takes the result name of pair number k from line k of its name list, in the pair
// order (1,1), (1,2), ..., (1,n), (2,2), ..., (n,n), and keeps only 50 characters of a name:
// a longer name would silently send a result somewhere else, so it is refused here.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "driver/input/list_file.hpp"

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

// Where the names put the results: all in one folder, or each in a folder named after its
// pair's first record, so that a large network's results do not crowd one folder (a file
// system looks a name up, and adds one, faster in a folder of a thousand entries than in one
// of half a million).
enum class Layout { kFlat, kFolderPerRecord };

// "ST01.BHZ", or NET.STA.LOC.CHA ("II.AAK.00.BHZ") for a record whose network or location is
// set, so that stations of one name in two networks, or two locations of one station, do not
// collide.
std::string record_name(const StationId& id);

// "ST01.BHZ_ST02.BHZ.sac", after `folder` and a slash when a folder is given, and in the first
// record's folder ("ST01.BHZ/ST01.BHZ_ST02.BHZ.sac") for kFolderPerRecord.
std::string pair_file_name(std::string_view folder, const StationId& first, const StationId& second,
                           Layout layout = Layout::kFlat);

// Pairs as one-based station indices, in the tool's order.
struct Pair {
  int first = 0;
  int second = 0;
};
std::vector<Pair> pair_order(int stations);

// The names of all pairs in pair order, or, when any name cannot serve, the reasons: names
// longer than kMaxNameLength and names shared by two pairs, each naming the station list
// lines of its pair(s) (line k holds station k). For kFolderPerRecord, `folders` holds the
// folders the names lie in, one per station in station order, as the names spell them.
struct NameList {
  std::vector<std::string> names;
  std::vector<std::string> folders;
  std::vector<std::string> problems;
};
NameList make_name_list(std::string_view folder, std::span<const StationId> stations,
                        std::string_view station_list, Layout layout = Layout::kFlat);

// Makes each of `folders` (relative ones below `base`) with 0777 less the umask; one that is
// already a folder, or a link to one, is fine. False (and `error`, such as `cannot make the
// folder "out/ST01.BHZ": something else has that name`) at the first that is not a folder or
// cannot be made, with the folders made by this call removed again.
bool make_folders(const std::filesystem::path& base, std::span<const std::string> folders,
                  std::string& error);

// Writes the name list `path` (whole or not at all), after making the folders of its names
// below `base`, where the tool runs. False (and `error`) when either fails; then neither the
// list nor any folder made for it is left.
bool write_name_list(const std::filesystem::path& base, const std::filesystem::path& path,
                     const NameList& list, std::string& error);

// Why a station or component name cannot be part of a file name, or empty when it can.
std::string unusable_id_reason(std::string_view what, std::string_view name);

// Reads a list through the tool's own list reader: regular files and pipes only, a named pipe
// that no program opens for writing refused after a while, a byte-order mark dropped, LF, CR
// LF and CR ending a line, each line kept to its first 64 KiB. Unlike the tool, a list that
// does not exist is an error. False (and `error`, such as `cannot open the station list "x":
// it is a directory`) when the list cannot be read.
bool read_list(const std::string& path, const char* what, std::vector<ListLine>& lines,
               std::string& error);

// A station-list line without its trailing white space: the path the tool opens when it has
// at most 100 characters.
std::string entry_text(const ListLine& line);

// The name the tool gives the result of a name-list line: empty for a blank line and for one
// holding a NUL, which name no file.
std::string result_name(const ListLine& line);

// The files a helper reads, by device and inode, so that its output can never be one of them
// under another spelling or through a link.
class InputFiles {
 public:
  // `described` tells the user which input it is, such as `the station list "s.txt"`. A file
  // that does not exist is not kept.
  void add(const std::string& path, std::string described);
  // The description of the input that `path` is, or empty when it is none of them.
  std::string which(const std::string& path) const;

 private:
  std::map<std::pair<dev_t, ino_t>, std::string> files_;
};

// Why the file at `path` is no SAC file to read, told without opening it: "it is a directory"
// or "it is not a regular file" (a pipe or a device would hold the reader, or never end).
// Empty for a regular file and for a name that does not exist, which the reader reports.
std::string not_a_record(const std::string& path);

}  // namespace xcn::tools
