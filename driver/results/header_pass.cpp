// The header pass: each listed result read back and given its final header (both stations,
// the event name of the pair, the distance and azimuths between them) where it lacks it.
#include "driver/results/header_pass.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <string>
#include <vector>

#include "driver/geometry.hpp"
#include "driver/results/result_fields.hpp"
#include "driver/results/result_writer.hpp"
#include "driver/engines/station_windows.hpp"
#include "sacio/header_model.hpp"
#include "sacio/read.hpp"
#include "sacio/write.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {

namespace {

// A character field of a result's header without its trailing blanks; empty when undefined.
std::string header_text(const SacHeader& h, int slot) {
  const std::string s = trimmed(h.text(slot));
  return s == "-12345" ? std::string{} : s;
}

// As the header holds it: year, day of the year and time of day.
std::string date_text(const RefFields& d) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d.%03d %02d:%02d:%02d.%03d", d.year, d.jday, d.hour,
                d.minute, d.second, d.msec);
  return text;
}

// A record's code as the station table holds it, without blanks; empty when undefined.
std::string code_text(const std::array<char, 10>& code) {
  const std::string s = trimmed(std::string_view(code.data(), 8));
  return s == "-12345" ? std::string{} : s;
}

std::string position_text(float la, float lo) {
  char text[64];
  std::snprintf(text, sizeof text, "%g, %g", static_cast<double>(la), static_cast<double>(lo));
  return text;
}

// Why the result whose header is h is another pair's than (i, j) of this list, or
// empty when it is this pair's or names none. A result names its pair by an event name of two
// station names ("STA1-STA2") and the second station's component, and by the event's and the
// station's positions; an event name without a hyphen names no pair (a spoiled header).
std::string other_pair(const Run& run, int i, int j, const SacHeader& h) {
  const StationTable& t = *run.table;
  const Station& a = t.station(i);
  const Station& b = t.station(j);
  std::string kevnm = header_text(h, kKevnm);
  if (kevnm.find('-') == std::string::npos) kevnm.clear();
  const std::string kcmpnm = header_text(h, kKcmpnm);
  const std::string want_kevnm = trimmed(pair_event_name(a, b).substr(0, 16));
  const std::string want_kcmpnm = code_text(b.kcmpnm);
  if (!kevnm.empty() && kevnm != want_kevnm) {
    return "holds the pair " + kevnm + ", not " + want_kevnm + " of this list";
  }
  if (!kcmpnm.empty() && !want_kcmpnm.empty() && kcmpnm != want_kcmpnm) {
    // Such as two components of one station: the event name alone does not tell them apart.
    const std::string pair = kevnm.empty() ? want_kevnm : kevnm;
    return "holds the pair " + pair + " (component " + kcmpnm + "), not " + want_kevnm +
           " (component " + want_kcmpnm + ") of this list";
  }
  // The codes each record left in the result, where it left it: results of earlier versions
  // hold none of the first record's, and KSTNM may hold the first station (a header the pair
  // loop once wrote before the header pass), whose name the event name tells anyway.
  const struct {
    const char* what;
    TextField field;
    const std::array<char, 10>& code;
  } codes[] = {{"first record's network", kFirstRecord.network, a.knetwk},
               {"first record's station", kFirstRecord.station, a.kstnm},
               {"first record's location", kFirstRecord.location, a.khole},
               {"first record's component", kFirstRecord.component, a.kcmpnm},
               {"second record's network", kSecondRecord.network, b.knetwk},
               {"second record's location", kSecondRecord.location, b.khole}};
  for (const auto& c : codes) {
    const std::string theirs = header_text(h, c.field.slot);
    const std::string ours = code_text(c.code);
    if (theirs.empty() || ours.empty() || theirs == ours) continue;
    const std::string pair = kevnm.empty() ? want_kevnm : kevnm;
    const std::string field = std::string("the ") + c.what + " ";
    return "holds the pair " + pair + " (" + field + theirs + "), not " + want_kevnm + " (" +
           field + ours + ") of this list";
  }
  const float evla = h.real(kEvla), evlo = h.real(kEvlo), stla = h.real(kStla),
              stlo = h.real(kStlo);
  const bool named_by_place =
      evla != kUndefFloat && evlo != kUndefFloat && stla != kUndefFloat && stlo != kUndefFloat;
  const bool placed = a.has_position && b.has_position;
  if (named_by_place && placed &&
      !(evla == a.stla && evlo == a.stlo && stla == b.stla && stlo == b.stlo)) {
    return "holds the pair " + (kevnm.empty() ? std::string() : kevnm + " ") + "of event " +
           position_text(evla, evlo) + " and station " + position_text(stla, stlo) + ", not " +
           want_kevnm + " of this list at " + position_text(a.stla, a.stlo) + " and " +
           position_text(b.stla, b.stlo);
  }
  // The same pair of another day: a whole reference time (NZYEAR .. NZMSEC, the header's first
  // six integers) that is not this run's. One with a field lost is completed.
  const RefFields theirs = h.reference();
  if (const std::optional<long long> when = to_ms(theirs)) {
    const std::optional<RefFields> ours = result_date(run, i, j);
    if (!ours || to_ms(*ours) != when) {
      return "holds the pair " + want_kevnm + " of " + date_text(theirs) + ", not of " +
             (ours ? "this run's " + date_text(*ours) : std::string("this run's undated records"));
    }
  }
  return {};
}

// Marks what became of pair ij in the run's tally, when it keeps one.
void taken(const Run& run, int ij) {
  if (run.tally != nullptr) run.tally->taken(ij);
}
void failed(const Run& run, int ij) {
  if (run.tally != nullptr) run.tally->failed(ij);
}

// Whether the file's header is the final one as it stands: the header a write would give it,
// byte for byte, over the samples it holds (whose extremes its header states), and nothing
// after them. Under the library's lock; prints what a write would print of the samples.
bool header_is_final(const SacHeader& h, const Run& run, int i, int j, const Geometry& g) {
  const int np = h.integer(kNpts);
  const std::lock_guard<std::mutex> hold(library_lock());
  set_final_header(run, i, j, g, np, h.real(kDelta), h.real(kB));
  const float depmin = h.real(kDepmin), depmax = h.real(kDepmax), depmen = h.real(kDepmen);
  const std::vector<unsigned char> image = header_image(depmin, depmax, depmen);
  if (image.empty() || !std::equal(image.begin(), image.end(), h.bytes.begin(), h.bytes.end()) ||
      h.file_size != kHeaderBytes + 4LL * np) {
    return false;
  }
  warn_outside_bounds(depmin, depmax);
  return true;
}

// Reads result ij back and gives it its final header where it lacks it; every refusal gets its
// line on err and counts in the tally. Files are read and written outside the library's lock,
// so that workers complete their results side by side.
void complete_result(const Run& run, int ij, std::FILE* err) {
  const StationTable& t = *run.table;
  const std::string path = run.path(ij);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return;
  const int i = run.pairs->ni(ij);
  const int j = run.pairs->nj(ij);
  // Files of pairs with an unreadable station are left as they are.
  if (!t.station(i).usable || !t.station(j).usable) return;
  taken(run, ij);
  if (!S_ISREG(st.st_mode)) {
    // Put there while the pairs ran: reading a pipe would wait for its writer.
    std::fprintf(err, "xcorrnet_v3: result \"%s\" is %s; left as it is\n", path.c_str(),
                 S_ISDIR(st.st_mode) ? "a directory" : "not a regular file");
    failed(run, ij);
    return;
  }

  const char* name = run.name(ij).data();
  const int name_width = static_cast<int>(kNameWidth);
  // Looking at our own result is no use of it: its access time stays as the user's reads left it.
  SacReader file(path, SacReader::Access::kUnrecorded);
  // Rewriting would store other samples, or fewer, under this name: leave the file alone.
  const auto unreadable = [&] {
    {
      const std::lock_guard<std::mutex> hold(library_lock());
      file.report(name, name_width);
    }
    std::fprintf(err, "xcorrnet_v3: result \"%s\" cannot be read back: %s; left as it is\n",
                 path.c_str(), file.failure().c_str());
    failed(run, ij);
  };
  if (file.check_samples() != 0) {
    unreadable();
    return;
  }
  const SacHeader& h = file.header();
  const int np = h.integer(kNpts);
  const float b = h.real(kB);
  const float dt = h.real(kDelta);
  if (const std::string why = kept_as_is(np, b, dt, h.logical(kLovrok)); !why.empty()) {
    // Such as a station record under a result's name (two lists swapped), or a result its
    // owner locked: its header is not ours to replace.
    std::fprintf(err, "xcorrnet_v3: result \"%s\" %s; left as it is\n", path.c_str(), why.c_str());
    failed(run, ij);
    return;
  }
  if (const std::string why = other_pair(run, i, j, h); !why.empty()) {
    // Completing it would give its samples another pair's name and geometry, such as after
    // a station was taken out of the list or put into it.
    std::fprintf(err, "xcorrnet_v3: result \"%s\" %s; left as it is\n", path.c_str(), why.c_str());
    failed(run, ij);
    return;
  }
  const Geometry g = pair_geometry(t.station(i), t.station(j));
  // A result whose final header is in place already, such as one this run or an earlier one
  // wrote, is neither read further nor written.
  if (header_is_final(h, run, i, j, g)) return;

  std::vector<float> samples;
  if (file.read_samples(samples) != 0) {
    unreadable();
    return;
  }
  float xdummy = 0.0f;
  int nerr = 0;
  int error = 0;
  std::string why;
  SacImage image;
  {
    const std::lock_guard<std::mutex> hold(library_lock());
    set_final_header(run, i, j, g, np, dt, b);
    image = sac_image(name, &xdummy, samples.data(), &nerr, name_width);
    error = errno;
  }
  if (nerr == 0) {
    // As wsac0_if_changed: a file that holds these very bytes by now is not written again.
    const ImageWrite w = write_image(image, true);
    if (w.nerr != 0) {
      const std::lock_guard<std::mutex> hold(library_lock());
      report_image_failure(image, w);
    }
    nerr = w.nerr;
    why = image_failure(w);
  } else {
    why = write_failure(nerr, error);
  }
  if (nerr != 0) {
    // The writer replaces a file only once the new one is whole.
    std::fprintf(err,
                 "xcorrnet_v3: result \"%s\" could not be completed: %s; it keeps the header "
                 "it had\n",
                 path.c_str(), why.c_str());
    failed(run, ij);
  }
}

}  // namespace

void header_pass(const Run& run, std::FILE* err) {
  std::vector<int> visit;
  for (int ij = 1; ij <= run.pairs->size(); ++ij) {
    // Names refused before the pair loop were reported there; other ranks complete their own.
    if (!run.may_write(ij) || !run.mine(ij)) continue;
    // Written by this run's pair loop with its final header, or refused and reported there:
    // nothing to read back.
    if (run.tally != nullptr && run.tally->settled(ij)) continue;
    visit.push_back(ij);
  }
  parallel_for(static_cast<int>(visit.size()),
               [&](int k) { complete_result(run, visit[static_cast<std::size_t>(k)], err); });
}

}  // namespace xcn
