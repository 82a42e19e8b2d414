// What every fuzz target shares: a private scratch folder, files written from fuzz input, the
// choice of message file, and a reader of structured input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace xcn::fuzz {

// A folder of this process under $TMPDIR (or /tmp); left behind so that the files of a crash
// can be looked at.
inline const std::string& scratch() {
  static const std::string dir = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string name =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/xcn-fuzz-XXXXXX";
    if (mkdtemp(name.data()) == nullptr) std::abort();
    return name;
  }();
  return dir;
}

// Ends the run with a crash the fuzzer records, naming the invariant that failed.
[[noreturn]] inline void broken(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

inline std::string scratch_file(const char* name) { return scratch() + "/" + name; }

inline void write_file(const std::string& path, const void* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
}

// A stream that swallows the driver's warnings.
inline std::FILE* null_stream() {
  static std::FILE* f = std::fopen("/dev/null", "w");
  return f;
}

// What a stream received, through a buffer of its own.
struct Memory {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* stream = open_memstream(&text, &size);
  Memory() = default;
  Memory(const Memory&) = delete;
  Memory& operator=(const Memory&) = delete;
  ~Memory() {
    std::fclose(stream);
    std::free(text);
  }
  std::string taken() {
    std::fflush(stream);
    return std::string(text, size);
  }
};

// Where the library of a target finds its message file. Each target defines kMessages; the
// one set-up of every target (initialize.cpp) reads it before the first input.
enum class Messages {
  kNone,     // SACAUX as the environment has it
  kShipped,  // share/messages, as in a user's run
  kScratch,  // the target writes its own "messages" into the scratch folder
};
extern const Messages kMessages;

// Consumes fuzz input from the front: small integers, then byte strings.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return size_ == 0; }
  std::size_t left() const { return size_; }
  std::uint8_t byte() {
    if (size_ == 0) return 0;
    --size_;
    return *data_++;
  }
  std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | byte() << 8); }
  std::int8_t i8() { return static_cast<std::int8_t>(byte()); }
  std::string_view bytes(std::size_t n) {
    if (n > size_) n = size_;
    const std::string_view s(reinterpret_cast<const char*>(data_), n);
    data_ += n;
    size_ -= n;
    return s;
  }
  std::string_view rest() { return bytes(size_); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

}  // namespace xcn::fuzz
