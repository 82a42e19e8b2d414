// The xcn_stack command: options, the pair loop over workers, the summary.
#include "stack/command.hpp"

#include <omp.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <optional>

#include "cli/options.hpp"
#include "cli/workers.hpp"
#include "msg/message.hpp"
#include "results/container.hpp"
#include "results/progress.hpp"
#include "results/read_result.hpp"
#include "sacio/header_model.hpp"
#include "sacio/read.hpp"
#include "sacio/ref_time.hpp"
#include "stack/container_out.hpp"
#include "stack/day_stack.hpp"
#include "stack/output.hpp"
#include "stack/plan.hpp"
#include "xcorrnet/sacio.h"
#include "xcorrnet/switches.h"

namespace xcn::stack {
namespace {

constexpr const char* kUsage =
    "usage: xcn_stack --out DIR|FILE.nc [--kind both|linear|pws] [--nu NU]\n"
    "                 [--substack LEN [--step STEP]] INPUT...\n"
    "  stacks, pair by pair, the results of several runs of xcorrnet_v3 (one a day, say): each\n"
    "  INPUT is a run's name list (names relative to its folder) or a folder of its results.\n"
    "  Writes the linear stack (the mean) to DIR/linear/ and the phase-weighted one (power NU,\n"
    "  default 2) to DIR/pws/, each with its name list DIR/linear.txt, DIR/pws.txt; with\n"
    "  --substack, also the stacks of every LEN days, every STEP days (default 1), in\n"
    "  DIR/sub001/, DIR/sub002/, ...\n"
    "  With --out FILE.nc, the stacks go into one NetCDF-4 container laid out as a run's (ccf:\n"
    "  linear stacks, or phase-weighted with --kind pws; pws: phase-weighted stacks), the\n"
    "  sub-stacks into FILE.sub001.nc, FILE.sub002.nc, ...\n";

struct Options {
  std::string out;
  bool container = false;  // the stacks go into containers (--out FILE.nc)
  bool linear = true;
  bool pws = true;
  float nu = 2.0f;
  int length = 0;  // sub-stack days; 0: none
  int step = 1;
  bool step_given = false;
  std::vector<std::string> inputs;
};

constexpr cli::Program kProgram{"xcn_stack", kUsage};

// Fills `o`; a status to end with when the command line says so (help, or a bad one).
std::optional<int> read_options(std::span<const std::string> args, Options& o, std::FILE* out,
                                std::FILE* err) {
  const cli::Option options[] = {
      cli::text_option("--out", "a folder", o.out),
      {"--kind", "both, linear or pws",
       [&o](const std::string& v) {
         o.linear = v != "pws";
         o.pws = v != "linear";
         return v == "both" || v == "linear" || v == "pws";
       }},
      cli::number_option("--nu", "a power of 0 or more", o.nu, 0.0f,
                         std::numeric_limits<float>::max()),
      cli::number_option("--substack", "a whole number of days, 1 or more", o.length, 1,
                         std::numeric_limits<int>::max()),
      {"--step", "a whole number of days, 1 or more",
       [&o](const std::string& v) {
         o.step_given = true;
         return cli::parse_number(v, o.step) && o.step >= 1;
       }},
  };
  if (const auto status = kProgram.read(args, options, &o.inputs, out, err)) return status;
  if (o.out.empty()) return kProgram.refuse(err, "no output folder (--out DIR)");
  o.container = results::container_name(o.out);
  if (o.container && !results::netcdf_built()) {
    std::fprintf(err, "xcn_stack: error: \"%s\" names a container, and %s\n", o.out.c_str(),
                 results::kNoNetcdf);
    return 2;
  }
  if (o.step_given && o.length == 0) return kProgram.refuse(err, "--step needs --substack");
  if (o.inputs.empty()) {
    return kProgram.refuse(err, "no input (a name list or a folder of results per run)");
  }
  return std::nullopt;
}

using Clock = std::chrono::steady_clock;
double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// One folder or container of stacks: the stack of all days, or one sub-stack.
struct StackSet {
  std::string folder;  // DIR or DIR/subNNN; FILE.nc or FILE.subNNN.nc
  Position position;
  bool usable = true;  // its folders could be made, its container begun
  std::unique_ptr<StackContainer> container;
};

// The shape of the stacks in containers: one number of samples at one interval for every row.
struct Shape {
  int npts = 0;
  float delta = 0;
};

enum Kind { kLinear = 0, kPws = 1 };
constexpr const char* kKindFolder[] = {"linear", "pws"};
constexpr const char* kKindTag[] = {"LINEAR", "PWS"};

// What the pair loop counts, over all workers.
struct Tally {
  std::atomic<long> stacked{0};
  std::atomic<long> no_window{0};
  std::atomic<long> missing{0};
  std::atomic<long> left_out{0};
  std::atomic<long> written{0};
  std::atomic<long> failed{0};
  std::atomic<long> attempted{0};
  std::atomic<long> read_ns{0};
  std::atomic<long> stack_ns{0};
  std::atomic<long> write_ns{0};
};

bool all_nan(std::span<const float> y) {
  for (const float v : y) {
    if (!std::isnan(v)) return false;
  }
  return true;
}

bool all_finite(std::span<const float> y) {
  for (const float v : y) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

// Runs that cover less than a tenth of the days they span are far apart for sub-stacks.
constexpr long kSparseRuns = 10;

// The folder of the k-th position (from 1) of `count`: numbered by its place in the span, so
// that its name tells its first day whichever positions hold runs.
std::string sub_folder(long k, long count) {
  std::string digits = std::to_string(k);
  const std::size_t width = std::max<std::size_t>(3, std::to_string(count).size());
  return "sub" + std::string(width - std::min(width, digits.size()), '0') + digits;
}

long ns_since(Clock::time_point t) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t).count());
}

// Puts a pair's stacks into the row `row` of a set's container: ccf the linear stack (the
// phase-weighted one with --kind pws alone), pws the phase-weighted one beside it.
void put_row(std::size_t row, const StackSet& set, std::size_t s, const PairPlan& pair,
             const Options& o, const SavedHeader& header, const std::string& first,
             const std::string& second, int days, std::span<const float> lin,
             std::span<const float> pw, Tally& tally, std::vector<char>& written, std::FILE* err) {
  const int kinds = (o.linear ? 1 : 0) + (o.pws ? 1 : 0);
  tally.attempted += kinds;
  if (!set.usable) {
    tally.failed += kinds;
    return;
  }
  const std::span<const float> ccf = o.linear ? lin : pw;
  results::ContainerPair values = stack_pair_values(header, set.position.time, ccf);
  values.first = first;
  values.second = second;
  // A stack's header states no windows: `stacked` counts its day results, as `days` does, so
  // that 0 marks a stack without a day, as a run marks a pair without a window.
  values.stacked = days;
  std::string why;
  if (!set.container->put(row, values, days, ccf, o.linear && o.pws ? pw : std::span<const float>(),
                          why)) {
    tally.failed += kinds;
    std::fprintf(err, "xcn_stack: the stacks of %s could not be put into \"%s\": %s\n",
                 pair.label.c_str(), set.folder.c_str(), why.c_str());
    return;
  }
  tally.written += kinds;
  if (o.linear) written[s * 2 + kLinear] = 1;
  if (o.pws) written[s * 2 + kPws] = 1;
}

// Reads, stacks and writes one pair; `written[s][kind]` tells which stacks reached their file.
void stack_pair(std::size_t row, const PairPlan& pair, const Plan& plan, const Options& o,
                const Shape& shape, const std::vector<StackSet>& sets, const OutputGuard& guard,
                Tally& tally, std::vector<char>& written, std::FILE* err) {
  const std::size_t n = static_cast<std::size_t>(pair.npts);
  DayStack days(pair.npts, o.pws);
  std::vector<float> buffer(n + 1);
  std::vector<int> day_of;  // stacking index of each day added
  SavedHeader header{};
  bool have_header = false;
  const Result* header_of = nullptr;  // the result whose header the stacks carry
  std::vector<char> covered(static_cast<std::size_t>(plan.day_count), 0);  // days with a result
  for (const Member& m : pair.members) {
    const Result& r = *m.result;
    SavedHeader read_header;
    Clock::time_point t = Clock::now();
    std::string why;
    if (r.npts != pair.npts) {
      why = "changed while it was read";
    } else {
      // The reason, when it cannot be read, in `why`.
      results::read_result(r, std::span<float>(buffer).first(n), &read_header, why);
    }
    tally.read_ns += ns_since(t);
    const auto y = std::span<const float>(buffer).first(n);
    if (why.empty() && all_nan(y)) {
      // A run without a window for this pair.
      ++tally.no_window;
      covered[static_cast<std::size_t>(plan.slot[static_cast<std::size_t>(m.day)])] = 1;
      if (!have_header) {
        header = read_header;
        header_of = &r;
      }
      have_header = true;
      continue;
    }
    if (why.empty() && !all_finite(y)) why = "holds samples that are not finite";
    if (!why.empty()) {
      std::fprintf(err, "xcn_stack: \"%s\" %s; left out\n", r.path.c_str(), why.c_str());
      ++tally.left_out;
      continue;
    }
    // The stacks carry the header of the first day they hold.
    if (days.days() == 0) {
      header = read_header;
      header_of = &r;
    }
    have_header = true;
    t = Clock::now();
    days.add(y);
    tally.stack_ns += ns_since(t);
    day_of.push_back(m.day);
    covered[static_cast<std::size_t>(plan.slot[static_cast<std::size_t>(m.day)])] = 1;
  }
  tally.stacked += days.days();
  tally.missing += std::count(covered.begin(), covered.end(), 0);
  if (!have_header) return;  // nothing of the pair could be read; each file was reported
  if (o.container && (pair.npts != shape.npts || pair.delta != shape.delta)) {
    std::fprintf(err,
                 "xcn_stack: the stacks of %s have %d samples at %g s, not the %d at %g s of the "
                 "container's other pairs; not written\n",
                 pair.label.c_str(), pair.npts, static_cast<double>(pair.delta), shape.npts,
                 static_cast<double>(shape.delta));
    const long stacks = static_cast<long>(sets.size()) * ((o.linear ? 1 : 0) + (o.pws ? 1 : 0));
    tally.attempted += stacks;
    tally.failed += stacks;
    return;
  }
  // A container's row names its records as the first day's row does, or as the stack's file.
  std::string first, second;
  if (o.container) {
    std::string why;
    const auto c = header_of->row >= 0 ? results::open_container(header_of->path, why) : nullptr;
    if (c && static_cast<std::size_t>(header_of->row) < c->pairs().size()) {
      first = c->pairs()[static_cast<std::size_t>(header_of->row)].first;
      second = c->pairs()[static_cast<std::size_t>(header_of->row)].second;
    } else {
      names_of_stack(pair.name, first, second);
    }
  }

  std::vector<float> lin(n), pw(n);
  std::vector<int> chosen;
  for (std::size_t s = 0; s < sets.size(); ++s) {
    Clock::time_point t = Clock::now();
    const Position& pos = sets[s].position;
    chosen.clear();
    for (std::size_t k = 0; k < day_of.size(); ++k) {
      if (std::binary_search(pos.days.begin(), pos.days.end(), day_of[k])) {
        chosen.push_back(static_cast<int>(k));
      }
    }
    days.linear(chosen, lin);
    if (o.pws) days.phase_weighted(chosen, o.nu, lin, pw);
    tally.stack_ns += ns_since(t);
    t = Clock::now();
    if (o.container) {
      put_row(row, sets[s], s, pair, o, header, first, second, static_cast<int>(chosen.size()), lin,
              pw, tally, written, err);
      tally.write_ns += ns_since(t);
      continue;
    }
    for (const Kind kind : {kLinear, kPws}) {
      if (kind == kLinear ? !o.linear : !o.pws) continue;
      ++tally.attempted;
      if (!sets[s].usable) {
        ++tally.failed;
        continue;
      }
      StackFile f;
      f.path = sets[s].folder + "/" + kKindFolder[kind] + "/" + pair.name;
      f.header = &header;
      f.time = pos.time;
      f.days = static_cast<int>(chosen.size());
      f.kind = kKindTag[kind];
      if (kind == kPws) f.nu = o.nu;
      const std::string why =
          write_stack(f, kind == kLinear ? std::span(lin) : std::span(pw), guard);
      if (why.empty()) {
        ++tally.written;
        written[s * 2 + kind] = 1;
      } else {
        ++tally.failed;
        std::fprintf(err, "xcn_stack: stack \"%s\" could not be written: %s\n", f.path.c_str(),
                     why.c_str());
      }
    }
    tally.write_ns += ns_since(t);
  }
}

// The shape of most pairs (the first of a tie): every row of a container has it.
Shape container_shape(const Plan& plan) {
  std::map<std::pair<int, float>, long> count;
  Shape best;
  long most = 0;
  for (const PairPlan& pair : plan.pairs) {
    const long n = ++count[{pair.npts, pair.delta}];
    if (n > most) {
      most = n;
      best = {pair.npts, pair.delta};
    }
  }
  return best;
}

// The global attributes of a set's container: those of a run, the window and step of the
// containers stacked where they all agree (NaN otherwise), and what the stacks are.
results::ContainerRun container_head(const Plan& plan, const std::vector<Run>& runs,
                                     const Options& o, const Shape& shape, const StackSet& set) {
  results::ContainerRun head;
  head.interval = shape.delta;
  head.npts = shape.npts;
  head.window = head.step = std::numeric_limits<float>::quiet_NaN();
  std::optional<std::pair<float, float>> grid;
  bool agree = true;
  for (const int r : plan.order) {
    for (const Result& result : runs[static_cast<std::size_t>(r)].results) {
      std::string why;
      const auto c = result.row >= 0 ? results::open_container(result.path, why) : nullptr;
      const std::pair<float, float> here =
          c ? std::make_pair(c->run().window, c->run().step)
            : std::make_pair(std::numeric_limits<float>::quiet_NaN(), 0.0f);
      if (!grid) grid = here;
      agree = agree && *grid == here;
      break;  // the rows of one run share its attributes
    }
  }
  if (grid && agree) {
    head.window = grid->first;
    head.step = grid->second;
  }
  head.grid_start = set.position.time ? format_time(*set.position.time) + "Z" : std::string();
  head.program = std::string("xcorrnet_v3 ") + XCNSACIO_VERSION;
  head.ccf_long_name = o.linear ? "linear stack over days" : "phase-weighted stack over days";
  if (o.linear && o.pws) {
    head.second_samples = "pws";
    head.second_long_name = "phase-weighted stack over days";
  }
  head.pair_ints = {"days"};
  head.text_attributes = {{"made_by", "xcn_stack"}, {"kind", o.linear ? "linear" : "pws"}};
  if (o.pws) head.number_attributes.push_back({"nu", o.nu});
  const bool all = set.folder == o.out;  // the stack of every day
  head.number_attributes.push_back({"first_day", set.position.first_day + 1});
  head.number_attributes.push_back({"length", all ? plan.day_count : o.length});
  return head;
}

std::string time_text(const std::optional<std::int64_t>& t) {
  return t ? format_time(*t) : std::string("(none)");
}

void print_runs(const std::vector<Run>& runs, const Plan& plan, std::FILE* out) {
  std::fprintf(out, "xcn_stack: %zu runs, stacked %s:\n", plan.order.size(),
               plan.dated ? "by reference time" : "in the order given");
  std::fprintf(out, "  run  day  reference time            results  input\n");
  for (std::size_t d = 0; d < plan.order.size(); ++d) {
    const Run& run = runs[static_cast<std::size_t>(plan.order[d])];
    std::fprintf(out, "%5zu %4d  %-24s %8zu  %s\n", d + 1, plan.slot[d] + 1,
                 time_text(run.time).c_str(), run.results.size(), run.input.c_str());
  }
}

}  // namespace

int run_stack(std::span<const std::string> args, std::FILE* out, std::FILE* err) {
  Options o;
  if (const auto status = read_options(args, o, out, err)) return *status;
  cli::cap_workers(err, kProgram.name);
  std::string error;
  // Each file that cannot serve gets one line of ours; the library's would repeat it. The
  // library sets its message routes up on first use, so it is woken before they are changed.
  newhdr();
  sac_error_off();
  sac_warning_off();
  const Clock::time_point start = Clock::now();

  std::vector<Run> runs;
  std::vector<FileKey> inputs;
  if (!results::read_runs(kProgram.name, o.inputs, runs, inputs, error, err)) {
    std::fprintf(err, "xcn_stack: error: %s\n", error.c_str());
    return 2;
  }
  const Plan plan = make_plan(runs, err);
  const double header_s = seconds(Clock::now() - start);
  print_runs(runs, plan, out);
  if (plan.pairs.empty()) {
    std::fprintf(err, "xcn_stack: no result to stack\n");
    return 1;
  }

  std::vector<StackSet> sets;
  sets.push_back({o.out, all_days(plan), true, nullptr});
  const long position_total = o.length > 0 ? position_count(plan, o.length, o.step) : 0;
  if (o.length > 0) {
    const auto positions = sub_stack_positions(plan, o.length, o.step);
    if (position_total == 0) {
      std::fprintf(err,
                   "xcn_stack: warning: the runs span %d days, fewer than a sub-stack of %d; no "
                   "sub-stack is written\n",
                   plan.day_count, o.length);
    } else if (static_cast<long>(plan.order.size()) * kSparseRuns < plan.day_count) {
      std::fprintf(err,
                   "xcn_stack: warning: %zu runs span %d days; only the %zu of %ld sub-stacks "
                   "that hold a run are written\n",
                   plan.order.size(), plan.day_count, positions.size(), position_total);
    }
    for (const Position& pos : positions) {
      const std::string sub = sub_folder(pos.index + 1, position_total);
      sets.push_back(
          {o.container ? sub_container_name(o.out, sub) : o.out + "/" + sub, pos, true, nullptr});
    }
  }
  const OutputGuard guard(inputs);
  Shape shape;
  if (o.container) {
    shape = container_shape(plan);
    for (StackSet& set : sets) {
      std::string why;
      set.container = StackContainer::begin(set.folder, container_head(plan, runs, o, shape, set),
                                            plan.pairs.size(), guard, why);
      if (!set.container) {
        std::fprintf(err, "xcn_stack: %s; its stacks are not written\n", why.c_str());
        set.usable = false;
      }
    }
  }
  for (StackSet& set : sets) {
    if (o.container) break;
    for (const Kind kind : {kLinear, kPws}) {
      if (kind == kLinear ? !o.linear : !o.pws) continue;
      const std::string folder = set.folder + "/" + kKindFolder[kind];
      if (const std::string why = make_folder(folder); !why.empty() && set.usable) {
        std::fprintf(err,
                     "xcn_stack: cannot make the folder \"%s\": %s; its stacks are not written\n",
                     folder.c_str(), why.c_str());
        set.usable = false;
      }
    }
  }

  Tally tally;
  const long pair_count = static_cast<long>(plan.pairs.size());
  std::vector<std::vector<char>> written(plan.pairs.size(), std::vector<char>(sets.size() * 2, 0));
  results::Progress progress(err, kProgram.name, "stacked", pair_count,
                             ::isatty(::fileno(err)) != 0);
  const Clock::time_point loop_start = Clock::now();
#pragma omp parallel for schedule(dynamic, 1)
  for (long p = 0; p < pair_count; ++p) {
    const auto k = static_cast<std::size_t>(p);
    stack_pair(k, plan.pairs[k], plan, o, shape, sets, guard, tally, written[k], err);
    progress.step();
  }
  progress.finish();
  const double loop_s = seconds(Clock::now() - loop_start);

  // The name lists, for xcn_section and for scripts: each written stack, relative to its list.
  long list_failures = 0;
  long lists = 0;
  for (std::size_t s = 0; s < sets.size() && !o.container; ++s) {
    for (const Kind kind : {kLinear, kPws}) {
      if ((kind == kLinear ? !o.linear : !o.pws) || !sets[s].usable) continue;
      std::vector<std::string> lines;
      for (std::size_t p = 0; p < plan.pairs.size(); ++p) {
        if (written[p][s * 2 + kind] != 0) {
          lines.push_back(std::string(kKindFolder[kind]) + "/" + plan.pairs[p].name);
        }
      }
      const std::string list = sets[s].folder + "/" + kKindFolder[kind] + ".txt";
      ++lists;
      if (const std::string why = write_name_list(list, lines, guard); !why.empty()) {
        std::fprintf(err, "xcn_stack: name list \"%s\" could not be written: %s\n", list.c_str(),
                     why.c_str());
        ++list_failures;
      }
    }
  }

  // Each container is named once whole; one that cannot be loses every stack it held.
  for (std::size_t s = 0; s < sets.size(); ++s) {
    if (!sets[s].container) continue;
    std::string why;
    if (sets[s].container->complete(why)) continue;
    std::fprintf(err, "xcn_stack: container \"%s\" could not be written: %s\n",
                 sets[s].folder.c_str(), why.c_str());
    long lost = 0;
    for (const std::vector<char>& w : written) lost += w[s * 2 + kLinear] + w[s * 2 + kPws];
    tally.written -= lost;
    tally.failed += lost;
  }
  const long runs_count = static_cast<long>(plan.order.size());
  long left_out = plan.left_out + tally.left_out;
  for (const Run& run : runs) left_out += run.unreadable;
  std::fprintf(out,
               "xcn_stack: %ld pairs over %ld runs (%d days): %ld results stacked, %ld without a "
               "window, %ld days missing (%ld results left out)\n",
               pair_count, runs_count, plan.day_count, tally.stacked.load(), tally.no_window.load(),
               tally.missing.load(), left_out);
  if (sets.size() > 1) {
    std::fprintf(out, "xcn_stack: %zu sub-stacks of %d days, every %d days:\n", sets.size() - 1,
                 o.length, o.step);
    std::fprintf(out, "  folder  first day  reference time            runs\n");
    for (std::size_t s = 1; s < sets.size(); ++s) {
      const Position& pos = sets[s].position;
      std::fprintf(out, "  %-6s %10d  %-24s %5zu\n",
                   sub_folder(pos.index + 1, position_total).c_str(), pos.first_day + 1,
                   time_text(pos.time).c_str(), pos.days.size());
    }
  }
  const char* kinds = o.linear && o.pws ? "linear and phase-weighted"
                      : o.linear        ? "linear"
                                        : "phase-weighted";
  char nu_text[32] = "";
  if (o.pws) std::snprintf(nu_text, sizeof nu_text, ", nu %g", static_cast<double>(o.nu));
  std::fprintf(out, "xcn_stack: %ld stacks written in %s (%s%s)\n", tally.written.load(),
               o.out.c_str(), kinds, nu_text);

  if (const char* timing = std::getenv("XCN_TIMING"); timing != nullptr && timing[0] == '1') {
    const double worker_s =
        static_cast<double>(tally.read_ns + tally.stack_ns + tally.write_ns) / 1e9;
    const double read_s = static_cast<double>(tally.read_ns.load()) / 1e9;
    const long results = tally.stacked + tally.no_window;
    std::fprintf(
        err,
        "xcn_stack: timing: headers %.3f s; pair loop %.3f s on %d workers (%.0f "
        "results/s): reading %.3f s (%.0f %% of worker time), stacking %.3f s, writing "
        "%.3f s; reading overall %.0f %% of %.3f s\n",
        header_s, loop_s, omp_get_max_threads(),
        loop_s > 0 ? static_cast<double>(results) / loop_s : 0.0, read_s,
        worker_s > 0 ? 100.0 * read_s / worker_s : 0.0,
        static_cast<double>(tally.stack_ns.load()) / 1e9,
        static_cast<double>(tally.write_ns.load()) / 1e9,
        100.0 * (header_s + read_s / std::max(1, omp_get_max_threads())) / (header_s + loop_s),
        header_s + loop_s);
  }
  const long failed = tally.failed + list_failures;
  if (failed > 0) {
    std::fprintf(err, "xcn_stack: %ld of %ld stacks and name lists could not be written\n", failed,
                 tally.attempted + lists);
    return 3;
  }
  return 0;
}

}  // namespace xcn::stack
