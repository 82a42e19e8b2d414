// One result's samples and header, from its SAC file or from its row of a run container: every
// program that reads results reads them through here.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "results/container.hpp"
#include "results/inputs.hpp"
#include "results/output.hpp"

namespace xcn::results {

// The container at `path`, opened once per process and kept; null with the reason.
std::shared_ptr<const ContainerReader> open_container(const std::string& path, std::string& why);

// The header the SAC result of a container's pair would carry, as the current header (under
// library_lock()).
void set_pair_header(const ContainerRun& run, const ContainerPair& p);

// The values a container keeps of a pair whose result has the current header (under
// library_lock()): its codes, orientation, positions, distance and azimuths and extremes as the
// header states them. The paths `first` and `second` and `stacked` are left to the caller.
ContainerPair pair_of_header();

// Reads result r's samples into y (r.npts values) and, when `header` is given, its header. The
// reason when it cannot be read or has changed since its header was read.
bool read_result(const Result& r, std::span<float> y, SavedHeader* header, std::string& why);

}  // namespace xcn::results
