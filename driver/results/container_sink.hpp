// The container way out: every result of the run in one NetCDF-4 file, written whole under a
// hidden name beside it (under several ranks, joined from each rank's part) and named once
// complete.
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

namespace xcn {

// Whether the name list argument names a run container: it ends in ".nc" and is no existing
// text list (a file that is there and is not NetCDF stays a name list).
bool names_container(const std::string& path);

// The names of a container run's pairs, for the progress lines: both records' file names.
std::vector<Name> container_pair_names(const StationTable& table, const PairTable& pairs);

// For a process a signal is ending: removes the hidden files of a container being written (a
// rank's part, the container's own). Safe in a signal handler.
void discard_container_file();

class ContainerSink final : public ResultSink {
 public:
  // Plans the run's container at `path`: with replace N, the pairs an existing container of the
  // same run holds are marked present (run.present) and kept; every pair is free to write
  // (run.uses). Rank 0 decides, for every rank; made before the pairs are dealt to the ranks.
  // Throws Fatal (on every rank) when the name cannot take the container.
  ContainerSink(Run& run, const std::string& path, const char* engine, std::FILE* err);
  // A container not completed leaves no file behind: its hidden files are removed.
  ~ContainerSink() override;

  // Begins the hidden files once the rank's share of pairs is dealt: the container itself for
  // one process; under several ranks each rank's part of it, and on rank 0 the container's
  // name reserved. Throws Fatal (on every rank) when any of them cannot be begun.
  void open();
  void put(int ij, const Geometry& g, Stack& stack, const ConsoleLine& progress) override;
  void finish() override;
  // One process names its container. Under several ranks, each closes its part, then rank 0
  // joins the parts (and the earlier container's rows) into the container and names it.
  void complete(std::FILE* err) override;

 private:
  struct Queued {
    std::size_t row = 0;
    int ij = 0;
    ConsoleLine progress;
    std::vector<float> samples;
  };
  std::string plan();
  void share_plan(std::string& failure);
  results::ContainerPair pair_of(int ij) const;
  std::string part_name(int rank) const;
  std::string begin_file(const std::string& path);
  std::string join();
  bool close_own(std::string& why);
  void drain();
  void write_rows(std::vector<Queued>& rows);

  Run& run_;
  std::string path_;    // as given
  std::string target_;  // the file the name stands for (a link's target)
  std::string temp_;    // the hidden file this process writes: the container, or its part
  std::string joined_;  // rank 0 of several: the container's hidden name, joined at the end
  std::string suffix_;  // what makes the hidden names of this run's files its own
  mode_t mode_ = 0;
  results::ContainerRun head_;
  std::unique_ptr<results::ContainerReader> old_;  // kept pairs come from it (rank 0)
  bool kept_old_ = false;                          // an earlier container is completed
  std::size_t old_rows_ = 0;                       // rows kept from it, first in the container
  std::size_t new_rows_ = 0;                       // rows of the pairs computed, every rank's
  std::vector<long long> final_row_;               // per pair: its row in the container, -1 none
  std::vector<long long> row_of_;                  // per pair: its row in the file written here
  std::vector<results::ContainerPair> rows_;       // every row's values of that file
  std::unique_ptr<results::ContainerWriter> file_;
  bool failed_ = false;  // a row could not be written: the container is not named
  std::string failure_;

  std::mutex lock_;
  std::condition_variable ready_;
  std::condition_variable room_;
  std::deque<Queued> queue_;
  std::size_t held_ = 0;    // samples' bytes queued or being written
  std::size_t queued_ = 0;  // of them, those still queued
  bool closing_ = false;
  std::vector<float> stretch_;  // consecutive rows gathered for one write (by the writer)
  std::thread thread_;
};

}  // namespace xcn
