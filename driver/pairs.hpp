// The pair table, the division of the pairs among workers, and the parallel pair loop that
// correlates, stacks and writes every selected pair.
#pragma once

#include <cstdio>
#include <mutex>
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

  bool has_name(int ij) const { return ij <= static_cast<int>(names.size()); }
  // The pair's output name (blank beyond the name list) and the same without trailing blanks.
  std::string_view name(int ij) const;
  std::string path(int ij) const;
};

// One process-wide lock around every use of the SAC library from the pair loop.
std::mutex& library_lock();

// Prints the "Output:" block: the heading, one line per pair and the separator line.
void print_pair_table(const Run& run);

// The stack of one pair: the mean of its accepted window correlations.
struct Stack {
  std::vector<float> yall;  // nptlen values
  int counter = 0;          // accepted windows
};

// Per-worker window buffers, reused for every pair and window.
struct WorkerBuffers {
  std::vector<float> y1, y2, yyc;
  CcWorkspace work;
};

// Correlates and stacks pair (i, j) over the first nptend samples of both rows; dt and dist
// are handed to the kernel as the pair's sampling interval and distance.
void stack_pair(const StationTable& table, int i, int j, int nptend, const WindowSettings& w,
                float dt, float dist, WorkerBuffers& buffers, Stack& stack);

// Runs the pair loop over all workers of the parallel runtime.
void run_pair_loop(const Run& run);

// Rewrites every listed result file that exists with its final header.
void header_pass(const Run& run, std::FILE* err);

}  // namespace xcn
