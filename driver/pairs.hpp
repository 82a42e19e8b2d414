// The pair table, the division of the pairs among workers, and which pairs a run computes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "driver/engines/matrix_grid.hpp"
#include "driver/engines/windows.hpp"
#include "driver/input/lists.hpp"
#include "driver/input/params.hpp"
#include "driver/input/stations.hpp"
#include "driver/rank_share.hpp"
#include "driver/results/result_names.hpp"
#include "driver/results/result_tally.hpp"

namespace xcn {

// Pairs (1,1), (1,2), ..., (1,n), (2,2), ..., (n,n); pair ij (1-based) joins ni(ij) and nj(ij).
class PairTable {
 public:
  explicit PairTable(int n);
  int size() const { return static_cast<int>(ni_.size()); }
  int ni(int ij) const { return ni_[static_cast<std::size_t>(ij - 1)]; }
  int nj(int ij) const { return nj_[static_cast<std::size_t>(ij - 1)]; }

 private:
  std::vector<int> ni_;
  std::vector<int> nj_;
};

// The largest station count whose pair count fits a 32-bit signed integer.
inline constexpr int kMaxStations = 65535;

// Number of pair (i, j), i <= j, among n stations.
int pair_number(int n, int i, int j);

// Pairs [first, last] (1-based, inclusive; empty when last < first) of worker t of T: static
// contiguous blocks, the first nij mod T workers taking one pair more.
struct Block {
  int first;
  int last;
};
Block worker_block(int nij, int workers, int t);

// Everything the pair loop and the header pass read; shared by all workers, read-only.
class ResultSink;

struct Run {
  RunParams params;
  std::vector<Name> names;
  StationTable* table = nullptr;
  LastRead last;
  PairTable* pairs = nullptr;
  // Per pair, decided once before the pair loop (check_result_names); empty: every named pair
  // may write.
  std::vector<ResultUse> uses;
  // Per pair, whether something stood under its name when the run began (checked with the
  // names); empty: not known.
  std::vector<char> present;
  // What became of the results; none kept when null.
  ResultTally* tally = nullptr;
  // Where computed pairs go; each worker writes its own SAC file when null.
  ResultSink* sink = nullptr;
  // Whether a pair's output is looked for again when its turn comes (files may come and go
  // meanwhile; a container's pairs are known from the start).
  bool recheck_outputs = true;
  // Which computed pairs stacked nothing, and why; none kept when null.
  EmptyTally* empty = nullptr;
  // The run's window grid and where each record lies on it.
  TimeGrid time;
  // The pairs of this rank when the run is divided among processes.
  RankShare share;
  // The matrix engine's members and blocks; empty for the other engines.
  MatrixGrid grid;

  // Whether pair ij is this rank's to compute and complete.
  bool mine(int ij) const { return share.mine(pairs->ni(ij), pairs->nj(ij)); }

  // Whether pair ij has a name to write to: listed, and not a blank line.
  bool has_name(int ij) const;
  // Whether pair ij may write and complete its result.
  bool may_write(int ij) const;
  // The pair's output name (blank beyond the name list) and the same without trailing blanks.
  std::string_view name(int ij) const;
  std::string path(int ij) const;
};

// Prints the "Output:" block: the heading, one line per pair and the separator line.
void print_pair_table(const Run& run);

// Whether something stands under a result's name.
bool result_exists(const std::string& path);

// Whether pair ij is computed: this rank's, selected by the mode, its name free to use, both
// stations usable, and its output may be written. A pair of this rank that is not gets its skip
// line; another rank's pair gets nothing here.
bool pair_wanted(const Run& run, int ij);
// The same, the skip line added to `skipped` (to be printed with others) instead of printed.
bool pair_wanted(const Run& run, int ij, std::string& skipped);
// The same without the skip line (and with the output test as it stands now).
bool pair_would_run(const Run& run, int ij);
// Whether pair ij may be computed: as pair_would_run, its output tested as it stood when the
// run began (without looking again). Only these pairs' stations are measured and transformed;
// each is tested again when its turn comes.
bool pair_may_run(const Run& run, int ij);
// The stations (by index i - 1) of the pairs that may be computed.
std::vector<bool> stations_in_use(const Run& run);

}  // namespace xcn
