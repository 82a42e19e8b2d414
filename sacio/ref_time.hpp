// Reference times of SAC headers (NZYEAR .. NZMSEC) as milliseconds since 1970, and back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace xcn {

// The six reference-time fields of a SAC header.
struct RefFields {
  int year = -12345;
  int jday = -12345;
  int hour = -12345;
  int minute = -12345;
  int second = -12345;
  int msec = -12345;
};

inline constexpr std::int64_t kDayMs = 86400000;

// Milliseconds since 1970-01-01 00:00:00 of a complete, in-range reference time (year 1 to
// 9999, day of year within its year, second 0 to 60); nothing otherwise.
std::optional<std::int64_t> to_ms(const RefFields& f);
// The fields of a time in milliseconds (the inverse of to_ms).
RefFields from_ms(std::int64_t ms);
// "2026-06-01T00:00:00.000".
std::string format_time(std::int64_t ms);

// The reference time of the current header, and the current header's reference time set to `f`.
RefFields header_ref_fields();
void set_header_ref_fields(const RefFields& f);

}  // namespace xcn
