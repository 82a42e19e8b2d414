// The record section as a picture: its traces, and drawing them through cairo.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace xcn::tools {

// One cross-correlation as read from its result file.
struct SectionTrace {
  std::string name;        // the result file
  double distance_km = 0;  // DIST
  double begin_s = 0;      // B: lag of the first sample
  double delta_s = 0;      // DELTA
  std::vector<float> samples;
};

enum class PictureType { kPng, kSvg, kPdf };

// The type named by the file's extension (.png, .svg, .pdf, any case), or none.
std::optional<PictureType> picture_type(std::string_view path);

struct SectionPicture {
  int width = 1200;  // pixels; points for SVG and PDF
  int height = 800;
  double velocity_km_s = 3;
  double max_lag_s = 0;  // lags shown: +/- this
  std::string title;
};

// Draws every trace about the baseline of its distance, normalised to its largest absolute
// sample within the lags shown, with the lines lag = +/- distance / velocity and both axes.
// The picture is written beside `path` and renamed into place, so a failed draw leaves an
// older picture whole. False (and `error`) when it cannot be written.
bool draw_section(const std::string& path, PictureType type, const SectionPicture& picture,
                  std::span<const SectionTrace> traces, std::string& error);

}  // namespace xcn::tools
