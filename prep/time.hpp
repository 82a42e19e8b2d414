// Times as whole microseconds since 1970-01-01 00:00:00 UTC, as miniSEED keeps them, and days.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace xcn::prep {

using Micros = std::int64_t;
inline constexpr Micros kSecond = 1000000;
inline constexpr Micros kDay = 86400 * kSecond;

// Days since 1970-01-01 of a calendar date (proleptic Gregorian).
std::int64_t days_from_civil(int year, int month, int day);
// 365 or 366.
int days_in_year(int year);

// Midnight (00:00:00 UTC) that begins the day holding t, before 1970 as after.
Micros day_of(Micros t);

struct YearDay {
  int year = 0;
  int day = 0;  // 1 to 366
};
// The year and day of year of the day that holds t.
YearDay year_day(Micros t);
// Midnight (00:00:00 UTC) that begins the day of year `day` of `year`.
Micros day_start(int year, int day);

// "2024-01-05", "2024-01-05T10:20:30.25", "2024-01-05T10:20:30Z" or "2024,005" (day of year);
// nothing for anything else or an impossible date.
std::optional<Micros> parse_time(std::string_view text);

// "2024.005" of the day that holds t.
std::string day_label(Micros t);

}  // namespace xcn::prep
