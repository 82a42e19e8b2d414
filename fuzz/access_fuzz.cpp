// Fuzz target: get and set header fields by name with arbitrary names and values, lengths
// positive, zero or negative (terminated), in buffers of exactly the size the lengths claim.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz/common.hpp"
#include "sacio/header_model.hpp"
#include "xcorrnet/sacio.h"

namespace {

using xcn::fuzz::broken;

using xcn::fuzz::Input;

// A caller's text: `length` bytes when length >= 0 (no terminator), else the bytes and a NUL.
struct Text {
  std::unique_ptr<char[]> buffer;
  int length;
};

Text text_of(std::string_view bytes, int length) {
  if (length >= 0) {
    Text t{std::make_unique<char[]>(static_cast<std::size_t>(length)), length};
    std::memset(t.buffer.get(), ' ', static_cast<std::size_t>(length));
    bytes.copy(t.buffer.get(), std::min(bytes.size(), static_cast<std::size_t>(length)));
    return t;
  }
  Text t{std::make_unique<char[]>(bytes.size() + 1), length};
  bytes.copy(t.buffer.get(), bytes.size());
  t.buffer[bytes.size()] = '\0';
  return t;
}

void check_nerr(int nerr) {
  if (nerr != 0 && nerr != SACIO_WARN_UNDEFINED && nerr != SACIO_ERR_NO_FIELD &&
      nerr != SACIO_ERR_SMALL_BUFFER)
    broken("error number of a by-name routine");
}

}  // namespace

const xcn::fuzz::Messages xcn::fuzz::kMessages = xcn::fuzz::Messages::kShipped;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  newhdr();
  while (!in.empty()) {
    const std::uint8_t op = in.byte() % 6;
    const int name_length = in.i8() % 24;
    const int value_length = in.i8() % 40;
    const Text name =
        text_of(in.bytes(static_cast<std::size_t>(std::abs(name_length))), name_length);
    int nerr = -1;
    switch (op) {
      case 0: {
        float value = 0.0f;
        getfhv(name.buffer.get(), &value, &nerr, name.length);
        if (nerr == SACIO_ERR_NO_FIELD && value != xcn::kUndefFloat)
          broken("unknown float name gives a value");
        break;
      }
      case 1: {
        const std::string_view raw = in.bytes(4);
        float value = 0.0f;
        std::memcpy(&value, raw.data(), raw.size());
        setfhv(name.buffer.get(), &value, &nerr, name.length);
        break;
      }
      case 2: {
        const int value = in.i8() * 1000;
        setnhv(name.buffer.get(), &value, &nerr, name.length);
        break;
      }
      case 3: {
        // Terminated mode (negative name length) needs room for the terminator.
        const bool terminated = name.length < 0;
        const std::size_t room =
            value_length <= 0 ? 0 : static_cast<std::size_t>(value_length) + (terminated ? 1 : 0);
        auto buffer = std::make_unique<char[]>(room);
        std::memset(buffer.get(), 'z', room);
        getkhv(name.buffer.get(), buffer.get(), &nerr, name.length, value_length);
        if (terminated && room > 0 && std::memchr(buffer.get(), '\0', room) == nullptr) {
          broken("terminated getkhv left no terminator");
        }
        // A blank-padded buffer without room for one character of a field says so.
        if ((nerr == SACIO_ERR_SMALL_BUFFER) !=
            (!terminated && value_length < 2 && nerr != SACIO_ERR_NO_FIELD)) {
          broken("getkhv into a buffer too small for the field");
        }
        break;
      }
      case 4: {
        const Text value =
            text_of(in.bytes(static_cast<std::size_t>(std::abs(value_length))), value_length);
        setkhv(name.buffer.get(), value.buffer.get(), &nerr, name.length, value.length);
        break;
      }
      default:
        newhdr();
        nerr = 0;
        break;
    }
    check_nerr(nerr);
  }
  return 0;
}
