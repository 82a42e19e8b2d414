// Reference times as milliseconds: civil-date arithmetic on the proleptic Gregorian calendar.
#include "sacio/ref_time.hpp"

#include <cstdio>

#include "sacio/header_model.hpp"

namespace xcn {
namespace {

bool leap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Days from 1970-01-01 to January 1st of year y.
std::int64_t year_start_days(std::int64_t y) {
  const std::int64_t p = y - 1;
  return 365 * (y - 1970) + (p / 4 - p / 100 + p / 400) - (1969 / 4 - 1969 / 100 + 1969 / 400);
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

}  // namespace

std::optional<std::int64_t> to_ms(const RefFields& f) {
  if (f.year < 1 || f.year > 9999 || f.jday < 1 || f.jday > (leap(f.year) ? 366 : 365) ||
      f.hour < 0 || f.hour > 23 || f.minute < 0 || f.minute > 59 || f.second < 0 || f.second > 60 ||
      f.msec < 0 || f.msec > 999) {
    return std::nullopt;
  }
  const std::int64_t days = year_start_days(f.year) + f.jday - 1;
  return ((days * 24 + f.hour) * 60 + f.minute) * 60000 + std::int64_t{f.second} * 1000 + f.msec;
}

RefFields from_ms(std::int64_t ms) {
  std::int64_t days = floor_div(ms, kDayMs);
  std::int64_t rest = ms - days * kDayMs;
  std::int64_t y = 1970 + floor_div(days, 366);
  while (year_start_days(y + 1) <= days) ++y;
  while (year_start_days(y) > days) --y;
  RefFields f;
  f.year = static_cast<int>(y);
  f.jday = static_cast<int>(days - year_start_days(y) + 1);
  f.hour = static_cast<int>(rest / 3600000);
  rest %= 3600000;
  f.minute = static_cast<int>(rest / 60000);
  rest %= 60000;
  f.second = static_cast<int>(rest / 1000);
  f.msec = static_cast<int>(rest % 1000);
  return f;
}

std::string format_time(std::int64_t ms) {
  const RefFields f = from_ms(ms);
  static constexpr int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int month = 0;
  int day = f.jday;
  while (month < 11) {
    const int length = kMonthDays[month] + (month == 1 && leap(f.year) ? 1 : 0);
    if (day <= length) break;
    day -= length;
    ++month;
  }
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", f.year, month + 1, day,
                f.hour, f.minute, f.second, f.msec);
  return text;
}

// NZYEAR .. NZMSEC are the header's first six integers.
RefFields header_ref_fields() { return {Nhdr(1), Nhdr(2), Nhdr(3), Nhdr(4), Nhdr(5), Nhdr(6)}; }

void set_header_ref_fields(const RefFields& f) {
  Nhdr(1) = f.year;
  Nhdr(2) = f.jday;
  Nhdr(3) = f.hour;
  Nhdr(4) = f.minute;
  Nhdr(5) = f.second;
  Nhdr(6) = f.msec;
}

}  // namespace xcn
