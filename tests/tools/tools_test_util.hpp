// Scratch folders, captured streams and file contents for the tools' tests.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace xcn::tools::test {

// A fresh folder under /tmp, removed with its contents when the object goes.
class ScratchDir {
 public:
  ScratchDir() {
    char name[] = "/tmp/xcn-tools-XXXXXX";
    path_ = mkdtemp(name);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

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
