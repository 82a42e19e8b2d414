// Where a result's header keeps each of its two records: the tool writes them there and every
// program that reads results finds them there. Header-only, so that readers need not link the
// driver.
#pragma once

namespace xcn {

// A character field: its name and its one-based slot in the character block.
struct TextField {
  const char* name;
  int slot;
};
// A real field: its name and its one-based position among the 70 reals.
struct RealField {
  const char* name;
  int index;
};

// The codes and the orientation of one record of a pair.
struct RecordFields {
  TextField network;
  TextField station;
  TextField location;
  TextField component;
  RealField cmpaz;
  RealField cmpinc;
};

// The second record (the station of the pair, at STLA and STLO) in the fields SAC gives a
// station; the first (the event, at EVLA and EVLO) in user fields that stacks leave alone
// (they write KUSER0, USER0 and USER1).
inline constexpr RecordFields kSecondRecord{{"KNETWK", 22}, {"KSTNM", 1},  {"KHOLE", 4},
                                            {"KCMPNM", 21}, {"CMPAZ", 58}, {"CMPINC", 59}};
inline constexpr RecordFields kFirstRecord{{"KDATRD", 23}, {"KUSER1", 19}, {"KINST", 24},
                                           {"KUSER2", 20}, {"USER2", 43},  {"USER3", 44}};

}  // namespace xcn
