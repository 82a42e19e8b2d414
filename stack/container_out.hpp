// Writing stacks into containers: one NetCDF-4 file for a stack of all days or for one
// sub-stack, in the layout of a run container, so that every program that reads runs reads it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "results/container.hpp"
#include "results/hidden_file.hpp"
#include "results/output.hpp"

namespace xcn::stack {

// "FILE.sub001.nc" for the sub-stack "sub001" of "FILE.nc".
std::string sub_container_name(const std::string& out, const std::string& sub);

// The paths `first` and `second` of a stack's row when its first day is a SAC result: its file
// name split at the first "_" (ST01.BHZ_ST02.BHZ.sac gives ST01.BHZ and ST02.BHZ), so that a
// reader names the row as the stack's SAC file is named.
void names_of_stack(const std::string& name, std::string& first, std::string& second);

// The values of a stack's row: those of the header of its first day, with the stack's reference
// time and the extremes of its samples, as the stack's SAC file would state them.
results::ContainerPair stack_pair_values(const results::SavedHeader& header,
                                         const std::optional<std::int64_t>& time,
                                         std::span<const float> samples);

class StackContainer {
 public:
  // Begins the container `path` for `rows` pairs of head.npts samples, under a hidden name
  // beside it; null with a line naming it (`why`) when the name cannot take it: another
  // program's or a damaged file, an input, a read-only file, a directory, anything but a
  // regular file.
  static std::unique_ptr<StackContainer> begin(const std::string& path,
                                               const results::ContainerRun& head, std::size_t rows,
                                               const results::OutputGuard& guard, std::string& why);
  StackContainer(const StackContainer&) = delete;
  StackContainer& operator=(const StackContainer&) = delete;

  const std::string& path() const { return path_; }
  // Writes a pair's row (from any thread): its stacks (`second` empty without a second
  // variable), its values and its days; false with the reason.
  bool put(std::size_t row, const results::ContainerPair& values, int days,
           std::span<const float> ccf, std::span<const float> second, std::string& why);
  // Writes the pairs' values and names the file; false with the reason, and nothing left.
  bool complete(std::string& why);

 private:
  StackContainer() = default;
  std::string path_;
  std::string target_;
  mode_t mode_ = 0;
  results::HiddenFile hidden_;
  std::unique_ptr<results::ContainerWriter> file_;
  std::mutex lock_;
  std::vector<results::ContainerPair> pairs_;
  std::vector<int> days_;
  std::string failure_;  // the first row that could not be written
};

}  // namespace xcn::stack
