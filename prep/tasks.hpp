// From the files read to the channel-days to prepare: the records indexed, grouped by channel
// and day, and the samples of a channel-day decoded and merged.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "prep/merge.hpp"
#include "prep/metadata.hpp"
#include "prep/mseed_read.hpp"
#include "prep/options.hpp"

namespace xcn::prep {

// "1 day", "2 days".
std::string plural(std::size_t n, const char* one, const char* many);

// The records of every file, by file, and what reading them found.
struct IndexedFiles {
  std::vector<std::vector<RecordRef>> records;
  std::vector<std::string> problems;  // in the order of the files
  std::size_t unread = 0;             // files of which nothing could be read
};

// Indexes the files in parallel, keeping the records that overlap [from, to] (every record
// when from > to).
IndexedFiles index_files(const std::vector<std::string>& files, Micros from, Micros to);

// One channel's day and the records it reads (its margins included), in time order, those that
// start together in the order read.
struct Task {
  ChannelId id;
  Micros day = 0;
  const ChannelEpoch* where = nullptr;
  std::vector<const RecordRef*> records;
};

struct TaskPlan {
  std::vector<Task> tasks;
  std::set<ChannelId> skipped_channels;
  std::vector<std::string> problems;
};

// A task per selected channel and day with data and coordinates. Only the days from --start to
// --end are ever looked at (every day of the data without them). A channel with a code that
// cannot be part of a file name, or without coordinates for a day, or (with --resp) without a
// response that can be removed for a day, is reported and skipped.
TaskPlan plan_tasks(const IndexedFiles& indexed, const Options& o, const Inventory& inventory);

// The samples of a task's records, decoded and merged into segments, with the merge's tally.
// Records that cannot be decoded are left out, one line per file in `problems`.
std::vector<Segment> read_task(const Task& t, const std::vector<std::string>& files,
                               MergeTally& tally, std::vector<std::string>& problems);

}  // namespace xcn::prep
