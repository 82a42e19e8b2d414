// The xcn_export command: a run container's rows as the SAC results the run would have written.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "cli/options.hpp"
#include "results/container.hpp"
#include "results/inputs.hpp"
#include "results/output.hpp"
#include "results/read_result.hpp"
#include "sacio/file.hpp"
#include "tools/commands.hpp"
#include "xcorrnet/switches.h"

namespace xcn::tools {
namespace {

constexpr const char* kUsage =
    "usage: xcn_export FILE.nc DIR\n"
    "  writes every result of the run container FILE.nc (written by xcorrnet_v3) as the SAC\n"
    "  file the run would have written for its pair, DIR/ST01.BHZ_ST02.BHZ.sac (both records'\n"
    "  file names), with the name list DIR/names.txt of the files written; DIR is made when\n"
    "  it is not there. Rows the run never wrote are passed over.\n";

constexpr cli::Program kProgram{"xcn_export", kUsage};

// Why a row's file name cannot serve as a file of DIR and a line of its name list, or empty.
std::string unusable_name(const std::string& name) {
  if (std::any_of(name.begin(), name.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; })) {
    return "holds a control character";
  }
  return {};
}

// The name shown for a row: its number from 1 and its two records.
std::string row_label(std::size_t row, const results::ContainerPair& p) {
  std::string label =
      "row " + std::to_string(row + 1) + " (\"" + p.first + "\" x \"" + p.second + "\")";
  for (char& c : label) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return label;
}

}  // namespace

int run_export(std::span<const std::string> args, std::FILE* out, std::FILE* err) {
  std::vector<std::string> operands;
  if (const auto status = kProgram.read(args, {}, &operands, out, err)) return *status;
  if (operands.size() != 2) return kProgram.refuse(err, "expected a run container and a folder");
  const std::string& path = operands[0];
  const std::string& folder = operands[1];

  if (!results::netcdf_built()) {
    std::fprintf(err, "xcn_export: error: \"%s\" names a run container, and %s\n", path.c_str(),
                 results::kNoNetcdf);
    return 2;
  }
  // Only a regular file is opened: a pipe or a device would keep the library waiting.
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    std::fprintf(err, "xcn_export: error: cannot read \"%s\": %s\n", path.c_str(),
                 std::strerror(errno));
    return 2;
  }
  std::string why;
  std::unique_ptr<results::ContainerReader> c;
  if (!S_ISREG(st.st_mode)) {
    why = S_ISDIR(st.st_mode) ? "it is a directory" : "it is not a regular file";
  } else if (st.st_size == 0 || !results::looks_like_netcdf(path)) {
    why = "it is not a NetCDF file";
  } else {
    c = results::ContainerReader::open(path, why);
  }
  if (!c) {
    std::fprintf(err,
                 "xcn_export: error: cannot read \"%s\": it is no run container of xcorrnet_v3 "
                 "(%s)\n",
                 path.c_str(), why.c_str());
    return 2;
  }

  // Each row's file name, once: a second row under a name already taken is not written over
  // the first (records of one file name in two folders).
  const std::vector<results::ContainerPair>& pairs = c->pairs();
  struct Planned {
    std::size_t row;
    std::string name;
  };
  std::vector<Planned> planned;
  std::map<std::string, std::size_t> taken;
  long never_written = 0;
  long failed = 0;
  for (std::size_t row = 0; row < pairs.size(); ++row) {
    const results::ContainerPair& p = pairs[row];
    if (p.stacked < 0) {
      ++never_written;
      continue;
    }
    const std::string name = results::row_name(p);
    if (const std::string bad = unusable_name(name); !bad.empty()) {
      std::fprintf(err, "xcn_export: %s of \"%s\": its file name %s; not written\n",
                   row_label(row, p).c_str(), path.c_str(), bad.c_str());
      ++failed;
      continue;
    }
    if (const auto it = taken.find(name); it != taken.end()) {
      std::fprintf(err,
                   "xcn_export: %s of \"%s\" has the file name \"%s\" of row %zu; not written\n",
                   row_label(row, p).c_str(), path.c_str(), name.c_str(), it->second + 1);
      ++failed;
      continue;
    }
    taken.emplace(name, row);
    planned.push_back({row, name});
  }
  if (planned.empty() && failed == 0) {
    std::fprintf(err, "xcn_export: \"%s\" holds no written result; nothing written\n",
                 path.c_str());
    return 1;
  }
  if (const std::string bad = make_folder(folder); !bad.empty()) {
    std::fprintf(err, "xcn_export: cannot make the folder \"%s\": %s; nothing written\n",
                 folder.c_str(), bad.c_str());
    return 3;
  }

  // Each file gets one line of ours; the library's would repeat it. The library sets its
  // message routes up on first use, so it is woken before they are changed.
  newhdr();
  sac_error_off();
  sac_warning_off();
  const results::OutputGuard guard({{st.st_dev, st.st_ino}});
  const std::string prefix = folder.ends_with('/') ? folder : folder + "/";
  std::vector<float> y(static_cast<std::size_t>(c->run().npts));
  std::vector<std::string> lines;
  for (const Planned& p : planned) {
    const std::string file = prefix + p.name;
    if (!c->read(p.row, y, why)) {
      std::fprintf(err, "xcn_export: %s of \"%s\" cannot be read: %s; \"%s\" not written\n",
                   row_label(p.row, pairs[p.row]).c_str(), path.c_str(), why.c_str(), file.c_str());
      ++failed;
      continue;
    }
    results::SavedHeader header;
    {
      const std::lock_guard<std::mutex> hold(results::library_lock());
      results::set_pair_header(c->run(), pairs[p.row]);
      header = results::save_header();
    }
    if (const std::string bad = results::write_sac(
            file, header, [] {}, y, guard);
        !bad.empty()) {
      std::fprintf(err, "xcn_export: \"%s\" could not be written: %s\n", file.c_str(), bad.c_str());
      ++failed;
      continue;
    }
    lines.push_back(p.name);
  }

  const std::string list = prefix + "names.txt";
  if (const std::string bad = results::write_name_list(list, lines, guard); !bad.empty()) {
    std::fprintf(err, "xcn_export: name list \"%s\" could not be written: %s\n", list.c_str(),
                 bad.c_str());
    ++failed;
  }
  std::fprintf(out, "xcn_export: %zu results of %s written in %s (%ld rows never written)\n",
               lines.size(), path.c_str(), folder.c_str(), never_written);
  if (failed > 0) {
    // Every row the run wrote is a file to write, and the name list one more.
    const long outputs = static_cast<long>(pairs.size()) - never_written + 1;
    std::fprintf(err, "xcn_export: %ld of %ld files and name lists could not be written\n", failed,
                 outputs);
    return 3;
  }
  return 0;
}

}  // namespace xcn::tools
