// Reading the name list and the station list, and loading the station table.
#include "driver/lists.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "driver/console.hpp"
#include "driver/params.hpp"
#include "msg/message.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {

std::string read_failure(int nerr) {
  switch (nerr) {
    case 101: return "the file cannot be opened";
    case 108: return "the file does not exist";
    case 114: return "the file is shorter than its header says";
    case 801: return "the record is not evenly sampled (LEVEN is false)";
    case 1317: return "it is not a SAC file";
    default: return "read error " + std::to_string(nerr);
  }
}

std::vector<std::string> read_list_file(const std::string& path, const char* what) {
  auto fail = [&](const char* reason) {
    return Fatal{2, std::string("xcorrnet_v3: error: cannot open the ") + what + " \"" + path +
                        "\": " + reason};
  };
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) throw fail(std::strerror(errno));
    // A list that does not exist is created empty and holds no line.
    std::ofstream create(path);
    if (!create) throw fail(std::strerror(errno));
    return {};
  }
  if (S_ISDIR(st.st_mode)) throw fail("it is a directory");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw fail(std::strerror(errno));
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return lines;
}

Name name_from_line(std::string_view line, bool* cut) {
  // Of a longer line the last 50 of its first 100 characters name the file.
  const std::string_view head = line.substr(0, 2 * kNameWidth);
  const std::string_view used = head.size() > kNameWidth ? head.substr(head.size() - kNameWidth)
                                                         : head;
  *cut = line.size() > kNameWidth;
  Name name;
  fill_field(name, used);
  return name;
}

std::array<char, kEntryWidth> entry_from_line(std::string_view line, bool* cut) {
  *cut = line.size() > kEntryWidth;
  std::array<char, kEntryWidth> entry;
  fill_field(entry, line);
  return entry;
}

std::vector<Name> read_name_list(const std::string& path, std::FILE* err) {
  const std::vector<std::string> lines = read_list_file(path, "name list");
  std::vector<Name> names;
  names.reserve(lines.size());
  for (std::size_t k = 0; k < lines.size(); ++k) {
    bool cut = false;
    names.push_back(name_from_line(lines[k], &cut));
    const std::string used = trimmed(std::string_view(names.back().data(), kNameWidth));
    if (used.empty()) {
      // The pair keeps its place in the order, but a file cannot be named by nothing.
      std::fprintf(err,
                   "xcorrnet_v3: warning: line %zu of the name list is blank; pair %zu is "
                   "skipped\n",
                   k + 1, k + 1);
    } else if (cut) {
      std::fprintf(err,
                   "xcorrnet_v3: warning: line %zu of the name list has %zu characters; "
                   "using the name \"%s\"\n",
                   k + 1, lines[k].size(), used.c_str());
    }
  }
  return names;
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

LastRead load_stations(const std::vector<std::string>& lines, StationTable& table,
                       std::FILE* err) {
  LastRead last;
  ConsoleLine().text("          Input:").print();
  for (int i = 1; i <= table.size(); ++i) {
    Station& s = table.station(i);
    s.kstnm.fill(' ');
    s.kcmpnm.fill(' ');
    bool cut = false;
    s.entry = entry_from_line(lines[static_cast<std::size_t>(i - 1)], &cut);
    if (cut) {
      std::fprintf(err,
                   "xcorrnet_v3: warning: line %d of the station list has %zu characters; "
                   "using \"%s\"\n",
                   i, lines[static_cast<std::size_t>(i - 1)].size(), entry_path(s).c_str());
    }
    int npts = 0, nerr = 0, capacity = kCapacity;
    float b = 0.0f, dt = 0.0f;
    rsac1(s.entry.data(), table.row(i), &npts, &b, &dt, &capacity, &nerr,
          static_cast<int>(kEntryWidth));
    if (nerr > 0) {
      std::fprintf(err, "xcorrnet_v3: station %d \"%s\" cannot be read: %s; its pairs are skipped\n",
                   i, entry_path(s).c_str(), read_failure(nerr).c_str());
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
                   i, entry_path(s).c_str(), static_cast<double>(s.delta),
                   static_cast<double>(dt));
      s.usable = false;
    }
  }
}

}  // namespace xcn
