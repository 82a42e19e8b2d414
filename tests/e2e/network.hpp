// Small station networks for end-to-end runs: records, station and name lists, and the run.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/e2e/process.hpp"
#include "tests/e2e/sacfile.hpp"

namespace xcn::test {

// Deterministic noise (a 64-bit linear congruential generator, upper bits, uniform in [-1, 1)).
class Noise {
 public:
  explicit Noise(std::uint64_t seed) : state_(seed * 2862933555777941757ULL + 3037000493ULL) {}
  float next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<float>(static_cast<double>(state_ >> 40) / 8388608.0 - 1.0);
  }
  std::vector<float> series(std::size_t n) {
    std::vector<float> y(n);
    for (auto& v : y) v = next();
    return y;
  }

 private:
  std::uint64_t state_;
};

// A network in a scratch folder: record files st<i>.sac, the station list "stations" and the
// name list "names" with one name per pair, "p<i>_<j>.sac".
class Network {
 public:
  const std::filesystem::path& dir() const { return scratch_.path(); }
  std::filesystem::path file(const std::string& name) const { return dir() / name; }

  void add(const Record& r) {
    const std::string name = "st" + std::to_string(records_.size() + 1) + ".sac";
    records_.push_back(r);
    entries_.push_back(name);
    EXPECT_EQ(write_record(file(name).string(), r), 0);
  }
  // Lists an entry without writing a record (a missing or foreign file).
  void add_entry(const std::string& entry) {
    records_.push_back(Record{});
    entries_.push_back(entry);
  }
  int size() const { return static_cast<int>(entries_.size()); }
  const Record& record(int i) const { return records_[static_cast<std::size_t>(i - 1)]; }

  static std::string pair_name(int i, int j) {
    return "p" + std::to_string(i) + "_" + std::to_string(j) + ".sac";
  }
  // Writes both lists; `names` limits the name list to its first names (-1: all pairs).
  void write_lists(int names = -1) const {
    std::ofstream stations(file("stations"));
    for (const auto& e : entries_) stations << e << '\n';
    std::ofstream list(file("names"));
    int written = 0;
    for (int i = 1; i <= size(); ++i) {
      for (int j = i; j <= size(); ++j) {
        if (names >= 0 && written == names) return;
        list << pair_name(i, j) << '\n';
        ++written;
      }
    }
  }

  RunResult run(const std::string& mode, const std::string& replace, int workers = 1,
                std::vector<std::string> env = {}) const {
    env.push_back("OMP_NUM_THREADS=" + std::to_string(workers));
    return run_program(tool(), {"stations", "names", mode, replace}, dir(), env);
  }
  Started start(const std::string& mode, const std::string& replace, int workers = 1) const {
    return start_program(tool(), {"stations", "names", mode, replace}, dir(),
                         {"OMP_NUM_THREADS=" + std::to_string(workers)});
  }

 private:
  ScratchDir scratch_;
  std::vector<Record> records_;
  std::vector<std::string> entries_;
};

inline std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

// The start of a skip line: the leading blank and the skip text.
inline const std::string kSkip = "          skip ";

inline bool has_line(const std::string& out, const std::string& line) {
  const auto lines = split_lines(out);
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

inline int count_of(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
  return n;
}

inline void write_bytes(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

inline std::string read_bytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string pad(const std::string& s, std::size_t width) {
  return s + std::string(width > s.size() ? width - s.size() : 0, ' ');
}

}  // namespace xcn::test
