// Station coordinates, channel orientation and instrument response from StationXML or the FDSN
// station text format.
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

// The text of the first child element `name`, or nothing.
std::optional<std::string> child_text(const xmlNode* node, std::string_view name) {
  const auto nodes = children(node, name);
  if (nodes.empty()) return std::nullopt;
  return plain_text(nodes.front()->children);
}

// A channel's response elements. What cannot be read is said in `unreadable`, never a reason
// to leave out the epoch: its coordinates serve runs that remove no response.
class ResponseReader {
 public:
  Response read(const xmlNode* response) {
    Response r;
    r.stages_given = true;
    for (const xmlNode* sens : children(response, "InstrumentSensitivity")) {
      r.sensitivity = number(sens, "Value", "the sensitivity");
      r.sensitivity_frequency =
          number(sens, "Frequency", "the sensitivity's frequency").value_or(0);
      r.sensitivity_units = units(sens, "InputUnits");
    }
    const auto stages = children(response, "Stage");
    if (stages.size() > kMostStages) {
      r.unreadable =
          std::to_string(stages.size()) + " stages, more than " + std::to_string(kMostStages);
      return r;
    }
    std::size_t in_all = 0;
    for (const xmlNode* node : stages) {
      r.stages.push_back(stage(node));
      const Stage& s = r.stages.back();
      in_all += s.numerators.size() + s.denominators.size();
      if (in_all > kMostCoefficientsInAll) {
        fail(std::to_string(in_all) + " coefficients in all, more than " +
             std::to_string(kMostCoefficientsInAll));
      }
      if (!why_.empty()) break;
    }
    std::stable_sort(r.stages.begin(), r.stages.end(),
                     [](const Stage& a, const Stage& b) { return a.number < b.number; });
    for (std::size_t k = 1; k < r.stages.size() && why_.empty(); ++k) {
      if (r.stages[k].number == r.stages[k - 1].number) {
        why_ = "two stages are numbered " + std::to_string(r.stages[k].number);
      }
    }
    r.unreadable = why_;
    return r;
  }

 private:
  void fail(std::string why) {
    if (why_.empty()) why_ = std::move(why);
  }
  std::optional<double> value(const xmlNode* node, const std::string& what) {
    const auto text = plain_text(node->children);
    double v = 0;
    if (!text || !parse_double(*text, v)) {
      fail(what + " is not a number");
      return std::nullopt;
    }
    return v;
  }
  std::optional<double> number(const xmlNode* node, std::string_view field,
                               const std::string& what) {
    const auto nodes = children(node, field);
    if (nodes.empty()) return std::nullopt;
    return value(nodes.front(), what);
  }
  std::string units(const xmlNode* node, std::string_view field) {
    const auto nodes = children(node, field);
    if (nodes.empty()) return {};
    return child_text(nodes.front(), "Name").value_or("");
  }
  // Real and Imaginary parts of each Pole or Zero.
  std::vector<Cplx> roots(const xmlNode* node, std::string_view field, const std::string& what) {
    std::vector<Cplx> found;
    const auto nodes = children(node, field);
    if (nodes.size() > kMostPolesOrZeros) {
      fail(std::to_string(nodes.size()) + " " + what + ", more than " +
           std::to_string(kMostPolesOrZeros));
      return found;
    }
    for (const xmlNode* n : nodes) {
      const auto re = number(n, "Real", what);
      const auto im = number(n, "Imaginary", what);
      if (!re || !im) fail("a " + what + " lacks its real or imaginary part");
      found.emplace_back(re.value_or(0), im.value_or(0));
    }
    return found;
  }
  std::vector<double> coefficients(const xmlNode* node, std::string_view field,
                                   const std::string& what) {
    std::vector<double> found;
    const auto nodes = children(node, field);
    if (nodes.size() > kMostCoefficients) {
      fail(std::to_string(nodes.size()) + " " + what + ", more than " +
           std::to_string(kMostCoefficients));
      return found;
    }
    for (const xmlNode* n : nodes) found.push_back(value(n, what).value_or(0));
    return found;
  }
  Stage stage(const xmlNode* node) {
    Stage s;
    const auto number_text = attribute(node, "number");
    int n = 0;
    if (!number_text || number_text->empty() ||
        std::from_chars(number_text->data(), number_text->data() + number_text->size(), n).ptr !=
            number_text->data() + number_text->size()) {
      fail("a stage's number is not a whole number");
    }
    s.number = n;
    const std::string name = "stage " + std::to_string(n);
    for (const xmlNode* c = node->children; c != nullptr; c = c->next) {
      if (c->type != XML_ELEMENT_NODE) continue;
      const std::string_view kind = name_of(c);
      if (kind == "StageGain") {
        s.gain = number(c, "Value", name + "'s gain");
        s.gain_frequency = number(c, "Frequency", name + "'s gain frequency").value_or(0);
        continue;
      }
      if (kind == "Decimation") {
        s.input_rate = number(c, "InputSampleRate", name + "'s input sample rate");
        const double factor = number(c, "Factor", name + "'s decimation factor").value_or(1);
        s.factor = factor >= 1 && factor <= 1e6 && factor == std::floor(factor)
                       ? static_cast<int>(factor)
                       : 0;
        s.correction = number(c, "Correction", name + "'s correction").value_or(0);
        continue;
      }
      if (kind != "PolesZeros" && kind != "Coefficients" && kind != "FIR" &&
          kind != "ResponseList" && kind != "Polynomial") {
        continue;
      }
      s.input_units = units(c, "InputUnits");
      s.output_units = units(c, "OutputUnits");
      if (kind == "PolesZeros") {
        s.kind = StageKind::kPolesZeros;
        const std::string type = child_text(c, "PzTransferFunctionType").value_or("");
        s.transfer = transfer(type, "LAPLACE (RADIANS/SECOND)", "LAPLACE (HERTZ)",
                              "DIGITAL (Z-TRANSFORM)", name);
        s.a0 = number(c, "NormalizationFactor", name + "'s normalisation factor");
        s.norm_frequency =
            number(c, "NormalizationFrequency", name + "'s normalisation frequency").value_or(0);
        s.zeros = roots(c, "Zero", "zeros");
        s.poles = roots(c, "Pole", "poles");
      } else if (kind == "Coefficients") {
        s.kind = StageKind::kCoefficients;
        const std::string type = child_text(c, "CfTransferFunctionType").value_or("");
        s.transfer = transfer(type, "ANALOG (RADIANS/SECOND)", "ANALOG (HERTZ)", "DIGITAL", name);
        s.numerators = coefficients(c, "Numerator", "numerator coefficients");
        s.denominators = coefficients(c, "Denominator", "denominator coefficients");
      } else if (kind == "FIR") {
        s.kind = StageKind::kFir;
        const std::string symmetry = child_text(c, "Symmetry").value_or("NONE");
        if (symmetry == "EVEN") {
          s.symmetry = Symmetry::kEven;
        } else if (symmetry == "ODD") {
          s.symmetry = Symmetry::kOdd;
        } else if (symmetry != "NONE") {
          fail(name + "'s FIR symmetry is not NONE, EVEN or ODD");
        }
        s.numerators = coefficients(c, "NumeratorCoefficient", "FIR coefficients");
      } else {
        s.kind = StageKind::kOther;
        s.other = kind;
      }
    }
    return s;
  }
  Transfer transfer(const std::string& type, const char* radians, const char* hertz,
                    const char* digital, const std::string& name) {
    if (type == radians) return Transfer::kLaplaceRadians;
    if (type == hertz) return Transfer::kLaplaceHertz;
    if (type == digital) return Transfer::kDigital;
    fail(name + "'s transfer function type is not " + radians + ", " + hertz + " or " + digital);
    return Transfer::kLaplaceRadians;
  }

  std::string why_;
};

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
          if (const auto responses = children(cha, "Response"); !responses.empty()) {
            e.response = ResponseReader().read(responses.front());
          }
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
      // Scale|ScaleFreq|ScaleUnits: the sensitivity, all this format tells of the response.
      if (ok && f.size() > 13 && !f[11].empty()) {
        double scale = 0;
        double frequency = 0;
        if (parse_double(f[11], scale) && (f[12].empty() || parse_double(f[12], frequency))) {
          e.response.sensitivity = scale;
          e.response.sensitivity_frequency = frequency;
          e.response.sensitivity_units = f[13];
        } else {
          e.response.unreadable = "its Scale or ScaleFreq is not a number";
        }
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
