// The phases of a run: set-up, the two lists, the station table, the pair table, the parallel
// pair loop and the header pass.
#include "driver/run.hpp"

#include <omp.h>

#include <cstdio>
#include <new>

#include "driver/clock.hpp"
#include "driver/console.hpp"
#include "driver/engine.hpp"
#include "driver/header_pass.hpp"
#include "driver/lists.hpp"
#include "driver/matrix_engine.hpp"
#include "driver/pairs.hpp"
#include "driver/params.hpp"
#include "driver/plain_loop.hpp"
#include "driver/result_names.hpp"
#include "driver/result_tally.hpp"
#include "driver/stations.hpp"
#include "driver/windows.hpp"

namespace xcn {

namespace {

// Exit status of a run that could not write or complete every result it set out to.
constexpr int kSomeResultsFailed = 3;

// The phase times asked for with XCN_TIMING=1, on standard error.
void print_timing(std::FILE* err, const EngineSettings& settings, double read_s, double pairs_s,
                  double header_s, const EngineReport& engine) {
  std::fprintf(err,
               "xcorrnet_v3: timing: read %.3f s, pair loop %.3f s, header pass %.3f s; %s "
               "engine, %d workers\n",
               read_s, pairs_s, header_s, engine_name(settings.engine), omp_get_max_threads());
  constexpr double kMiB = 1048576.0;
  if (settings.engine == EngineKind::kExact) {
    std::fprintf(err,
                 "xcorrnet_v3: timing: engine: windows %.3f s, spectra %.3f s, pairs %.3f s "
                 "(processor: correlation %.3f s, writing %.3f s); %d tiles of up to %zu "
                 "stations; spectra %.1f MiB, held at most %.1f MiB\n",
                 engine.measure_s, engine.spectra_s, engine.pairs_s, engine.pairs_cpu_s,
                 engine.writing_cpu_s, engine.tiles, engine.stations_per_tile,
                 static_cast<double>(engine.bytes) / kMiB,
                 static_cast<double>(engine.peak_bytes) / kMiB);
  } else if (settings.engine == EngineKind::kMatrix) {
    std::fprintf(
        err,
        "xcorrnet_v3: timing: matrix engine: windows %.3f s, spectra %.3f s, pairs %.3f s "
        "(processor: correlation %.3f s of which products %.3f s, writing %.3f s; exact path "
        "%.3f s for %ld pairs); %d tiles of up to %zu stations, blocks of %d; unit "
        "spectra %.1f MiB, held at most %.1f MiB\n",
        engine.measure_s, engine.spectra_s, engine.pairs_s, engine.pairs_cpu_s,
        engine.products_cpu_s, engine.writing_cpu_s, engine.exact_s, engine.exact_pairs,
        engine.tiles, engine.stations_per_tile, engine.block,
        static_cast<double>(engine.bytes) / kMiB, static_cast<double>(engine.peak_bytes) / kMiB);
  }
}

int run_phases(Run& run) {
  std::FILE* err = stderr;
  const EngineSettings settings = engine_settings(err);
  const Clock::time_point start = Clock::now();
  run.names =
      read_name_list(trimmed(std::string_view(run.params.ccf_list.data(), kPathWidth)), err);
  const std::vector<ListLine> lines = read_list_file(
      trimmed(std::string_view(run.params.sac_list.data(), kPathWidth)), "station list");
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
      char line[256];
      std::snprintf(line, sizeof line,
                    "xcorrnet_v3: error: the sampling interval %g s cannot be run: %s",
                    static_cast<double>(run.last.dt), why);
      throw Fatal{2, line};
    }
    check_sampling(table, run.last.dt, err);
  }

  run.uses = check_result_names(run, err);
  ResultTally tally(pairs.size());
  run.tally = &tally;
  for (int ij = 1; ij <= pairs.size(); ++ij) {
    const ResultUse use = run.uses[static_cast<std::size_t>(ij - 1)];
    // A result the run would have written or completed, and refused to touch.
    if (use == ResultUse::kInput || use == ResultUse::kNotRegular || use == ResultUse::kForeign) {
      tally.failed(ij);
    }
  }

  print_pair_table(run);
  const double read_s = seconds_since(start);
  const Clock::time_point loop_start = Clock::now();
  EngineReport engine;
  switch (settings.engine) {
    case EngineKind::kPlain:
      run_pair_loop(run);
      break;
    case EngineKind::kExact:
      engine = run_pair_engine(run, settings.budget);
      break;
    case EngineKind::kMatrix:
      engine = run_matrix_engine(run, settings.budget);
      break;
  }
  const double pairs_s = seconds_since(loop_start);
  const Clock::time_point header_start = Clock::now();
  header_pass(run, err);
  if (settings.timing) {
    print_timing(err, settings, read_s, pairs_s, seconds_since(header_start), engine);
  }
  if (const int failed = tally.failed_count(); failed > 0) {
    std::fprintf(err, "xcorrnet_v3: %d of %d results could not be written or completed\n", failed,
                 tally.taken_count());
    return kSomeResultsFailed;
  }
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
