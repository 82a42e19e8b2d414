// The phases of a run: set-up, the two lists, the station table, the pair table, the parallel
// pair loop and the header pass.
#include "driver/run.hpp"

#include <cstdio>
#include <new>

#include "driver/console.hpp"
#include "driver/lists.hpp"
#include "driver/pairs.hpp"
#include "driver/params.hpp"

namespace xcn {

namespace {

int run_phases(Run& run) {
  std::FILE* err = stderr;
  run.names = read_name_list(trimmed(std::string_view(run.params.ccf_list.data(), kPathWidth)),
                             err);
  const std::vector<std::string> lines =
      read_list_file(trimmed(std::string_view(run.params.sac_list.data(), kPathWidth)),
                     "station list");
  if (lines.size() > static_cast<std::size_t>(kMaxStations)) {
    throw Fatal{2, "xcorrnet_v3: error: the station list has " + std::to_string(lines.size()) +
                       " lines; at most 65535 stations fit the pair numbering"};
  }
  const int n = static_cast<int>(lines.size());
  StationTable table(n);
  PairTable pairs(n);
  run.table = &table;
  run.pairs = &pairs;
  if (static_cast<std::size_t>(pairs.size()) > run.names.size()) {
    std::fprintf(err,
                 "xcorrnet_v3: warning: the name list has %zu names for %d pairs; pairs %zu to "
                 "%d have no name and are skipped\n",
                 run.names.size(), pairs.size(), run.names.size() + 1, pairs.size());
  }

  run.last = load_stations(lines, table, err);
  bool any_usable = false;
  for (int i = 1; i <= n; ++i) any_usable = any_usable || table.station(i).usable;
  if (any_usable) {
    if (const char* why = refuse_sampling(run.last.dt)) {
      throw Fatal{2, "xcorrnet_v3: error: the sampling interval " +
                         std::to_string(run.last.dt) + " s cannot be run: " + why};
    }
    check_sampling(table, run.last.dt, err);
  }

  print_pair_table(run);
  run_pair_loop(run);
  header_pass(run, err);
  return 0;
}

}  // namespace

int run_tool(int argc, char** argv) {
  if (argc != 5) {
    print_usage();
    return 0;
  }
  Run run;
  if (const int status = set_up_run(argv + 1, run.params, stderr); status != 0) return status;
  try {
    return run_phases(run);
  } catch (const Fatal& f) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", f.message.c_str());
    return f.status;
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    std::fprintf(stderr, "Allocation would exceed memory limit\n");
    return 1;
  }
}

}  // namespace xcn
