// miniSEED 2 records built byte by byte, for the tests and fuzz seeds that need headers no
// writer would make: sample counts, lengths, rates and times that lie.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace xcn::test {

struct RecordSpec {
  std::string network = "XC";
  std::string station = "AAA";
  std::string location = "00";
  std::string channel = "BHZ";
  int year = 2024;
  int day = 5;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int fract = 0;  // ten-thousandths of a second
  // The nominal rate as SEED writes it: factor and multiplier, negative ones dividing.
  int rate_factor = 20;
  int rate_multiplier = 1;
  std::optional<float> b100_rate;  // a blockette 100 giving this rate
  bool b1000 = true;
  int encoding = 3;  // 3: int32, 10: Steim-1 (also what a record without blockette 1000 is read as)
  bool little_endian_data =
      false;                 // the data words (blockette 1000 says so); the header stays big-endian
  int length_power = 9;      // the length blockette 1000 claims: 2^power bytes
  int length = 512;          // the bytes of the record
  std::optional<int> count;  // the samples the header claims (default: those given)
  std::vector<std::int32_t> samples;
};

namespace detail {

inline void put16(std::string& b, std::size_t at, int v) {
  b[at] = static_cast<char>((v >> 8) & 0xff);
  b[at + 1] = static_cast<char>(v & 0xff);
}

inline void put32(std::string& b, std::size_t at, std::uint32_t v, bool little = false) {
  for (int k = 0; k < 4; ++k) {
    const int shift = little ? 8 * k : 24 - 8 * k;
    b[at + static_cast<std::size_t>(k)] = static_cast<char>((v >> shift) & 0xff);
  }
}

inline void put_code(std::string& b, std::size_t at, std::size_t width, const std::string& code) {
  for (std::size_t k = 0; k < width; ++k) b[at + k] = k < code.size() ? code[k] : ' ';
}

// Steim-1 frames of the samples from `at` on: each word packs four differences of one byte,
// two of two bytes or one of four, whichever fits; the first frame carries the first and the
// last sample. Little-endian frames, as libmseed reads them, keep the differences in order,
// each in that byte order.
inline void put_steim1(std::string& b, std::size_t at, const std::vector<std::int32_t>& x,
                       bool little) {
  std::vector<std::int64_t> d(x.size(), 0);
  for (std::size_t i = 1; i < x.size(); ++i) d[i] = std::int64_t{x[i]} - x[i - 1];
  auto fits = [&](std::size_t from, std::size_t n, std::int64_t limit) {
    for (std::size_t k = from; k < from + n && k < d.size(); ++k) {
      if (d[k] < -limit || d[k] >= limit) return false;
    }
    return true;
  };
  auto take = [&](std::size_t& next) { return next < d.size() ? d[next++] : (++next, 0); };
  std::size_t next = 0;  // next difference to pack
  for (std::size_t frame = 0; next < d.size() && at + 64 * (frame + 1) <= b.size(); ++frame) {
    const std::size_t base = at + 64 * frame;
    std::uint32_t control = 0;
    std::size_t word = 1;
    if (frame == 0) {
      put32(b, base + 4, static_cast<std::uint32_t>(x.front()), little);
      put32(b, base + 8, static_cast<std::uint32_t>(x.back()), little);
      word = 3;
    }
    for (; word < 16 && next < d.size(); ++word) {
      const std::size_t w = base + 4 * word;
      if (fits(next, 4, 128)) {
        for (std::size_t k = 0; k < 4; ++k) b[w + k] = static_cast<char>(take(next) & 0xff);
        control |= 1u << (30 - 2 * word);
      } else if (fits(next, 2, 32768)) {
        for (std::size_t k = 0; k < 2; ++k) {
          const auto v = static_cast<std::uint16_t>(take(next));
          b[w + 2 * k] = static_cast<char>(little ? v & 0xff : v >> 8);
          b[w + 2 * k + 1] = static_cast<char>(little ? v >> 8 : v & 0xff);
        }
        control |= 2u << (30 - 2 * word);
      } else {
        put32(b, w, static_cast<std::uint32_t>(take(next)), little);
        control |= 3u << (30 - 2 * word);
      }
    }
    put32(b, base, control, little);
  }
}

}  // namespace detail

inline std::string record_bytes(const RecordSpec& s) {
  std::string b(static_cast<std::size_t>(s.length), '\0');
  std::memcpy(b.data(), "000001D ", 8);
  detail::put_code(b, 8, 5, s.station);
  detail::put_code(b, 13, 2, s.location);
  detail::put_code(b, 15, 3, s.channel);
  detail::put_code(b, 18, 2, s.network);
  detail::put16(b, 20, s.year);
  detail::put16(b, 22, s.day);
  b[24] = static_cast<char>(s.hour);
  b[25] = static_cast<char>(s.minute);
  b[26] = static_cast<char>(s.second);
  detail::put16(b, 28, s.fract);
  detail::put16(b, 30, s.count.value_or(static_cast<int>(s.samples.size())));
  detail::put16(b, 32, s.rate_factor);
  detail::put16(b, 34, s.rate_multiplier);
  // Blockettes from byte 48: 1000 (8 bytes), then 100 (12 bytes).
  std::size_t at = 48;
  int blockettes = 0;
  if (s.b1000) {
    detail::put16(b, at, 1000);
    detail::put16(b, at + 2, s.b100_rate ? static_cast<int>(at) + 8 : 0);
    b[at + 4] = static_cast<char>(s.encoding);
    b[at + 5] = s.little_endian_data ? 0 : 1;
    b[at + 6] = static_cast<char>(s.length_power);
    at += 8;
    ++blockettes;
  }
  if (s.b100_rate) {
    detail::put16(b, at, 100);
    detail::put16(b, at + 2, 0);
    std::uint32_t bits = 0;
    std::memcpy(&bits, &*s.b100_rate, 4);
    detail::put32(b, at + 4, bits);
    at += 12;
    ++blockettes;
  }
  b[39] = static_cast<char>(blockettes);
  const std::size_t data = at <= 64 ? 64 : 128;
  detail::put16(b, 44, static_cast<int>(data));
  detail::put16(b, 46, blockettes > 0 ? 48 : 0);
  if (s.encoding == 10 || !s.b1000) {
    detail::put_steim1(b, data, s.samples, s.little_endian_data);
  } else {
    for (std::size_t i = 0; i < s.samples.size() && data + 4 * i + 4 <= b.size(); ++i) {
      detail::put32(b, data + 4 * i, static_cast<std::uint32_t>(s.samples[i]),
                    s.little_endian_data);
    }
  }
  return b;
}

}  // namespace xcn::test
