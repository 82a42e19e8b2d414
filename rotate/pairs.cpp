// Filing results by station pair and component.
#include "rotate/pairs.hpp"

#include "tools/pair_names.hpp"

namespace xcn::rotate {
namespace {

// The sensor of a record and its component's letter; false when the record does not tell its
// station and component.
bool sensor_of(const results::RecordId& r, Sensor& s, char& letter) {
  if (r.station.empty() || r.component.empty()) return false;
  s = {r.network, r.station, r.location, r.component.substr(0, r.component.size() - 1)};
  letter = r.component.back();
  return true;
}

}  // namespace

std::string component_name(const Sensor& s, char letter) {
  return tools::record_name(
      tools::StationId(s.station, s.prefix + std::string(1, letter), s.network, s.location));
}

std::string sensor_label(const Sensor& s) { return component_name(s, '?'); }

Pairing pair_results(const std::vector<results::Run>& runs, std::FILE* err) {
  Pairing pairing;
  std::map<std::pair<Sensor, Sensor>, std::size_t> index;
  for (const results::Run& run : runs) {
    for (const results::Result& r : run.results) {
      Sensor a, b;
      char la = 0, lb = 0;
      if (!r.id.named || !sensor_of(r.id.first, a, la) || !sensor_of(r.id.second, b, lb)) {
        std::fprintf(err,
                     "xcn_rotate: \"%s\" does not tell both records' station and component (a "
                     "result of an earlier version: run xcorrnet_v3 again with N to complete "
                     "it); left out\n",
                     r.path.c_str());
        continue;
      }
      pairing.components[a].insert(la);
      pairing.components[b].insert(lb);
      if (a == b) continue;
      Member m{&r, false};
      auto it = index.find({a, b});
      if (it == index.end()) {
        it = index.find({b, a});
        if (it != index.end()) {
          m.mirrored = true;
          std::swap(la, lb);
        }
      }
      if (it == index.end()) {
        it = index.emplace(std::pair{a, b}, pairing.pairs.size()).first;
        pairing.pairs.push_back({a, b, {}, {la, lb}});
      }
      SensorPair& pair = pairing.pairs[it->second];
      const auto [slot, fresh] = pair.members.emplace(std::pair{la, lb}, m);
      if (!fresh) {
        std::fprintf(
            err, "xcn_rotate: \"%s\" holds the same components as \"%s\" (%s x %s); left out\n",
            r.path.c_str(), slot->second.result->path.c_str(),
            component_name(pair.first, la).c_str(), component_name(pair.second, lb).c_str());
      }
    }
  }
  return pairing;
}

}  // namespace xcn::rotate
