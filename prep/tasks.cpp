// From the files read to the channel-days to prepare: the records indexed, grouped by channel
// and day, and the samples of a channel-day decoded and merged.
#include "prep/tasks.hpp"

#include <algorithm>
#include <map>
#include <set>

#include "prep/channel_day.hpp"
#include "prep/sac_output.hpp"

namespace xcn::prep {
namespace {

bool selected(const Options& o, const ChannelId& id) {
  return matches_any(o.networks, id.network) && matches_any(o.stations, id.station) &&
         matches_any(o.locations, id.location) && matches_any(o.channels, id.channel);
}

}  // namespace

std::string plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

IndexedFiles index_files(const std::vector<std::string>& files, Micros from, Micros to) {
  IndexedFiles indexed;
  indexed.records.resize(files.size());
  std::vector<std::vector<std::string>> problems(files.size());
  std::vector<char> read(files.size(), 0);
#pragma omp parallel for schedule(dynamic)
  for (std::size_t f = 0; f < files.size(); ++f) {
    read[f] = index_file(files[f], f, from, to, indexed.records[f], problems[f]) ? 1 : 0;
  }
  for (std::size_t f = 0; f < files.size(); ++f) {
    indexed.problems.insert(indexed.problems.end(), problems[f].begin(), problems[f].end());
    if (read[f] == 0) ++indexed.unread;
  }
  return indexed;
}

TaskPlan plan_tasks(const IndexedFiles& indexed, const Options& o, const Inventory& inventory) {
  TaskPlan plan;
  std::map<ChannelId, std::vector<const RecordRef*>> channels;
  for (const auto& file : indexed.records) {
    for (const RecordRef& r : file) {
      if (selected(o, r.id)) channels[r.id].push_back(&r);
    }
  }
  for (auto& [id, records] : channels) {
    if (!safe_code(id.network) || !safe_code(id.station) || !safe_code(id.location) ||
        !safe_code(id.channel)) {
      plan.problems.push_back("channel \"" + id.text() +
                              "\" has a code that cannot be part of a file name; skipped");
      plan.skipped_channels.insert(id);
      continue;
    }
    // In time order, those that start together in the order read: the first copy is kept.
    std::stable_sort(records.begin(), records.end(),
                     [](const RecordRef* a, const RecordRef* b) { return a->start < b->start; });
    std::set<Micros> days;
    for (const RecordRef* r : records) {
      // Days whose grid the record reaches, within --start and --end.
      Micros first = day_of(r->start);
      Micros last = day_of(r->end);
      if (o.first_day) {
        first = std::max(first, *o.first_day);
        last = std::min(last, *o.last_day);
      }
      for (Micros d = first; d <= last; d += kDay) days.insert(d);
    }
    std::vector<std::string> missing;
    std::vector<std::string> no_response;  // days whose response cannot be removed
    std::string why_not;                   // the first day's reason
    bool told_units = false;
    for (const Micros day : days) {
      const ChannelEpoch* where = inventory.find(id, day, kDay);
      if (where == nullptr) {
        missing.push_back(day_label(day));
        continue;
      }
      if (const auto why = unusable(where->response, o.resp)) {
        if (no_response.empty()) why_not = *why;
        no_response.push_back(day_label(day));
        continue;
      }
      if (o.resp == Removal::kSensitivity && !told_units &&
          ground_unit(sensor_units(where->response)).kind == Ground::kNone) {
        told_units = true;
        plan.problems.push_back(id.text() + ": its sensor's units " +
                                quoted(sensor_units(where->response)) +
                                " are no ground motion; its records are divided by the "
                                "sensitivity and their IDEP is IUNKN");
      }
      Task t{id, day, where, {}};
      const Micros lo = day - kDayMargin;
      const Micros hi = day + kDay + kDayMargin;
      // No record spans more than kMaxRecordSpan: none that starts before that reaches the day.
      auto r = std::lower_bound(records.begin(), records.end(), lo - kMaxRecordSpan,
                                [](const RecordRef* a, Micros t) { return a->start < t; });
      for (; r != records.end() && (*r)->start <= hi; ++r) {
        if ((*r)->end >= lo) t.records.push_back(*r);
      }
      plan.tasks.push_back(std::move(t));
    }
    if (!no_response.empty()) {
      plan.skipped_channels.insert(id);
      plan.problems.push_back(
          id.text() + ": the response cannot be removed for " + no_response.front() +
          (no_response.size() > 1
               ? " and " + plural(no_response.size() - 1, "more day", "more days")
               : std::string()) +
          ": " + why_not + "; skipped");
    }
    if (!missing.empty()) {
      plan.skipped_channels.insert(id);
      plan.problems.push_back(
          id.text() + " has no coordinates in the metadata for " + missing.front() +
          (missing.size() > 1 ? " and " + plural(missing.size() - 1, "more day", "more days")
                              : std::string()) +
          "; skipped");
    }
  }
  return plan;
}

std::vector<Segment> read_task(const Task& t, const std::vector<std::string>& files,
                               MergeTally& tally, std::vector<std::string>& problems) {
  // Room for what the records can hold; their headers alone could claim anything.
  std::size_t expected = 0;
  for (const RecordRef* r : t.records) expected += static_cast<std::size_t>(r->samples);
  Merger merger(expected);
  RecordSource source(files);
  // Records that cannot be decoded, one line per file: where the first is, how many, why.
  struct Undecoded {
    std::int64_t first = 0;
    int count = 0;
    std::string reason;
  };
  std::map<std::size_t, Undecoded> undecoded;
  for (const RecordRef* r : t.records) {
    Piece p;
    std::string reason;
    if (source.decode(*r, p, reason)) {
      merger.add(std::move(p));
    } else if (Undecoded& u = undecoded[r->file]; u.count++ == 0) {
      u.first = r->offset;
      u.reason = reason;
    }
  }
  for (const auto& [f, u] : undecoded) {
    problems.push_back(files[f] + " at byte " + std::to_string(u.first) + ": " +
                       (u.count == 1 ? std::string("the record's samples cannot be decoded")
                                     : "the samples of " + std::to_string(u.count) +
                                           " records from there cannot be decoded") +
                       " (" + u.reason + "); they are left out of " + t.id.text() + " " +
                       day_label(t.day));
  }
  tally = merger.tally();
  return merger.finish();
}

}  // namespace xcn::prep
