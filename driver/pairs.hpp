// The pair table, the division of the pairs among workers, and the parallel pair loop that
// correlates, stacks and writes every selected pair.
#pragma once

#include <cstddef>
#include <cstdio>
#include <mutex>
#include <span>
#include <vector>

#include "driver/lists.hpp"
#include "driver/params.hpp"
#include "signal/xcorr.hpp"

namespace xcn {

// Fixed window settings.
inline constexpr float kTimelen = 2000.0f;  // window length in seconds
inline constexpr float kOvlp = 0.9f;        // overlap fraction of consecutive windows
inline constexpr float kCrtStd = 1.1f;      // rejection factor

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

// Pairs [first, last] (1-based, inclusive; empty when last < first) of worker t of T: static
// contiguous blocks, the first nij mod T workers taking one pair more.
struct Block {
  int first;
  int last;
};
Block worker_block(int nij, int workers, int t);

// Window length and step in samples for a sampling interval.
struct WindowSettings {
  int nptlen;     // window length in samples
  float overlap;  // step between window starts in samples
};
WindowSettings window_settings(float dt);
// Nothing when the interval can be run, else why it cannot.
const char* refuse_sampling(float dt);

// Everything the pair loop and the header pass read; shared by all workers, read-only.
struct Run {
  RunParams params;
  std::vector<Name> names;
  StationTable* table = nullptr;
  LastRead last;
  PairTable* pairs = nullptr;

  // Whether pair ij has a name to write to: listed, and not a blank line.
  bool has_name(int ij) const;
  // The pair's output name (blank beyond the name list) and the same without trailing blanks.
  std::string_view name(int ij) const;
  std::string path(int ij) const;
};

// One process-wide lock around every use of the SAC library from the pair loop.
std::mutex& library_lock();

// Prints the "Output:" block: the heading, one line per pair and the separator line.
void print_pair_table(const Run& run);

// Sample offsets of the windows of a record of nptend samples, in order. A shorter record's
// windows are the first ones of a longer record's.
std::vector<std::size_t> window_offsets(const WindowSettings& w, int nptend);

// The stack of one pair: the sum of its accepted window correlations, then their mean.
struct Stack {
  std::vector<float> yall;  // nptlen values
  int counter = 0;          // accepted windows, once finished

  // Empty stack of nptlen values.
  void reset(int nptlen);
  // Adds one accepted window's correlation.
  void add(std::span<const float> yyc);
  // Counts one window whose correlation the caller has added to yall itself.
  void added() { count_ += 1.0f; }
  // Divides by the number of windows added (no window: every value is 0/0, NaN).
  void finish();
  // Windows added so far.
  float count() const { return count_; }

 private:
  float count_ = 0.0f;
};

// Distance and azimuths from the first station to the second, or 0 and undefined azimuths when
// their coordinates are the same.
struct Geometry {
  double dist = 0.0;
  double az = kUndefined;
  double baz = kUndefined;
};
Geometry pair_geometry(const Station& a, const Station& b);

// Number of pair (i, j), i <= j, among n stations.
int pair_number(int n, int i, int j);

// Whether pair ij is computed: selected by the mode, named, both stations usable, and its
// output may be written. A pair that is not gets its skip line.
bool pair_wanted(const Run& run, int ij);
// The same without the skip line (and with the output test as it stands now).
bool pair_would_run(const Run& run, int ij);

// Samples of both records that a pair uses.
int pair_nptend(const Run& run, int i, int j);

// Prints the progress line of a computed pair and writes its result file.
void finish_pair(const Run& run, int ij, const Geometry& g, Stack& stack);

// Per-worker window buffers, reused for every pair and window.
struct WorkerBuffers {
  std::vector<float> y1, y2, yyc;
  CcWorkspace work;
};

// Correlates and stacks pair (i, j) over the first nptend samples of both rows; dt and dist
// are handed to the kernel as the pair's sampling interval and distance.
void stack_pair(const StationTable& table, int i, int j, int nptend, const WindowSettings& w,
                float dt, float dist, WorkerBuffers& buffers, Stack& stack);

// Runs the plain pair loop over all workers of the parallel runtime: static blocks of pairs,
// every window transformed again for each pair. The reference for the pair engine.
void run_pair_loop(const Run& run);

// Rewrites every listed result file that exists with its final header.
void header_pass(const Run& run, std::FILE* err);

}  // namespace xcn
