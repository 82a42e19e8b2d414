// Scratch folders, captured streams and file contents for the tools' tests.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/common/scratch_dir.hpp"

namespace xcn::tools::test {

using xcn::test::ScratchDir;

// A stream to hand to a command, and what was written to it.
class Capture {
 public:
  Capture() : file_(std::tmpfile()) {}
  ~Capture() { std::fclose(file_); }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;
  std::FILE* stream() { return file_; }
  std::string text() {
    std::fflush(file_);
    std::rewind(file_);
    std::string s;
    for (int c; (c = std::fgetc(file_)) != EOF;) s += static_cast<char>(c);
    return s;
  }

 private:
  std::FILE* file_;
};

inline std::string file_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_text(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace xcn::tools::test
