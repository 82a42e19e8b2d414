// The container way out: every result of the run in one NetCDF-4 file, written whole under a
// hidden name beside it and named once complete.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/pairs.hpp"
#include "driver/results/result_sink.hpp"
#include "results/container.hpp"
#include "results/hidden_file.hpp"

namespace xcn {

// Whether the name list argument names a run container: it ends in ".nc" and is no existing
// text list (a file that is there and is not NetCDF stays a name list).
bool names_container(const std::string& path);

// The names of a container run's pairs, for the progress lines: both records' file names.
std::vector<Name> container_pair_names(const StationTable& table, const PairTable& pairs);

// For a process a signal is ending: removes the hidden file of a container being written.
// Safe in a signal handler.
void discard_container_file();

class ContainerSink final : public ResultSink {
 public:
  // Plans the run's container at `path`: with replace N, the pairs an existing container of the
  // same run holds are marked present (run.present) and kept; every pair is free to write
  // (run.uses). Throws Fatal when the name cannot take the container.
  ContainerSink(Run& run, const std::string& path, const char* engine, std::FILE* err);
  // A container not completed leaves no file behind: its hidden file is removed.
  ~ContainerSink() override;

  void put(int ij, const Geometry& g, Stack& stack, const ConsoleLine& progress) override;
  void finish() override;
  void complete(std::FILE* err) override;

 private:
  struct Queued {
    std::size_t row = 0;
    int ij = 0;
    ConsoleLine progress;
    std::vector<float> samples;
  };
  void begin(std::FILE* err);
  void drain();
  void write_row(const Queued& q);

  Run& run_;
  std::string path_;            // as given
  std::string target_;          // the file the name stands for (a link's target)
  results::HiddenFile hidden_;  // the file being written
  mode_t mode_ = 0;
  results::ContainerRun head_;
  std::unique_ptr<results::ContainerReader> old_;  // kept pairs come from it
  std::vector<long long> row_of_;                  // per pair: its row, -1 none
  std::vector<results::ContainerPair> rows_;       // every row's values
  std::unique_ptr<results::ContainerWriter> file_;
  bool failed_ = false;  // a row could not be written: the container is not named
  std::string failure_;

  std::mutex lock_;
  std::condition_variable ready_;
  std::condition_variable room_;
  std::deque<Queued> queue_;
  std::size_t held_ = 0;
  bool closing_ = false;
  std::thread thread_;
};

}  // namespace xcn
