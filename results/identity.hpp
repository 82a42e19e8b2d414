// What tells one result's pair from another's: both records' codes and orientation, the event
// name and the positions, as a result's header holds them; and the one key every program that
// matches results by pair uses.
#pragma once

#include <string>
#include <string_view>

#include "sacio/read.hpp"

namespace xcn::results {

// Text without its leading and trailing blanks, as names and codes are compared.
std::string without_blanks(std::string_view s);

// One record of a pair. A code is empty, an orientation -12345, where the header leaves it
// undefined.
struct RecordId {
  std::string network;
  std::string station;
  std::string location;
  std::string component;
  float cmpaz = kUndefFloat;   // degrees clockwise from north
  float cmpinc = kUndefFloat;  // degrees from up
  bool operator==(const RecordId&) const = default;
};

struct Identity {
  bool named = false;  // KEVNM is defined
  std::string kevnm;   // "STA1-STA2"
  RecordId first;      // the event of the pair (EVLA, EVLO)
  RecordId second;     // its station (STLA, STLO); its component is KCMPNM
  float evla = 0, evlo = 0, stla = 0, stlo = 0;
  bool operator==(const Identity&) const = default;
};

// The identity in a result's header. Without an event name it names no pair (named false), and
// nothing else of it is taken.
Identity read_identity(const SacHeader& h);

// The key of a named pair: every field that tells it, the numbers to the bit. Results of one
// pair have one key.
std::string identity_key(const Identity& id);

// Whether two results hold one pair, allowing for results of earlier versions, which keep
// neither the first record's codes nor either record's network, station, location or
// orientation: the event name, the second record's component and the positions must be the
// same, and every other field the same where both hold it.
bool same_pair(const Identity& a, const Identity& b);

// Gives `into` every field of `from` that it leaves undefined (of a pair, both same_pair).
void merge_identity(Identity& into, const Identity& from);

// The first field in which two results' identities differ, for a message: "ST01-ST02" when
// their event names differ, else the pair with what differs, such as "ST01-ST02 (the first
// record's component BHE)". Empty for identities that do not differ.
std::string differing_label(const Identity& id, const Identity& other);

}  // namespace xcn::results
