// What to stack: the runs in stacking order with their days, the pairs and the results of each,
// and the positions of the moving sub-stacks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "results/inputs.hpp"

namespace xcn::stack {

// The results xcn_stack reads, as every program that reads results takes them.
using results::FileKey;
using results::Identity;
using results::Result;
using results::Run;

// A result of a pair: the stacking position of its run and the result itself.
struct Member {
  int day = 0;  // index into Plan::order
  const Result* result = nullptr;
};

struct PairPlan {
  std::string name;   // the stacks' file name
  std::string label;  // "ST01-ST02", or the name
  Identity identity;  // of its first named result
  int npts = 0;
  float delta = 0;
  std::vector<Member> members;  // in stacking order
  int left_out = 0;             // results of runs reported and not stacked
};

// A window of the moving sub-stacks: the runs (stacking indices) it holds.
struct Position {
  std::optional<std::int64_t> time;  // its first day's reference time
  int index = 0;                     // its place among every position of the span, from 0
  int first_day = 0;                 // in days from the first run
  std::vector<int> days;             // stacking indices, ascending
};

struct Plan {
  std::vector<int> order;  // runs (as given) in stacking order
  std::vector<int> slot;   // per stacking index: its day, counted from the first run's
  int day_count = 0;       // days the runs span
  bool dated = false;      // ordered and counted by reference time
  std::optional<std::int64_t> first_time;
  std::vector<PairPlan> pairs;
  int left_out = 0;  // results of runs reported as mismatched and not stacked
};

// Orders the runs (by reference time when every run with results has one, else as given),
// matches their results by pair (the header's pair name, both records' codes and orientation and
// both coordinates where KEVNM is defined, the file name otherwise; a result of an earlier
// version, which holds fewer of them, joins the pair of its file name that agrees on those it
// holds) and leaves out, with a line on `err`, a result
// whose window length or interval differs from most of its pair's, one that holds another pair
// than the results of that name, a second result of one pair in one run, and one of a pair that
// an earlier-given run of the same reference time holds (a run all of whose results are such,
// a copy of another, is left out whole).
Plan make_plan(const std::vector<Run>& runs, std::FILE* err);

// How many positions of the moving sub-stacks of `length` days every `step` days lie whole
// within the plan's days.
long position_count(const Plan& plan, int length, int step);

// Those positions that hold a run, in order.
std::vector<Position> sub_stack_positions(const Plan& plan, int length, int step);

// The stack of all runs, as a position.
Position all_days(const Plan& plan);

}  // namespace xcn::stack
