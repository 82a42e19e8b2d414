// Station coordinates and channel orientation from StationXML or the FDSN station text format.
#include "prep/metadata.hpp"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>

namespace xcn::prep {
namespace {

std::string_view name_of(const xmlNode* node) {
  return node->name != nullptr ? reinterpret_cast<const char*>(node->name) : "";
}

std::string attribute(const xmlNode* node, const char* name) {
  xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
  if (value == nullptr) return {};
  std::string s(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return s;
}

std::string text_of(const xmlNode* node) {
  xmlChar* value = xmlNodeGetContent(node);
  if (value == nullptr) return {};
  std::string s(reinterpret_cast<const char*>(value));
  xmlFree(value);
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

bool parse_double(std::string_view text, double& value) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

std::string trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return std::string(s.substr(first, s.find_last_not_of(" \t\r") - first + 1));
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
  const std::string text = attribute(node, name);
  if (text.empty()) return true;
  t = parse_time(text);
  return t.has_value();
}

}  // namespace

void Inventory::add(const ChannelEpoch& epoch) {
  if (std::find(epochs_.begin(), epochs_.end(), epoch) == epochs_.end()) epochs_.push_back(epoch);
}

bool Inventory::load(const std::string& path, std::string& problem) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    problem = path + " cannot be read: " + std::strerror(errno);
    return false;
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto first = text.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
  if (first != std::string::npos && text[first] == '<') return load_xml(path, text, problem);
  return load_text(path, text, problem);
}

bool Inventory::load_xml(const std::string& path, const std::string& text, std::string& problem) {
  // No network access and no entity expansion: the file is data, not a program.
  const std::unique_ptr<xmlDoc, DocDeleter> doc(
      xmlReadMemory(text.data(), static_cast<int>(text.size()), path.c_str(), nullptr,
                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (doc == nullptr) {
    const xmlError* e = xmlGetLastError();
    problem = path + " is not well-formed XML" +
              (e != nullptr ? " (line " + std::to_string(e->line) + ")" : std::string());
    return false;
  }
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  if (root == nullptr || name_of(root) != "FDSNStationXML") {
    problem = path + " is not StationXML: its root element is <" +
              std::string(root != nullptr ? name_of(root) : "") + ">, not <FDSNStationXML>";
    return false;
  }
  int skipped = 0;
  for (const xmlNode* net : children(root, "Network")) {
    for (const xmlNode* sta : children(net, "Station")) {
      for (const xmlNode* cha : children(sta, "Channel")) {
        ChannelEpoch e;
        e.id = {attribute(net, "code"), attribute(sta, "code"), attribute(cha, "locationCode"),
                attribute(cha, "code")};
        std::optional<Micros> start;
        bool ok = epoch_time(cha, "startDate", start) && epoch_time(cha, "endDate", e.end);
        e.start = start.value_or(std::numeric_limits<Micros>::min());
        auto value = [&](const char* field, double& into, bool needed) {
          const auto nodes = children(cha, field);
          if (nodes.empty()) {
            if (needed) ok = false;
            return;
          }
          if (!parse_double(text_of(nodes.front()), into)) ok = false;
        };
        value("Latitude", e.latitude, true);
        value("Longitude", e.longitude, true);
        value("Elevation", e.elevation, false);
        value("Depth", e.depth, false);
        value("Azimuth", e.azimuth, false);
        value("Dip", e.dip, false);
        if (ok) {
          add(e);
        } else {
          ++skipped;
        }
      }
    }
  }
  if (skipped > 0) {
    problem = path + ": " + std::to_string(skipped) +
              " channel epochs without readable coordinates or dates are left out";
  }
  return true;
}

bool Inventory::load_text(const std::string& path, const std::string& text, std::string& problem) {
  // Network|Station|Location|Channel|Latitude|Longitude|Elevation|Depth|Azimuth|Dip|
  // SensorDescription|Scale|ScaleFreq|ScaleUnits|SampleRate|StartTime|EndTime
  std::size_t start = 0;
  int line_number = 0;
  bool any = false;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + start, end - start);
    start = end + 1;
    ++line_number;
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
    bool ok = f.size() >= 10;
    if (ok) {
      e.id = {f[0], f[1], f[2] == "--" ? std::string() : f[2], f[3]};
      ok = parse_double(f[4], e.latitude) && parse_double(f[5], e.longitude) &&
           (f[6].empty() || parse_double(f[6], e.elevation)) &&
           (f[7].empty() || parse_double(f[7], e.depth)) &&
           (f[8].empty() || parse_double(f[8], e.azimuth)) &&
           (f[9].empty() || parse_double(f[9], e.dip));
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
      problem = path + " line " + std::to_string(line_number) +
                " is not a channel line of the FDSN station text format "
                "(Network|Station|Location|Channel|Latitude|Longitude|Elevation|Depth|Azimuth|"
                "Dip|...)";
      return false;
    }
    add(e);
    any = true;
  }
  if (!any) {
    problem = path + " holds no channel";
    return false;
  }
  return true;
}

const ChannelEpoch* Inventory::find(const ChannelId& id, Micros t, Micros length) const {
  const ChannelEpoch* best = nullptr;
  Micros best_cover = 0;
  for (const ChannelEpoch& e : epochs_) {
    if (e.id != id) continue;
    const Micros end = e.end.value_or(std::numeric_limits<Micros>::max());
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
