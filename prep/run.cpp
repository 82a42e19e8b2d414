// xcn_prep: from miniSEED (an SDS archive or a list of files) to SAC records for xcorrnet_v3.
#include "prep/run.hpp"

#include <omp.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>

#include "cli/workers.hpp"
#include "driver/list_file.hpp"
#include "prep/channel_day.hpp"
#include "prep/day_lists.hpp"
#include "prep/metadata.hpp"
#include "prep/mseed_read.hpp"
#include "prep/options.hpp"
#include "prep/sac_output.hpp"
#include "xcorrnet/sacio.h"

namespace xcn::prep {
namespace {

namespace fs = std::filesystem;

// Problem lines and the progress share standard error; each line is written whole.
class Console {
 public:
  explicit Console(std::FILE* err) : err_(err), bar_(isatty(fileno(err)) != 0) {}
  void problem(const std::string& line) {
    const std::lock_guard<std::mutex> hold(lock_);
    const std::string text = (bar_ ? "\r\033[K" : "") + ("xcn_prep: " + line + "\n");
    std::fputs(text.c_str(), err_);
    std::fflush(err_);
  }
  void progress(std::size_t done, std::size_t total, const std::string& what) {
    const std::lock_guard<std::mutex> hold(lock_);
    std::string text;
    if (bar_) {
      constexpr std::size_t kWidth = 30;
      const std::size_t filled = total == 0 ? kWidth : done * kWidth / total;
      text = "\rxcn_prep: [" + std::string(filled, '#') + std::string(kWidth - filled, ' ') + "] " +
             std::to_string(done) + "/" + std::to_string(total) + " channel-days";
      if (done == total) text += "\n";
    } else {
      text = "xcn_prep: " + std::to_string(done) + "/" + std::to_string(total) + " " + what + "\n";
    }
    std::fputs(text.c_str(), err_);
    std::fflush(err_);
  }

 private:
  std::FILE* err_;
  bool bar_;
  std::mutex lock_;
};

struct Task {
  ChannelId id;
  Micros day = 0;
  const ChannelEpoch* where = nullptr;
  std::vector<const RecordRef*> records;
};

struct Written {
  std::string folder;  // label of the span's folder
  std::string id;
};

bool selected(const Options& o, const ChannelId& id) {
  return matches_any(o.networks, id.network) && matches_any(o.stations, id.station) &&
         matches_any(o.locations, id.location) && matches_any(o.channels, id.channel);
}

// The day files of the archive for the days [first, last], with the day on each side, whose
// names match the selection.
std::vector<std::string> sds_files(const Options& o, Micros first, Micros last,
                                   std::vector<std::string>& problems) {
  std::vector<std::string> files;
  std::error_code ec;
  // A folder that is there and cannot be read would silently lose its channels.
  auto check = [&](const fs::path& folder) {
    if (ec && ec != std::errc::no_such_file_or_directory) {
      problems.push_back("cannot read the folder " + folder.string() + ": " + ec.message());
    }
    ec.clear();
  };
  for (Micros day = first - kDay; day <= last + kDay; day += kDay) {
    const YearDay yd = year_day(day);
    const fs::path year = fs::path(o.sds_root) / std::to_string(yd.year);
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%04d.%03d", yd.year, yd.day);
    for (const auto& net : fs::directory_iterator(year, ec)) {
      if (!matches_any(o.networks, net.path().filename().string())) continue;
      for (const auto& sta : fs::directory_iterator(net.path(), ec)) {
        if (!matches_any(o.stations, sta.path().filename().string())) continue;
        for (const auto& cha : fs::directory_iterator(sta.path(), ec)) {
          const std::string name = cha.path().filename().string();
          if (!name.ends_with(".D") || !matches_any(o.channels, name.substr(0, name.size() - 2))) {
            continue;
          }
          for (const auto& file : fs::directory_iterator(cha.path(), ec)) {
            if (file.path().filename().string().ends_with(suffix)) {
              files.push_back(file.path().string());
            }
          }
          check(cha.path());
        }
        check(sta.path());
      }
      check(net.path());
    }
    check(year);
  }
  std::sort(problems.begin(), problems.end());
  problems.erase(std::unique(problems.begin(), problems.end()), problems.end());
  std::sort(files.begin(), files.end());
  return files;
}

std::string plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// What a channel's record leaves undefined for want of metadata, as a line, or nothing.
std::string undefined_fields(const ChannelEpoch& e) {
  std::vector<std::pair<const char*, const char*>> missing;
  if (!e.elevation) missing.emplace_back("elevation", "STEL");
  if (!e.depth) missing.emplace_back("depth", "STDP");
  if (!e.azimuth) missing.emplace_back("azimuth", "CMPAZ");
  if (!e.dip) missing.emplace_back("dip", "CMPINC");
  if (missing.empty()) return {};
  std::string what;
  std::string fields;
  for (std::size_t k = 0; k < missing.size(); ++k) {
    const char* joint = k == 0 ? "" : (k + 1 == missing.size() ? " or " : ", ");
    what += joint;
    what += missing[k].first;
    fields += k == 0 ? "" : (k + 1 == missing.size() ? " and " : ", ");
    fields += missing[k].second;
  }
  return "the metadata give no " + what + "; " + fields + (missing.size() == 1 ? " is" : " are") +
         " left undefined";
}

}  // namespace

int run_prep(std::span<const std::string> args, std::FILE* out, std::FILE* err) {
  Options o;
  if (const auto status = read_options(args, o, out, err)) return *status;
  cli::cap_workers(err, "xcn_prep", o.threads);
  std::string error;
  Console console(err);
  quiet_mseed_log();
  sac_error_stderr();  // standard output is the summary's

  Inventory inventory;
  for (const std::string& path : o.metadata) {
    std::vector<std::string> problems;
    inventory.load(path, problems);
    for (const auto& line : problems) console.problem(line);
  }

  // The files and the stretch of time whose records are wanted.
  Micros from = 1;
  Micros to = 0;
  std::vector<std::string> files = o.files;
  if (o.first_day) {
    from = *o.first_day - kDayMargin;
    to = *o.last_day + kDay + kDayMargin;
  }
  if (!o.sds_root.empty()) {
    if (!fs::is_directory(o.sds_root)) {
      std::fprintf(err, "xcn_prep: the archive %s is not a folder\n", o.sds_root.c_str());
      return 1;
    }
    std::vector<std::string> problems;
    files = sds_files(o, *o.first_day, *o.last_day, problems);
    for (const auto& line : problems) console.problem(line);
  }

  std::vector<std::vector<RecordRef>> indexed(files.size());
  std::vector<std::vector<std::string>> index_problems(files.size());
#pragma omp parallel for schedule(dynamic)
  for (std::size_t f = 0; f < files.size(); ++f) {
    index_file(files[f], f, from, to, indexed[f], index_problems[f]);
  }
  std::map<ChannelId, std::vector<const RecordRef*>> channels;
  for (std::size_t f = 0; f < files.size(); ++f) {
    for (const auto& line : index_problems[f]) console.problem(line);
    for (const RecordRef& r : indexed[f]) {
      if (selected(o, r.id)) channels[r.id].push_back(&r);
    }
  }

  // One task per channel and day with data; channels without coordinates are reported.
  std::vector<Task> tasks;
  std::set<ChannelId> skipped_channels;
  for (const auto& [id, records] : channels) {
    if (!safe_code(id.network) || !safe_code(id.station) || !safe_code(id.location) ||
        !safe_code(id.channel)) {
      console.problem("channel \"" + id.text() +
                      "\" has a code that cannot be part of a file name; skipped");
      skipped_channels.insert(id);
      continue;
    }
    std::set<Micros> days;
    for (const RecordRef* r : records) {
      // Days whose grid the record reaches.
      for (Micros d = (r->start / kDay) * kDay; d <= r->end; d += kDay) days.insert(d);
    }
    std::vector<std::string> missing;
    for (const Micros day : days) {
      if (o.first_day && (day < *o.first_day || day > *o.last_day)) continue;
      const ChannelEpoch* where = inventory.find(id, day, kDay);
      if (where == nullptr) {
        missing.push_back(day_label(day));
        continue;
      }
      Task t{id, day, where, {}};
      const Micros lo = day - kDayMargin;
      const Micros hi = day + kDay + kDayMargin;
      for (const RecordRef* r : records) {
        if (r->end >= lo && r->start <= hi) t.records.push_back(r);
      }
      tasks.push_back(std::move(t));
    }
    if (!missing.empty()) {
      skipped_channels.insert(id);
      console.problem(id.text() + " has no coordinates in the metadata for " + missing.front() +
                      (missing.size() > 1
                           ? " and " + plural(missing.size() - 1, "more day", "more days")
                           : std::string()) +
                      "; skipped");
    }
  }
  if (tasks.empty()) {
    std::fprintf(err, "xcn_prep: no channel-day with data and coordinates to prepare\n");
    return 1;
  }

  std::error_code ec;
  fs::create_directories(o.out, ec);
  if (ec || !fs::is_directory(o.out)) {
    std::fprintf(err, "xcn_prep: cannot make the folder %s: %s\n", o.out.c_str(),
                 ec ? ec.message().c_str() : "a file of that name is in the way");
    return 1;
  }

  std::mutex tally_lock;
  std::vector<Written> written;
  std::size_t records_total = 0;
  std::size_t not_written = 0;
  std::size_t done = 0;
  long long gaps = 0;
  long long gap_samples = 0;
  long long conflicts = 0;
  long long bridged = 0;
  std::set<ChannelId> undefined_told;
  std::set<ChannelId> channels_done;
  std::set<Micros> days_done;
#pragma omp parallel for schedule(dynamic)
  for (std::size_t k = 0; k < tasks.size(); ++k) {
    Task& t = tasks[k];
    std::vector<std::string> problems;
    // In time order, those that start together in the order read: the first copy is kept.
    std::stable_sort(t.records.begin(), t.records.end(),
                     [](const RecordRef* a, const RecordRef* b) { return a->start < b->start; });
    std::size_t expected = 0;
    for (const RecordRef* r : t.records) expected += static_cast<std::size_t>(r->samples);
    Merger merger(expected);
    std::map<std::size_t, std::unique_ptr<MseedFile>> open;
    // Records that cannot be decoded, one line per file: where the first is, how many, why.
    struct Undecoded {
      std::int64_t first = 0;
      int count = 0;
      std::string reason;
    };
    std::map<std::size_t, Undecoded> undecoded;
    for (const RecordRef* r : t.records) {
      auto& file = open[r->file];
      if (!file) file = std::make_unique<MseedFile>(files[r->file]);
      Piece p;
      std::string reason;
      if (file->decode(*r, p, reason)) {
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
    DayOutcome outcome = process_segments(merger.finish(), merger.tally(), t.day, o);
    const std::string what = t.id.text() + " " + day_label(t.day);
    if (!outcome.error.empty()) problems.push_back(what + ": " + outcome.error);
    if (!outcome.skipped.empty()) problems.push_back(what + ": " + outcome.skipped + "; skipped");
    if (outcome.tally.conflicts > 0) {
      problems.push_back(what + ": " + plural(outcome.tally.conflicts, "overlap", "overlaps") +
                         " with other samples than those before; the earlier samples are kept");
    }
    std::vector<Written> mine;
    // A day the resampler could not make is a day not written.
    std::size_t failed = outcome.error.empty() ? 0 : 1;
    for (const SpanRecord& r : outcome.records) {
      std::string folder = day_label(r.span_start);
      if (o.span != kDay) {
        const auto s = static_cast<int>((r.span_start % kDay) / kSecond);
        char clock[16];
        std::snprintf(clock, sizeof clock, ".%02d%02d%02d", s / 3600, s / 60 % 60, s % 60);
        folder += clock;
      }
      const fs::path dir = fs::path(o.out) / folder;
      std::error_code made;
      fs::create_directories(dir, made);
      const std::string path = (dir / (t.id.text() + ".sac")).string();
      std::string why;
      if (made || !write_record(path, r, o.delta, *t.where, why)) {
        problems.push_back("record \"" + path +
                           "\" could not be written: " + (made ? made.message() : why));
        ++failed;
        continue;
      }
      mine.push_back({folder, t.id.text()});
    }
    const std::lock_guard<std::mutex> hold(tally_lock);
    if (!mine.empty() && undefined_told.insert(t.id).second) {
      if (const std::string line = undefined_fields(*t.where); !line.empty()) {
        problems.push_back(t.id.text() + ": " + line);
      }
    }
    for (const auto& line : problems) console.problem(line);
    records_total += outcome.records.size() + (outcome.error.empty() ? 0 : 1);
    not_written += failed;
    conflicts += outcome.tally.conflicts;
    bridged += outcome.bridged;
    if (!outcome.skipped.empty()) skipped_channels.insert(t.id);
    for (const SpanRecord& r : outcome.records) {
      gaps += r.gaps;
      gap_samples += r.gap_samples;
    }
    if (!outcome.records.empty()) {
      channels_done.insert(t.id);
      days_done.insert(t.day);
    }
    written.insert(written.end(), mine.begin(), mine.end());
    console.progress(++done, tasks.size(), what);
  }

  // The lists of each folder: every record in it in name order, and every pair of them.
  std::map<std::string, std::vector<std::string>> by_folder;
  for (const Written& w : written) by_folder[w.folder].push_back(w.id);
  for (const auto& [folder, ids] : by_folder) {
    std::vector<std::string> problems;
    not_written += static_cast<std::size_t>(update_lists(fs::path(o.out) / folder, ids, problems));
    for (const auto& line : problems) console.problem(line);
  }

  char zero_filled[32];
  std::snprintf(zero_filled, sizeof zero_filled, "%g", static_cast<double>(gap_samples) * o.delta);
  const std::string summary =
      "xcn_prep: " + plural(channels_done.size(), "channel", "channels") + ", " +
      plural(days_done.size(), "day", "days") + ": " + plural(written.size(), "record", "records") +
      " written in " + o.out + ", " + plural(static_cast<std::size_t>(gaps), "gap", "gaps") + " (" +
      zero_filled + " s zero-filled), " +
      plural(static_cast<std::size_t>(conflicts), "conflicting overlap", "conflicting overlaps") +
      ", " + plural(skipped_channels.size(), "channel", "channels") + " skipped, " +
      plural(static_cast<std::size_t>(bridged), "short break", "short breaks") + " bridged\n";
  std::fputs(summary.c_str(), out);
  if (not_written > 0) {
    std::fprintf(err, "xcn_prep: %zu of %zu records could not be written\n", not_written,
                 records_total);
    return 3;
  }
  if (written.empty()) {
    std::fprintf(err, "xcn_prep: no channel-day holds data on the grid; nothing written\n");
    return 1;
  }
  return 0;
}

}  // namespace xcn::prep
