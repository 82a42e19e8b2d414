// Helpers for the file library tests: temporary directories, file bytes, SAC images built by
// hand, forked children with captured output, and the texts of numbered messages.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "msg/message.hpp"
#include "tests/common/scratch_dir.hpp"
#include "xcorrnet/sacio.h"

namespace xcn::testing_util {

using Bytes = std::vector<unsigned char>;
using xcn::test::ScratchDir;

inline Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline std::uint32_t word_at(const Bytes& b, std::size_t offset, bool big_endian) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    const std::uint32_t byte = b.at(offset + static_cast<std::size_t>(i));
    v |= big_endian ? byte << (8 * (3 - i)) : byte << (8 * i);
  }
  return v;
}

inline std::int32_t int_at(const Bytes& b, std::size_t offset, bool big_endian = false) {
  return static_cast<std::int32_t>(word_at(b, offset, big_endian));
}

inline float float_at(const Bytes& b, std::size_t offset, bool big_endian = false) {
  const std::uint32_t w = word_at(b, offset, big_endian);
  float f;
  std::memcpy(&f, &w, 4);
  return f;
}

inline std::string text_at(const Bytes& b, std::size_t offset, std::size_t n) {
  return std::string(reinterpret_cast<const char*>(b.data()) + offset, n);
}

inline std::uint32_t bits_of(float f) {
  std::uint32_t w;
  std::memcpy(&w, &f, 4);
  return w;
}

// A SAC file assembled field by field, independent of the library's own writer.
struct SacImage {
  std::uint32_t words[110];
  char chars[192];
  std::vector<float> samples;

  SacImage() {
    for (int k = 0; k < 70; ++k) set_float(k, -12345.0f);
    for (int k = 70; k < 105; ++k) words[k] = static_cast<std::uint32_t>(-12345);
    for (int k = 105; k < 110; ++k) words[k] = 0;
    std::memset(chars, ' ', sizeof chars);
    set_int(76, 6);   // NVHDR
    set_int(85, 1);   // IFTYPE
    set_int(105, 1);  // LEVEN
    set_int(107, 1);  // LOVROK
  }
  void set_float(int word, float v) { words[word] = bits_of(v); }
  void set_int(int word, std::int32_t v) { words[word] = static_cast<std::uint32_t>(v); }
  void set_samples(std::vector<float> y) {
    samples = std::move(y);
    set_int(79, static_cast<std::int32_t>(samples.size()));  // NPTS
  }

  Bytes bytes(bool big_endian) const {
    Bytes out;
    auto put = [&](std::uint32_t w) {
      for (int i = 0; i < 4; ++i) {
        const int shift = big_endian ? 8 * (3 - i) : 8 * i;
        out.push_back(static_cast<unsigned char>(w >> shift));
      }
    };
    for (std::uint32_t w : words) put(w);
    out.insert(out.end(), chars, chars + sizeof chars);
    for (float f : samples) put(bits_of(f));
    return out;
  }
};

// Runs fn in a forked child with its standard output captured. Returns the exit status (fn's
// result, or 255 when the child died) and the output.
struct ChildResult {
  int status;
  std::string out;
};

inline ChildResult run_in_child(const std::function<int()>& fn) {
  int fds[2];
  if (pipe(fds) != 0) std::abort();
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], 1);
    close(fds[1]);
    const int code = fn();
    std::fflush(nullptr);
    _exit(code);
  }
  close(fds[1]);
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
    out.append(buf, static_cast<std::size_t>(n));
  close(fds[0]);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  return {WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 255, out};
}

// Drops root privileges in a child, so that refused permissions are refused.
inline void drop_privileges() {
  if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(254);
}

// Writes a fresh header of n samples to path through wsac0; returns nerr and leaves errno.
inline int write_samples(const std::string& path, int n = 4) {
  newhdr();
  int nerr = 0;
  setnhv("NPTS", &n, &nerr, -1);
  const float delta = 0.5f;
  setfhv("DELTA", &delta, &nerr, -1);
  std::vector<float> y(static_cast<std::size_t>(n), 2.0f);
  wsac0(path.c_str(), y.data(), y.data(), &nerr, -1);
  return nerr;
}

// The text that a message of this number starts with, as the store appends it.
inline std::string message_text(int number) {
  char buffer[1002];
  getsmsg(number, buffer, sizeof buffer);
  std::string text(buffer);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

inline std::string error_line(int number, const std::string& rest) {
  char head[32];
  std::snprintf(head, sizeof head, number > 999 ? " ERROR %4d: " : " ERROR  %3d: ", number);
  return "\a" + std::string(head) + message_text(number) + " " + rest + "\n";
}

inline std::string warning_line(int number, const std::string& rest) {
  return " WARNING: " + message_text(number) + " " + rest + "\n";
}

}  // namespace xcn::testing_util
