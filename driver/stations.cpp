// Loading the station table from the station list.
#include "driver/stations.hpp"

#include <algorithm>
#include <cstdlib>

#include "driver/console.hpp"
#include "driver/params.hpp"
#include "msg/message.hpp"
#include "sacio.h"

namespace xcn {

std::string read_failure(int nerr) {
  switch (nerr) {
    case 101:
      return "the file cannot be opened";
    case 108:
      return "the file does not exist";
    case 114:
      return "the file is shorter than its header says";
    case 801:
      return "the record is not evenly sampled (LEVEN is false)";
    case 1317:
      return "it is not a SAC file";
    default:
      return "read error " + std::to_string(nerr);
  }
}

StationTable::StationTable(int n) : stations_(static_cast<std::size_t>(n)) {
  // Zero-filled, so that samples beyond a shorter record are zero; pages are only touched as
  // records are read into them.
  const std::size_t count = static_cast<std::size_t>(n) * kCapacity;
  if (n > 0) {
    rows_.reset(static_cast<float*>(std::calloc(count, sizeof(float))));
    if (!rows_) throw Fatal{1, "Allocation would exceed memory limit"};
  }
}

namespace {

std::string entry_path(const Station& s) {
  return trimmed(std::string_view(s.entry.data(), kEntryWidth));
}

}  // namespace

LastRead load_stations(const std::vector<ListLine>& lines, StationTable& table, std::FILE* err) {
  LastRead last;
  ConsoleLine().text("          Input:").print();
  for (int i = 1; i <= table.size(); ++i) {
    Station& s = table.station(i);
    s.kstnm.fill(' ');
    s.kcmpnm.fill(' ');
    bool cut = false;
    const ListLine& line = lines[static_cast<std::size_t>(i - 1)];
    s.entry = entry_from_line(line.text, &cut);
    if (cut) {
      std::fprintf(err,
                   "xcorrnet_v3: warning: line %d of the station list has %zu characters; "
                   "using \"%s\"\n",
                   i, line.length, entry_path(s).c_str());
    }
    int npts = 0, nerr = 0, capacity = kCapacity;
    float b = 0.0f, dt = 0.0f;
    rsac1(s.entry.data(), table.row(i), &npts, &b, &dt, &capacity, &nerr,
          static_cast<int>(kEntryWidth));
    if (nerr > 0) {
      std::fprintf(err,
                   "xcorrnet_v3: station %d \"%s\" cannot be read: %s; its pairs are skipped\n", i,
                   entry_path(s).c_str(), read_failure(nerr).c_str());
      clrmsg();
      // Nothing of a failed read may reach a result: the row goes back to zeros.
      std::fill_n(table.row(i), kCapacity, 0.0f);
      s.usable = false;
    } else {
      s.usable = true;
      s.npts = npts;
      s.delta = dt;
      last = LastRead{npts, dt, b};
      getkhv("KSTNM", s.kstnm.data(), &nerr, 5, 10);
      getkhv("KCMPNM", s.kcmpnm.data(), &nerr, 6, 10);
      getfhv("STLA", &s.stla, &nerr, 4);
      getfhv("STLO", &s.stlo, &nerr, 4);
    }
    ConsoleLine()
        .integer(i)
        .text(std::string_view(s.entry.data(), kEntryWidth))
        .real(s.stla)
        .real(s.stlo)
        .print();
  }
  return last;
}

void check_sampling(StationTable& table, float dt, std::FILE* err) {
  for (int i = 1; i <= table.size(); ++i) {
    Station& s = table.station(i);
    if (s.usable && s.delta != dt) {
      std::fprintf(err,
                   "xcorrnet_v3: station %d \"%s\" has sampling interval %g s, not the run's "
                   "%g s; its pairs are skipped\n",
                   i, entry_path(s).c_str(), static_cast<double>(s.delta), static_cast<double>(dt));
      s.usable = false;
    }
  }
}

}  // namespace xcn
