// Which pairs may write their result: names used twice, names that are inputs of the run, and
// names taken by something other than a regular file, all found before the pair loop.
#include "driver/results/result_names.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <unordered_map>

#include "driver/pairs.hpp"
#include "driver/results/result_writer.hpp"
#include "msg/message.hpp"
#include "sacio/header_model.hpp"
#include "sacio/read.hpp"

namespace xcn {

namespace {

namespace fs = std::filesystem;

std::string identity(const struct stat& st) {
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

// One key per file, however its name is spelled: an existing file by its device and inode, a
// name not taken yet by its folder's device and inode and its last component, and the rest (a
// name in a missing folder) by its lexically normal absolute path.
class FileKeys {
 public:
  std::string key(const std::string& path, const struct stat* st) {
    if (st != nullptr) return std::string("f").append(identity(*st));
    const std::size_t slash = path.rfind('/');
    const std::string_view leaf = slash == std::string::npos
                                      ? std::string_view(path)
                                      : std::string_view(path).substr(slash + 1);
    if (!leaf.empty() && leaf != "." && leaf != "..") {
      const std::string folder =
          slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
      auto [it, fresh] = folders_.try_emplace(folder);
      struct stat d;
      if (fresh && ::stat(folder.c_str(), &d) == 0 && S_ISDIR(d.st_mode)) it->second = identity(d);
      if (!it->second.empty()) return std::string("e").append(it->second).append("/").append(leaf);
    }
    const fs::path p(path);
    std::error_code ec;
    const fs::path full = fs::absolute(p, ec);
    return std::string("t").append((ec ? p : full).lexically_normal().string());
  }

 private:
  std::unordered_map<std::string, std::string> folders_;  // folder -> identity, "" if none
};

void report_repeated(const Run& run, const std::vector<int>& pairs, std::FILE* err) {
  const std::string first = run.path(pairs.front());
  const bool one_spelling =
      std::all_of(pairs.begin(), pairs.end(), [&](int ij) { return run.path(ij) == first; });
  std::vector<std::string> lines;
  for (const int ij : pairs) {
    lines.push_back(one_spelling ? std::to_string(ij)
                                 : std::to_string(ij) + " (\"" + run.path(ij) + "\")");
  }
  std::vector<std::string> later;
  for (std::size_t k = 1; k < pairs.size(); ++k) later.push_back(std::to_string(pairs[k]));
  const std::string skipped = (later.size() == 1 ? "pair " : "pairs ") + and_list(later) +
                              (later.size() == 1 ? " is skipped" : " are skipped");
  if (one_spelling) {
    std::fprintf(err,
                 "xcorrnet_v3: warning: the name \"%s\" is on lines %s of the name list; only "
                 "pair %d uses it, %s\n",
                 first.c_str(), and_list(lines).c_str(), pairs.front(), skipped.c_str());
  } else {
    std::fprintf(err,
                 "xcorrnet_v3: warning: the names on lines %s of the name list are one file; "
                 "only pair %d uses it, %s\n",
                 and_list(lines).c_str(), pairs.front(), skipped.c_str());
  }
}

// The run's input files by identity, each with the words that name it.
std::unordered_map<std::string, std::string> input_files(const Run& run) {
  std::unordered_map<std::string, std::string> inputs;
  auto add = [&](const std::string& path, const std::string& what) {
    struct stat st;
    if (!path.empty() && ::stat(path.c_str(), &st) == 0) inputs.try_emplace(identity(st), what);
  };
  const StationTable& t = *run.table;
  for (int i = 1; i <= t.size(); ++i) {
    const std::string path = trimmed(std::string_view(t.station(i).entry.data(), kEntryWidth));
    add(path, "the station record \"" + path + "\" of station " + std::to_string(i));
  }
  const std::string sac_list = trimmed(std::string_view(run.params.sac_list.data(), kPathWidth));
  const std::string ccf_list = trimmed(std::string_view(run.params.ccf_list.data(), kPathWidth));
  add(sac_list, "the station list \"" + sac_list + "\"");
  add(ccf_list, "the name list \"" + ccf_list + "\"");
  return inputs;
}

}  // namespace

namespace {

// Whether an existing regular file may be replaced by a result: a SAC file whose time axis is
// that of a result. A file that is not SAC at all is left to the writer, as before.
// Why a rerun with Y leaves the existing file as it is, as the header pass would: empty when
// it may replace it (also when it is no SAC file at all, which the run replaces as before).
std::string replace_refusal(const std::string& path) {
  int nerr = 0;
  rsach(path.c_str(), &nerr, static_cast<int>(path.size()));
  clrmsg();
  if (nerr != 0) return {};
  return kept_as_is(Nhdr(kNpts), Fhdr(kB), Fhdr(kDelta), Lhdr(kLovrok));
}

}  // namespace

std::string and_list(const std::vector<std::string>& items, std::size_t shown) {
  const std::size_t listed = std::min(items.size(), shown);
  const std::size_t more = items.size() - listed;
  std::string text;
  for (std::size_t k = 0; k < listed; ++k) {
    if (k > 0) text += (k + 1 == listed && more == 0) ? " and " : ", ";
    text += items[k];
  }
  if (more > 0) text += " and " + std::to_string(more) + " more";
  return text;
}

std::vector<ResultUse> check_result_names(const Run& run, std::FILE* err,
                                          std::vector<char>* present) {
  const int nij = run.pairs->size();
  std::vector<ResultUse> use(static_cast<std::size_t>(nij), ResultUse::kWrite);
  std::vector<struct stat> found(static_cast<std::size_t>(nij));
  std::vector<char> exists(static_cast<std::size_t>(nij), 0);

  // What stands under each name, looked up on all workers (half a million names at a
  // thousand stations).
  std::vector<char> named(static_cast<std::size_t>(nij), 0);
#pragma omp parallel for schedule(dynamic, 4096)
  for (int ij = 1; ij <= nij; ++ij) {
    const std::size_t k = static_cast<std::size_t>(ij - 1);
    if (!run.has_name(ij)) continue;
    named[k] = 1;
    exists[k] = ::stat(run.path(ij).c_str(), &found[k]) == 0;
  }
  // Pairs grouped by the file their names stand for, in pair order: the group of each named
  // pair, and how many pairs each group has.
  FileKeys keys;
  std::unordered_map<std::string, int> group_of;
  group_of.reserve(static_cast<std::size_t>(nij));
  std::vector<int> group(static_cast<std::size_t>(nij), -1);
  std::vector<int> members;
  for (int ij = 1; ij <= nij; ++ij) {
    const std::size_t k = static_cast<std::size_t>(ij - 1);
    if (named[k] == 0) {
      use[k] = ResultUse::kUnnamed;
      continue;
    }
    const auto [it, fresh] = group_of.try_emplace(
        keys.key(run.path(ij), exists[k] ? &found[k] : nullptr), static_cast<int>(members.size()));
    if (fresh) members.push_back(0);
    group[k] = it->second;
    ++members[static_cast<std::size_t>(it->second)];
  }
  group_of = {};
  // Two pairs writing one file would leave one pair's samples under the other's header.
  std::unordered_map<int, std::vector<int>> repeated;
  std::vector<int> order;
  for (int ij = 1; ij <= nij; ++ij) {
    const int g = group[static_cast<std::size_t>(ij - 1)];
    if (g < 0 || members[static_cast<std::size_t>(g)] < 2) continue;
    std::vector<int>& pairs = repeated[g];
    if (pairs.empty()) order.push_back(g);
    pairs.push_back(ij);
  }
  for (const int g : order) {
    const std::vector<int>& pairs = repeated[g];
    report_repeated(run, pairs, err);
    for (std::size_t k = 1; k < pairs.size(); ++k) {
      use[static_cast<std::size_t>(pairs[k] - 1)] = ResultUse::kRepeated;
    }
  }

  const std::unordered_map<std::string, std::string> inputs = input_files(run);
  const StationTable& t = *run.table;
  for (int ij = 1; ij <= nij; ++ij) {
    const std::size_t k = static_cast<std::size_t>(ij - 1);
    if (use[k] != ResultUse::kWrite || !exists[k]) continue;
    if (!t.station(run.pairs->ni(ij)).usable || !t.station(run.pairs->nj(ij)).usable) continue;
    const std::string path = run.path(ij);
    if (const auto in = inputs.find(identity(found[k])); in != inputs.end()) {
      std::fprintf(err,
                   "xcorrnet_v3: result \"%s\" of pair %d is %s; the pair is skipped and the "
                   "file left as it is\n",
                   path.c_str(), ij, in->second.c_str());
      use[k] = ResultUse::kInput;
    } else if (!S_ISREG(found[k].st_mode)) {
      // Opening a pipe or a device could block the run or feed it another program's bytes.
      std::fprintf(err, "xcorrnet_v3: result \"%s\" is %s; left as it is\n", path.c_str(),
                   S_ISDIR(found[k].st_mode) ? "a directory" : "not a regular file");
      use[k] = ResultUse::kNotRegular;
    } else if (const std::string why = run.params.replace == 'Y' ? replace_refusal(path) : "";
               !why.empty()) {
      std::fprintf(err,
                   "xcorrnet_v3: result \"%s\" %s; the pair is skipped and the file left as it "
                   "is\n",
                   path.c_str(), why.c_str());
      use[k] = ResultUse::kForeign;
    }
  }
  if (present != nullptr) present->assign(exists.begin(), exists.end());
  return use;
}

}  // namespace xcn
