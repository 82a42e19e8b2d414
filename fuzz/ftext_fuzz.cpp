// Fuzz target: character fields the way a Fortran caller passes text, blank-padded with
// explicit lengths and no terminator, in buffers of exactly that length. getkhvf fills every
// byte, never with a NUL, and agrees with getkhv into a buffer wider than any field.
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/common.hpp"
#include "xcorrnet/sacio.h"

namespace {

using xcn::fuzz::broken;
using xcn::fuzz::Input;

// The names a caller would use, and a few it should not.
constexpr const char* kNames[] = {"KSTNM",  "KEVNM", "KEVNMC", "KCMPNM", "KNETWK", "KHOLE",
                                  "KUSER2", "KINST", "kstnm",  "KXYZ",   "",       "K"};
constexpr int kWide = 40;

// A caller's text of exactly `length` bytes, taken from the input.
std::unique_ptr<char[]> text_of(std::string_view bytes, int length) {
  auto t = std::make_unique<char[]>(static_cast<std::size_t>(length > 0 ? length : 1));
  std::memset(t.get(), ' ', static_cast<std::size_t>(length > 0 ? length : 1));
  bytes.copy(t.get(), std::min(bytes.size(), static_cast<std::size_t>(length > 0 ? length : 0)));
  return t;
}

}  // namespace

const xcn::fuzz::Messages xcn::fuzz::kMessages = xcn::fuzz::Messages::kShipped;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  newhdr();
  while (!in.empty()) {
    const std::uint8_t op = in.byte();
    const char* name = kNames[(op >> 1) % (sizeof kNames / sizeof kNames[0])];
    // A Fortran length of 0 to 35; the name blank-padded, or NUL-terminated now and then.
    const int length = in.byte() % 36;
    const int name_length = (op & 0x80) ? -1 : static_cast<int>(std::strlen(name)) + in.byte() % 4;
    const std::string padded_name = std::string(name) + std::string(4, ' ');
    int nerr = -1;
    if (op & 1) {
      const auto value = text_of(in.bytes(static_cast<std::size_t>(length)), length);
      setkhv(padded_name.c_str(), value.get(), &nerr, name_length, length);
      if (nerr != 0 && nerr != SACIO_ERR_NO_FIELD) broken("setkhv error number");
      continue;
    }
    auto text = std::make_unique<char[]>(static_cast<std::size_t>(length > 0 ? length : 1));
    std::memset(text.get(), '\x7f', static_cast<std::size_t>(length > 0 ? length : 1));
    getkhvf(padded_name.c_str(), text.get(), &nerr, name_length, length);
    if (nerr != 0 && nerr != SACIO_WARN_UNDEFINED && nerr != SACIO_ERR_NO_FIELD)
      broken("getkhvf error number");
    char wide[kWide];
    int wide_nerr = -1;
    getkhv(padded_name.c_str(), wide, &wide_nerr,
           name_length < 0 ? static_cast<int>(std::strlen(name)) : name_length, kWide);
    if (wide_nerr != nerr) broken("getkhvf and getkhv disagree on the error");
    for (int k = 0; k < length; ++k) {
      const char c = text[static_cast<std::size_t>(k)];
      if (c == '\0') broken("a NUL in a Fortran caller's text");
      if (c != (k < kWide ? wide[k] : ' ')) broken("getkhvf differs from the wide field");
    }
  }
  return 0;
}
