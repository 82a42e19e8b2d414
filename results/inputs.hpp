// Results as the programs that read them take them: each command-line input (a name list or a
// folder of results) expanded to its result files, and each result's header as far as matching
// and ordering need it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "results/container.hpp"
#include "results/identity.hpp"

namespace xcn::results {

struct Result {
  int run = 0;       // the input it came from, as given
  std::string path;  // to open
  std::string name;  // its file name: the stack is written under it
  int npts = 0;
  float delta = 0;
  float b = 0;
  Identity id;
  std::optional<std::int64_t> time;  // reference time, ms
  long long row = -1;                // its row in the run container `path`; -1: a SAC file
};

struct Run {
  std::string input;  // as given
  bool folder = false;
  std::vector<Result> results;       // readable results, in list or name order
  std::optional<std::int64_t> time;  // the earliest reference time of its results
  int unreadable = 0;                // listed results that could not serve
};

// A file's identity on disk, to tell inputs from outputs.
struct FileKey {
  dev_t dev = 0;
  ino_t ino = 0;
  auto operator<=>(const FileKey&) const = default;
};

// Reads every input into runs: the names of a list (relative to the list's folder; to the
// current one for a pipe), the regular files of a folder, or the rows of a run container
// (a NetCDF-4 file; its rows never written are passed over), and each result's header. A file
// that looks like NetCDF and is no container of the tool's is an error naming it. A listed
// result that cannot be read, a file given twice, or one that holds no correlation is reported
// on `err` and left out (a folder's other files, such as station records, are passed over in
// silence). Returns false, with `error`, when an input itself cannot be read. `inputs` receives
// every input file (lists and results), which no output may replace.
// Lines on `err` begin with the name of the `program` that reads them.
bool read_runs(const char* program, const std::vector<std::string>& args, std::vector<Run>& runs,
               std::vector<FileKey>& inputs, std::string& error, std::FILE* err);

// The file name of a container's row, as the SAC result it stands for is named: both records'
// file names without ".sac", joined by "_" ("ST01.BHZ_ST02.BHZ.sac").
std::string row_name(const ContainerPair& p);

// "ST01-ST02", or the file name of a result without a pair name.
std::string pair_label(const Result& r);

}  // namespace xcn::results
