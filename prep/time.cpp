// Times as whole microseconds since 1970-01-01 00:00:00 UTC, as miniSEED keeps them, and days.
#include "prep/time.hpp"

#include <charconv>
#include <cstdio>

namespace xcn::prep {
namespace {

bool leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && leap(year) ? 29 : kDays[month - 1];
}

// Reads exactly `width` digits (or up to the next non-digit when width is 0).
bool take_number(std::string_view& text, std::size_t width, int& value) {
  std::size_t n = 0;
  while (n < text.size() && text[n] >= '0' && text[n] <= '9' && (width == 0 || n < width)) ++n;
  if (n == 0 || (width != 0 && n != width)) return false;
  std::from_chars(text.data(), text.data() + n, value);
  text.remove_prefix(n);
  return true;
}

bool take(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

}  // namespace

std::int64_t days_from_civil(int year, int month, int day) {
  // Howard Hinnant's algorithm: days of whole 400-year eras, then within the era.
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int yoe = static_cast<int>(year - era * 400);
  const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

int days_in_year(int year) { return leap(year) ? 366 : 365; }

Micros day_of(Micros t) {
  // Division truncates toward zero; a time before 1970 belongs to the day that began before it.
  const Micros days = t / kDay - (t % kDay < 0 ? 1 : 0);
  return days * kDay;
}

YearDay year_day(Micros t) {
  const std::int64_t days = day_of(t) / kDay;
  // Civil from days, then the day of year from January 1st.
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<int>(z - era * 146097);
  const int yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int mp = (5 * doy + 2) / 153;
  const int month = mp + (mp < 10 ? 3 : -9);
  const int year = static_cast<int>(yoe + era * 400) + (month <= 2 ? 1 : 0);
  return {year, static_cast<int>(days - days_from_civil(year, 1, 1)) + 1};
}

Micros day_start(int year, int day) { return (days_from_civil(year, 1, 1) + day - 1) * kDay; }

std::optional<Micros> parse_time(std::string_view text) {
  int year = 0;
  if (!take_number(text, 4, year)) return std::nullopt;
  std::int64_t days = 0;
  if (take(text, ',')) {
    int doy = 0;
    if (!take_number(text, 3, doy) || doy < 1 || doy > days_in_year(year)) {
      return std::nullopt;
    }
    days = days_from_civil(year, 1, 1) + doy - 1;
  } else {
    int month = 0;
    int day = 0;
    if (!take(text, '-') || !take_number(text, 2, month) || month < 1 || month > 12 ||
        !take(text, '-') || !take_number(text, 2, day) || day < 1 ||
        day > days_in_month(year, month)) {
      return std::nullopt;
    }
    days = days_from_civil(year, month, day);
  }
  Micros t = days * kDay;
  if (take(text, 'T')) {
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!take_number(text, 2, hour) || hour > 23 || !take(text, ':') ||
        !take_number(text, 2, minute) || minute > 59) {
      return std::nullopt;
    }
    if (take(text, ':') && (!take_number(text, 2, second) || second > 60)) return std::nullopt;
    t += (hour * 3600 + minute * 60 + second) * kSecond;
    if (take(text, '.')) {
      // Microseconds: the first six digits of the fraction count.
      Micros scale = 100000;
      std::size_t n = 0;
      for (; n < text.size() && text[n] >= '0' && text[n] <= '9'; ++n) {
        t += (text[n] - '0') * scale;
        scale /= 10;
      }
      if (n == 0) return std::nullopt;
      text.remove_prefix(n);
    }
    take(text, 'Z');
  }
  if (!text.empty()) return std::nullopt;
  return t;
}

std::string day_label(Micros t) {
  const YearDay yd = year_day(t);
  char label[16];
  std::snprintf(label, sizeof label, "%04d.%03d", yd.year, yd.day);
  return label;
}

}  // namespace xcn::prep
