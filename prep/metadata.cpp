// Station coordinates and channel orientation from StationXML or the FDSN station text format.
#include "prep/metadata.hpp"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "driver/input/list_file.hpp"
#include "prep/sac_output.hpp"
#include "sacio/ref_time.hpp"

namespace xcn::prep {
namespace {

constexpr std::size_t kMaxField = 256;  // characters of one value: a code, a number, a time
constexpr int kShownPerFile = 10;       // lines about single epochs, then only their number

std::string_view name_of(const xmlNode* node) {
  return node->name != nullptr ? reinterpret_cast<const char*>(node->name) : "";
}

std::string trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return std::string(s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1));
}

// The text of a list of nodes (an element's content, an attribute's value) as the file holds
// it: an entity reference is expanded by nothing here, so that a few bytes cannot stand for
// gigabytes; a value with one, or longer than any real value, is no value.
std::optional<std::string> plain_text(const xmlNode* first) {
  std::string s;
  for (const xmlNode* c = first; c != nullptr; c = c->next) {
    if (c->type == XML_ENTITY_REF_NODE) return std::nullopt;
    if (c->type != XML_TEXT_NODE && c->type != XML_CDATA_SECTION_NODE) continue;
    if (c->content == nullptr) continue;
    s += reinterpret_cast<const char*>(c->content);
    if (s.size() > kMaxField) return std::nullopt;
  }
  return trim(s);
}

// An attribute's value: empty when absent, nothing when unreadable.
std::optional<std::string> attribute(const xmlNode* node, const char* name) {
  const xmlAttr* a = xmlHasProp(node, reinterpret_cast<const xmlChar*>(name));
  if (a == nullptr) return std::string();
  return plain_text(a->children);
}

bool parse_double(std::string_view text, double& value) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

// Children of `node` with the element name `name`.
std::vector<const xmlNode*> children(const xmlNode* node, std::string_view name) {
  std::vector<const xmlNode*> found;
  for (const xmlNode* c = node->children; c != nullptr; c = c->next) {
    if (c->type == XML_ELEMENT_NODE && name_of(c) == name) found.push_back(c);
  }
  return found;
}

struct DocDeleter {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

// A time attribute, or nothing for an absent one; false for one that does not parse.
bool epoch_time(const xmlNode* node, const char* name, std::optional<Micros>& t) {
  const std::optional<std::string> text = attribute(node, name);
  if (!text) return false;
  if (text->empty()) return true;
  t = parse_time(*text);
  return t.has_value();
}

std::string number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

std::string moment(Micros t) {
  if (t == std::numeric_limits<Micros>::min()) return "the beginning";
  if (t == std::numeric_limits<Micros>::max()) return "on";
  return format_time(t / 1000);
}

Micros end_of(const ChannelEpoch& e) { return e.end.value_or(std::numeric_limits<Micros>::max()); }

// Lines about single epochs of one file: the first few in full, then how many more.
class FileProblems {
 public:
  FileProblems(const std::string& path, std::vector<std::string>& out) : path_(path), out_(out) {}
  ~FileProblems() {
    if (more_ > 0) {
      out_.push_back(path_ + ": " + std::to_string(more_) + " more channel epoch" +
                     (more_ == 1 ? " is" : "s are") + " left out or in conflict, as above");
    }
  }
  FileProblems(const FileProblems&) = delete;
  FileProblems& operator=(const FileProblems&) = delete;
  void add(std::string line) {
    if (shown_ < kShownPerFile) {
      out_.push_back(std::move(line));
      ++shown_;
    } else {
      ++more_;
    }
  }

 private:
  const std::string& path_;
  std::vector<std::string>& out_;
  int shown_ = 0;
  int more_ = 0;
};

// A channel's name as a line can show it: a character no code holds is a question mark.
std::string shown(const ChannelId& id) {
  std::string text = id.text();
  for (char& c : text) {
    if (c != '.' && !safe_code(std::string(1, c))) c = '?';
  }
  return text;
}

// Adds the epoch unless it cannot be true; where: "meta.txt line 7".
void add_checked(Inventory& inventory, const ChannelEpoch& e, const std::string& where,
                 FileProblems& problems) {
  if (const auto why = impossible(e)) {
    problems.add(where + ": " + shown(e.id) + ": " + *why + "; left out");
    return;
  }
  std::string conflict;
  inventory.add(e, &conflict);
  if (!conflict.empty()) problems.add(where + ": " + conflict);
}

}  // namespace

bool ChannelEpoch::same_values(const ChannelEpoch& o) const {
  return latitude == o.latitude && longitude == o.longitude && elevation == o.elevation &&
         depth == o.depth && azimuth == o.azimuth && dip == o.dip;
}

std::optional<std::string> impossible(const ChannelEpoch& e) {
  for (const auto& [code, what] :
       {std::pair{&e.id.network, "network"}, std::pair{&e.id.station, "station"},
        std::pair{&e.id.location, "location"}, std::pair{&e.id.channel, "channel"}}) {
    if (code->empty() && code != &e.id.location) {
      return std::string("its ") + what + " code is empty";
    }
    // No miniSEED channel of the archive can have it, and it would spoil a line that shows it.
    if (!safe_code(*code)) {
      return std::string("its ") + what + " code holds other characters than letters, digits, " +
             "- and _";
    }
  }
  // The bounds of the Earth, and of where a sensor can be on it.
  struct Range {
    const char* what;
    std::optional<double> value;
    double low, high;
    const char* unit;
  };
  const Range ranges[] = {
      {"latitude", e.latitude, -90, 90, ""},          {"longitude", e.longitude, -180, 180, ""},
      {"elevation", e.elevation, -12000, 9000, " m"}, {"depth", e.depth, -9000, 12000, " m"},
      {"azimuth", e.azimuth, -360, 360, ""},          {"dip", e.dip, -90, 90, ""},
  };
  for (const Range& r : ranges) {
    if (r.value && !(*r.value >= r.low && *r.value <= r.high)) {
      return std::string(r.what) + " " + number(*r.value) + r.unit + " is not within " +
             number(r.low) + " to " + number(r.high) + r.unit;
    }
  }
  if (e.end && *e.end < e.start) {
    return "its end " + moment(*e.end) + " precedes its start " + moment(e.start);
  }
  return std::nullopt;
}

void Inventory::add(const ChannelEpoch& epoch, std::string* conflict) {
  Channel& c = channels_[epoch.id];
  if (std::find(c.epochs.begin(), c.epochs.end(), epoch) != c.epochs.end()) return;
  for (const ChannelEpoch& other : c.epochs) {
    const Micros from = std::max(other.start, epoch.start);
    const Micros to = std::min(end_of(other), end_of(epoch));
    if (from >= to || other.same_values(epoch)) continue;
    c.conflicts.emplace_back(from, to);
    if (conflict != nullptr && conflict->empty()) {
      *conflict = "two epochs of " + epoch.id.text() + " give other coordinates or orientation " +
                  (to == std::numeric_limits<Micros>::max()
                       ? "from " + moment(from) + " on"
                       : "from " + moment(from) + " to " + moment(to)) +
                  "; neither is used for that time";
    }
  }
  c.epochs.push_back(epoch);
  ++count_;
}

bool Inventory::load(const std::string& path, std::vector<std::string>& problems) {
  std::string text;
  std::string error;
  if (!read_list_bytes(path, "metadata file", ListFileRules{}, kMaxMetadataBytes, text, error)) {
    problems.push_back(error);
    return false;
  }
  const auto first = text.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
  if (first != std::string::npos && text[first] == '<') return load_xml(path, text, problems);
  return load_text(path, text, problems);
}

bool Inventory::load_xml(const std::string& path, const std::string& text,
                         std::vector<std::string>& problems) {
  // No network access and no entity expansion: the file is data, not a program.
  const std::unique_ptr<xmlDoc, DocDeleter> doc(xmlReadMemory(
      text.data(), static_cast<int>(text.size()), path.c_str(), nullptr,
      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_BIG_LINES));
  if (doc == nullptr) {
    const xmlError* e = xmlGetLastError();
    problems.push_back(path + " is not well-formed XML" +
                       (e != nullptr ? " (line " + std::to_string(e->line) + ")" : std::string()));
    return false;
  }
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  if (root == nullptr || name_of(root) != "FDSNStationXML") {
    problems.push_back(path + " is not StationXML: its root element is <" +
                       std::string(root != nullptr ? name_of(root) : "") +
                       ">, not <FDSNStationXML>");
    return false;
  }
  int skipped = 0;
  {
    FileProblems epochs(path, problems);
    for (const xmlNode* net : children(root, "Network")) {
      for (const xmlNode* sta : children(net, "Station")) {
        for (const xmlNode* cha : children(sta, "Channel")) {
          ChannelEpoch e;
          const auto network = attribute(net, "code");
          const auto station = attribute(sta, "code");
          const auto location = attribute(cha, "locationCode");
          const auto channel = attribute(cha, "code");
          bool ok = network && station && location && channel;
          if (ok) e.id = {*network, *station, *location, *channel};
          std::optional<Micros> start;
          ok = ok && epoch_time(cha, "startDate", start) && epoch_time(cha, "endDate", e.end);
          e.start = start.value_or(std::numeric_limits<Micros>::min());
          auto value = [&](const char* field) -> std::optional<double> {
            const auto nodes = children(cha, field);
            if (nodes.empty()) return std::nullopt;
            const auto text = plain_text(nodes.front()->children);
            double v = 0;
            if (!text || !parse_double(*text, v)) ok = false;
            return v;
          };
          const auto latitude = value("Latitude");
          const auto longitude = value("Longitude");
          e.elevation = value("Elevation");
          e.depth = value("Depth");
          e.azimuth = value("Azimuth");
          e.dip = value("Dip");
          if (!ok || !latitude || !longitude) {
            ++skipped;
            continue;
          }
          e.latitude = *latitude;
          e.longitude = *longitude;
          add_checked(*this, e, path + " line " + std::to_string(xmlGetLineNo(cha)), epochs);
        }
      }
    }
  }
  if (skipped > 0) {
    problems.push_back(path + ": " + std::to_string(skipped) +
                       (skipped == 1
                            ? " channel epoch without readable coordinates or dates is"
                            : " channel epochs without readable coordinates or dates are") +
                       " left out");
  }
  return true;
}

bool Inventory::load_text(const std::string& path, const std::string& text,
                          std::vector<std::string>& problems) {
  // Network|Station|Location|Channel|Latitude|Longitude|Elevation|Depth|Azimuth|Dip|
  // SensorDescription|Scale|ScaleFreq|ScaleUnits|SampleRate|StartTime|EndTime
  const std::vector<ListLine> lines = split_list_lines(text);
  FileProblems epochs(path, problems);
  bool any = false;
  int line_number = 0;
  for (const ListLine& l : lines) {
    ++line_number;
    const std::string_view line = l.text;
    if (trim(line).empty() || line.front() == '#') continue;
    std::vector<std::string> f;
    std::size_t from = 0;
    while (true) {
      const std::size_t bar = line.find('|', from);
      f.push_back(trim(line.substr(from, bar == std::string_view::npos ? bar : bar - from)));
      if (bar == std::string_view::npos) break;
      from = bar + 1;
    }
    ChannelEpoch e;
    bool ok = f.size() >= 10 && l.length == l.text.size();
    auto optional_value = [&](const std::string& field) -> std::optional<double> {
      double v = 0;
      if (field.empty()) return std::nullopt;
      if (!parse_double(field, v)) ok = false;
      return v;
    };
    if (ok) {
      e.id = {f[0], f[1], f[2] == "--" ? std::string() : f[2], f[3]};
      ok = parse_double(f[4], e.latitude) && parse_double(f[5], e.longitude);
      e.elevation = optional_value(f[6]);
      e.depth = optional_value(f[7]);
      e.azimuth = optional_value(f[8]);
      e.dip = optional_value(f[9]);
      e.start = std::numeric_limits<Micros>::min();
      if (ok && f.size() > 15 && !f[15].empty()) {
        const auto t = parse_time(f[15]);
        ok = t.has_value();
        e.start = t.value_or(0);
      }
      if (ok && f.size() > 16 && !f[16].empty()) {
        e.end = parse_time(f[16]);
        ok = e.end.has_value();
      }
    }
    if (!ok) {
      problems.push_back(path + " line " + std::to_string(line_number) +
                         " is not a channel line of the FDSN station text format "
                         "(Network|Station|Location|Channel|Latitude|Longitude|Elevation|Depth|"
                         "Azimuth|Dip|...)");
      return false;
    }
    add_checked(*this, e, path + " line " + std::to_string(line_number), epochs);
    any = true;
  }
  if (!any) {
    problems.push_back(path + " holds no channel");
    return false;
  }
  return true;
}

const ChannelEpoch* Inventory::find(const ChannelId& id, Micros t, Micros length) const {
  const auto it = channels_.find(id);
  if (it == channels_.end()) return nullptr;
  const Channel& c = it->second;
  for (const auto& [from, to] : c.conflicts) {
    if (from < t + length && t < to) return nullptr;
  }
  const ChannelEpoch* best = nullptr;
  Micros best_cover = 0;
  for (const ChannelEpoch& e : c.epochs) {
    const Micros end = end_of(e);
    if (e.start <= t && t < end) {
      if (best == nullptr || best_cover < length || e.start > best->start) {
        best = &e;
        best_cover = length;
      }
      continue;
    }
    const Micros cover = std::min(end, t + length) - std::max(e.start, t);
    if (cover > best_cover) {
      best = &e;
      best_cover = cover;
    }
  }
  return best;
}

}  // namespace xcn::prep
