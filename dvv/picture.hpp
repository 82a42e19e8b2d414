// The picture of dv/v over time: each pair's points faint behind the network's curve with its
// error bars, one colour per method.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace xcn::dvv {

struct PictureSeries {
  std::string method;  // "stretching", "mwcs"
  // The network's points, and every pair's, at times in ms; dvv and error as fractions (NaN
  // where there is none).
  std::vector<std::int64_t> times;
  std::vector<double> dvv;
  std::vector<double> error;
  std::vector<std::int64_t> pair_times;
  std::vector<double> pair_dvv;
};

// Draws the series to a PNG at `path`, written aside and renamed into place. The reason it
// could not be drawn, or empty.
std::string draw_dvv(const std::string& path, const std::vector<PictureSeries>& series);

}  // namespace xcn::dvv
