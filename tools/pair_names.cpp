// Output names of station pairs, the lists the tool reads, and their safe writing.
#include "tools/pair_names.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <unordered_map>

#include "sacio/file.hpp"

namespace xcn::tools {
namespace {

std::string line_numbers(Pair p) {
  if (p.first == p.second) return "line " + std::to_string(p.first);
  return "lines " + std::to_string(p.first) + " and " + std::to_string(p.second);
}

}  // namespace

std::string record_name(const StationId& id) {
  if (id.network.empty() && id.location.empty()) return id.station + "." + id.component;
  return id.network + "." + id.station + "." + id.location + "." + id.component;
}

namespace {

std::string in_folder(std::string_view folder, const std::string& name) {
  std::string path(folder);
  if (!path.empty() && path.back() != '/') path += '/';
  return path + name;
}

}  // namespace

std::string pair_file_name(std::string_view folder, const StationId& first, const StationId& second,
                           Layout layout) {
  std::string name(folder);
  if (layout == Layout::kFolderPerRecord) name = in_folder(folder, record_name(first));
  if (!name.empty() && name.back() != '/') name += '/';
  name += record_name(first);
  name += '_';
  name += record_name(second);
  name += ".sac";
  return name;
}

std::vector<Pair> pair_order(int stations) {
  std::vector<Pair> pairs;
  if (stations <= 0) return pairs;
  pairs.reserve(static_cast<std::size_t>(stations) * static_cast<std::size_t>(stations + 1) / 2);
  for (int i = 1; i <= stations; ++i) {
    for (int j = i; j <= stations; ++j) pairs.push_back({i, j});
  }
  return pairs;
}

NameList make_name_list(std::string_view folder, std::span<const StationId> stations,
                        std::string_view station_list, Layout layout) {
  NameList list;
  std::unordered_map<std::string, Pair> owner;
  for (const Pair p : pair_order(static_cast<int>(stations.size()))) {
    const auto& first = stations[static_cast<std::size_t>(p.first - 1)];
    const auto& second = stations[static_cast<std::size_t>(p.second - 1)];
    std::string name = pair_file_name(folder, first, second, layout);
    if (name.size() > kMaxNameLength) {
      list.problems.push_back(
          std::string(station_list) + " " + line_numbers(p) + ": the output name \"" + name +
          "\" has " + std::to_string(name.size()) + " characters; xcorrnet_v3 reads at most " +
          std::to_string(kMaxNameLength));
    }
    // Two pairs under one name would overwrite each other's result.
    const auto [it, fresh] = owner.emplace(name, p);
    if (!fresh) {
      list.problems.push_back(std::string(station_list) + " " + line_numbers(p) +
                              ": the output name \"" + name + "\" is already that of " +
                              line_numbers(it->second));
    }
    list.names.push_back(std::move(name));
  }
  if (layout == Layout::kFolderPerRecord) {
    for (const auto& station : stations)
      list.folders.push_back(in_folder(folder, record_name(station)));
  }
  if (!list.problems.empty()) {
    list.names.clear();
    list.folders.clear();
  }
  return list;
}

namespace {

// Only what was made here, and only while empty: nothing of the user's goes.
void remove_made(const std::vector<std::filesystem::path>& made) {
  for (auto it = made.rbegin(); it != made.rend(); ++it) ::rmdir(it->c_str());
}

bool make_folders_noting(const std::filesystem::path& base, std::span<const std::string> folders,
                         std::vector<std::filesystem::path>& made, std::string& error) {
  for (const auto& folder : folders) {
    const std::filesystem::path path = base / folder;
    // Made under the umask, or entered, without following another user's link planted there.
    const PathWalk walk = open_folder(AT_FDCWD, path.string(), true);
    if (walk.error == 0) {
      if (walk.made > 0) made.push_back(path);
      continue;
    }
    struct stat st;
    const bool taken = walk.link.empty() && ::lstat(path.c_str(), &st) == 0;
    error =
        "cannot make the folder \"" + path.string() + "\": " +
        (taken ? std::string("something that is not a folder has that name") : walk_failure(walk));
    remove_made(made);
    made.clear();
    return false;
  }
  return true;
}

}  // namespace

bool make_folders(const std::filesystem::path& base, std::span<const std::string> folders,
                  std::string& error) {
  std::vector<std::filesystem::path> made;
  return make_folders_noting(base, folders, made, error);
}

bool write_name_list(const std::filesystem::path& base, const std::filesystem::path& path,
                     const NameList& list, std::string& error) {
  std::vector<std::filesystem::path> made;
  if (!make_folders_noting(base, list.folders, made, error)) return false;
  if (write_lines_atomically(path, list.names, error)) return true;
  remove_made(made);  // folders for a list that is not there would only be clutter
  return false;
}

std::string unusable_id_reason(std::string_view what, std::string_view name) {
  if (name.empty()) return "the header has no " + std::string(what);
  if (name == "-12345") return "the header's " + std::string(what) + " is undefined";
  for (const char c : name) {
    // A slash would move the result into another folder, a blank would end its name.
    if (c == '/' || c == ' ' || static_cast<unsigned char>(c) < 0x20) {
      return "the " + std::string(what) + " \"" + std::string(name) +
             "\" holds a character that cannot be part of a file name";
    }
  }
  return {};
}

bool read_list(const std::string& path, const char* what, std::vector<ListLine>& lines,
               std::string& error) {
  return read_list_lines(path, what, ListFileRules{}, lines, error);
}

std::string entry_text(const ListLine& line) {
  const std::size_t end = line.text.find_last_not_of(" \t\r\n\v\f");
  return end == std::string::npos ? std::string() : line.text.substr(0, end + 1);
}

std::string result_name(const ListLine& line) {
  if (holds_nul(line.text)) return {};
  bool cut = false;
  const Name name = name_from_line(line.text, &cut);
  const std::string_view field(name.data(), name.size());
  const std::size_t end = field.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string() : std::string(field.substr(0, end + 1));
}

void InputFiles::add(const std::string& path, std::string described) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) files_.emplace(std::pair(st.st_dev, st.st_ino), described);
}

std::string InputFiles::which(const std::string& path) const {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return {};
  const auto found = files_.find(std::pair(st.st_dev, st.st_ino));
  return found == files_.end() ? std::string() : found->second;
}

std::string not_a_record(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return {};
  if (S_ISDIR(st.st_mode)) return "it is a directory";
  if (!S_ISREG(st.st_mode)) return "it is not a regular file";
  return {};
}

}  // namespace xcn::tools
