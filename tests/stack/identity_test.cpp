// The identity of a result's pair as every program that matches results takes it: one key per
// pair, results of earlier versions joining those that say more, and what a message shows.
#include "results/identity.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace xcn::results {
namespace {

// ST01.BHZ of XX.00 at event 36, -117.5 with ST02.BHN of XX.00 at 36.1, -117.4, as the tool
// writes it now.
Identity full() {
  Identity id;
  id.named = true;
  id.kevnm = "ST01-ST02";
  id.first = {"XX", "ST01", "00", "BHZ", 0.0f, 0.0f};
  id.second = {"XX", "ST02", "00", "BHN", 0.0f, 90.0f};
  id.evla = 36.0f;
  id.evlo = -117.5f;
  id.stla = 36.1f;
  id.stlo = -117.4f;
  return id;
}

// The same pair as an earlier version wrote it: neither the first record's codes nor either
// record's network, station, location or angles.
Identity earlier() {
  Identity id = full();
  id.first = {};
  id.second = {"", "", "", "BHN", -12345.0f, -12345.0f};
  return id;
}

TEST(Identity, OnePairOneKeyAndResultsOfEarlierVersionsJoinThePairTheyAgreeWith) {
  const struct {
    const char* what;
    std::function<void(Identity&)> change;
    bool same_key;
    bool same_pair;    // with full()
    std::string said;  // the changed identity's label against full()
  } cases[] = {
      {"itself", [](Identity&) {}, true, true, ""},
      {"another first component", [](Identity& id) { id.first.component = "BHE"; }, false, false,
       "ST01-ST02 (the first record's component BHE)"},
      {"another second network", [](Identity& id) { id.second.network = "YY"; }, false, false,
       "ST01-ST02 (the second record's network YY)"},
      {"another first location", [](Identity& id) { id.first.location = "10"; }, false, false,
       "ST01-ST02 (the first record's location 10)"},
      {"another azimuth", [](Identity& id) { id.second.cmpaz = 90.0f; }, false, false,
       "ST01-ST02 (the second record's CMPAZ 90)"},
      {"an azimuth a bit off", [](Identity& id) { id.first.cmpinc = 1e-7f; }, false, false,
       "ST01-ST02 (the first record's CMPINC 1e-07)"},
      {"another event name", [](Identity& id) { id.kevnm = "ST01-ST03"; }, false, false,
       "ST01-ST03"},
      {"another position", [](Identity& id) { id.stla = 36.2f; }, false, false,
       "ST01-ST02 (event at 36, -117.5, station at 36.2, -117.4)"},
      {"an earlier version", [](Identity& id) { id = earlier(); }, false, true,
       "ST01-ST02 (the first record's component undefined)"},
      {"an earlier version of another second component",
       [](Identity& id) {
         id = earlier();
         id.second.component = "BHE";
       },
       false, false, "ST01-ST02 (the second record's component BHE)"},
      {"no first network", [](Identity& id) { id.first.network.clear(); }, false, true,
       "ST01-ST02 (the first record's network undefined)"},
  };
  const Identity reference = full();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Identity id = full();
    c.change(id);
    EXPECT_EQ(identity_key(id) == identity_key(reference), c.same_key);
    EXPECT_EQ(same_pair(id, reference), c.same_pair);
    EXPECT_EQ(same_pair(reference, id), c.same_pair);
    EXPECT_EQ(differing_label(id, reference), c.said);
  }
}

// A pair known from a result of an earlier version learns the fields of a newer one, so that a
// third result that contradicts the newer one is not taken for the pair.
TEST(Identity, APairLearnsWhatItsResultsTell) {
  Identity pair = earlier();
  merge_identity(pair, full());
  EXPECT_EQ(pair, full());
  Identity other = earlier();
  other.first.component = "BHE";
  EXPECT_TRUE(same_pair(other, earlier()));
  EXPECT_FALSE(same_pair(other, pair));
  // What the pair holds already stays.
  Identity kept = full();
  merge_identity(kept, other);
  EXPECT_EQ(kept, full());
}

}  // namespace
}  // namespace xcn::results
