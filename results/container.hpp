// A run container: every result of one run in one NetCDF-4 file. The layout is a contract that
// scripts rely on (the README's "Run containers"): read and written here only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "results/identity.hpp"

namespace xcn::results {

// The line a build without libnetcdf gives for a container it is asked to read or write.
inline constexpr char kNoNetcdf[] =
    "this build has no NetCDF support (rebuild with libnetcdf-dev installed)";

// Whether this build reads and writes containers.
bool netcdf_built();

// Whether `path` ends in ".nc".
bool container_name(const std::string& path);
// Whether the file at `path` begins as a NetCDF or HDF5 file does (a text list does not).
bool looks_like_netcdf(const std::string& path);

// The run-wide values: the global attributes.
struct ContainerRun {
  float interval = 0;      // s, DELTA of every result
  int npts = 0;            // samples of every result (the lag dimension)
  float window = 0;        // s
  float step = 0;          // s between window starts
  std::string grid_start;  // ISO 8601, empty for undated records
  std::string engine;
  std::string program;  // "xcorrnet_v3 1.0.0"
  // What a file of stacks adds to the layout (empty for a run): ccf's own long_name, a second
  // sample variable of ccf's layout, int32 (pair) variables (-1 where never written) and
  // global attributes.
  std::string ccf_long_name;
  std::string second_samples;
  std::string second_long_name;
  std::vector<std::string> pair_ints;
  std::vector<std::pair<std::string, std::string>> text_attributes;
  std::vector<std::pair<std::string, double>> number_attributes;
};

// One pair's values, as the final SAC header of its result holds them (-12345 undefined).
struct ContainerPair {
  std::string first;  // the first record's path as the station list gives it
  std::string second;
  RecordId a;  // the first record's codes and orientation
  RecordId b;
  float evla = kUndefFloat, evlo = kUndefFloat, stla = kUndefFloat, stlo = kUndefFloat;
  float dist = kUndefFloat, az = kUndefFloat, baz = kUndefFloat;
  float depmin = kUndefFloat, depmax = kUndefFloat, depmen = kUndefFloat;
  int stacked = -1;                  // accepted windows; -1: the row was never written
  std::optional<std::int64_t> time;  // reference time, ms since 1970
};

// Lag of sample k (0-based) of a result of npts samples at dt, as the SAC result's B + k DELTA.
double container_lag(int npts, float dt, int k);

// A container open for reading. Every call takes the one NetCDF lock: the library is not
// reentrant.
class ContainerReader {
 public:
  // Opens and checks `path`: the layout, every variable's type and shape, sizes within reason.
  // Null with the reason when it is no container of this tool's (a truncated file, another
  // program's NetCDF, dimensions that disagree).
  static std::unique_ptr<ContainerReader> open(const std::string& path, std::string& why);
  ~ContainerReader();
  ContainerReader(const ContainerReader&) = delete;
  ContainerReader& operator=(const ContainerReader&) = delete;

  const ContainerRun& run() const { return run_; }
  const std::vector<ContainerPair>& pairs() const { return pairs_; }
  // Row `row`'s samples into `y` (npts values); false with the reason.
  bool read(std::size_t row, std::span<float> y, std::string& why) const;
  // Rows [first, first + count) into `y` (count * npts values, one row after another); false
  // with the reason.
  bool read_rows(std::size_t first, std::size_t count, std::span<float> y, std::string& why) const;

 private:
  ContainerReader() = default;
  int ncid_ = -1;
  int ccf_ = -1;
  ContainerRun run_;
  std::vector<ContainerPair> pairs_;
};

// A container being written, to a path that is not its final name. Rows may come in any order;
// the pairs' values are written at close. One thread at a time.
class ContainerWriter {
 public:
  // Creates the file for `pairs` rows of run.npts samples; null with the reason.
  static std::unique_ptr<ContainerWriter> create(const std::string& path, const ContainerRun& run,
                                                 std::size_t pairs, std::string& why);
  ~ContainerWriter();
  ContainerWriter(const ContainerWriter&) = delete;
  ContainerWriter& operator=(const ContainerWriter&) = delete;

  // Writes row `row`'s samples; false with the reason.
  bool put(std::size_t row, std::span<const float> y, std::string& why);
  // Writes rows [first, first + count) from `y` (count * npts values, one row after another)
  // in one stretch of the file; false with the reason.
  bool put_rows(std::size_t first, std::size_t count, std::span<const float> y, std::string& why);
  // Writes row `row` of the second sample variable; false with the reason.
  bool put_second(std::size_t row, std::span<const float> y, std::string& why);
  // Writes every row of the int variable `name` of run.pair_ints; false with the reason.
  bool put_ints(const std::string& name, std::span<const int> values, std::string& why);
  // Writes every pair's values and closes the file; false with the reason.
  bool close(const std::vector<ContainerPair>& pairs, std::string& why);

 private:
  ContainerWriter() = default;
  bool define_texts(const std::vector<ContainerPair>& pairs, std::string& why);
  // Rows [first, first + count) of sample variable `var` (-1: the container has none), marked
  // in `done`.
  bool put_rows(int var, std::vector<bool>& done, std::size_t first, std::size_t count,
                std::span<const float> y, std::string& why);
  bool fill_unput(int var, std::vector<bool>& done, std::string& why);
  int ncid_ = -1;
  int ccf_ = -1;
  int second_ = -1;
  std::size_t rows_ = 0;
  int npts_ = 0;
  std::vector<bool> put_;  // per row: its samples are written
  std::vector<bool> second_put_;
};

}  // namespace xcn::results
