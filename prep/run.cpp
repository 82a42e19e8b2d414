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
#include "driver/input/list_file.hpp"
#include "prep/channel_day.hpp"
#include "prep/day_lists.hpp"
#include "prep/metadata.hpp"
#include "prep/options.hpp"
#include "prep/sac_output.hpp"
#include "prep/sds_walk.hpp"
#include "prep/tasks.hpp"
#include "sacio/file.hpp"
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

struct Written {
  std::string folder;  // label of the span's folder
  std::string id;
};

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
    files = sds_files(o, problems);
    for (const auto& line : problems) console.problem(line);
  }

  const IndexedFiles indexed = index_files(files, from, to);
  for (const auto& line : indexed.problems) console.problem(line);
  // Inputs that could not be read are counted on the last line, and end the run with status 3.
  auto unread_inputs = [&] {
    if (indexed.unread == 0) return false;
    std::fprintf(err, "xcn_prep: %zu of %zu input files could not be read\n", indexed.unread,
                 files.size());
    return true;
  };
  TaskPlan plan = plan_tasks(indexed, o, inventory);
  for (const auto& line : plan.problems) console.problem(line);
  std::vector<Task>& tasks = plan.tasks;
  std::set<ChannelId> skipped_channels = std::move(plan.skipped_channels);
  if (tasks.empty()) {
    std::fprintf(err, "xcn_prep: no channel-day with data and coordinates to prepare\n");
    return unread_inputs() ? 3 : 1;
  }

  if (const std::string why = make_folder(o.out); !why.empty()) {
    std::fprintf(err, "xcn_prep: cannot make the folder %s: %s\n", o.out.c_str(), why.c_str());
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
    MergeTally merged;
    std::vector<Segment> segments = read_task(t, files, merged, problems);
    DayOutcome outcome =
        process_segments(std::move(segments), merged, t.day, o, &t.where->response);
    const std::string what = t.id.text() + " " + day_label(t.day);
    if (!outcome.error.empty()) problems.push_back(what + ": " + outcome.error);
    if (!outcome.skipped.empty()) problems.push_back(what + ": " + outcome.skipped + "; skipped");
    if (outcome.tally.conflicts > 0) {
      problems.push_back(what + ": " + plural(outcome.tally.conflicts, "overlap", "overlaps") +
                         " with other samples than those before; the earlier samples are kept");
    }
    std::vector<Written> mine;
    // The unit of a record the response was removed from.
    std::optional<int> idep;
    if (o.resp == Removal::kSensitivity) {
      idep = idep_code(ground_unit(sensor_units(t.where->response)).kind);
    } else if (o.resp != Removal::kNone) {
      idep = idep_code(ground_of(o.resp));
    }
    // A day the resampler could not make is a day not written.
    std::size_t failed = outcome.error.empty() ? 0 : 1;
    for (const SpanRecord& r : outcome.records) {
      std::string folder = day_label(r.span_start);
      if (o.span != kDay) {
        const auto s = static_cast<int>((r.span_start - day_of(r.span_start)) / kSecond);
        char clock[16];
        std::snprintf(clock, sizeof clock, ".%02d%02d%02d", s / 3600, s / 60 % 60, s % 60);
        folder += clock;
      }
      const fs::path dir = fs::path(o.out) / folder;
      // Made, or entered, without following another user's link planted in its place.
      const std::string made = make_folder(dir.string());
      const std::string path = (dir / (t.id.text() + ".sac")).string();
      std::string why;
      if (!made.empty() || !write_record(path, r, o.delta, *t.where, why, idep)) {
        problems.push_back("record \"" + path +
                           "\" could not be written: " + (made.empty() ? why : made));
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
  const bool unread = unread_inputs();
  if (not_written > 0) {
    std::fprintf(err, "xcn_prep: %zu of %zu records could not be written\n", not_written,
                 records_total);
    return 3;
  }
  if (written.empty()) {
    std::fprintf(err, "xcn_prep: no channel-day holds data on the grid; nothing written\n");
    return unread ? 3 : 1;
  }
  return unread ? 3 : 0;
}

}  // namespace xcn::prep
