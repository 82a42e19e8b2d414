// The station pairs among a set of results: each result filed by the two sensors its records
// belong to and their components, and what each sensor's three components are.
//
// A sensor is the components of one instrument: records of one network, station and location
// whose component codes differ in their last letter only (BHE, BHN, BHZ; BH1, BH2, BHZ).
#pragma once

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "results/inputs.hpp"

namespace xcn::rotate {

struct Sensor {
  std::string network;
  std::string station;
  std::string location;
  std::string prefix;  // the component codes without their last letter: "BH"
  auto operator<=>(const Sensor&) const = default;
};

// "XX.AAA.00.BH?", or "AAA.BH?" without network and location, as records are named.
std::string sensor_label(const Sensor& s);
// The name of a component of the sensor as records are named: "XX.AAA.00.BHZ".
std::string component_name(const Sensor& s, char letter);

// A result of a station pair: its header as read, and whether its records stand the other way
// round (the second sensor's component first), so that it is the pair's correlation mirrored
// in lag.
struct Member {
  const results::Result* result = nullptr;
  bool mirrored = false;
};

// Two sensors and the results between their components, by component letters (the first
// sensor's, the second's).
struct SensorPair {
  Sensor first;
  Sensor second;
  std::map<std::pair<char, char>, Member> members;
  std::pair<char, char> base;  // the components of the result that oriented the pair
};

struct Pairing {
  std::vector<SensorPair> pairs;                // in the order their first result came
  std::map<Sensor, std::set<char>> components;  // every component seen of each sensor
};

// Files every result of the runs: a result that does not tell both records' station and
// component, and a second result of one pair of components, are reported on `err` and left
// out; a result of a sensor with itself (an auto-correlation, or two components of one
// instrument) is passed by. A pair is oriented as the first of its results in the runs.
Pairing pair_results(const std::vector<results::Run>& runs, std::FILE* err);

}  // namespace xcn::rotate
