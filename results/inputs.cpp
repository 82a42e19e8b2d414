// Reading the runs to stack: inputs expanded to result files, and the headers of those files.
#include "results/inputs.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>

#include "driver/input/list_file.hpp"
#include "results/read_result.hpp"
#include "sacio/header_model.hpp"
#include "sacio/read.hpp"
#include "sacio/ref_time.hpp"

namespace xcn::results {
namespace {

// A file of the run, before its header is read.
struct Candidate {
  std::string path;
  std::string name;
};

std::string last_component(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The names of a name list, each joined to the list's folder, as the tool reads them.
bool list_candidates(const char* program, const std::string& list, std::vector<Candidate>& files,
                     std::string& error, std::FILE* err) {
  // Unlike the tool, a list that is not there is an error, not an empty list to create.
  std::vector<ListLine> lines;
  if (!read_list_lines(list, "name list", ListFileRules{}, lines, error)) return false;
  const std::string folder = names_folder(list);
  for (std::size_t k = 0; k < lines.size(); ++k) {
    if (holds_nul(lines[k].text)) {
      std::fprintf(err, "%s: warning: line %zu of \"%s\" holds a NUL byte; skipped\n", program,
                   k + 1, list.c_str());
      continue;
    }
    bool cut = false;
    const Name field = name_from_line(lines[k].text, &cut);
    const std::string name = without_blanks(std::string_view(field.data(), field.size()));
    if (name.empty()) continue;  // a pair without a name has no result
    if (cut) {
      // The tool wrote the result under the cut name.
      std::fprintf(err,
                   "%s: warning: line %zu of \"%s\" has %zu characters; using the name \"%s\"\n",
                   program, k + 1, list.c_str(), lines[k].length, name.c_str());
    }
    files.push_back({path_in_folder(folder, name), last_component(name)});
  }
  return true;
}

// The regular files of a folder, hidden ones (the writer's temporaries) left aside, by name.
bool folder_candidates(const std::string& folder, std::vector<Candidate>& files,
                       std::string& error) {
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  if (ec) {
    error = "cannot read the folder \"" + folder + "\": " + ec.message();
    return false;
  }
  for (const auto& e : it) {
    const std::string name = e.path().filename().string();
    std::error_code type_ec;
    if (name.starts_with('.') || !e.is_regular_file(type_ec)) continue;
    files.push_back({e.path().string(), name});
  }
  std::sort(files.begin(), files.end(),
            [](const Candidate& a, const Candidate& b) { return a.name < b.name; });
  return true;
}

// The header of a result: its shape, its pair and its reference time; false with the reason
// when it is no result of the tool.
bool read_header(const std::string& path, Result& r, std::string& why) {
  const SacReader file(path);
  if (file.nerr() != 0) {
    why = file.failure();
    return false;
  }
  const SacHeader& h = file.header();
  r.npts = h.integer(kNpts);
  r.delta = h.real(kDelta);
  r.b = h.real(kB);
  if (r.npts < 1 || !(r.delta > 0.0f) || !std::isfinite(r.delta) ||
      r.b != static_cast<float>(-(r.npts / 2)) * r.delta) {
    why = "it holds no correlation (its begin time is not -(NPTS/2) x DELTA)";
    return false;
  }
  r.id = read_identity(h);
  r.time = to_ms(h.reference());
  return true;
}

// The rows of a container as results of one run.
bool container_results(const std::string& path, int input, Run& run, std::string& error) {
  std::string why;
  const std::shared_ptr<const ContainerReader> c = open_container(path, why);
  if (!c) {
    error = "cannot read \"" + path + "\": it is no run container of xcorrnet_v3 (" + why + ")";
    return false;
  }
  const ContainerRun& head = c->run();
  for (std::size_t k = 0; k < c->pairs().size(); ++k) {
    const ContainerPair& p = c->pairs()[k];
    if (p.stacked < 0) continue;
    Result r;
    r.run = input;
    r.path = path;
    r.row = static_cast<long long>(k);
    r.name = row_name(p);
    r.npts = head.npts;
    r.delta = head.interval;
    r.b = static_cast<float>(-(head.npts / 2)) * head.interval;
    r.id.named = true;
    r.id.kevnm = without_blanks((p.a.station + "-" + p.b.station).substr(0, 16));
    r.id.first = p.a;
    r.id.second = p.b;
    r.id.evla = p.evla;
    r.id.evlo = p.evlo;
    r.id.stla = p.stla;
    r.id.stlo = p.stlo;
    r.time = p.time;
    if (r.time && (!run.time || *r.time < *run.time)) run.time = r.time;
    run.results.push_back(std::move(r));
  }
  return true;
}

}  // namespace

std::string row_name(const ContainerPair& p) {
  auto stem = [](const std::string& path) {
    std::string s = last_component(path);
    if (s.ends_with(".sac")) s.resize(s.size() - 4);
    return s;
  };
  return stem(p.first) + "_" + stem(p.second) + ".sac";
}

std::string pair_label(const Result& r) { return r.id.named ? r.id.kevnm : r.name; }

bool read_runs(const char* program, const std::vector<std::string>& args, std::vector<Run>& runs,
               std::vector<FileKey>& inputs, std::string& error, std::FILE* err) {
  // Each result file once: the second mention of a file (the same list given twice, a folder
  // and its list) would count its day twice.
  std::map<FileKey, std::string> seen;
  for (std::size_t a = 0; a < args.size(); ++a) {
    const std::string& arg = args[a];
    struct stat st;
    if (::stat(arg.c_str(), &st) != 0) {
      error = "cannot read \"" + arg + "\": " + std::strerror(errno);
      return false;
    }
    Run run;
    run.input = arg;
    run.folder = S_ISDIR(st.st_mode);
    std::vector<Candidate> files;
    if (run.folder) {
      if (!folder_candidates(arg, files, error)) return false;
    } else if (S_ISREG(st.st_mode) && st.st_size > 0 && looks_like_netcdf(arg)) {
      const FileKey key{st.st_dev, st.st_ino};
      inputs.push_back(key);
      if (const auto it = seen.find(key); it != seen.end()) {
        std::fprintf(err, "%s: \"%s\" is the file \"%s\" again; left out\n", program, arg.c_str(),
                     it->second.c_str());
        runs.push_back(std::move(run));
        continue;
      }
      seen.emplace(key, arg);
      if (!container_results(arg, static_cast<int>(a), run, error)) return false;
      runs.push_back(std::move(run));
      continue;
    } else if (S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode)) {
      inputs.push_back({st.st_dev, st.st_ino});
      if (!list_candidates(program, arg, files, error, err)) return false;
    } else {
      error = "cannot read \"" + arg + "\": it is neither a name list nor a folder";
      return false;
    }
    // The files' headers are read side by side (reading a year of days is most of a run's
    // start); what each one gives is then taken in order, so the lines said keep their order.
    struct Probe {
      int stat_error = 0;  // errno of stat, or 0
      struct stat st {};
      Result r;
      std::string why;  // why the header cannot serve
    };
    std::vector<Probe> probes(files.size());
    const long count = static_cast<long>(files.size());
#pragma omp parallel for schedule(dynamic, 64)
    for (long k = 0; k < count; ++k) {
      Probe& p = probes[static_cast<std::size_t>(k)];
      const Candidate& c = files[static_cast<std::size_t>(k)];
      if (::stat(c.path.c_str(), &p.st) != 0) {
        p.stat_error = errno;
        continue;
      }
      if (S_ISREG(p.st.st_mode) && !read_header(c.path, p.r, p.why) && p.why.empty()) {
        p.why = "it cannot be read";
      }
    }
    for (std::size_t k = 0; k < files.size(); ++k) {
      Candidate& c = files[k];
      Probe& p = probes[k];
      auto left_out = [&](const std::string& why) {
        if (!run.folder) {
          std::fprintf(err, "%s: \"%s\" of \"%s\" cannot be used: %s; left out\n", program,
                       c.path.c_str(), arg.c_str(), why.c_str());
          ++run.unreadable;
        }
      };
      if (p.stat_error != 0) {
        left_out(p.stat_error == ENOENT ? "the file does not exist" : std::strerror(p.stat_error));
        continue;
      }
      const struct stat& fs = p.st;
      if (!S_ISREG(fs.st_mode)) {
        left_out(S_ISDIR(fs.st_mode) ? "it is a directory" : "it is not a regular file");
        continue;
      }
      const FileKey key{fs.st_dev, fs.st_ino};
      if (const auto it = seen.find(key); it != seen.end()) {
        std::fprintf(err, "%s: \"%s\" is the file \"%s\" again; left out\n", program,
                     c.path.c_str(), it->second.c_str());
        ++run.unreadable;
        continue;
      }
      Result r = std::move(p.r);
      r.run = static_cast<int>(a);
      r.path = c.path;
      r.name = c.name;
      if (!p.why.empty()) {
        left_out(p.why);
        continue;
      }
      // The samples are read into buffers of NPTS values: a header that promises more than
      // the file holds must not size them.
      if (fs.st_size < kHeaderBytes + 4 * static_cast<off_t>(r.npts)) {
        left_out("the file is shorter than its header says");
        continue;
      }
      seen.emplace(key, c.path);
      inputs.push_back(key);
      if (r.time && (!run.time || *r.time < *run.time)) run.time = r.time;
      run.results.push_back(std::move(r));
    }
    runs.push_back(std::move(run));
  }
  return true;
}

}  // namespace xcn::results
