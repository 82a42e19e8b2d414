// Ordering the runs, matching their results by pair, and the positions of the sub-stacks.
#include "stack/plan.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <map>

#include "sacio/ref_time.hpp"

namespace xcn::stack {
namespace {

// Intervals written by other programs differ in their last digits: the same interval while
// the difference adds up to less than half a sample over the result.
bool same_shape(const Result& a, int npts, float delta) {
  const double drift = std::fabs(static_cast<double>(a.delta) - static_cast<double>(delta)) *
                       static_cast<double>(npts);
  return a.npts == npts && drift < static_cast<double>(delta) / 2.0;
}

// Leaves out the members whose window length or interval is not that of most of the pair's
// results (a tie goes to the earliest).
void keep_common_shape(PairPlan& pair, int& left_out, std::FILE* err) {
  std::size_t best = 0;
  int best_count = 0;
  for (std::size_t k = 0; k < pair.members.size(); ++k) {
    const Result& r = *pair.members[k].result;
    const auto count =
        std::count_if(pair.members.begin(), pair.members.end(),
                      [&](const Member& m) { return same_shape(*m.result, r.npts, r.delta); });
    if (count > best_count) {
      best = k;
      best_count = static_cast<int>(count);
    }
  }
  if (pair.members.empty()) return;
  const Result common = *pair.members[best].result;
  pair.npts = common.npts;
  pair.delta = common.delta;
  std::vector<Member> kept;
  for (const Member& m : pair.members) {
    if (same_shape(*m.result, common.npts, common.delta)) {
      kept.push_back(m);
      continue;
    }
    std::fprintf(err,
                 "xcn_stack: \"%s\" has %d samples at %g s, not the %d at %g s of the other "
                 "results of %s; left out\n",
                 m.result->path.c_str(), m.result->npts, static_cast<double>(m.result->delta),
                 common.npts, static_cast<double>(common.delta), pair.label.c_str());
    ++pair.left_out;
    ++left_out;
  }
  pair.members = std::move(kept);
}

// The key of a result's pair: its identity where it is named, its file name otherwise.
std::string pair_key(const Result& r) {
  return r.id.named ? results::identity_key(r.id) : "name\n" + r.name;
}

// Results of a run that repeat those of an earlier-given run of the same reference time (a
// copy of a day's folder, the same run given twice) would weigh that day twice: they are
// marked in `again` and left out, one line for each run; a run all of whose results repeat
// is left out whole (`dropped`). A run of another network of that day keeps its own pairs.
void mark_repeated_runs(const std::vector<Run>& runs, std::vector<std::vector<char>>& again,
                        std::vector<char>& dropped, int& left_out, std::FILE* err) {
  // Only reference times of several runs are looked at: a year of day runs holds no pair
  // keys then.
  std::map<std::int64_t, int> runs_at;
  for (const Run& run : runs) {
    if (run.time && !run.results.empty()) ++runs_at[*run.time];
  }
  // Per reference time, the pairs of the runs kept so far and the run each came from.
  std::map<std::int64_t, std::map<std::string, std::size_t>> pairs_at;
  for (std::size_t r = 0; r < runs.size(); ++r) {
    const Run& run = runs[r];
    again[r].assign(run.results.size(), 0);
    if (!run.time || run.results.empty() || runs_at[*run.time] < 2) continue;
    auto& seen = pairs_at[*run.time];
    std::size_t repeated = 0;
    std::size_t first = r;  // the earlier run named in the report
    for (std::size_t k = 0; k < run.results.size(); ++k) {
      const auto it = seen.find(pair_key(run.results[k]));
      if (it == seen.end()) continue;
      again[r][k] = 1;
      if (repeated++ == 0) first = it->second;
    }
    for (const Result& result : run.results) seen.emplace(pair_key(result), r);
    if (repeated == 0) continue;
    left_out += static_cast<int>(repeated);
    const std::string when = format_time(*run.time);
    if (repeated == run.results.size()) {
      dropped[r] = 1;
      std::fprintf(err, "xcn_stack: \"%s\" is the run \"%s\" again (reference time %s); left out\n",
                   run.input.c_str(), runs[first].input.c_str(), when.c_str());
    } else {
      std::fprintf(err,
                   "xcn_stack: \"%s\" has the reference time of \"%s\" (%s): its %zu results of "
                   "pairs that \"%s\" holds too are left out\n",
                   run.input.c_str(), runs[first].input.c_str(), when.c_str(), repeated,
                   runs[first].input.c_str());
    }
  }
}

}  // namespace

Plan make_plan(const std::vector<Run>& runs, std::FILE* err) {
  Plan plan;
  std::vector<std::vector<char>> again(runs.size());
  std::vector<char> dropped(runs.size(), 0);
  mark_repeated_runs(runs, again, dropped, plan.left_out, err);
  int with_results = 0;
  int dated = 0;
  for (std::size_t r = 0; r < runs.size(); ++r) {
    const Run& run = runs[r];
    if (dropped[r] != 0) continue;
    if (run.results.empty()) {
      std::fprintf(err, "xcn_stack: warning: \"%s\" holds no result\n", run.input.c_str());
      continue;
    }
    ++with_results;
    if (run.time) ++dated;
  }
  plan.dated = with_results > 0 && dated == with_results;
  if (dated > 0 && !plan.dated) {
    std::fprintf(err,
                 "xcn_stack: warning: %d of %d runs carry no reference time; the runs are "
                 "stacked in the order given\n",
                 with_results - dated, with_results);
  }
  for (int r = 0; r < static_cast<int>(runs.size()); ++r) {
    const auto k = static_cast<std::size_t>(r);
    if (dropped[k] == 0 && (!plan.dated || !runs[k].results.empty())) plan.order.push_back(r);
  }
  if (plan.dated) {
    std::stable_sort(plan.order.begin(), plan.order.end(), [&](int a, int b) {
      return *runs[static_cast<std::size_t>(a)].time < *runs[static_cast<std::size_t>(b)].time;
    });
    plan.first_time = runs[static_cast<std::size_t>(plan.order.front())].time;
  }
  for (std::size_t d = 0; d < plan.order.size(); ++d) {
    const Run& run = runs[static_cast<std::size_t>(plan.order[d])];
    // The nearest whole day: records of a day begin a little before or after midnight.
    plan.slot.push_back(plan.dated
                            ? static_cast<int>((*run.time - *plan.first_time + kDayMs / 2) / kDayMs)
                            : static_cast<int>(d));
  }
  plan.day_count = plan.slot.empty() ? 0 : plan.slot.back() + 1;

  std::map<std::string, std::size_t> by_identity;
  std::map<std::string, std::size_t> by_name;
  std::vector<bool> named;  // whether a pair has an identity yet
  for (std::size_t d = 0; d < plan.order.size(); ++d) {
    const auto run = static_cast<std::size_t>(plan.order[d]);
    for (std::size_t k = 0; k < runs[run].results.size(); ++k) {
      if (again[run][k] != 0) continue;
      const Result& r = runs[run].results[k];
      std::size_t p = plan.pairs.size();
      const std::string key = r.id.named ? results::identity_key(r.id) : std::string();
      if (r.id.named) {
        if (const auto it = by_identity.find(key); it != by_identity.end()) p = it->second;
      }
      if (p == plan.pairs.size()) {
        if (const auto it = by_name.find(r.name); it != by_name.end()) {
          const std::size_t q = it->second;
          if (r.id.named && named[q] && !results::same_pair(r.id, plan.pairs[q].identity)) {
            // The same file name for another pair: stacking it would mix two pairs.
            const Result& first = *plan.pairs[q].members.front().result;
            std::fprintf(
                err, "xcn_stack: \"%s\" holds the pair %s, not %s of \"%s\"; left out\n",
                r.path.c_str(), results::differing_label(r.id, plan.pairs[q].identity).c_str(),
                results::differing_label(plan.pairs[q].identity, r.id).c_str(), first.path.c_str());
            ++plan.pairs[q].left_out;
            ++plan.left_out;
            continue;
          }
          p = q;
          if (r.id.named) {
            // Results without a pair name came first under this name and this one names the
            // pair; or a result of an earlier version, without both records' fields, meets one
            // that holds them (or the other way round): the pair holds what either tells.
            if (!named[q]) plan.pairs[q].label = r.id.kevnm;
            named[q] = true;
            results::merge_identity(plan.pairs[q].identity, r.id);
            by_identity.emplace(key, q);
          }
        }
      }
      if (p == plan.pairs.size()) {
        PairPlan pair;
        pair.name = r.name;
        pair.label = results::pair_label(r);
        pair.identity = r.id;
        plan.pairs.push_back(std::move(pair));
        named.push_back(r.id.named);
        by_name.emplace(r.name, p);
        if (r.id.named) by_identity.emplace(key, p);
      }
      PairPlan& pair = plan.pairs[p];
      if (!pair.members.empty() && pair.members.back().day == static_cast<int>(d)) {
        std::fprintf(err, "xcn_stack: \"%s\" holds the same pair as \"%s\" (%s); left out\n",
                     r.path.c_str(), pair.members.back().result->path.c_str(), pair.label.c_str());
        ++pair.left_out;
        ++plan.left_out;
        continue;
      }
      pair.members.push_back({static_cast<int>(d), &r});
    }
  }
  for (PairPlan& pair : plan.pairs) keep_common_shape(pair, plan.left_out, err);
  return plan;
}

long position_count(const Plan& plan, int length, int step) {
  return plan.day_count < length ? 0 : (plan.day_count - length) / step + 1;
}

std::vector<Position> sub_stack_positions(const Plan& plan, int length, int step) {
  // The positions that hold a day with a run, found from the runs: runs years apart leave
  // almost every position empty, and they are not even listed.
  const long count = position_count(plan, length, step);
  std::vector<long> held;
  for (const int slot : plan.slot) {
    const long from = std::max(0L, (slot - static_cast<long>(length) + step) / step);
    const long to = std::min(static_cast<long>(slot) / step, count - 1);
    for (long k = from; k <= to; ++k) held.push_back(k);
  }
  std::sort(held.begin(), held.end());
  held.erase(std::unique(held.begin(), held.end()), held.end());
  std::vector<Position> positions;
  for (const long k : held) {
    Position pos;
    pos.index = static_cast<int>(k);
    pos.first_day = static_cast<int>(k * step);
    if (plan.dated) pos.time = *plan.first_time + k * step * kDayMs;
    // Slots ascend with the stacking index.
    const auto begin = std::lower_bound(plan.slot.begin(), plan.slot.end(), pos.first_day);
    const auto end = std::lower_bound(begin, plan.slot.end(), pos.first_day + length);
    for (auto it = begin; it != end; ++it) {
      pos.days.push_back(static_cast<int>(it - plan.slot.begin()));
    }
    positions.push_back(std::move(pos));
  }
  return positions;
}

Position all_days(const Plan& plan) {
  Position pos;
  pos.time = plan.first_time;
  for (std::size_t d = 0; d < plan.slot.size(); ++d) pos.days.push_back(static_cast<int>(d));
  return pos;
}

}  // namespace xcn::stack
