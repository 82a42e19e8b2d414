// Reference times of headers as milliseconds and back, on the Gregorian calendar.
#include "sacio/ref_time.hpp"

#include <gtest/gtest.h>

#include <cstdint>

#include "sacio/header_access.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {
namespace {

TEST(RefTime, FieldsAndMillisecondsRoundTrip) {
  const struct {
    RefFields f;
    std::int64_t ms;
    const char* text;
  } cases[] = {
      {{1970, 1, 0, 0, 0, 0}, 0, "1970-01-01T00:00:00.000"},
      {{2026, 152, 0, 0, 0, 0}, 1780272000000, "2026-06-01T00:00:00.000"},
      {{2024, 366, 23, 59, 59, 999}, 1735689599999, "2024-12-31T23:59:59.999"},
      {{2000, 60, 12, 30, 5, 250}, 951827405250, "2000-02-29T12:30:05.250"},
      {{1969, 365, 23, 0, 0, 0}, -3600000, "1969-12-31T23:00:00.000"},
      {{1969, 365, 23, 59, 59, 0}, -1000, "1969-12-31T23:59:59.000"},
      {{2024, 100, 3, 30, 31, 234},
       1704067200000 + 99 * 86400000LL + 12631234,
       "2024-04-09T03:30:31.234"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_EQ(to_ms(c.f), c.ms);
    const RefFields back = from_ms(c.ms);
    EXPECT_EQ(back.year, c.f.year);
    EXPECT_EQ(back.jday, c.f.jday);
    EXPECT_EQ(back.hour, c.f.hour);
    EXPECT_EQ(back.minute, c.f.minute);
    EXPECT_EQ(back.second, c.f.second);
    EXPECT_EQ(back.msec, c.f.msec);
    EXPECT_EQ(format_time(c.ms), c.text);
  }
}

TEST(RefTime, IncompleteOrOutOfRangeFieldsAreNoTime) {
  const RefFields cases[] = {
      {},                          // undefined
      {2026, -12345, 0, 0, 0, 0},  // a field undefined
      {2025, 366, 0, 0, 0, 0},     // no day 366 in 2025
      {2026, 1, 24, 0, 0, 0},
      {2026, 1, 0, 60, 0, 0},
      {2026, 1, 0, 0, 61, 0},
      {2026, 1, 0, 0, 0, 1000},
      {0, 1, 0, 0, 0, 0},
  };
  for (const auto& f : cases) EXPECT_FALSE(to_ms(f).has_value()) << f.year << " " << f.jday;
}

// The current header's fields, as a result's writer sets them and a reader takes them.
TEST(RefTime, TheCurrentHeaderHoldsTheFields) {
  newhdr();
  EXPECT_FALSE(to_ms(header_ref_fields()).has_value());
  set_header_ref_fields({2024, 100, 3, 30, 31, 234});
  int nerr = 0, jday = 0, msec = 0;
  getnhv("NZJDAY", &jday, &nerr, -1);
  getnhv("NZMSEC", &msec, &nerr, -1);
  EXPECT_EQ(jday, 100);
  EXPECT_EQ(msec, 234);
  EXPECT_EQ(to_ms(header_ref_fields()), 1704067200000 + 99 * 86400000LL + 12631234);
}

}  // namespace
}  // namespace xcn
