// The phases of a run: set-up, the two lists, the station table, the pair table, the parallel
// pair loop and the header pass.
#include "driver/run.hpp"

#include <malloc.h>
#include <omp.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "driver/clock.hpp"
#include "driver/console.hpp"
#include "driver/engines/engine.hpp"
#include "driver/engines/matrix_engine.hpp"
#include "driver/engines/plain_loop.hpp"
#include "driver/engines/windows.hpp"
#include "driver/input/lists.hpp"
#include "driver/input/params.hpp"
#include "driver/input/stations.hpp"
#include "driver/pairs.hpp"
#include "driver/ranks.hpp"
#include "driver/results/container_sink.hpp"
#include "driver/results/result_names.hpp"
#include "driver/results/result_tally.hpp"
#include "driver/results/result_writer.hpp"
#include "results/container.hpp"
#include "sacio/write.hpp"

namespace xcn {

namespace {

// Exit status of a run that could not write or complete every result it set out to.
constexpr int kSomeResultsFailed = 3;

// The phase times asked for with XCN_TIMING=1, on standard error.
void print_timing(std::FILE* err, const EngineSettings& settings, double read_s, double names_s,
                  double pairs_s, double header_s, const EngineReport& engine, int results) {
  // Each rank times its own share.
  char rank[80] = "";
  if (ranks::size() > 1) {
    std::snprintf(rank, sizeof rank, " on rank %d of %d (%d results)", ranks::rank(), ranks::size(),
                  results);
  }
  std::fprintf(err,
               "xcorrnet_v3: timing: read %.3f s, pair loop %.3f s, header pass %.3f s; %s "
               "engine, %d workers%s; of the read, result names %.3f s\n",
               read_s, pairs_s, header_s, engine_name(settings.engine), omp_get_max_threads(), rank,
               names_s);
  constexpr double kMiB = 1048576.0;
  if (settings.engine == EngineKind::kExact) {
    std::fprintf(
        err,
        "xcorrnet_v3: timing: engine: windows %.3f s of %d stations, spectra %.3f s, pairs %.3f s "
        "(processor: correlation %.3f s, writing %.3f s); %d tile%s of up to %zu "
        "stations; spectra %.1f MiB, held at most %.1f MiB\n",
        engine.measure_s, engine.measured, engine.spectra_s, engine.pairs_s, engine.pairs_cpu_s,
        engine.writing_cpu_s, engine.tiles, engine.tiles == 1 ? "" : "s", engine.stations_per_tile,
        static_cast<double>(engine.bytes) / kMiB, static_cast<double>(engine.peak_bytes) / kMiB);
  } else if (settings.engine == EngineKind::kMatrix) {
    char held[96];
    if (engine.columns > 0) {
      std::snprintf(held, sizeof held, "%d sweep%s in time chunks of %d window%s", engine.tiles,
                    engine.tiles == 1 ? "" : "s", engine.columns, engine.columns == 1 ? "" : "s");
    } else {
      std::snprintf(held, sizeof held, "%d tile%s of up to %zu stations", engine.tiles,
                    engine.tiles == 1 ? "" : "s", engine.stations_per_tile);
    }
    std::fprintf(
        err,
        "xcorrnet_v3: timing: matrix engine: windows %.3f s of %d stations, spectra %.3f s, pairs "
        "%.3f s "
        "(processor: correlation %.3f s of which products %.3f s, writing %.3f s; exact path "
        "%.3f s for %ld pairs); %s, blocks of %d; unit "
        "spectra %.1f MiB, held at most %.1f MiB\n",
        engine.measure_s, engine.measured, engine.spectra_s, engine.pairs_s, engine.pairs_cpu_s,
        engine.products_cpu_s, engine.writing_cpu_s, engine.exact_s, engine.exact_pairs, held,
        engine.block, static_cast<double>(engine.bytes) / kMiB,
        static_cast<double>(engine.peak_bytes) / kMiB);
  }
}

// Says why computed pairs came out empty: one line per cause for the whole run, and with
// XCN_TIMING=1 each such pair of this rank.
void report_empty_pairs(const Run& run, bool list, std::FILE* err) {
  const EmptyTally& empty = *run.empty;
  if (list) {
    for (int ij = 1; ij <= run.pairs->size(); ++ij) {
      const EmptyTally::Why why = empty.why(ij);
      if (why == EmptyTally::kStacked) continue;
      std::fprintf(stderr, "xcorrnet_v3: pair %d \"%s\" (stations %d and %d) %s\n", ij,
                   run.path(ij).c_str(), run.pairs->ni(ij), run.pairs->nj(ij),
                   why == EmptyTally::kNoSharedWindow
                       ? "shares no window in time"
                       : "shares windows but accepts none of them together");
    }
  }
  const std::vector<std::int64_t> counts = ranks::sum_of(
      {empty.count(EmptyTally::kNoSharedWindow), empty.count(EmptyTally::kNoneAccepted)});
  if (counts[0] > 0) {
    std::fprintf(err,
                 "xcorrnet_v3: %lld %s no window in time (a record shorter than one window, or "
                 "records that do not overlap); %s no stack\n",
                 static_cast<long long>(counts[0]), counts[0] == 1 ? "pair shares" : "pairs share",
                 counts[0] == 1 ? "its result holds" : "their results hold");
  }
  if (counts[1] > 0) {
    std::fprintf(err, "xcorrnet_v3: %lld %s windows but %s none of them together; %s no stack\n",
                 static_cast<long long>(counts[1]), counts[1] == 1 ? "pair shares" : "pairs share",
                 counts[1] == 1 ? "accepts" : "accept",
                 counts[1] == 1 ? "its result holds" : "their results hold");
  }
}

// Whether every usable station's row is held.
bool rows_held(const StationTable& table) {
  for (int i = 1; i <= table.size(); ++i) {
    if (table.station(i).usable && table.row(i) == nullptr) return false;
  }
  return true;
}

// Rank 0's station header values and run-wide values, on every rank.
void share_stations(StationTable& table, LastRead& last) {
  static_assert(std::is_trivially_copyable_v<Station> && std::is_trivially_copyable_v<LastRead>);
  const std::size_t n = static_cast<std::size_t>(table.size());
  std::vector<unsigned char> bytes;
  if (ranks::rank() == 0) {
    bytes.resize(sizeof(LastRead) + n * sizeof(Station));
    std::memcpy(bytes.data(), &last, sizeof(LastRead));
    for (std::size_t k = 0; k < n; ++k) {
      std::memcpy(bytes.data() + sizeof(LastRead) + k * sizeof(Station),
                  &table.station(static_cast<int>(k) + 1), sizeof(Station));
    }
  }
  ranks::broadcast(bytes);
  if (ranks::rank() == 0) return;
  std::memcpy(&last, bytes.data(), sizeof(LastRead));
  for (std::size_t k = 0; k < n; ++k) {
    std::memcpy(&table.station(static_cast<int>(k) + 1),
                bytes.data() + sizeof(LastRead) + k * sizeof(Station), sizeof(Station));
  }
}

// Rank 0's decisions on the result names, on every rank: made once, before any rank writes.
void share_uses(std::vector<ResultUse>& uses, std::vector<char>& present) {
  // The use in the low bits, whether a file stood under the name in the high one.
  constexpr unsigned char kPresent = 0x80;
  std::vector<unsigned char> bytes(uses.size());
  for (std::size_t k = 0; k < uses.size(); ++k) {
    bytes[k] = static_cast<unsigned char>(uses[k]) | (present[k] != 0 ? kPresent : 0);
  }
  ranks::broadcast(bytes);
  uses.resize(bytes.size());
  present.resize(bytes.size());
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    uses[k] = static_cast<ResultUse>(bytes[k] & ~kPresent);
    present[k] = (bytes[k] & kPresent) != 0;
  }
}

// A run ended by a signal (Ctrl-C, a batch system's time limit, a launcher ending the other
// ranks, a closed output pipe) first removes the temporaries of the results being written, then
// ends as the signal would have ended it.
void end_on_signal(int signal) {
  discard_pending_files();
  discard_container_file();
  ::raise(signal);  // the default action, once this handler returns
}

void clean_up_on_signals() {
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE, SIGXCPU, SIGXFSZ}) {
    struct sigaction now {};
    // A signal ignored by whoever started the run (nohup) stays ignored.
    if (::sigaction(signal, nullptr, &now) != 0 || now.sa_handler == SIG_IGN) continue;
    struct sigaction clean {};
    clean.sa_handler = end_on_signal;
    sigemptyset(&clean.sa_mask);
    clean.sa_flags = SA_RESETHAND;
    ::sigaction(signal, &clean, nullptr);
  }
}

// `err` takes what a run reports once (rank 0's standard error; nothing on other ranks).
int run_phases(Run& run, std::FILE* err) {
  const bool first = ranks::rank() == 0;
  const EngineSettings settings = engine_settings(err);
  const Clock::time_point start = Clock::now();
  // The second list names either the pairs' files or one container for all of them.
  const std::string out = trimmed(std::string_view(run.params.ccf_list.data(), kPathWidth));
  const bool container = names_container(out);
  if (container && !results::netcdf_built()) {
    throw Fatal{
        2, "xcorrnet_v3: error: \"" + out + "\" names a run container, and " + results::kNoNetcdf};
  }
  if (!container) run.names = read_name_list(out, err);
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
  if (container) {
    // Filled once the records are read: the pairs are named after them.
  } else if (static_cast<std::size_t>(pairs.size()) > run.names.size()) {
    std::fprintf(err,
                 "xcorrnet_v3: warning: the name list has %zu names for %d pairs; pairs %zu to "
                 "%d have no name and are skipped\n",
                 run.names.size(), pairs.size(), run.names.size() + 1, pairs.size());
  } else if (static_cast<std::size_t>(pairs.size()) < run.names.size()) {
    // Most likely a list made for another station list: its names may not be the pairs'.
    std::fprintf(err,
                 "xcorrnet_v3: warning: the name list has %zu names for %d pairs; names %d to "
                 "%zu are not used (was it made for another station list?)\n",
                 run.names.size(), pairs.size(), pairs.size() + 1, run.names.size());
  }

  // Rank 0 reads every record, for the Input block and its reports; then every rank reads the
  // rows of its own stations, once the header values have reached it.
  const bool divided = ranks::size() > 1;
  if (first) run.last = load_stations(lines, table, err, !divided, settings.budget);
  if (divided) share_stations(table, run.last);
  bool any_usable = false;
  for (int i = 1; i <= n; ++i) any_usable = any_usable || table.station(i).usable;
  if (any_usable) {
    // The interval most records share; only when none can be run does the run end.
    float unrunnable = 0.0f;
    run.last.dt = run_interval(table, settings.budget, &unrunnable);
    if (run.last.dt == 0.0f) {
      char line[512];
      std::snprintf(
          line, sizeof line, "xcorrnet_v3: error: the sampling interval %g s cannot be run: %s",
          static_cast<double>(unrunnable), refuse_sampling(unrunnable, settings.budget).c_str());
      throw Fatal{2, line};
    }
    check_sampling(table, run.last.dt, err);
    run.time = lay_out_grid(table, run.last.dt, err);
  }
  // A container's pairs are named after their records, and those it holds already are known
  // before anything is planned.
  std::unique_ptr<ResultSink> sink;
  ContainerSink* box = nullptr;
  if (container) {
    if (!any_usable) {
      throw Fatal{2,
                  "xcorrnet_v3: error: no record of the station list can be read; the "
                  "container \"" +
                      out + "\" is not written"};
    }
    run.names = container_pair_names(table, pairs);
    run.recheck_outputs = false;
    auto planned = std::make_unique<ContainerSink>(run, out, engine_name(settings.engine), err);
    box = planned.get();
    sink = std::move(planned);
  }
  // The records held count against the budget; when the usable ones take more than half of
  // it, none is held and each is read again where it is used. The matrix engine's plan decides
  // for itself, as its sweeps may read the records forward instead of holding them. Decided
  // from the network and the budget alone, the same on every rank, and planned before any rank
  // reads its rows: a record one rank cannot read again changes nothing of them.
  std::size_t budget = settings.budget;
  bool stream = !records_fit(table, budget);
  if (settings.engine == EngineKind::kMatrix && matrix_engine_available()) {
    run.grid = matrix_grid(run, budget);
    if (!run.grid.members.empty()) stream = run.grid.stream;
  }
  if (stream) {
    // Half of it for the records being read again.
    table.stream(stderr);
    budget /= 2;
  } else {
    budget -= record_bytes(table);
  }
  if (divided) {
    run.share = run.grid.members.empty()
                    ? RankShare(n, ranks::size(), ranks::rank())
                    : RankShare(grid_groups(run.grid, n), ranks::size(), ranks::rank());
    read_rows(table, run.share, err);
  } else if (!table.streamed() && !rows_held(table)) {
    // Rows dropped while loading (records of other intervals counted then) are read again.
    read_rows(table, RankShare(), err);
  }
  // Each rank writes its share of the container's rows.
  if (box != nullptr) box->open();

  const Clock::time_point names_start = Clock::now();
  if (!container && first) run.uses = check_result_names(run, err, &run.present);
  const double names_s = seconds_since(names_start);
  ResultTally tally(pairs.size());
  run.tally = &tally;
  EmptyTally empty(pairs.size());
  run.empty = &empty;
  if (first) print_pair_table(run);
  // Once rank 0 has printed the Output block, so that no rank's pair lines come before it.
  if (divided) share_uses(run.uses, run.present);
  for (int ij = 1; ij <= pairs.size(); ++ij) {
    if (!run.mine(ij)) continue;
    const ResultUse use = run.uses[static_cast<std::size_t>(ij - 1)];
    // A result the run would have written or completed, and refused to touch.
    if (use == ResultUse::kInput || use == ResultUse::kNotRegular || use == ResultUse::kForeign) {
      tally.failed(ij);
    }
  }

  const double read_s = seconds_since(start);
  const Clock::time_point loop_start = Clock::now();
  EngineReport engine;
  {
    // Every rank's skip and progress lines, printed whole by rank 0.
    const ranks::LineRelay relay;
    if (!sink) sink = std::make_unique<SacFiles>(run);
    run.sink = sink.get();
    switch (settings.engine) {
      case EngineKind::kPlain:
        run_pair_loop(run);
        break;
      case EngineKind::kExact:
        engine = run_pair_engine(run, budget);
        break;
      case EngineKind::kMatrix:
        engine = run_matrix_engine(run, budget);
        break;
    }
    sink->finish();
    run.sink = nullptr;
  }
  const double pairs_s = seconds_since(loop_start);
  report_empty_pairs(run, settings.timing, err);
  // Every result of the run is written before any is completed.
  ranks::barrier();
  const Clock::time_point header_start = Clock::now();
  sink->complete(stderr);
  if (settings.timing) {
    print_timing(stderr, settings, read_s, names_s, pairs_s, seconds_since(header_start), engine,
                 tally.taken_count());
  }
  const std::vector<std::int64_t> counts =
      ranks::sum_of({tally.failed_count(), tally.taken_count()});
  if (counts[0] > 0) {
    std::fprintf(err, "xcorrnet_v3: %lld of %lld results could not be written or completed\n",
                 static_cast<long long>(counts[0]), static_cast<long long>(counts[1]));
    return kSomeResultsFailed;
  }
  return 0;
}

}  // namespace

namespace {

// Status 3 when standard output lost lines (a full disk, a closed terminal): scripts read
// the run's outcome from them.
int with_output_checked(int status) {
  int error = ranks::output_failure();
  if (std::fflush(stdout) != 0 && error == 0) error = errno;
  if (std::ferror(stdout) && error == 0) error = EIO;
  if (error == 0) return status;
  std::fprintf(stderr, "xcorrnet_v3: error: standard output could not be written: %s\n",
               std::strerror(error));
  return std::max(status, kSomeResultsFailed);
}

int run_tool_once(int argc, char** argv);

}  // namespace

int run_tool(int argc, char** argv) {
  // Records, spectra and other large buffers each in pages of their own, given back when freed:
  // the allocator's own threshold grows with the largest block freed and would keep records
  // read again long after they are dropped.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  const ranks::Session session(&argc, &argv);
  return with_output_checked(run_tool_once(argc, argv));
}

namespace {

int run_tool_once(int argc, char** argv) {
  clean_up_on_signals();
  const bool first = ranks::rank() == 0;
  if (argc != 5) {
    if (first) print_usage();
    return 0;
  }
  // Tasks that are not one run would each compute and write every pair.
  if (const ranks::Tasks tasks = ranks::unjoined_tasks(); tasks.count > 1) {
    if (tasks.index == 0) {
      std::fprintf(stderr,
                   "xcorrnet_v3: error: started as one of %d tasks that MPI does not join into "
                   "one run, each of which would compute every pair; start the MPI build (make "
                   "mpi) with mpirun or srun --mpi=pmix, or start one task\n",
                   tasks.count);
    }
    return 2;
  }
  // Every rank reads the arguments and the lists and takes the same way out of a fault in them;
  // rank 0 alone reports it.
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> quiet(
      first ? nullptr : std::fopen("/dev/null", "w"), &std::fclose);
  std::FILE* err = first ? stderr : quiet.get();
  if (err == nullptr) err = stderr;
  Run run;
  if (const int status = set_up_run(argv + 1, run.params, err); status != 0) return status;
  int status = 0;
  try {
    status = run_phases(run, err);
  } catch (const Fatal& f) {
    std::fflush(stdout);
    // Allocation faults are one rank's own: the others cannot follow, so all end.
    if (f.status == 1 && ranks::size() > 1) {
      std::fprintf(stderr, "xcorrnet_v3: rank %d: %s\n", ranks::rank(), f.message.c_str());
      ranks::abort_all(f.status);
    }
    std::fprintf(err, "%s\n", f.message.c_str());
    return f.status;
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    if (ranks::size() > 1) {
      std::fprintf(stderr, "xcorrnet_v3: rank %d: Allocation would exceed memory limit\n",
                   ranks::rank());
      ranks::abort_all(1);
    }
    std::fprintf(stderr, "Allocation would exceed memory limit\n");
    return 1;
  }
  return ranks::max_of(status);
}

}  // namespace

}  // namespace xcn
