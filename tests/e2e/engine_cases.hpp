// Networks and result handling shared by the tests that hold an engine to another: the results
// of a run taken by name, console lines in a comparable order, and networks with rejected
// windows, records of different lengths and a station listed twice.
#pragma once

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/network.hpp"

namespace xcn::test {

// Whether the tool under test has the matrix engine, and so runs it by default.
#ifdef XCN_HAVE_BLAS
inline constexpr bool kMatrixEngineBuilt = true;
#else
inline constexpr bool kMatrixEngineBuilt = false;
#endif

using Files = std::map<std::string, std::vector<unsigned char>>;

// The result files p*.sac of a network, by name; they are removed, ready for the next run.
inline Files take_results(const Network& net) {
  Files files;
  for (const auto& e : std::filesystem::directory_iterator(net.dir())) {
    const std::string name = e.path().filename().string();
    if (name.rfind("p", 0) != 0) continue;
    files[name] = SacBytes(e.path().string()).bytes;
    std::filesystem::remove(e.path());
  }
  return files;
}

// Console lines sorted: workers print theirs in no fixed order.
inline std::vector<std::string> sorted_lines(const std::string& out) {
  auto lines = split_lines(out);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// The "# of stacking" count of a progress line.
inline int stacked(const std::string& line) {
  const auto at = line.find("# of stacking:");
  return std::stoi(line.substr(at + 14, 12));
}

// Noise with a loud stretch from `from` to `to`, so that the windows over it are rejected.
inline std::vector<float> noise_with_burst(Noise& noise, std::size_t n, std::size_t from,
                                           std::size_t to) {
  auto y = noise.series(n);
  for (std::size_t k = from; k < std::min(to, n); ++k) y[k] *= 8.0f;
  return y;
}

// Five records of different lengths with louder stretches, one too short for any window, and
// the first station listed again at the end (whose length is the run's). The first record is
// loud only beyond the second's end: paired with it, the first's early windows are judged by
// the deviation of its first 4000 samples, and its slightly loud ones rejected.
inline void uneven_network(Network& net) {
  Noise noise(9);
  const struct {
    std::size_t length;
    std::size_t from, to;            // samples times 2
    std::size_t loud_from, loud_to;  // samples times 8
  } records[] = {{5000, 100, 900, 4200, 4900},
                 {4000, 2100, 2600, 0, 0},
                 {6000, 0, 0, 1500, 2300},
                 {1500, 0, 0, 0, 0},
                 {4600, 3000, 3500, 600, 900}};
  for (std::size_t k = 0; k < std::size(records); ++k) {
    const auto& r = records[k];
    auto y = noise.series(r.length);
    for (std::size_t t = r.from; t < r.to; ++t) y[t] *= 2.0f;
    for (std::size_t t = r.loud_from; t < r.loud_to; ++t) y[t] *= 8.0f;
    net.add({"U" + std::to_string(k), k % 2 ? "BHN" : "BHZ", 35.0f + static_cast<float>(k),
             -120.0f + 0.5f * static_cast<float>(k), 1.0f, y});
  }
  net.add_entry("st1.sac");
  net.write_lists();
}

// Dated records with network, location and orientation, some windows rejected: the header
// fields a plain network leaves undefined.
inline void dated_network(Network& net, int stations) {
  Noise noise(21);
  for (int k = 0; k < stations; ++k) {
    Record r{"C" + std::to_string(k),
             k % 2 ? "HHN" : "HHZ",
             40.0f + 0.4f * static_cast<float>(k),
             12.0f - 0.3f * static_cast<float>(k),
             1.0f,
             noise_with_burst(noise, 6000, 700 * static_cast<std::size_t>(k),
                              700 * static_cast<std::size_t>(k) + 400)};
    r.reference = {2026, 152, 0, 0, 0, 0};
    r.b = 10.0f * static_cast<float>(k);
    r.knetwk = "XX";
    r.khole = k % 3 ? "00" : "";
    r.cmpaz = k % 2 ? 0.0f : 90.0f;
    r.cmpinc = 90.0f;
    net.add(r);
  }
  net.write_lists();
}

}  // namespace xcn::test
