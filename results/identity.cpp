// The identity of a result's pair: read from its header, keyed, compared and described.
#include "results/identity.hpp"

#include <bit>
#include <cstdint>
#include <cstdio>
#include <tuple>
#include <utility>

#include "driver/results/result_fields.hpp"
#include "sacio/header_model.hpp"

namespace xcn::results {

std::string without_blanks(std::string_view s) {
  const auto first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return std::string(s.substr(first, s.find_last_not_of(' ') - first + 1));
}

namespace {

// A character field without surrounding blanks; empty when undefined.
std::string code(const SacHeader& h, int slot) {
  std::string s = without_blanks(h.text(slot));
  return s == "-12345" ? std::string{} : s;
}

RecordId read_record(const SacHeader& h, const RecordFields& f) {
  return {code(h, f.network.slot),   code(h, f.station.slot), code(h, f.location.slot),
          code(h, f.component.slot), h.real(f.cmpaz.index),   h.real(f.cmpinc.index)};
}

std::string bits(float v) { return std::to_string(std::bit_cast<std::uint32_t>(v)); }

std::string number(float v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(v));
  return text;
}

std::string orientation_key(float v) { return v == kUndefFloat ? std::string{} : bits(v); }
std::string orientation_shown(float v) { return v == kUndefFloat ? "undefined" : number(v); }
std::string code_shown(const std::string& c) { return c.empty() ? "undefined" : c; }

// A field of a record: its name in a message, its value for comparing (empty when undefined:
// numbers to the bit) and as a message shows it.
struct Field {
  const char* what;
  std::string (*key)(const RecordId&);
  std::string (*shown)(const RecordId&);
};
constexpr Field kFields[] = {
    {"component", [](const RecordId& r) { return r.component; },
     [](const RecordId& r) { return code_shown(r.component); }},
    {"station", [](const RecordId& r) { return r.station; },
     [](const RecordId& r) { return code_shown(r.station); }},
    {"network", [](const RecordId& r) { return r.network; },
     [](const RecordId& r) { return code_shown(r.network); }},
    {"location", [](const RecordId& r) { return r.location; },
     [](const RecordId& r) { return code_shown(r.location); }},
    {"CMPAZ", [](const RecordId& r) { return orientation_key(r.cmpaz); },
     [](const RecordId& r) { return orientation_shown(r.cmpaz); }},
    {"CMPINC", [](const RecordId& r) { return orientation_key(r.cmpinc); },
     [](const RecordId& r) { return orientation_shown(r.cmpinc); }},
};

bool same_positions(const Identity& a, const Identity& b) {
  return bits(a.evla) == bits(b.evla) && bits(a.evlo) == bits(b.evlo) &&
         bits(a.stla) == bits(b.stla) && bits(a.stlo) == bits(b.stlo);
}

}  // namespace

Identity read_identity(const SacHeader& h) {
  Identity id;
  id.kevnm = without_blanks(h.text(kKevnm));
  id.named = !id.kevnm.empty() && id.kevnm != "-12345";
  if (!id.named) return id;
  id.first = read_record(h, kFirstRecord);
  id.second = read_record(h, kSecondRecord);
  id.evla = h.real(kEvla);
  id.evlo = h.real(kEvlo);
  id.stla = h.real(kStla);
  id.stlo = h.real(kStlo);
  return id;
}

std::string identity_key(const Identity& id) {
  std::string key = id.kevnm;
  for (const RecordId* r : {&id.first, &id.second}) {
    for (const Field& f : kFields) key += '\n' + f.key(*r);
  }
  for (const float v : {id.evla, id.evlo, id.stla, id.stlo}) key += '\n' + bits(v);
  return key;
}

bool same_pair(const Identity& a, const Identity& b) {
  if (a.kevnm != b.kevnm || a.second.component != b.second.component || !same_positions(a, b)) {
    return false;
  }
  for (const auto& [x, y] : {std::pair{&a.first, &b.first}, std::pair{&a.second, &b.second}}) {
    for (const Field& f : kFields) {
      const std::string u = f.key(*x), v = f.key(*y);
      if (!u.empty() && !v.empty() && u != v) return false;
    }
  }
  return true;
}

void merge_identity(Identity& into, const Identity& from) {
  if (!into.named) {
    into = from;
    return;
  }
  for (const auto& [x, y] :
       {std::pair{&into.first, &from.first}, std::pair{&into.second, &from.second}}) {
    for (auto code :
         {&RecordId::network, &RecordId::station, &RecordId::location, &RecordId::component}) {
      if ((x->*code).empty()) x->*code = y->*code;
    }
    for (auto angle : {&RecordId::cmpaz, &RecordId::cmpinc}) {
      if (x->*angle == kUndefFloat) x->*angle = y->*angle;
    }
  }
}

std::string differing_label(const Identity& id, const Identity& other) {
  if (id.kevnm != other.kevnm) return id.kevnm;
  // A field both hold with other values tells more than one that only one of them holds.
  for (const bool both : {true, false}) {
    for (const auto& [which, x, y] : {std::tuple{"first", &id.first, &other.first},
                                      std::tuple{"second", &id.second, &other.second}}) {
      for (const Field& f : kFields) {
        const std::string u = f.key(*x), v = f.key(*y);
        if (u == v || (both && (u.empty() || v.empty()))) continue;
        return id.kevnm + " (the " + which + " record's " + f.what + " " + f.shown(*x) + ")";
      }
    }
  }
  if (!same_positions(id, other)) {
    return id.kevnm + " (event at " + number(id.evla) + ", " + number(id.evlo) + ", station at " +
           number(id.stla) + ", " + number(id.stlo) + ")";
  }
  return {};
}

}  // namespace xcn::results
